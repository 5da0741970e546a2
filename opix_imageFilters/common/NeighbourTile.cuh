// The shared-memory tile of the neighbourhood filters' CUDA drivers: a block
// loads the samples it filters plus an apron of A pixels on every side once,
// as whole 32-bit words where they lie inside the row, and the maths reads
// its windows from the tile. Positions outside the image take the sample the
// filter's edge rule names (nearest edge or mirror).
#pragma once

#include <cstdint>

#include "CudaKernel.cuh"
#include "FilterWords.cuh"
#include "NeighbourMath.h"

namespace opix::OPIX_CUDA_NS {

// A tile of T samples: kElems samples of each of kRows image rows, with an
// apron of A pixels (A x C samples, C channels interleaved) left and right
// and A rows above and below.
template <class T, int C, int A, int kElems, int kRows>
struct NeighbourTile {
  static constexpr int kPerWord = Words<T>::kPerWord;
  static constexpr int kApron = A * C;  // samples
  static constexpr int kStride = kElems + 2 * kApron;
  static constexpr int kTileRows = kRows + 2 * A;

  T s[kTileRows * kStride];

  // Sample at tile row r (0 is the first image row of the block) and tile
  // column e (0 is the block's first sample).
  __device__ T at(int e, int r) const { return s[(r + A) * kStride + e + kApron]; }

  // Loads the tile of the block whose first sample is x0 (in samples) and
  // first row y0, with all threads. `checked`: the block touches an image
  // border, so positions go through the edge rule.
  template <bool Mirror>
  __device__ void load(const unsigned char* plane, uint32_t pitch, uint32_t width, uint32_t height, int x0, int y0,
                       bool checked) {
    const int threads = int(blockDim.x * blockDim.y);
    const int tid = int(threadIdx.y * blockDim.x + threadIdx.x);
    const int rowElems = int(width) * C;
    constexpr int kWords = kElems / kPerWord;
    for (int i = tid; i < kTileRows * kWords; i += threads) {
      const int r = i / kWords, k = i % kWords;
      const int gy = checked ? edge<Mirror>(y0 - A + r, int(height)) : y0 - A + r;
      const int ge = x0 + k * kPerWord;
      T* out = s + r * kStride + kApron + k * kPerWord;
      const unsigned char* row = plane + size_t(gy) * pitch;
      if (!checked || ge + kPerWord <= rowElems) {
        const uint32_t word = reinterpret_cast<const uint32_t*>(row)[ge / kPerWord];
        for (int j = 0; j < kPerWord; ++j) out[j] = static_cast<T>(Words<T>::get(word, j));
      } else {
        for (int j = 0; j < kPerWord; ++j) out[j] = sampleAt<Mirror>(row, ge + j, int(width));
      }
    }
    for (int i = tid; i < kTileRows * 2 * kApron; i += threads) {
      const int r = i / (2 * kApron), k = i % (2 * kApron);
      const int gy = checked ? edge<Mirror>(y0 - A + r, int(height)) : y0 - A + r;
      const int e = k < kApron ? k - kApron : kElems + (k - kApron);  // tile column
      const unsigned char* row = plane + size_t(gy) * pitch;
      s[r * kStride + kApron + e] =
          checked ? sampleAt<Mirror>(row, x0 + e, int(width)) : reinterpret_cast<const T*>(row)[x0 + e];
    }
  }

 private:
  template <bool Mirror>
  __device__ static int edge(int i, int n) {
    return Mirror ? mirrorIndex(i, n) : clampIndex(i, n);
  }
  // Sample e of a row (C channels interleaved) under the edge rule in pixels.
  template <bool Mirror>
  __device__ static T sampleAt(const unsigned char* row, int e, int width) {
    const int c = ((e % C) + C) % C;
    const int px = (e - c) / C;
    return reinterpret_cast<const T*>(row)[edge<Mirror>(px, width) * C + c];
  }
};

}  // namespace opix::OPIX_CUDA_NS
