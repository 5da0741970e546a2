// CUDA driver of the horizontal apron fill: one thread per margin sample,
// rows of the whole work image, mirrored rows included.
#include "ApronCopyMath.h"
#include "CudaKernel.cuh"
#include "Debayer.h"

namespace opix::OPIX_CUDA_NS {

namespace {

// Per margin sample written.
// kernel-report CopyApronKernel: block 256, 1 px per thread, reads 2 B/px, writes 2 B/px; budget 24 regs, 60 SASS/px
template <class T>
__global__ void CopyApronKernel(WorkView w) {
  const int first = w.apron + w.cx;
  const int margin = first + w.apron;  // left and right margin columns
  const int i = int(blockIdx.x * blockDim.x + threadIdx.x);
  const int y = int(blockIdx.y * blockDim.y + threadIdx.y);
  if (i >= margin || y >= static_cast<int>(w.height)) return;
  const int cols = static_cast<int>(w.imageWidth);
  const int c = i < first ? i : first + cols + (i - first);
  T* row = reinterpret_cast<T*>(w.base + size_t(y) * w.pitch);
  row[c] = row[first + apronSourceRow(c, first, cols)];
}

}  // namespace

void launchApronFillCuda(const WorkView& work) {
  const int margin = 2 * work.apron + work.cx;
  const dim3 block(16, 16, 1);
  const dim3 grid(ceilDiv(margin, 16), ceilDiv(work.height, 16), 1);
  if (work.format == OPIX_I8)
    launchKernel(CopyApronKernel<uint8_t>, grid, block, work);
  else
    launchKernel(CopyApronKernel<uint16_t>, grid, block, work);
}

}  // namespace opix::OPIX_CUDA_NS
