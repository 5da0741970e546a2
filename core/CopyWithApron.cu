// CUDA driver of the 8-bit copy with offset and vertical apron: one thread per
// destination word, eight rows per thread, whole 32-bit loads and stores.
#include "ApronCopyMath.h"
#include "CopyWithApron.h"
#include "CudaKernel.cuh"

namespace opix::OPIX_CUDA_NS {

namespace {

constexpr int kThreads = 256;
constexpr int kRowsPerThread = 8;

struct DeviceSourceRow {
  const uint32_t* row;
  __device__ uint32_t word(int64_t i) const { return row[i]; }
};

__global__ void MemCopyWithOffsetAndFillApronVerticallyKernel(uint32_t* dst, uint32_t dstPitchWords,
                                                              const uint32_t* src, uint32_t srcPitchWords, int apron,
                                                              int64_t byteX, int y0, int64_t rowBytes, int height) {
  const int64_t wd = apronFirstWord(byteX) + int64_t{blockIdx.x} * kThreads + int64_t{threadIdx.x};
  if (wd > apronLastWord(byteX, rowBytes)) return;
  const int rows = y0 + height + apron;
  const int firstRow = blockIdx.y * kRowsPerThread;
  for (int k = 0; k < kRowsPerThread; ++k) {
    const int r = firstRow + k;
    if (r >= rows) return;
    const int from = apronSourceRow(r, y0, height);
    const DeviceSourceRow s{src + int64_t{from} * srcPitchWords};
    uint32_t* out = dst + int64_t{r} * dstPitchWords + wd;
    const int64_t s0 = 4 * wd - byteX;
    const bool whole = s0 >= 0 && s0 + 4 <= rowBytes;
    *out = apronWord(s, wd, byteX, rowBytes, whole ? 0u : *out);
  }
}

}  // namespace

void launchApronCopyCuda(const ApronCopy& c) {
  const int64_t words = apronLastWord(c.byteX, c.rowBytes) - apronFirstWord(c.byteX) + 1;
  const int rows = c.y0 + c.height + c.apron;
  const dim3 block(kThreads, 1, 1);
  const dim3 grid(ceilDiv(static_cast<uint32_t>(words), kThreads), ceilDiv(rows, kRowsPerThread), 1);
  launchKernel(MemCopyWithOffsetAndFillApronVerticallyKernel, grid, block, reinterpret_cast<uint32_t*>(c.dst),
               c.dstPitch / 4, reinterpret_cast<const uint32_t*>(c.src), c.srcPitch / 4, c.apron, c.byteX, c.y0,
               c.rowBytes, c.height);
}

}  // namespace opix::OPIX_CUDA_NS
