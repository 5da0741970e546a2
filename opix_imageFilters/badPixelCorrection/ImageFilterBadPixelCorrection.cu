// CUDA driver of the bad pixel correction: blocks of 32 x 8 threads over 32
// words x 64 rows staged in shared memory with a two-pixel mirrored apron;
// each thread corrects one 32-bit word (four 8-bit or two 16-bit samples) in
// each of 8 consecutive rows.
#include "BadPixelMath.h"
#include "BayerTraits.h"
#include "CudaKernel.cuh"
#include "ImageFilterBadPixelCorrection.h"
#include "common/FilterWords.cuh"
#include "common/NeighbourTile.cuh"

namespace opix::OPIX_CUDA_NS {

namespace {

constexpr int kThreadsX = 32, kThreadsY = 8, kRows = 8;
constexpr int kBlockRows = kThreadsY * kRows;

template <class TileT>
struct TileWindow {
  const TileT& tile;
  int e, r;
  __device__ uint32_t operator()(int dx, int dy) const { return tile.at(e + dx, r + dy); }
};

template <class T>
__device__ void badPixelBlock(const BadPixelArgs& a) {
  constexpr int kPerWord = Words<T>::kPerWord;
  constexpr int kElems = kThreadsX * kPerWord;
  using Tile = NeighbourTile<T, 1, 2, kElems, kBlockRows>;
  __shared__ Tile tile;
  const int w = int(a.src.width), h = int(a.src.height);
  const int x0 = int(blockIdx.x) * kElems, y0 = int(blockIdx.y) * kBlockRows;
  const bool checked = x0 < 2 || y0 < 2 || x0 + kElems + 2 > w || y0 + kBlockRows + 2 > h;
  tile.template load<true>(a.src.plane[0], a.src.pitch, a.src.width, a.src.height, x0, y0, checked);
  __syncthreads();
  const bool bayer = a.pattern != OPIX_BAYER_NONE;
  const int e0 = int(threadIdx.x) * kPerWord;
  const int x = x0 + e0;
  for (int k = 0; k < kRows; ++k) {
    const int r = int(threadIdx.y) * kRows + k;
    const int y = y0 + r;
    uint32_t out = 0;
    for (int j = 0; j < kPerWord; ++j) {
      const int phase = bayerPhase(a.pattern, x + j, y);
      const bool green = bayer && (phase == kPhaseGreenOfRedRow || phase == kPhaseGreenOfBlueRow);
      out = Words<T>::put(out, j, badPixelSample(TileWindow<Tile>{tile, e0 + j, r}, bayer, green, a.bits));
    }
    uint32_t* row = wordRow(a.dst.plane[0], a.dst.pitch, uint32_t(y));
    if (!checked)
      row[x / kPerWord] = out;
    else if (x < w && y < h)
      storePartial<T>(row, uint32_t(x / kPerWord), out, uint32_t(w - x));
  }
}

__global__ void BadPixelCorrection5x5_8bitsKernel(BadPixelArgs a) { badPixelBlock<uint8_t>(a); }
__global__ void BadPixelCorrection5x5_16bitsKernel(BadPixelArgs a) { badPixelBlock<uint16_t>(a); }

}  // namespace

void launchBadPixelCuda(const BadPixelArgs& a) {
  const uint32_t elemsPerBlock = kThreadsX * (a.bits == 8 ? 4u : 2u);
  const dim3 grid(ceilDiv(a.src.width, elemsPerBlock), ceilDiv(a.src.height, kBlockRows), 1);
  if (grid.x == 0 || grid.y == 0) return;
  const dim3 block(kThreadsX, kThreadsY, 1);
  if (a.bits == 8)
    launchKernel(BadPixelCorrection5x5_8bitsKernel, grid, block, a);
  else
    launchKernel(BadPixelCorrection5x5_16bitsKernel, grid, block, a);
}

}  // namespace opix::OPIX_CUDA_NS
