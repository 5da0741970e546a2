// CUDA drivers of the horizontal apron fill (one thread per margin sample,
// rows of the whole work image, mirrored rows included) and of the copy with
// pre-operations (four work samples of a row per thread, every work row and
// column, stored as whole words away from the row's end).
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

constexpr int kPreBlockX = 32, kPreBlockY = 8, kPreSamples = 4;

// kernel-report CopyWithPreOperationsKernel: block 32x8, 4 px per thread, reads 2 B/px, writes 2 B/px; budget 40 regs, 270 SASS/px
template <class T>
__global__ void CopyWithPreOperationsKernel(PreCopyArgs a) {
  const int c0 = kPreSamples * int(blockIdx.x * blockDim.x + threadIdx.x);
  const int r = int(blockIdx.y * blockDim.y + threadIdx.y);
  if (c0 >= a.total || r >= a.rows) return;
  const int y = apronSourceRow(r, a.y0, a.height);
  const T* s = reinterpret_cast<const T*>(a.src + size_t(y) * a.srcPitch);
  T* row = reinterpret_cast<T*>(a.work + size_t(r) * a.workPitch);
  uint32_t v0 = 0, v1 = 0, v2 = 0, v3 = 0;
  auto sample = [&](int c) {
    const int x = apronSourceRow(c, a.first, a.cols);
    return preOperationSample(a.pre, s[x], x, y);
  };
  if (c0 + kPreSamples <= a.total) {
    v0 = sample(c0);
    v1 = sample(c0 + 1);
    v2 = sample(c0 + 2);
    v3 = sample(c0 + 3);
    if (sizeof(T) == 1) {
      *reinterpret_cast<uint32_t*>(row + c0) = v0 | (v1 << 8) | (v2 << 16) | (v3 << 24);
    } else {
      uint32_t* words = reinterpret_cast<uint32_t*>(row + c0);
      words[0] = v0 | (v1 << 16);
      words[1] = v2 | (v3 << 16);
    }
    return;
  }
  for (int c = c0; c < a.total; ++c) row[c] = static_cast<T>(sample(c));
}

}  // namespace

void launchPreCopyCuda(const PreCopyArgs& a) {
  const dim3 block(kPreBlockX, kPreBlockY, 1);
  const dim3 grid(ceilDiv(a.total, kPreBlockX * kPreSamples), ceilDiv(a.rows, kPreBlockY), 1);
  if (a.sampleBytes == 1)
    launchKernel(CopyWithPreOperationsKernel<uint8_t>, grid, block, a);
  else
    launchKernel(CopyWithPreOperationsKernel<uint16_t>, grid, block, a);
}

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
