// CUDA driver of the Bayer black shift: 32 x 8 threads per block, each thread
// one 32-bit word (2 samples) in each of 8 rows, 64 x 64 pixels per block, the
// pattern fixed at compile time.
#include "BayerBlackShiftMath.h"
#include "CudaKernel.cuh"
#include "ImageFilterBayerBlackShift.h"
#include "common/FilterWords.cuh"

namespace opix::OPIX_CUDA_NS {

namespace {

constexpr int kBlockX = 32, kBlockY = 8, kRows = 8;

template <int Bits, int Pattern>
__global__ void BayerBlackShiftKernel16(BayerBlackShiftArgs a) {
  const uint32_t wx = blockIdx.x * kBlockX + threadIdx.x;
  const uint32_t y0 = (blockIdx.y * kBlockY + threadIdx.y) * kRows;
  const bool checked = edgeBlock();
  for (int r = 0; r < kRows; ++r) {
    const uint32_t y = y0 + uint32_t(r);
    const float b0 = a.level[cellSiteColour(bayerCellSite(Pattern, 0, int(y)))];
    const float b1 = a.level[cellSiteColour(bayerCellSite(Pattern, 1, int(y)))];
    auto fn = [&](uint32_t p, uint32_t x) { return blackShiftSample(p, (x & 1) ? b1 : b0, maxSample(Bits)); };
    if (checked)
      wordAt<uint16_t, true>(a.src, a.dst, wx, y, fn);
    else
      wordAt<uint16_t, false>(a.src, a.dst, wx, y, fn);
  }
}

template <int Bits>
void launchBits(const BayerBlackShiftArgs& a, dim3 grid, dim3 block) {
  switch (a.pattern) {
    case 1: launchKernel(BayerBlackShiftKernel16<Bits, 1>, grid, block, a); break;
    case 2: launchKernel(BayerBlackShiftKernel16<Bits, 2>, grid, block, a); break;
    case 3: launchKernel(BayerBlackShiftKernel16<Bits, 3>, grid, block, a); break;
    default: launchKernel(BayerBlackShiftKernel16<Bits, 4>, grid, block, a); break;
  }
}

}  // namespace

void launchBayerBlackShiftCuda(const BayerBlackShiftArgs& a) {
  const dim3 block(kBlockX, kBlockY, 1);
  const uint32_t perBlockY = kBlockY * kRows;
  const dim3 grid(ceilDiv(a.src.width, 2 * kBlockX), ceilDiv(a.src.height, perBlockY), 1);
  if (grid.x == 0 || grid.y == 0) return;
  if (a.bits == 12)
    launchBits<12>(a, grid, block);
  else
    launchBits<16>(a, grid, block);
}

}  // namespace opix::OPIX_CUDA_NS
