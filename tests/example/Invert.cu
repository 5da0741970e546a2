// CUDA driver of the example: one thread per sample, 32 x 8 blocks, the last
// block column and row bounds-checked.
#include "CudaKernel.cuh"
#include "Invert.h"
#include "InvertMath.h"

namespace opix::example::OPIX_CUDA_NS {

using namespace ::opix::OPIX_CUDA_NS;

namespace {

template <class T, uint32_t Max>
__global__ void InvertKernel(View v) {
  const uint32_t x = blockIdx.x * blockDim.x + threadIdx.x;
  const uint32_t y = blockIdx.y * blockDim.y + threadIdx.y;
  if (x >= v.width || y >= v.height) return;
  const T* s = reinterpret_cast<const T*>(v.src + size_t{y} * v.srcPitch);
  T* d = reinterpret_cast<T*>(v.dst + size_t{y} * v.dstPitch);
  d[x] = static_cast<T>(invertSample(s[x], Max));
}

}  // namespace

void launchInvertCuda(const View& v) {
  const dim3 block(32, 8, 1);
  const dim3 grid(ceilDiv(v.width, 32), ceilDiv(v.height, 8), 1);
  if (v.wide)
    launchKernel(InvertKernel<uint16_t, 65535>, grid, block, v);
  else
    launchKernel(InvertKernel<unsigned char, 255>, grid, block, v);
}

}  // namespace opix::example::OPIX_CUDA_NS
