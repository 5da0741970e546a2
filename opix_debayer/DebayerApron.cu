// CUDA driver of the horizontal apron fill: one thread per margin sample,
// rows of the whole work image, mirrored rows included.
#include "ApronCopyMath.h"
#include "Debayer.h"

namespace opix {

namespace {

template <class T>
__global__ void CopyApronKernel(WorkView w) {
  const int first = w.apron + w.cx;
  const int margin = first + w.apron;  // left and right margin columns
  const int i = blockIdx.x * blockDim.x + threadIdx.x;
  const int y = blockIdx.y * blockDim.y + threadIdx.y;
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
  const dim3 grid((margin + 15) / 16, (work.height + 15) / 16, 1);
  if (work.format == OPIX_I8)
    CopyApronKernel<uint8_t><<<grid, block, 0, cudaStreamPerThread>>>(work);
  else
    CopyApronKernel<uint16_t><<<grid, block, 0, cudaStreamPerThread>>>(work);
}

}  // namespace opix
