// CUDA driver of SAM: 256 threads per block, each thread four consecutive
// pixels in each of 8 rows, source, destination and black shift moved in whole
// 32-bit words. Only blocks of the last block column or row test bounds.
#include <type_traits>

#include "CudaKernel.cuh"
#include "ImageFilterMad.h"
#include "MadMath.h"
#include "common/FilterWords.cuh"

namespace opix::OPIX_CUDA_NS {

namespace {

constexpr int kThreads = 256;
constexpr int kRows = 8;

// Four pixels from x0 of row y. T: sample type; S: black shift type.
template <class T, class S, bool Checked>
__device__ void madFour(const MadArgs& a, uint32_t x0, uint32_t y, uint32_t hi) {
  constexpr int kPerWord = Words<T>::kPerWord;
  constexpr int kWords = 4 / kPerWord;
  const uint32_t* src = wordRow(a.src.plane[0], a.src.pitch, y);
  uint32_t* dst = wordRow(a.dst.plane[0], a.dst.pitch, y);
  const uint32_t* shiftRow = a.shift ? wordRow(static_cast<const unsigned char*>(a.shift), a.shiftPitch, y) : nullptr;
  const float* factor = a.factor ? a.factor + size_t(y) * a.factorPitch : nullptr;
  constexpr int kShiftPerWord = 4 / int(sizeof(S));
  for (int k = 0; k < kWords; ++k) {
    const uint32_t x = x0 + uint32_t(k * kPerWord);
    if (Checked && x >= a.src.width) return;
    const uint32_t wordIndex = x / kPerWord;
    const uint32_t in = src[wordIndex];
    uint32_t out = 0;
    for (int i = 0; i < kPerWord; ++i) {
      const uint32_t xi = x + uint32_t(i);
      int32_t b = 0;
      if (shiftRow) {
        const uint32_t sw = shiftRow[xi / kShiftPerWord];
        b = static_cast<S>(sw >> (8 * sizeof(S) * (xi % kShiftPerWord)));
      }
      const float f = factor && (!Checked || xi < a.src.width) ? factor[xi] : 1.0f;
      out = Words<T>::put(out, i, madSample(Words<T>::get(in, i), shiftRow != nullptr, b, factor != nullptr, f, hi));
    }
    if (Checked)
      storePartial<T>(dst, wordIndex, out, a.src.width - x);
    else
      dst[wordIndex] = out;
  }
}

template <class T, class S>
__device__ void madBlock(const MadArgs& a, uint32_t hi) {
  const uint32_t x0 = (blockIdx.x * kThreads + threadIdx.x) * 4;
  const uint32_t y0 = blockIdx.y * kRows;
  if (blockIdx.x + 1 < gridDim.x && blockIdx.y + 1 < gridDim.y) {
    for (int r = 0; r < kRows; ++r) madFour<T, S, false>(a, x0, y0 + r, hi);
    return;
  }
  if (x0 >= a.src.width) return;
  for (int r = 0; r < kRows && y0 + r < a.src.height; ++r) madFour<T, S, true>(a, x0, y0 + r, hi);
}

__global__ void Mad8Kernel(MadArgs a) { madBlock<uint8_t, int8_t>(a, 255u); }

template <int Bits, bool Wide>
__global__ void Mad16Kernel(MadArgs a) {
  madBlock<uint16_t, typename std::conditional<Wide, int16_t, int8_t>::type>(a, maxSample(Bits));
}

template <int Bits>
void launch16(const MadArgs& a, dim3 grid) {
  if (a.wideShift)
    launchKernel(Mad16Kernel<Bits, true>, grid, kThreads, a);
  else
    launchKernel(Mad16Kernel<Bits, false>, grid, kThreads, a);
}

}  // namespace

void launchMadCuda(const MadArgs& a) {
  const dim3 grid(ceilDiv(a.src.width, 4 * kThreads), ceilDiv(a.src.height, kRows), 1);
  if (grid.x == 0 || grid.y == 0) return;
  switch (a.bits) {
    case 8: launchKernel(Mad8Kernel, grid, kThreads, a); break;
    case 10: launch16<10>(a, grid); break;
    case 12: launch16<12>(a, grid); break;
    case 14: launch16<14>(a, grid); break;
    default: launch16<16>(a, grid); break;
  }
}

}  // namespace opix::OPIX_CUDA_NS
