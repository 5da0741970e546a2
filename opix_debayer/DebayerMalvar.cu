// CUDA driver of HQLI: 128 threads per block, the tile and its 2-sample apron
// loaded into shared memory as aligned 32-bit words, 8 pixels per thread,
// 32-bit stores.
#include "CudaKernel.cuh"
#include "DebayerMalvar.h"
#include "MalvarMath.h"
#include "PixelStores.cuh"
#include "WorkTile.cuh"

namespace opix::OPIX_CUDA_NS {

namespace {

constexpr int kThreads = 128, kPixelsPerThread = 8;

// A block of 4 warps covers a tile of kTileW<T> x kTileH<T> pixels; each
// thread the pixels of one store in each of its warp's rows.
template <class T>
constexpr int kTileW = 32 * kStorePixels<T>;
template <class T>
constexpr int kTileH = kThreads / 32 * kPixelsPerThread / kStorePixels<T>;

template <class T>
__device__ void malvarTile(const WorkView& w, const SurfaceView& d, int sx, int sy, int hi) {
  constexpr int kPerWord = 4 / int(sizeof(T));
  constexpr int kWords = (kTileW<T> + 5 + kPerWord - 1) / kPerWord;  // tile + apron + one sample of shift
  constexpr int kRows = kTileH<T> + 4;
  constexpr int kWarpRows = kPixelsPerThread / kStorePixels<T>;
  __shared__ uint32_t tile[kRows * kWords];
  const int x0 = blockIdx.x * kTileW<T>, y0 = blockIdx.y * kTileH<T>;
  const bool checked = blockIdx.x == gridDim.x - 1 || blockIdx.y == gridDim.y - 1;
  loadTile(tile, kRows, kWords, w, x0 / kPerWord, y0 + sy, checked);
  __syncthreads();

  const SharedTile<T> s{reinterpret_cast<const T*>(tile), kWords * kPerWord, x0 - 2, y0 + sy - 2};
  const int lane = threadIdx.x % 32, warp = threadIdx.x / 32;
  const int x = x0 + kStorePixels<T> * lane;
  for (int j = 0; j < kWarpRows; ++j) {
    const int y = y0 + kWarpRows * warp + j;
    if (y >= int(d.height) || x >= int(d.width)) continue;
    storePixels<T>(d, x, y, [&](int i) { return malvarAt(s, x + i + sx, y + sy, hi); });
  }
}

// kernel-report MalvarKernel: block 128, 4 px per loop pass, reads 1 B/px, writes 3 B/px; budget 40 regs, 170 SASS/px
__global__ void MalvarKernel(WorkView w, SurfaceView d, int sx, int sy) { malvarTile<uint8_t>(w, d, sx, sy, 255); }

// kernel-report MalvarKernel16: block 128, 2 px per loop pass, reads 2 B/px, writes 6 B/px; budget 40 regs, 170 SASS/px
__global__ void MalvarKernel16(WorkView w, SurfaceView d, int sx, int sy, int hi) {
  malvarTile<uint16_t>(w, d, sx, sy, hi);
}

template <class T>
dim3 gridOf(const SurfaceView& d) {
  return dim3(ceilDiv(d.width, kTileW<T>), ceilDiv(d.height, kTileH<T>), 1);
}

}  // namespace

void launchMalvarCuda(const WorkView& work, const SurfaceView& d, int sx, int sy) {
  if (work.format == OPIX_I8)
    launchKernel(MalvarKernel, gridOf<uint8_t>(d), kThreads, work, d, sx, sy);
  else
    launchKernel(MalvarKernel16, gridOf<uint16_t>(d), kThreads, work, d, sx, sy, maxEstimate(work.format));
}

}  // namespace opix::OPIX_CUDA_NS
