// CUDA driver of the white balance: 256 threads per block, each thread one
// 32-bit word (4 samples of 8 bits, 2 of 16) in each of 16 rows from an even
// row, the pattern fixed at compile time.
#include "CudaKernel.cuh"
#include "ImageFilterWhiteBalance.h"
#include "WhiteBalanceMath.h"
#include "common/FilterWords.cuh"

namespace opix::OPIX_CUDA_NS {

namespace {

constexpr int kThreads = 256;
constexpr int kRows = 16;

template <class T, int Pattern>
__device__ void whiteBalanceBlock(const WhiteBalanceArgs& a, uint32_t hi) {
  const uint32_t wx = blockIdx.x * kThreads + threadIdx.x;
  const uint32_t y0 = blockIdx.y * kRows;
  const bool checked = edgeBlock();
  for (int r = 0; r < kRows; ++r) {
    const uint32_t y = y0 + uint32_t(r);
    const float k0 = a.gain[bayerCellSite(Pattern, 0, int(y))], k1 = a.gain[bayerCellSite(Pattern, 1, int(y))];
    auto fn = [&](uint32_t p, uint32_t x) { return whiteBalanceSample(p, (x & 1) ? k1 : k0, hi); };
    if (checked)
      wordAt<T, true>(a.src, a.dst, wx, y, fn);
    else
      wordAt<T, false>(a.src, a.dst, wx, y, fn);
  }
}

template <int Pattern>
__global__ void WhiteBalanceGray8Kernel(WhiteBalanceArgs a) {
  whiteBalanceBlock<uint8_t, Pattern>(a, 255u);
}

template <int Bits, int Pattern>
__global__ void WhiteBalanceGray16Kernel(WhiteBalanceArgs a) {
  whiteBalanceBlock<uint16_t, Pattern>(a, maxSample(Bits));
}

template <int Pattern>
void launchPattern(const WhiteBalanceArgs& a, dim3 grid) {
  switch (a.bits) {
    case 8: launchKernel(WhiteBalanceGray8Kernel<Pattern>, grid, kThreads, a); break;
    case 12: launchKernel(WhiteBalanceGray16Kernel<12, Pattern>, grid, kThreads, a); break;
    default: launchKernel(WhiteBalanceGray16Kernel<16, Pattern>, grid, kThreads, a); break;
  }
}

}  // namespace

void launchWhiteBalanceCuda(const WhiteBalanceArgs& a) {
  const uint32_t words = wordsPerRow(a.src.width, a.bits == 8 ? 1 : 2);
  const dim3 grid(ceilDiv(words, kThreads), ceilDiv(a.src.height, kRows), 1);
  if (grid.x == 0 || grid.y == 0) return;
  switch (a.pattern) {
    case 1: launchPattern<1>(a, grid); break;
    case 2: launchPattern<2>(a, grid); break;
    case 3: launchPattern<3>(a, grid); break;
    default: launchPattern<4>(a, grid); break;
  }
}

}  // namespace opix::OPIX_CUDA_NS
