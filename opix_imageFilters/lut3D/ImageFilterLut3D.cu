// CUDA driver of the three-dimensional look-up tables: blocks of 32 x 16
// threads, each thread one 32-bit word (two pixels) of each plane in each of
// 2 rows; the tables are read through textures with hardware trilinear
// filtering. Only blocks of the last block column or row test bounds.
#include "CudaKernel.cuh"
#include "ImageFilterLut3D.h"
#include "Lut3DMath.h"
#include "common/FilterWords.cuh"

namespace opix::OPIX_CUDA_NS {

namespace {

constexpr int kBlockX = 32, kBlockY = 16, kRows = 2;

template <bool Hsv>
__global__ void Lut3dSub(Lut3DArgs a) {
  planarPixelPairs<kBlockX, kBlockY, kRows>(a.src, a.dst, [&](uint32_t(&p)[3]) {
    if (Hsv)
      lut3DHsvPixel(a, p);
    else
      lut3DRgbPixel(a, p);
  });
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
