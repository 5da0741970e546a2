// Shared-memory tiles of a debayer work image for the CUDA drivers: a block
// loads the rows and 32-bit words it needs once, and the maths reads samples
// from the tile by phased position.
#pragma once

#include <cstdint>

#include "ApronCopyMath.h"
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

// Where a tile's samples come from: the source. The work image a tile
// addresses is the source with its margins mirrored (the apron) and its
// columns shifted by cx: work position (c, r) holds image sample
// (apronSourceRow(c, first, cols), apronSourceRow(r, firstRow, rows)),
// corrected by the pre-operations where they have steps.
// The kernels that load corrected tiles are the instances for Corrected
// true, so the others keep the plain load's registers.
struct TileSource {
  const unsigned char* base;
  int64_t pitch;
  int first, cols, firstRow, rows;
  const PreOperations& pre;
};

__device__ inline TileSource tileSource(const WorkView& w) {
  return {w.source,       int64_t(w.sourcePitch), w.apron + w.cx, int(w.imageWidth),
          w.apron + w.cy, int(w.imageHeight),     w.corrections};
}

// Samples of a word from image column x of image row y on, corrected.
template <class T>
__device__ inline uint32_t correctedWord(const PreOperations& p, uint32_t word, int x, int y) {
  constexpr int kPerWord = 4 / int(sizeof(T)), kBits = 8 * int(sizeof(T));
  constexpr uint32_t kMask = (1u << kBits) - 1;
  const PreRowSites sites = preRowSites(p, y);
  uint32_t out = 0;
  OPIX_UNROLL
  for (int i = 0; i < kPerWord; ++i)
    out |= preOperationSample(p, sites, (word >> (kBits * i)) & kMask, x + i, y) << (kBits * i);
  return out;
}

// Work word gx of work row gy: its samples from one aligned source word,
// or two joined, where they all lie inside the image's row; each through
// the mirror where the word reaches a margin. Positions beyond the work
// image read the image too (the maths never takes them).
template <class T, bool Corrected>
__device__ inline uint32_t tileWord(const TileSource& s, int gx, int gy) {
  constexpr int kPerWord = 4 / int(sizeof(T)), kBits = 8 * int(sizeof(T));
  const int y = apronSourceRow(gy, s.firstRow, s.rows);
  const unsigned char* row = s.base + int64_t(y) * s.pitch;
  const int x = gx * kPerWord - s.first;  // image column of the word's first sample
  if (x >= 0 && x + kPerWord <= s.cols) {
    const int b = x * int(sizeof(T));
    const uint32_t* p = reinterpret_cast<const uint32_t*>(row) + (b >> 2);
    const uint32_t shift = uint32_t(b & 3);
    const uint32_t word = alignBytes(p[0], shift ? p[1] : 0u, shift);  // p[1] only where it holds samples of the word
    return Corrected ? correctedWord<T>(s.pre, word, x, y) : word;
  }
  const T* samples = reinterpret_cast<const T*>(row);
  const PreRowSites sites = Corrected ? preRowSites(s.pre, y) : PreRowSites{};
  uint32_t word = 0;
  OPIX_NO_UNROLL
  for (int i = 0; i < kPerWord; ++i) {
    const int c = apronSourceRow(gx * kPerWord + i, s.first, s.cols);
    const uint32_t v = samples[c];
    word |= (Corrected ? preOperationSample(s.pre, sites, v, c, y) : v) << (kBits * i);
  }
  return word;
}

// Loads rows x words of the work image from word column wx and row wy with
// all threads of the block.
template <class T, bool Corrected>
__device__ inline void loadTile(uint32_t* tile, int rows, int words, const WorkView& w, int wx, int wy) {
  const TileSource s = tileSource(w);
  const int threads = int(blockDim.x * blockDim.y);
  for (int i = threadInBlock(); i < rows * words; i += threads)
    tile[i] = tileWord<T, Corrected>(s, wx + i % words, wy + i / words);
}

// The same for a block of Threads threads and a tile extent known at
// compile time; `t` is the thread's index in the block. A tile inside the
// image (most of them) without corrections is read in unrolled rounds
// straight from its rows, the others word by word.
template <class T, bool Corrected, int Rows, int Words, int Threads>
__device__ inline void loadTile(uint32_t* tile, const WorkView& w, int wx, int wy, int t) {
  constexpr int n = Rows * Words, kPerWord = 4 / int(sizeof(T));
  const TileSource s = tileSource(w);
  const int x = wx * kPerWord - s.first, y = wy - s.firstRow;  // image position of the tile's first sample
  if (!Corrected && x >= 0 && x + Words * kPerWord <= s.cols && y >= 0 && y + Rows <= s.rows) {
    const int b = x * int(sizeof(T));
    const uint32_t shift = uint32_t(b & 3);
    const unsigned char* first = s.base + int64_t(y) * s.pitch + (b & ~3);
    OPIX_UNROLL
    for (int k = 0; k < (n + Threads - 1) / Threads; ++k) {
      const int i = t + k * Threads;
      if (n % Threads != 0 && i >= n) break;
      const uint32_t* p = reinterpret_cast<const uint32_t*>(first + int64_t(i / Words) * s.pitch) + i % Words;
      tile[i] = alignBytes(p[0], shift ? p[1] : 0u, shift);
    }
    return;
  }
  OPIX_NO_UNROLL
  for (int i = t; i < n; i += Threads) tile[i] = tileWord<T, Corrected>(s, wx + i % Words, wy + i / Words);
}

// The same for a block of one dimension.
template <class T, bool Corrected, int Rows, int Words, int Threads>
__device__ inline void loadTile(uint32_t* tile, const WorkView& w, int wx, int wy) {
  loadTile<T, Corrected, Rows, Words, Threads>(tile, w, wx, wy, int(threadIdx.x));
}

}  // namespace opix::OPIX_CUDA_NS
