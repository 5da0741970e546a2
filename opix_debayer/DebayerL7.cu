// CUDA driver of L7: 32 x 4 threads per block over a 64 x 16 tile with a
// 3-sample apron in shared memory, 2 x 4 pixels per thread; each warp's
// rows of an interleaved destination stored as 16-byte words.
#include "CudaKernel.cuh"
#include "DebayerL7.h"
#include "L7Math.h"
#include "PixelStores.cuh"
#include "WorkTile.cuh"

namespace opix::OPIX_CUDA_NS {

namespace {

constexpr int kTileW = 64, kTileH = 16, kApron = 3;
constexpr int kWords = (kTileW + 2 * kApron) / 2;  // 35
constexpr int kRows = kTileH + 2 * kApron;         // 22

// Twelve blocks an SM (40 registers, 75 % occupancy): the stores of either
// destination layout fit them without spilling.
// kernel-report L7Kernel16: block 128, 8 px per thread, reads 2 B/px, writes 6 B/px; budget 40 regs, 450 SASS/px
template <bool Corrected>
__global__ void __launch_bounds__(128, 12) L7Kernel16(WorkView w, SurfaceView d, int pattern, int hi) {
  __shared__ uint32_t tile[kRows * kWords];
  const int x0 = blockIdx.x * kTileW, y0 = blockIdx.y * kTileH;
  loadTile<uint16_t, Corrected>(tile, kRows, kWords, w, x0 / 2, y0);  // work (0, 0) is image (-3, -3)
  __syncthreads();

  const SharedTile<uint16_t> s{reinterpret_cast<const uint16_t*>(tile), 2 * kWords, x0 - kApron, y0 - kApron};
  const int x = x0 + 2 * int(threadIdx.x), y = y0 + 4 * int(threadIdx.y);
  storeWarpRows<uint16_t, 4, 4>(d, x0, y, 1, [&](int i, int j) { return l7At(s, pattern, x + i, y + j, hi); });
}

}  // namespace

void launchL7Cuda(const WorkView& work, const SurfaceView& d, int pattern) {
  const dim3 block(32, 4, 1);
  const dim3 grid(ceilDiv(d.width, kTileW), ceilDiv(d.height, kTileH), 1);
  if (work.corrections.any())
    launchKernel(L7Kernel16<true>, grid, block, work, d, pattern, maxEstimate(work.format));
  else
    launchKernel(L7Kernel16<false>, grid, block, work, d, pattern, maxEstimate(work.format));
}

}  // namespace opix::OPIX_CUDA_NS
