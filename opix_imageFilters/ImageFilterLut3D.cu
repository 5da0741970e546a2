// CUDA driver of the three-dimensional look-up tables: blocks of 32 x 16
// threads, each thread one 32-bit word (two pixels) of each plane in each of
// 2 rows; the tables are read through textures with hardware trilinear
// filtering. Only blocks of the last block column or row test bounds.
#include "CudaKernel.cuh"
#include "FilterWords.cuh"
#include "ImageFilterLut3D.h"
#include "Lut3DMath.h"

namespace opix::OPIX_CUDA_NS {

namespace {

constexpr int kBlockX = 32, kBlockY = 16, kRows = 2;

template <bool Hsv>
__global__ void Lut3dSub(Lut3DArgs a) {
  const uint32_t wx = blockIdx.x * kBlockX + threadIdx.x;
  const uint32_t x = 2 * wx;
  const bool checked = edgeBlock();
  for (int r = 0; r < kRows; ++r) {
    const uint32_t y = (blockIdx.y * kRows + uint32_t(r)) * kBlockY + threadIdx.y;
    if (checked && (x >= a.src.width || y >= a.src.height)) continue;
    uint32_t in[3], out[3] = {0, 0, 0};
    for (int c = 0; c < 3; ++c) in[c] = wordRow(a.src.plane[c], a.src.pitch, y)[wx];
    for (int i = 0; i < 2; ++i) {
      uint32_t px[3];
      for (int c = 0; c < 3; ++c) px[c] = Words<uint16_t>::get(in[c], i);
      if (Hsv)
        lut3DHsvPixel(a, px);
      else
        lut3DRgbPixel(a, px);
      for (int c = 0; c < 3; ++c) out[c] = Words<uint16_t>::put(out[c], i, px[c]);
    }
    for (int c = 0; c < 3; ++c) {
      uint32_t* row = wordRow(a.dst.plane[c], a.dst.pitch, y);
      if (checked)
        storePartial<uint16_t>(row, wx, out[c], a.src.width - x);
      else
        row[wx] = out[c];
    }
  }
}

}  // namespace

void launchLut3DCuda(const Lut3DArgs& a) {
  if (a.src.width == 0 || a.src.height == 0) return;
  const dim3 block(kBlockX, kBlockY, 1);
  const dim3 grid(ceilDiv(ceilDiv(a.src.width, 2), kBlockX), ceilDiv(a.src.height, kBlockY * kRows), 1);
  if (a.hsv)
    launchKernel(Lut3dSub<true>, grid, block, a);
  else
    launchKernel(Lut3dSub<false>, grid, block, a);
}

}  // namespace opix::OPIX_CUDA_NS
