// Shared-memory tiles of a debayer work image for the CUDA drivers: a block
// loads the rows and 32-bit words it needs once, and the maths reads samples
// from the tile by phased position.
#pragma once

#include <cstdint>

#include "CudaKernel.cuh"

#include "DebayerMath.h"

namespace opix::OPIX_CUDA_NS {

// Samples of a shared tile addressed by phased position.
template <class T>
struct SharedTile {
  const T* tile;
  int stride;  // samples per tile row
  int ox, oy;  // phased position of tile sample (0, 0)
  __device__ int operator()(int x, int y) const { return tile[(y - oy) * stride + (x - ox)]; }
};

// Loads rows x words of the work image from word column wx and row wy with
// all threads of the block; in checked blocks what lies outside the work
// image is left as zeros.
__device__ inline void loadTile(uint32_t* tile, int rows, int words, const WorkView& w, int wx, int wy, bool checked) {
  const int pitchWords = int(w.pitch / 4);
  const int threads = int(blockDim.x * blockDim.y);
  for (int i = int(threadIdx.y * blockDim.x + threadIdx.x); i < rows * words; i += threads) {
    const int r = i / words, c = i % words;
    const int gy = wy + r, gx = wx + c;
    const uint32_t* src = reinterpret_cast<const uint32_t*>(w.base) + size_t(gy) * pitchWords + gx;
    tile[i] = (!checked || (gy < int(w.height) && gx < pitchWords)) ? *src : 0u;
  }
}

// The same for a block of Threads threads and a tile extent known at
// compile time, in unrolled rounds; `t` is the thread's index in the block.
template <int Rows, int Words, int Threads>
__device__ inline void loadTile(uint32_t* tile, const WorkView& w, int wx, int wy, bool checked, int t) {
  constexpr int n = Rows * Words;
  const int pitchWords = int(w.pitch / 4);
  OPIX_UNROLL
  for (int k = 0; k < (n + Threads - 1) / Threads; ++k) {
    const int i = t + k * Threads;
    if (n % Threads != 0 && i >= n) break;
    const int gy = wy + i / Words, gx = wx + i % Words;
    const uint32_t* src = reinterpret_cast<const uint32_t*>(w.base) + size_t(gy) * pitchWords + gx;
    tile[i] = (!checked || (gy < int(w.height) && gx < pitchWords)) ? *src : 0u;
  }
}

// The same for a block of one dimension.
template <int Rows, int Words, int Threads>
__device__ inline void loadTile(uint32_t* tile, const WorkView& w, int wx, int wy, bool checked) {
  loadTile<Rows, Words, Threads>(tile, w, wx, wy, checked, int(threadIdx.x));
}

}  // namespace opix::OPIX_CUDA_NS
