// CUDA driver of the word-group kernels (see WordGroups.h). Every warp works
// on one row segment of 32 groups: it loads the segment's input words with
// coalesced 32-bit loads into shared memory, each lane applies the maths to
// its group, and the warp stores the output words coalesced again. A block is
// 32 x kWarps threads and covers kWarps x kRows rows; blocks that reach past
// the last full group or the last row take the bounds-checked path, all
// others none.
#pragma once

#include "WordGroups.h"

namespace opix::cuda {

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
  for (int r = 0; r < kRows; ++r) {
    const uint32_t y = (blockIdx.y * kRows + r) * kWarps + threadIdx.y;
    if (Checked && y >= j.height) return;  // the same for the whole warp
    for (int p = 0; p < Op::kInPlanes; ++p) {
      const uint32_t* row = reinterpret_cast<const uint32_t*>(j.in[p]) + size_t{y} * j.inPitchWords + inBase;
#pragma unroll
      for (int k = 0; k < Op::kInWords; ++k) {
        const int w = lane + 32 * k;
        inTile[p * kInTile + skew(w)] = (!Checked || inBase + w < j.inPitchWords) ? row[w] : 0u;
      }
    }
    __syncwarp();
    uint32_t a[Op::kInPlanes][Op::kInWords];
    uint32_t b[Op::kOutPlanes][Op::kOutWords];
#pragma unroll
    for (int p = 0; p < Op::kInPlanes; ++p)
#pragma unroll
      for (int i = 0; i < Op::kInWords; ++i) a[p][i] = inTile[p * kInTile + skew(lane * Op::kInWords + i)];
    Op::apply(a, b, j.shift);
#pragma unroll
    for (int p = 0; p < Op::kOutPlanes; ++p)
#pragma unroll
      for (int i = 0; i < Op::kOutWords; ++i) outTile[p * kOutTile + skew(lane * Op::kOutWords + i)] = b[p][i];
    __syncwarp();
    for (int p = 0; p < Op::kOutPlanes; ++p) {
      uint32_t* row = reinterpret_cast<uint32_t*>(j.out[p]) + size_t{y} * j.outPitchWords + outBase;
#pragma unroll
      for (int k = 0; k < Op::kOutWords; ++k) {
        const int w = lane + 32 * k;
        if (!Checked || outBase + w < j.outPitchWords) row[w] = outTile[p * kOutTile + skew(w)];
      }
    }
    __syncwarp();  // the tiles are reused by the next row
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
  const dim3 grid((j.groups + 31) / 32, (j.height + kWarps * kRows - 1) / (kWarps * kRows), 1);
  kernel<<<grid, block, 0, cudaStreamPerThread>>>(j);
}

}  // namespace opix::cuda
