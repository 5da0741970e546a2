// CUDA driver of the copy with pre-operations into the debayer's work image
// (a kernel for each set of steps; a run of 8 or 16 work samples of a row
// per thread, every work row and column, read and stored as whole words
// inside the image). Without pre-operations the CUDA drivers read the source
// directly (WorkTile.cuh).
#include "ApronCopyMath.h"
#include "CudaKernel.cuh"
#include "Debayer.h"

namespace opix::OPIX_CUDA_NS {

namespace {

// Eight blocks an SM: 32 registers a thread.
constexpr int kPreBlockX = 32, kPreBlockY = 8, kPreThreads = kPreBlockX * kPreBlockY, kPreBlocksPerSm = 8;
// Work samples per thread: four words of 8-bit samples, two words where
// 16-bit samples or the SAM's matrix values would take more than 32
// registers.
template <class T, int Steps>
constexpr int kPreSamples = sizeof(T) == 1 && !(Steps & kPreSam) ? 16 : 8;

// Samples x0 ... x0 + N - 1 (N a multiple of the samples in a word) of a
// row of 8- or 16-bit values that starts at a word boundary, read as the
// aligned 32-bit words that hold them.
template <class T, int N>
__device__ void loadRun(const void* row, int x0, uint32_t (&v)[N]) {
  constexpr int kPerWord = 4 / int(sizeof(T)), kWords = N / kPerWord;
  constexpr uint32_t kMask = sizeof(T) == 1 ? 0xFFu : 0xFFFFu;
  const uint32_t* w = static_cast<const uint32_t*>(row) + x0 / kPerWord;
  const uint32_t shift = uint32_t(x0 % kPerWord) * uint32_t(sizeof(T));  // bytes
  uint32_t lo = w[0];
  OPIX_UNROLL
  for (int j = 0; j < kWords; ++j) {
    const uint32_t hi = j + 1 < kWords || shift ? w[j + 1] : 0u;  // the last word only when it holds samples
    const uint32_t word = alignBytes(lo, hi, shift);
    lo = hi;
    OPIX_UNROLL
    for (int i = 0; i < kPerWord; ++i) v[j * kPerWord + i] = (word >> (8 * int(sizeof(T)) * i)) & kMask;
  }
}

// N samples of this thread's row, corrected and stored as whole words from
// work column c0 on; they show image columns x0 ... x0 + N - 1.
template <class T, int Steps, int N>
__device__ void correctRun(const PreCopyArgs& a, const PreRowSites& sites, const T* s, T* row, int c0, int x0, int y) {
  uint32_t v[N];
  loadRun<T>(s, x0, v);
  int32_t shift[N];
  float factor[N];
  OPIX_UNROLL
  for (int i = 0; i < N; ++i) shift[i] = 0, factor[i] = 1.0f;
  if ((Steps & kPreSam) && a.pre.shift) {
    uint32_t b[N];
    const uint8_t* shiftRow = a.pre.shift + size_t(y) * a.pre.shiftPitch;
    // 8-bit sources have 8-bit shifts only: no 16-bit code in their kernels.
    if (sizeof(T) == 2 && a.pre.wideShift) {
      loadRun<uint16_t>(shiftRow, x0, b);
      OPIX_UNROLL
      for (int i = 0; i < N; ++i) shift[i] = int16_t(b[i]);
    } else {
      loadRun<uint8_t>(shiftRow, x0, b);
      OPIX_UNROLL
      for (int i = 0; i < N; ++i) shift[i] = int8_t(b[i]);
    }
  }
  if ((Steps & kPreSam) && a.pre.factor) {
    const float* f = a.pre.factor + size_t(y) * a.pre.factorPitch + x0;
    OPIX_UNROLL
    for (int i = 0; i < N; ++i) factor[i] = f[i];
  }
  // The site values of even and odd samples of the run.
  const bool odd = (x0 & 1) != 0;
  const float level0 = odd ? sites.levelOdd : sites.levelEven, level1 = odd ? sites.levelEven : sites.levelOdd;
  const float gain0 = odd ? sites.gainOdd : sites.gainEven, gain1 = odd ? sites.gainEven : sites.gainOdd;
  OPIX_UNROLL
  for (int i = 0; i < N; ++i)
    v[i] =
        preOperationSiteSample<Steps>(a.pre, v[i], shift[i], factor[i], i & 1 ? level1 : level0, i & 1 ? gain1 : gain0);
  constexpr int kPerWord = 4 / int(sizeof(T));
  uint32_t* words = reinterpret_cast<uint32_t*>(row + c0);
  OPIX_UNROLL
  for (int j = 0; j < N / kPerWord; ++j) {
    uint32_t word = 0;
    OPIX_UNROLL
    for (int i = 0; i < kPerWord; ++i) word |= v[j * kPerWord + i] << (8 * int(sizeof(T)) * i);
    words[j] = word;
  }
}

// kPreSamples<T, Steps> work samples of a row per thread, for one set of steps.
// Columns inside the image are corrected as a run (the source and the shift
// matrix read as whole words, the sites' levels and gains picked once for
// the even and once for the odd samples) and stored as whole words; the
// margins and the row's end go sample by sample through the mirror.
// kernel-report CopyWithPreOperationsKernel<unsigned char, 1>: block 32x8, 8 px per thread, reads 6 B/px, writes 1 B/px; budget 32 regs, 42 SASS/px
// kernel-report CopyWithPreOperationsKernel<unsigned char, 4>: block 32x8, 16 px per thread, reads 1 B/px, writes 1 B/px; budget 32 regs, 17 SASS/px
// kernel-report CopyWithPreOperationsKernel<unsigned char, 5>: block 32x8, 8 px per thread, reads 6 B/px, writes 1 B/px; budget 32 regs, 50 SASS/px
// kernel-report CopyWithPreOperationsKernel<unsigned short, 1>: block 32x8, 8 px per thread, reads 8 B/px, writes 2 B/px; budget 32 regs, 47 SASS/px
// kernel-report CopyWithPreOperationsKernel<unsigned short, 2>: block 32x8, 8 px per thread, reads 2 B/px, writes 2 B/px; budget 32 regs, 24 SASS/px
// kernel-report CopyWithPreOperationsKernel<unsigned short, 3>: block 32x8, 8 px per thread, reads 8 B/px, writes 2 B/px; budget 32 regs, 58 SASS/px
// kernel-report CopyWithPreOperationsKernel<unsigned short, 4>: block 32x8, 8 px per thread, reads 2 B/px, writes 2 B/px; budget 32 regs, 24 SASS/px
// kernel-report CopyWithPreOperationsKernel<unsigned short, 5>: block 32x8, 8 px per thread, reads 8 B/px, writes 2 B/px; budget 32 regs, 57 SASS/px
// kernel-report CopyWithPreOperationsKernel<unsigned short, 6>: block 32x8, 8 px per thread, reads 2 B/px, writes 2 B/px; budget 32 regs, 32 SASS/px
// kernel-report CopyWithPreOperationsKernel<unsigned short, 7>: block 32x8, 8 px per thread, reads 8 B/px, writes 2 B/px; budget 32 regs, 66 SASS/px
template <class T, int Steps>
__global__ void __launch_bounds__(kPreThreads, kPreBlocksPerSm) CopyWithPreOperationsKernel(PreCopyArgs a) {
  constexpr int kSamples = kPreSamples<T, Steps>;
  const int c0 = kSamples * int(blockIdx.x * blockDim.x + threadIdx.x);
  const int r = int(blockIdx.y * blockDim.y + threadIdx.y);
  if (c0 >= a.total || r >= a.rows) return;
  const int y = apronSourceRow(r, a.y0, a.height);
  const T* s = reinterpret_cast<const T*>(a.src + size_t(y) * a.srcPitch);
  T* row = reinterpret_cast<T*>(a.work + size_t(r) * a.workPitch);
  const PreRowSites sites = preRowSites(a.pre, y);
  const int x0 = c0 - a.first;
  if (x0 >= 0 && x0 + kSamples <= a.cols) {
    correctRun<T, Steps, kSamples>(a, sites, s, row, c0, x0, y);
    return;
  }
  const int end = c0 + kSamples < a.total ? c0 + kSamples : a.total;
  OPIX_NO_UNROLL
  for (int c = c0; c < end; ++c) {
    const int x = apronSourceRow(c, a.first, a.cols);
    row[c] = static_cast<T>(preOperationSample<Steps>(a.pre, sites, s[x], x, y));
  }
}

template <class T, int Steps>
void launchPreCopy(const PreCopyArgs& a) {
  const dim3 block(kPreBlockX, kPreBlockY, 1);
  const dim3 grid(ceilDiv(a.total, kPreBlockX * kPreSamples<T, Steps>), ceilDiv(a.rows, kPreBlockY), 1);
  launchKernel(CopyWithPreOperationsKernel<T, Steps>, grid, block, a);
}

}  // namespace

void launchPreCopyCuda(const PreCopyArgs& a) {
  const int steps = preSteps(a.pre);
  if (a.sampleBytes == 1) {
    switch (steps) {  // no black shift: copyWithPreOperations refuses it for 8-bit sources
      case kPreSam: return launchPreCopy<uint8_t, kPreSam>(a);
      case kPreBalance: return launchPreCopy<uint8_t, kPreBalance>(a);
      default: return launchPreCopy<uint8_t, kPreSam | kPreBalance>(a);
    }
  }
  switch (steps) {
    case kPreSam: return launchPreCopy<uint16_t, kPreSam>(a);
    case kPreBlack: return launchPreCopy<uint16_t, kPreBlack>(a);
    case kPreSam | kPreBlack: return launchPreCopy<uint16_t, kPreSam | kPreBlack>(a);
    case kPreBalance: return launchPreCopy<uint16_t, kPreBalance>(a);
    case kPreSam | kPreBalance: return launchPreCopy<uint16_t, kPreSam | kPreBalance>(a);
    case kPreBlack | kPreBalance: return launchPreCopy<uint16_t, kPreBlack | kPreBalance>(a);
    default: return launchPreCopy<uint16_t, kPreSam | kPreBlack | kPreBalance>(a);
  }
}

}  // namespace opix::OPIX_CUDA_NS
