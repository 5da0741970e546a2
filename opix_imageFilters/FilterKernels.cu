// CUDA drivers of the per-pixel filters: 32 x 8 threads per block, one pixel
// per thread, the last block column and row bounds-checked.
#include "FilterDrivers.h"
#include "FilterMath.h"

namespace opix {

namespace {

template <class T, class Op>
__global__ void grayKernel(GrayView v, Op op) {
  const uint32_t x = blockIdx.x * blockDim.x + threadIdx.x;
  const uint32_t y = blockIdx.y * blockDim.y + threadIdx.y;
  if (x >= v.width || y >= v.height) return;
  const T* s = reinterpret_cast<const T*>(v.src + size_t(y) * v.srcPitch);
  T* d = reinterpret_cast<T*>(v.dst + size_t(y) * v.dstPitch);
  d[x] = static_cast<T>(op(int(x), int(y), int(s[x])));
}

template <class T, class Op>
__global__ void colourKernel(ColourView v, Op op) {
  const uint32_t x = blockIdx.x * blockDim.x + threadIdx.x;
  const uint32_t y = blockIdx.y * blockDim.y + threadIdx.y;
  if (x >= v.width || y >= v.height) return;
  const size_t row = size_t(y) * v.pitch;
  const size_t i = size_t(x) * v.step;
  const Rgb o = op(int(reinterpret_cast<const T*>(v.src[0] + row)[i]), int(reinterpret_cast<const T*>(v.src[1] + row)[i]),
                   int(reinterpret_cast<const T*>(v.src[2] + row)[i]));
  reinterpret_cast<T*>(v.dst[0] + row)[i] = static_cast<T>(o.r);
  reinterpret_cast<T*>(v.dst[1] + row)[i] = static_cast<T>(o.g);
  reinterpret_cast<T*>(v.dst[2] + row)[i] = static_cast<T>(o.b);
}

dim3 gridOf(uint32_t w, uint32_t h) { return dim3((w + 31) / 32, (h + 7) / 8, 1); }

}  // namespace

template <class T, class Op>
void launchGrayCuda(const GrayView& v, const Op& op) {
  grayKernel<T, Op><<<gridOf(v.width, v.height), dim3(32, 8, 1), 0, cudaStreamPerThread>>>(v, op);
}

template <class T, class Op>
void launchColourCuda(const ColourView& v, const Op& op) {
  colourKernel<T, Op><<<gridOf(v.width, v.height), dim3(32, 8, 1), 0, cudaStreamPerThread>>>(v, op);
}

template void launchGrayCuda<uint8_t, MadOp>(const GrayView&, const MadOp&);
template void launchGrayCuda<uint16_t, MadOp>(const GrayView&, const MadOp&);
template void launchGrayCuda<uint8_t, WhiteBalanceOp>(const GrayView&, const WhiteBalanceOp&);
template void launchGrayCuda<uint16_t, WhiteBalanceOp>(const GrayView&, const WhiteBalanceOp&);
template void launchGrayCuda<uint16_t, BlackShiftOp>(const GrayView&, const BlackShiftOp&);
template void launchGrayCuda<uint8_t, GrayCorrectionOp>(const GrayView&, const GrayCorrectionOp&);
template void launchGrayCuda<uint16_t, GrayCorrectionOp>(const GrayView&, const GrayCorrectionOp&);
template void launchColourCuda<uint8_t, ColourCorrectionOp>(const ColourView&, const ColourCorrectionOp&);
template void launchColourCuda<uint16_t, ColourCorrectionOp>(const ColourView&, const ColourCorrectionOp&);

}  // namespace opix
