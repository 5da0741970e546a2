// CUDA driver of the Gaussian filters: blocks of 32 x 4 threads over 32
// words x 64 rows staged in shared memory with a one-pixel apron; each thread
// filters one 32-bit word (four 8-bit or two 16-bit samples, channels
// interleaved as stored) in each of 16 consecutive rows.
#include "CudaKernel.cuh"
#include "GaussianMath.h"
#include "ImageFilterGaussianSharpen.h"
#include "common/FilterWords.cuh"
#include "common/NeighbourTile.cuh"

namespace opix::OPIX_CUDA_NS {

namespace {

constexpr int kThreadsX = 32, kThreadsY = 4, kRows = 16;
constexpr int kBlockRows = kThreadsY * kRows;

template <class T, int C>
__device__ void gaussianBlock(const GaussianArgs& a) {
  constexpr int kPerWord = Words<T>::kPerWord;
  constexpr int kElems = kThreadsX * kPerWord;
  using Tile = NeighbourTile<T, C, 1, kElems, kBlockRows>;
  __shared__ Tile tile;
  const int rowElems = int(a.width) * C;
  const int x0 = int(blockIdx.x) * kElems, y0 = int(blockIdx.y) * kBlockRows;
  const bool checked = x0 < C || y0 < 1 || x0 + kElems + C > rowElems || y0 + kBlockRows + 1 > int(a.height);
  tile.template load<false>(a.src, a.srcPitch, a.width, a.height, x0, y0, checked);
  __syncthreads();
  const int e0 = int(threadIdx.x) * kPerWord;
  const int x = x0 + e0;
  for (int k = 0; k < kRows; ++k) {
    const int r = int(threadIdx.y) * kRows + k;
    uint32_t out = 0;
    for (int j = 0; j < kPerWord; ++j) {
      const int e = e0 + j;
      const uint32_t edgeSum = uint32_t(tile.at(e, r - 1)) + tile.at(e, r + 1) + tile.at(e - C, r) + tile.at(e + C, r);
      const uint32_t cornerSum =
          uint32_t(tile.at(e - C, r - 1)) + tile.at(e + C, r - 1) + tile.at(e - C, r + 1) + tile.at(e + C, r + 1);
      out = Words<T>::put(out, j, gaussianSample(tile.at(e, r), edgeSum, cornerSum, a.weights, a.hi));
    }
    const int y = y0 + r;
    uint32_t* row = wordRow(a.dst, a.dstPitch, uint32_t(y));
    if (!checked)
      row[x / kPerWord] = out;
    else if (x < rowElems && y < int(a.height))
      storePartial<T>(row, uint32_t(x / kPerWord), out, uint32_t(rowElems - x));
  }
}

__global__ void SharpenImageGrayKernel(GaussianArgs a) { gaussianBlock<uint8_t, 1>(a); }
__global__ void SharpenImageColorKernel(GaussianArgs a) { gaussianBlock<uint8_t, 3>(a); }
__global__ void SharpenImageGray16Kernel(GaussianArgs a) { gaussianBlock<uint16_t, 1>(a); }

}  // namespace

void launchGaussianCuda(const GaussianArgs& a) {
  const uint32_t elemsPerBlock = kThreadsX * (4 / uint32_t(a.sampleBytes));
  const dim3 grid(ceilDiv(a.width * uint32_t(a.channels), elemsPerBlock), ceilDiv(a.height, kBlockRows), 1);
  if (grid.x == 0 || grid.y == 0) return;
  const dim3 block(kThreadsX, kThreadsY, 1);
  if (a.sampleBytes == 2)
    launchKernel(SharpenImageGray16Kernel, grid, block, a);
  else if (a.channels == 3)
    launchKernel(SharpenImageColorKernel, grid, block, a);
  else
    launchKernel(SharpenImageGrayKernel, grid, block, a);
}

}  // namespace opix::OPIX_CUDA_NS
