// CUDA driver of the white balance: blocks of 32 x 8 threads, each thread one
// 32-bit word (4 samples of 8 bits, 2 of 16) in each of Rows rows 8 apart,
// all of them loaded before any is stored; the pattern fixed at compile time.
#include "CudaKernel.cuh"
#include "ImageFilterWhiteBalance.h"
#include "WhiteBalanceMath.h"
#include "common/FilterWords.cuh"

namespace opix::OPIX_CUDA_NS {

namespace {

constexpr int kBlockX = 32, kBlockY = 8;

// The gain of a site picked by selects: an array indexed at run time would
// be copied to a stack frame.
__device__ __forceinline__ float siteGain(const WhiteBalanceArgs& a, int site) {
  return site == 0 ? a.gain[0] : site == 1 ? a.gain[1] : site == 2 ? a.gain[2] : a.gain[3];
}

template <class T, int Pattern, int Rows, bool Checked>
__device__ __forceinline__ void whiteBalanceRows(const WhiteBalanceArgs& a, uint32_t hi) {
  constexpr int kPerWord = Words<T>::kPerWord;
  const uint32_t wx = blockIdx.x * kBlockX + threadIdx.x;
  const uint32_t x = wx * kPerWord;
  const uint32_t y0 = blockIdx.y * (kBlockY * Rows) + threadIdx.y;
  // A thread's rows are 8 apart, all of one parity, and a word starts at an
  // even column: two gains serve every sample.
  const int odd = int(y0 & 1);
  const float k0 = siteGain(a, bayerCellSite(Pattern, 0, odd)), k1 = siteGain(a, bayerCellSite(Pattern, 1, odd));
  uint32_t in[Rows];
  OPIX_UNROLL
  for (int r = 0; r < Rows; ++r) {
    const uint32_t y = y0 + uint32_t(kBlockY * r);
    in[r] = !Checked || (x < a.src.width && y < a.src.height) ? wordRow(a.src.plane[0], a.src.pitch, y)[wx] : 0u;
  }
  OPIX_UNROLL
  for (int r = 0; r < Rows; ++r) {
    const uint32_t y = y0 + uint32_t(kBlockY * r);
    if (Checked && (x >= a.src.width || y >= a.src.height)) continue;
    uint32_t out = 0;
    OPIX_UNROLL
    for (int i = 0; i < kPerWord; ++i)
      out = Words<T>::put(out, i, whiteBalanceSample(Words<T>::get(in[r], i), (i & 1) ? k1 : k0, hi));
    uint32_t* row = wordRow(a.dst.plane[0], a.dst.pitch, y);
    if (Checked)
      storePartial<T>(row, wx, out, a.src.width - x);
    else
      row[wx] = out;
  }
}

// Only blocks reaching past the last full word or the last row test bounds.
template <class T, int Pattern, int Rows>
__device__ __forceinline__ void whiteBalanceBlock(const WhiteBalanceArgs& a, uint32_t hi) {
  const bool checked = (blockIdx.x + 1) * uint32_t(kBlockX * Words<T>::kPerWord) > a.src.width ||
                       (blockIdx.y + 1) * uint32_t(kBlockY * Rows) > a.src.height;
  if (checked)
    whiteBalanceRows<T, Pattern, Rows, true>(a, hi);
  else
    whiteBalanceRows<T, Pattern, Rows, false>(a, hi);
}

template <int Pattern, int Rows>
__global__ void WhiteBalanceGray8Kernel(WhiteBalanceArgs a) {
  whiteBalanceBlock<uint8_t, Pattern, Rows>(a, 255u);
}

template <int Bits, int Pattern, int Rows>
__global__ void WhiteBalanceGray16Kernel(WhiteBalanceArgs a) {
  whiteBalanceBlock<uint16_t, Pattern, Rows>(a, maxSample(Bits));
}

// The kernel of one variant: its depth, pattern and rows per thread.
template <int Pattern, int Rows>
void (*rowsKernel(int bits))(WhiteBalanceArgs) {
  switch (bits) {
    case 8: return WhiteBalanceGray8Kernel<Pattern, Rows>;
    case 12: return WhiteBalanceGray16Kernel<12, Pattern, Rows>;
    default: return WhiteBalanceGray16Kernel<16, Pattern, Rows>;
  }
}

template <int Pattern, int Rows>
void launchRows(const WhiteBalanceArgs& a, uint32_t words) {
  const dim3 grid(ceilDiv(words, kBlockX), ceilDiv(a.src.height, kBlockY * Rows), 1);
  const dim3 block(kBlockX, kBlockY, 1);
  launchKernel(rowsKernel<Pattern, Rows>(a.bits), grid, block, a);
}

template <int Pattern>
void launchPattern(const WhiteBalanceArgs& a, uint32_t words) {
  const auto resident = [&](int rows) {
    const int threads = int(kBlockX * kBlockY);
    switch (rows) {
      case 8: return residentBlocks(rowsKernel<Pattern, 8>(a.bits), threads);
      case 4: return residentBlocks(rowsKernel<Pattern, 4>(a.bits), threads);
      default: return residentBlocks(rowsKernel<Pattern, 2>(a.bits), threads);
    }
  };
  switch (streamingRows(words, a.src.height, resident)) {
    case 8: launchRows<Pattern, 8>(a, words); break;
    case 4: launchRows<Pattern, 4>(a, words); break;
    default: launchRows<Pattern, 2>(a, words); break;
  }
}

}  // namespace

void launchWhiteBalanceCuda(const WhiteBalanceArgs& a) {
  const uint32_t words = wordsPerRow(a.src.width, a.bits == 8 ? 1 : 2);
  if (words == 0 || a.src.height == 0) return;
  switch (a.pattern) {
    case 1: launchPattern<1>(a, words); break;
    case 2: launchPattern<2>(a, words); break;
    case 3: launchPattern<3>(a, words); break;
    default: launchPattern<4>(a, words); break;
  }
}

}  // namespace opix::OPIX_CUDA_NS
