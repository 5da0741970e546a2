// CUDA driver of the example: one thread per sample, 32 x 8 blocks, the last
// block column and row bounds-checked.
#include "CudaKernel.cuh"
#include "Invert.h"
#include "InvertMath.h"

namespace opix::example::OPIX_CUDA_NS {

using namespace ::opix::OPIX_CUDA_NS;

namespace {

template <class T>
__global__ void InvertKernel(InvertArgs a) {
  const uint32_t x = blockIdx.x * blockDim.x + threadIdx.x;
  const uint32_t y = blockIdx.y * blockDim.y + threadIdx.y;
  if (x >= a.src.width || y >= a.src.height) return;
  const T* s = reinterpret_cast<const T*>(a.src.plane[0] + size_t{y} * a.src.pitch);
  T* d = reinterpret_cast<T*>(a.dst.plane[0] + size_t{y} * a.dst.pitch);
  d[x] = static_cast<T>(invertSample(s[x], a.white));
}

}  // namespace

void launchInvertCuda(const InvertArgs& a) {
  const dim3 block(32, 8, 1);
  const dim3 grid(ceilDiv(a.src.width, 32), ceilDiv(a.src.height, 8), 1);
  if (grid.x == 0 || grid.y == 0) return;  // an empty image launches nothing
  if (a.src.format == OPIX_I16)
    launchKernel(InvertKernel<uint16_t>, grid, block, a);
  else
    launchKernel(InvertKernel<uint8_t>, grid, block, a);
}

}  // namespace opix::example::OPIX_CUDA_NS
