// CUDA driver of the binning filter: blocks of 32 x 16 threads, each thread
// one 32-bit word (two output samples) of one output row, reading its
// factor x (2 x factor) source samples as whole words: the block of an output
// word starts at a multiple of 4 bytes. The factor is fixed at compile time.
#include "BinningFilterMath.h"
#include "CudaKernel.cuh"
#include "ImageFilterBinning.h"
#include "common/FilterWords.cuh"

namespace opix::OPIX_CUDA_NS {

namespace {

constexpr int kThreadsX = 32, kThreadsY = 16;

template <int F>
__global__ void BinningKernel(BinningArgs a) {
  const uint32_t wx = blockIdx.x * kThreadsX + threadIdx.x;
  const uint32_t oy = blockIdx.y * kThreadsY + threadIdx.y;
  const uint32_t ox = 2 * wx;
  if (oy < a.dst.height && ox < a.dst.width) {
    uint32_t sum[2] = {0, 0};
    const bool whole = ox + 2 <= a.dst.width;  // both outputs, so all F words lie in the row
    for (int j = 0; j < F; ++j) {
      const unsigned char* row = a.src.plane[0] + size_t(oy * F + uint32_t(j)) * a.src.pitch;
      if (whole) {
        const uint32_t* words = reinterpret_cast<const uint32_t*>(row) + wx * F;
        for (int k = 0; k < F; ++k) {
          const uint32_t w = words[k];
          sum[(2 * k) / F] += w & a.hi;
          sum[(2 * k + 1) / F] += (w >> 16) & a.hi;
        }
      } else {
        const uint16_t* s = reinterpret_cast<const uint16_t*>(row) + ox * F;
        for (int i = 0; i < F; ++i) sum[0] += s[i] & a.hi;
      }
    }
    const uint32_t out = Words<uint16_t>::put(Words<uint16_t>::put(0u, 0, binnedSample(sum[0], F, a.mode, a.hi)), 1,
                                              binnedSample(sum[1], F, a.mode, a.hi));
    storePartial<uint16_t>(wordRow(a.dst.plane[0], a.dst.pitch, oy), wx, out, a.dst.width - ox);
  }
}

}  // namespace

void launchBinningFilterCuda(const BinningArgs& a) {
  const dim3 grid(ceilDiv(a.dst.width, 2 * kThreadsX), ceilDiv(a.dst.height, kThreadsY), 1);
  if (grid.x == 0 || grid.y == 0) return;
  const dim3 block(kThreadsX, kThreadsY, 1);
  switch (a.factor) {
    case 2: launchKernel(BinningKernel<2>, grid, block, a); break;
    case 3: launchKernel(BinningKernel<3>, grid, block, a); break;
    default: launchKernel(BinningKernel<4>, grid, block, a); break;
  }
}

}  // namespace opix::OPIX_CUDA_NS
