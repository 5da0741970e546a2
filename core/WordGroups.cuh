// CUDA driver of the word-group kernels (see WordGroups.h). Every warp works
// on row segments of 32 groups: it loads the segments' input words with
// coalesced 32-bit loads and passes them through shared memory, each lane
// applies the maths to its group, and the warp stores the output words
// coalesced again. A block is
// 32 x kWarps threads and covers kWarps x kRows rows; blocks that reach past
// the last full group or the last row take the bounds-checked path, all
// others none.
#pragma once

#include "CudaKernel.cuh"
#include "WordGroups.h"

namespace opix::OPIX_CUDA_NS {

// One padding word per 32 spreads the strided reads of the lanes over all
// shared-memory banks.
__device__ __forceinline__ int skew(int w) { return w + (w >> 5); }

template <int Words>
struct WarpTile {
  static constexpr int kSize = 32 * Words + Words;
};

template <class Op, int kWarps, int kRows, bool Checked>
__device__ __forceinline__ void wordGroupRows(const WordGroupJob& j, uint32_t* inTile, uint32_t* outTile) {
  constexpr int kInTile = WarpTile<Op::kInWords>::kSize;
  constexpr int kOutTile = WarpTile<Op::kOutWords>::kSize;
  const int lane = threadIdx.x;
  const uint32_t inBase = blockIdx.x * 32u * Op::kInWords;
  const uint32_t outBase = blockIdx.x * 32u * Op::kOutWords;
  const uint32_t firstRow = blockIdx.y * kRows * kWarps + threadIdx.y;
  // Every row's loads are issued before any is used, so each warp keeps
  // kRows rows of reads in flight.
  uint32_t loaded[kRows][Op::kInPlanes][Op::kInWords];
  OPIX_UNROLL
  for (int r = 0; r < kRows; ++r) {
    const uint32_t y = firstRow + r * kWarps;
    OPIX_UNROLL
    for (int p = 0; p < Op::kInPlanes; ++p) {
      const uint32_t* row = reinterpret_cast<const uint32_t*>(j.in[p]) + size_t{y} * j.inPitchWords + inBase;
      OPIX_UNROLL
      for (int k = 0; k < Op::kInWords; ++k) {
        const int w = lane + 32 * k;
        loaded[r][p][k] = (!Checked || (y < j.height && inBase + w < j.inPitchWords)) ? row[w] : 0u;
      }
    }
  }
  OPIX_UNROLL
  for (int r = 0; r < kRows; ++r) {
    const uint32_t y = firstRow + r * kWarps;
    // A row past the image is skipped by the whole warp, which still meets
    // every barrier.
    const bool live = !Checked || y < j.height;
    if (live) {
      OPIX_UNROLL
      for (int p = 0; p < Op::kInPlanes; ++p) OPIX_UNROLL
      for (int k = 0; k < Op::kInWords; ++k) inTile[p * kInTile + skew(lane + 32 * k)] = loaded[r][p][k];
    }
    warpSync();
    if (live) {
      uint32_t a[Op::kInPlanes][Op::kInWords];
      uint32_t b[Op::kOutPlanes][Op::kOutWords];
      OPIX_UNROLL
      for (int p = 0; p < Op::kInPlanes; ++p) OPIX_UNROLL
      for (int i = 0; i < Op::kInWords; ++i) a[p][i] = inTile[p * kInTile + skew(lane * Op::kInWords + i)];
      Op::apply(a, b, j.shift);
      OPIX_UNROLL
      for (int p = 0; p < Op::kOutPlanes; ++p) OPIX_UNROLL
      for (int i = 0; i < Op::kOutWords; ++i) outTile[p * kOutTile + skew(lane * Op::kOutWords + i)] = b[p][i];
    }
    warpSync();
    if (live) {
      OPIX_UNROLL
      for (int p = 0; p < Op::kOutPlanes; ++p) {
        uint32_t* row = reinterpret_cast<uint32_t*>(j.out[p]) + size_t{y} * j.outPitchWords + outBase;
        OPIX_UNROLL
        for (int k = 0; k < Op::kOutWords; ++k) {
          const int w = lane + 32 * k;
          if (!Checked || outBase + w < j.outPitchWords) row[w] = outTile[p * kOutTile + skew(w)];
        }
      }
    }
    warpSync();  // the tiles are reused by the next row
  }
}

// The body of every word-group kernel.
template <class Op, int kWarps, int kRows>
__device__ __forceinline__ void wordGroupBlock(const WordGroupJob& j) {
  __shared__ uint32_t inTiles[kWarps][Op::kInPlanes * WarpTile<Op::kInWords>::kSize];
  __shared__ uint32_t outTiles[kWarps][Op::kOutPlanes * WarpTile<Op::kOutWords>::kSize];
  const bool edge = (blockIdx.x + 1) * 32u > j.firstEdgeGroup || (blockIdx.y + 1) * uint32_t{kWarps * kRows} > j.height;
  if (edge)
    wordGroupRows<Op, kWarps, kRows, true>(j, inTiles[threadIdx.y], outTiles[threadIdx.y]);
  else
    wordGroupRows<Op, kWarps, kRows, false>(j, inTiles[threadIdx.y], outTiles[threadIdx.y]);
}

// Launches `kernel` with the block shape 32 x kWarps and a grid covering the
// job, on the SDK stream. Empty jobs launch nothing.
template <int kWarps, int kRows>
void launchWordGroups(void (*kernel)(WordGroupJob), const WordGroupJob& j) {
  if (j.empty()) return;
  const dim3 block(32, kWarps, 1);
  const dim3 grid(ceilDiv(j.groups, 32), ceilDiv(j.height, kWarps * kRows), 1);
  launchKernel(kernel, grid, block, j);
}

}  // namespace opix::OPIX_CUDA_NS
