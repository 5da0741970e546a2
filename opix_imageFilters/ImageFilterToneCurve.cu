// CUDA driver of the tone curve: blocks of 32 x 8 threads, each thread one
// 32-bit word (two pixels) of each plane in each of 4 rows; the curve is
// first copied into shared memory. Only blocks of the last block column or
// row test bounds.
#include "CudaKernel.cuh"
#include "FilterWords.cuh"
#include "ImageFilterToneCurve.h"
#include "ToneCurveMath.h"

namespace opix::OPIX_CUDA_NS {

namespace {

constexpr int kBlockX = 32, kBlockY = 8;

template <int BlockX, int Rows>
__global__ void ToneCurveColorKernel(ToneCurveArgs a) {
  __shared__ uint16_t curve[kToneCurveEntries];
  for (int i = int(threadIdx.y * BlockX + threadIdx.x); i < int(kToneCurveEntries); i += BlockX * kBlockY)
    curve[i] = readOnly(a.curve + i);
  __syncthreads();
  const uint32_t wx = blockIdx.x * BlockX + threadIdx.x;
  const uint32_t x = 2 * wx;
  const bool checked = edgeBlock();
  for (int r = 0; r < Rows; ++r) {
    const uint32_t y = (blockIdx.y * Rows + uint32_t(r)) * kBlockY + threadIdx.y;
    if (checked && (x >= a.src.width || y >= a.src.height)) continue;
    uint32_t in[3];
    for (int c = 0; c < 3; ++c) in[c] = wordRow(a.src.plane[c], a.src.pitch, y)[wx];
    uint32_t out[3] = {0, 0, 0};
    for (int i = 0; i < 2; ++i) {
      uint32_t p[3] = {Words<uint16_t>::get(in[0], i), Words<uint16_t>::get(in[1], i), Words<uint16_t>::get(in[2], i)};
      toneCurvePixel([&](uint32_t v) { return toneCurveValue(curve, v); }, p);
      for (int c = 0; c < 3; ++c) out[c] = Words<uint16_t>::put(out[c], i, p[c]);
    }
    for (int c = 0; c < 3; ++c) {
      uint32_t* row = wordRow(a.dst.plane[c], a.dst.pitch, y);
      if (checked)
        storePartial<uint16_t>(row, wx, out[c], a.src.width - x);
      else
        row[wx] = out[c];
    }
  }
}

}  // namespace

void launchToneCurveCuda(const ToneCurveArgs& a) {
  constexpr int kRows = 4;
  const dim3 grid(ceilDiv(ceilDiv(a.src.width, 2), kBlockX), ceilDiv(a.src.height, kBlockY * kRows), 1);
  if (grid.x == 0 || grid.y == 0) return;
  launchKernel(ToneCurveColorKernel<kBlockX, kRows>, grid, dim3(kBlockX, kBlockY, 1), a);
}

}  // namespace opix::OPIX_CUDA_NS
