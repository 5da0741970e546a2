// CUDA driver of the column filter: blocks of 512 threads, one row each.
#include "CudaKernel.cuh"
#include "ImageFilterColumn.h"

namespace opix::OPIX_CUDA_NS {

namespace {

constexpr int kThreads = 512;

__global__ void ColumnFilterKernel(ColumnArgs a) {
  const uint32_t y = blockIdx.x * kThreads + threadIdx.x;
  if (y < a.height) {
    uint16_t* row = reinterpret_cast<uint16_t*>(a.plane + size_t(y) * a.pitch);
    row[a.column] = row[a.column - 2];
  }
}

}  // namespace

void launchColumnCuda(const ColumnArgs& a) {
  const dim3 grid(ceilDiv(a.height, kThreads), 1, 1);
  if (grid.x == 0) return;
  launchKernel(ColumnFilterKernel, grid, kThreads, a);
}

}  // namespace opix::OPIX_CUDA_NS
