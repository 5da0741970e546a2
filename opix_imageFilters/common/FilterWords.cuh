// Word access of the filter kernels: samples of a row in whole 32-bit words,
// four 8-bit or two 16-bit samples each.
#pragma once

#include <cmath>
#include <cstdint>

#include "CudaKernel.cuh"
#include "DeviceContext.h"

#include "DeviceSurfaceBuffer.h"

namespace opix::OPIX_CUDA_NS {

template <class T>
struct Words {
  static constexpr int kPerWord = 4 / static_cast<int>(sizeof(T));
  static constexpr uint32_t kMask = sizeof(T) == 1 ? 0xFFu : 0xFFFFu;

  __device__ static uint32_t get(uint32_t word, int i) { return (word >> (8 * sizeof(T) * i)) & kMask; }
  __device__ static uint32_t put(uint32_t word, int i, uint32_t v) {
    return word | ((v & kMask) << (8 * sizeof(T) * i));
  }
};

// Row y of a pitched surface as 32-bit words.
__device__ inline const uint32_t* wordRow(const unsigned char* base, uint32_t pitch, uint32_t y) {
  return reinterpret_cast<const uint32_t*>(base + size_t(y) * pitch);
}
__device__ inline uint32_t* wordRow(unsigned char* base, uint32_t pitch, uint32_t y) {
  return reinterpret_cast<uint32_t*>(base + size_t(y) * pitch);
}

// Stores the first `n` samples of a word (all of them when n >= per word).
template <class T>
__device__ void storePartial(uint32_t* row, uint32_t wordIndex, uint32_t word, uint32_t n) {
  if (n >= uint32_t(Words<T>::kPerWord)) {
    row[wordIndex] = word;
    return;
  }
  T* samples = reinterpret_cast<T*>(row + wordIndex);
  for (uint32_t i = 0; i < n; ++i) samples[i] = static_cast<T>(Words<T>::get(word, int(i)));
}

// Word `wx` of row y: every sample p at column x becomes fn(p, x). Checked:
// rows and columns beyond the image are left alone.
template <class T, bool Checked, class Fn>
__device__ void wordAt(const SurfaceView& s, const SurfaceView& d, uint32_t wx, uint32_t y, const Fn& fn) {
  constexpr int kPerWord = Words<T>::kPerWord;
  const uint32_t x = wx * kPerWord;
  if (Checked && (x >= s.width || y >= s.height)) return;
  const uint32_t in = wordRow(s.plane[0], s.pitch, y)[wx];
  uint32_t out = 0;
  for (int i = 0; i < kPerWord; ++i) out = Words<T>::put(out, i, fn(Words<T>::get(in, i), x + uint32_t(i)));
  uint32_t* row = wordRow(d.plane[0], d.pitch, y);
  if (Checked)
    storePartial<T>(row, wx, out, s.width - x);
  else
    row[wx] = out;
}

// Whether this block is in the last block column or row, where bounds matter.
__device__ inline bool edgeBlock() { return blockIdx.x + 1 == gridDim.x || blockIdx.y + 1 == gridDim.y; }

// Three 16-bit planes, two pixels to a 32-bit word, in blocks of
// BlockX x BlockY threads: this thread's word of each plane in each of Rows
// rows, every pixel's three samples rewritten in place by pixel(p). Only
// edge blocks test bounds; columns and rows beyond the image are left alone.
template <int BlockX, int BlockY, int Rows, class Pixel>
__device__ void planarPixelPairs(const SurfaceView& s, const SurfaceView& d, const Pixel& pixel) {
  const uint32_t wx = blockIdx.x * BlockX + threadIdx.x;
  const uint32_t x = 2 * wx;
  const bool checked = edgeBlock();
  for (int r = 0; r < Rows; ++r) {
    const uint32_t y = (blockIdx.y * Rows + uint32_t(r)) * BlockY + threadIdx.y;
    if (checked && (x >= s.width || y >= s.height)) continue;
    uint32_t in[3], out[3] = {0, 0, 0};
    for (int c = 0; c < 3; ++c) in[c] = wordRow(s.plane[c], s.pitch, y)[wx];
    for (int i = 0; i < 2; ++i) {
      uint32_t p[3];
      for (int c = 0; c < 3; ++c) p[c] = Words<uint16_t>::get(in[c], i);
      pixel(p);
      for (int c = 0; c < 3; ++c) out[c] = Words<uint16_t>::put(out[c], i, p[c]);
    }
    for (int c = 0; c < 3; ++c) {
      uint32_t* row = wordRow(d.plane[c], d.pitch, y);
      if (checked)
        storePartial<uint16_t>(row, wx, out[c], s.width - x);
      else
        row[wx] = out[c];
    }
  }
}

// Streaming kernels whose blocks of 32 x 8 threads each take one word in
// `rows` rows 8 apart: the rows per thread (8, 4 or 2) for an image of
// `words` words by `height` rows. The most rows, so the most loads in flight
// per thread, whose grid leaves its last wave at least three quarters full;
// failing that, the grid with the fullest last wave. A wave is as many blocks
// of that variant as every multiprocessor holds at once: `resident(rows)`
// (the variants differ in registers, so in blocks per multiprocessor).
template <class Resident>
int streamingRows(uint32_t words, uint32_t height, Resident resident) {
  const int sm = deviceContext().multiprocessors;
  int best = 2;
  double bestFill = 0;
  for (int rows : {8, 4, 2}) {
    const double wave = double(resident(rows)) * (sm > 0 ? sm : 1);
    const double waves = double(ceilDiv(words, 32)) * ceilDiv(height, 8u * uint32_t(rows)) / wave;
    const double fill = waves / std::ceil(waves);
    if (fill >= 0.75) return rows;
    if (fill > bestFill) {
      best = rows;
      bestFill = fill;
    }
  }
  return best;
}

// Words in a row of `width` samples of type T.
__host__ __device__ inline uint32_t wordsPerRow(uint32_t width, uint32_t sampleBytes) {
  return ceilDiv(width * sampleBytes, 4);
}

}  // namespace opix::OPIX_CUDA_NS
