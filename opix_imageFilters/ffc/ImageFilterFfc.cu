// CUDA driver of the flat-field correction: blocks of 32 x 8 threads, each
// thread one 4 x 4 cell (two 32-bit words in each of four rows). The block
// first copies its 9 node rows of 33 nodes (the last column and row shared
// with the neighbouring blocks) into shared memory. Only blocks of the last
// block column or row test bounds.
#include "CudaKernel.cuh"
#include "FfcMath.h"
#include "ImageFilterFfc.h"
#include "common/FilterWords.cuh"

namespace opix::OPIX_CUDA_NS {

namespace {

constexpr int kBlockX = 32, kBlockY = 8;
constexpr int kNodesX = kBlockX + 1, kNodesY = kBlockY + 1;

template <int Bits>
__global__ void FfcKernel(FfcArgs a) {
  __shared__ uint16_t nodes[kNodesY][kNodesX];
  const uint32_t i0 = blockIdx.x * kBlockX, j0 = blockIdx.y * kBlockY;
  const uint32_t nodesX = ffcNodes(a.src.width), nodesY = ffcNodes(a.src.height);
  const uint32_t gridWords = a.gridPitch / 2;
  for (int k = int(threadIdx.y * kBlockX + threadIdx.x); k < kNodesX * kNodesY; k += kBlockX * kBlockY) {
    const uint32_t i = i0 + uint32_t(k % kNodesX), j = j0 + uint32_t(k / kNodesX);
    if (i < nodesX && j < nodesY) nodes[k / kNodesX][k % kNodesX] = readOnly(a.grid + size_t(j) * gridWords + i);
  }
  __syncthreads();
  const uint32_t x0 = (i0 + threadIdx.x) * 4, y0 = (j0 + threadIdx.y) * 4;
  const bool checked = edgeBlock();
  if (checked && (x0 >= a.src.width || y0 >= a.src.height)) return;
  const float g00 = ffcNodeGain(a.divider, nodes[threadIdx.y][threadIdx.x]);
  const float g10 = ffcNodeGain(a.divider, nodes[threadIdx.y][threadIdx.x + 1]);
  const float g01 = ffcNodeGain(a.divider, nodes[threadIdx.y + 1][threadIdx.x]);
  const float g11 = ffcNodeGain(a.divider, nodes[threadIdx.y + 1][threadIdx.x + 1]);
  constexpr uint32_t hi = (1u << Bits) - 1u;
  for (uint32_t dy = 0; dy < 4; ++dy) {
    const uint32_t y = y0 + dy;
    if (checked && y >= a.src.height) break;
    const uint32_t* src = wordRow(a.src.plane[0], a.src.pitch, y);
    uint32_t* dst = wordRow(a.dst.plane[0], a.dst.pitch, y);
    for (uint32_t k = 0; k < 2; ++k) {
      const uint32_t x = x0 + 2 * k;
      if (checked && x >= a.src.width) break;
      const uint32_t in = src[x / 2];
      uint32_t out = 0;
      for (uint32_t i = 0; i < 2; ++i)
        out = Words<uint16_t>::put(
            out, int(i), ffcSample(Words<uint16_t>::get(in, int(i)), ffcGain(g00, g10, g01, g11, 2 * k + i, dy), hi));
      if (checked)
        storePartial<uint16_t>(dst, x / 2, out, a.src.width - x);
      else
        dst[x / 2] = out;
    }
  }
}

}  // namespace

void launchFfcCuda(const FfcArgs& a) {
  const dim3 grid(ceilDiv(a.src.width, 4 * kBlockX), ceilDiv(a.src.height, 4 * kBlockY), 1);
  if (grid.x == 0 || grid.y == 0) return;
  const dim3 block(kBlockX, kBlockY, 1);
  if (a.bits == 12)
    launchKernel(FfcKernel<12>, grid, block, a);
  else
    launchKernel(FfcKernel<16>, grid, block, a);
}

}  // namespace opix::OPIX_CUDA_NS
