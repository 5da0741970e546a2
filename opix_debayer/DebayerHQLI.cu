// CUDA driver of HQLI: 128 threads per block, the tile and its 2-sample apron
// loaded into shared memory as aligned 32-bit words, 8 pixels per thread
// (two or four rows of a word's samples each), which reads its rows' words
// around them from the tile once and takes every sample from those
// registers; each warp's rows stored as 16-byte words.
#include "CudaKernel.cuh"
#include "DebayerHQLI.h"
#include "HQLIMath.h"
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

// The samples around a thread's pixels from its registers: Words tile words
// from word `lane` of each of its Rows rows. Positions are phased and
// counted from an even origin (the thread's first pixel less 2 columns and
// its first row less 2 rows), so they keep their phases; the rows were read
// from Sy lower. Every position the maths asks for is a constant: each read
// is a fixed shift of a fixed register.
template <class T, int Rows, int Words, int Sy>
struct WordWindow {
  uint32_t w[Rows][Words];
  __device__ int operator()(int x, int y) const {
    constexpr int kPerWord = 4 / int(sizeof(T)), kBits = 8 * int(sizeof(T));
    return int((w[y - Sy][x / kPerWord] >> (kBits * (x % kPerWord))) & ((1u << kBits) - 1));
  }
};

template <class T, int Sx, int Sy, bool Corrected>
__device__ void hqliTile(const WorkView& w, const SurfaceView& d, int hi) {
  constexpr int kPerWord = 4 / int(sizeof(T));
  constexpr int kWords = (kTileW<T> + 5 + kPerWord - 1) / kPerWord;  // tile + apron + one sample of shift
  constexpr int kRows = kTileH<T> + 4;
  constexpr int kWarpRows = kPixelsPerThread / kStorePixels<T>;
  __shared__ uint32_t tile[kRows * kWords];
  const int x0 = blockIdx.x * kTileW<T>, y0 = blockIdx.y * kTileH<T>;
  loadTile<T, Corrected>(tile, kRows, kWords, w, x0 / kPerWord, y0 + Sy);
  __syncthreads();

  // Tile sample (0, 0) is at phased (x0 - 2, y0 + Sy - 2); the thread's
  // pixels (kPerWord of them from sample kPerWord x lane + 2 + Sx) and the 2
  // around them lie in kWindow words from word lane of its rows.
  const int lane = threadIdx.x % 32, warp = threadIdx.x / 32;
  const int yFirst = y0 + kWarpRows * warp;
  static_assert(kStorePixels<T> == kPerWord, "a thread's pixels of a row start on a word");
  constexpr int kWindow = (kPerWord + 5 + kPerWord - 1) / kPerWord;
  WordWindow<T, kWarpRows + 4, kWindow, Sy> s;
  OPIX_UNROLL
  for (int r = 0; r < kWarpRows + 4; ++r) OPIX_UNROLL
  for (int k = 0; k < kWindow; ++k) s.w[r][k] = tile[(kWarpRows * warp + r) * kWords + lane + k];
  storeWarpRows<T, kThreads / 32, kWarpRows>(d, x0, yFirst, 1,
                                             [&](int i, int j) { return hqliAt(s, 2 + i + Sx, 2 + j + Sy, hi); });
}

// The pattern's shift is a template argument: the phase of every pixel of a
// thread is then known at compile time. Corrected: the pre-operations are
// applied as the tile loads.
// kernel-report MalvarKernel: block 128, 8 px per thread, reads 1 B/px, writes 3 B/px; budget 40 regs, 120 SASS/px
template <int Sx, int Sy, bool Corrected>
__global__ void MalvarKernel(WorkView w, SurfaceView d) {
  hqliTile<uint8_t, Sx, Sy, Corrected>(w, d, 255);
}

// Twelve blocks an SM (40 registers, 75 % occupancy): left to itself the
// compiler gives some shifts 46 registers (62 %) for the window and the
// staged stores.
// kernel-report MalvarKernel16: block 128, 8 px per thread, reads 2 B/px, writes 6 B/px; budget 40 regs, 130 SASS/px
template <int Sx, int Sy, bool Corrected>
__global__ void __launch_bounds__(kThreads, 12) MalvarKernel16(WorkView w, SurfaceView d, int hi) {
  hqliTile<uint16_t, Sx, Sy, Corrected>(w, d, hi);
}

template <class T>
dim3 gridOf(const SurfaceView& d) {
  return dim3(ceilDiv(d.width, kTileW<T>), ceilDiv(d.height, kTileH<T>), 1);
}

template <int Sx, int Sy, bool Corrected>
void launchCorrected(const WorkView& work, const SurfaceView& d) {
  if (work.format == OPIX_I8)
    launchKernel(MalvarKernel<Sx, Sy, Corrected>, gridOf<uint8_t>(d), kThreads, work, d);
  else
    launchKernel(MalvarKernel16<Sx, Sy, Corrected>, gridOf<uint16_t>(d), kThreads, work, d, maxEstimate(work.format));
}

template <int Sx, int Sy>
void launchShifted(const WorkView& work, const SurfaceView& d) {
  work.corrections.any() ? launchCorrected<Sx, Sy, true>(work, d) : launchCorrected<Sx, Sy, false>(work, d);
}

}  // namespace

void launchHQLICuda(const WorkView& work, const SurfaceView& d, int sx, int sy) {
  if (sy)
    sx ? launchShifted<1, 1>(work, d) : launchShifted<0, 1>(work, d);
  else
    sx ? launchShifted<1, 0>(work, d) : launchShifted<0, 0>(work, d);
}

}  // namespace opix::OPIX_CUDA_NS
