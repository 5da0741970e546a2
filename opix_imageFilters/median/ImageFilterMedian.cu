// CUDA driver of the median: blocks of 32 x 8 threads over 64 x 64 samples
// staged in shared memory with a one-sample apron; each thread filters one
// 32-bit word (two samples) in each of 8 consecutive rows, sorting each of
// its four window columns once per row.
#include "CudaKernel.cuh"
#include "ImageFilterMedian.h"
#include "MedianMath.h"
#include "common/FilterWords.cuh"
#include "common/NeighbourTile.cuh"

namespace opix::OPIX_CUDA_NS {

namespace {

constexpr int kThreadsX = 32, kThreadsY = 8, kRows = 8;
constexpr int kElems = 2 * kThreadsX, kBlockRows = kThreadsY * kRows;
using Tile = NeighbourTile<uint16_t, 1, 1, kElems, kBlockRows>;

__global__ void MedianFilter16(MedianArgs a) {
  __shared__ Tile tile;
  const int x0 = int(blockIdx.x) * kElems, y0 = int(blockIdx.y) * kBlockRows;
  const bool checked = x0 < 1 || y0 < 1 || x0 + kElems + 1 > int(a.width) || y0 + kBlockRows + 1 > int(a.height);
  tile.load<false>(a.src, a.srcPitch, a.width, a.height, x0, y0, checked);
  __syncthreads();
  const int e = int(threadIdx.x) * 2;
  const uint32_t x = uint32_t(x0 + e);
  for (int k = 0; k < kRows; ++k) {
    const int r = int(threadIdx.y) * kRows + k;
    const uint32_t y = uint32_t(y0 + r);
    Sorted3<uint16_t> col[4];
    for (int c = 0; c < 4; ++c)
      col[c] = sort3(tile.at(e - 1 + c, r - 1), tile.at(e - 1 + c, r), tile.at(e - 1 + c, r + 1));
    const uint32_t out = Words<uint16_t>::put(Words<uint16_t>::put(0u, 0, median9(col[0], col[1], col[2])), 1,
                                              median9(col[1], col[2], col[3]));
    uint32_t* row = wordRow(a.dst, a.dstPitch, y);
    if (!checked)
      row[x / 2] = out;
    else if (x < a.width && y < a.height)
      storePartial<uint16_t>(row, x / 2, out, a.width - x);
  }
}

}  // namespace

void launchMedianCuda(const MedianArgs& a) {
  const dim3 grid(ceilDiv(a.width, kElems), ceilDiv(a.height, kBlockRows), 1);
  if (grid.x == 0 || grid.y == 0) return;
  launchKernel(MedianFilter16, grid, dim3(kThreadsX, kThreadsY, 1), a);
}

}  // namespace opix::OPIX_CUDA_NS
