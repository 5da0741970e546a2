// CUDA driver of the tone curve: blocks of 32 x 8 threads, each thread one
// 32-bit word (two pixels) of each plane in each of 4 rows; the curve is
// first copied into shared memory. Only blocks of the last block column or
// row test bounds.
#include "CudaKernel.cuh"
#include "ImageFilterToneCurve.h"
#include "ToneCurveMath.h"
#include "common/FilterWords.cuh"

namespace opix::OPIX_CUDA_NS {

namespace {

constexpr int kBlockX = 32, kBlockY = 8;

template <int BlockX, int Rows>
__global__ void ToneCurveColorKernel(ToneCurveArgs a) {
  __shared__ uint16_t curve[kToneCurveEntries];
  for (int i = int(threadIdx.y * BlockX + threadIdx.x); i < int(kToneCurveEntries); i += BlockX * kBlockY)
    curve[i] = readOnly(a.curve + i);
  __syncthreads();
  planarPixelPairs<BlockX, kBlockY, Rows>(
      a.src, a.dst, [&](uint32_t(&p)[3]) { toneCurvePixel([&](uint32_t v) { return toneCurveValue(curve, v); }, p); });
}

}  // namespace

void launchToneCurveCuda(const ToneCurveArgs& a) {
  constexpr int kRows = 4;
  const dim3 grid(ceilDiv(ceilDiv(a.src.width, 2), kBlockX), ceilDiv(a.src.height, kBlockY * kRows), 1);
  if (grid.x == 0 || grid.y == 0) return;
  launchKernel(ToneCurveColorKernel<kBlockX, kRows>, grid, dim3(kBlockX, kBlockY, 1), a);
}

}  // namespace opix::OPIX_CUDA_NS
