// CUDA driver of the colour saturation filters: blocks of 32 x 16 threads,
// the three curves first copied into shared memory. RGB8: each thread three
// 32-bit words (four pixels) in each of 4 rows; planar 12- and 16-bit: one
// word (two pixels) of each plane in each of 8 rows. Only blocks of the last
// block column or row test bounds.
#include "ColorSaturationMath.h"
#include "CudaKernel.cuh"
#include "ImageFilterColorSaturation.h"
#include "common/FilterWords.cuh"

namespace opix::OPIX_CUDA_NS {

namespace {

constexpr int kBlockX = 32, kBlockY = 16;
// Four blocks an SM (32 registers a thread): the pixel maths fits them
// without a spill.
constexpr int kThreads = kBlockX * kBlockY, kBlocksPerSm = 4;

__device__ void loadCurves(float* shared, const float* curves) {
  for (int i = int(threadIdx.y * kBlockX + threadIdx.x); i < 3 * kSaturationEntries; i += kThreads)
    shared[i] = readOnly(curves + i);
  __syncthreads();
}

template <int Rows>
__global__ void __launch_bounds__(kThreads, kBlocksPerSm) ColorSaturation8Kernel(ColorSaturationArgs a) {
  __shared__ float curves[3 * kSaturationEntries];
  loadCurves(curves, a.curves);
  const uint32_t q = blockIdx.x * kBlockX + threadIdx.x;  // four pixels, three words
  const uint32_t x = 4 * q;
  const bool checked = edgeBlock();
  for (int r = 0; r < Rows; ++r) {
    const uint32_t y = (blockIdx.y * Rows + uint32_t(r)) * kBlockY + threadIdx.y;
    if (checked && (x >= a.src.width || y >= a.src.height)) continue;
    const uint32_t n = checked && a.src.width - x < 4 ? a.src.width - x : 4;
    const uint32_t* src = wordRow(a.src.plane[0], a.src.pitch, y) + 3 * q;
    // The four pixels' 12 bytes as one 96-bit value i2:i1:i0, shifted down a
    // pixel (24 bits) at a time; the results enter o2:o1:o0 from the top the
    // same way, so no word is picked by a computed index (the pixel loop
    // need not unroll to keep them in registers).
    uint32_t i0 = src[0], i1 = n > 1 ? src[1] : 0u, i2 = n > 2 ? src[2] : 0u;
    uint32_t o0 = 0, o1 = 0, o2 = 0;
    for (int p = 0; p < 4; ++p) {
      float rgb[3];
      for (int c = 0; c < 3; ++c) rgb[c] = static_cast<float>((i0 >> (8 * c)) & 0xFFu) / 256.0f;
      i0 = (i0 >> 24) | (i1 << 8);
      i1 = (i1 >> 24) | (i2 << 8);
      i2 >>= 24;
      colorSaturationPixel(curves, a.ops, rgb);
      uint32_t px = 0;
      for (int c = 0; c < 3; ++c) px |= saturationSample(rgb[c], 256.0f, 255u) << (8 * c);
      o0 = (o0 >> 24) | (o1 << 8);
      o1 = (o1 >> 24) | (o2 << 8);
      o2 = (o2 >> 24) | (px << 8);
    }
    uint32_t* dst = wordRow(a.dst.plane[0], a.dst.pitch, y) + 3 * q;
    storePartial<uint8_t>(dst, 0, o0, 3 * n);
    if (n > 1) storePartial<uint8_t>(dst, 1, o1, 3 * n - 4);
    if (n > 2) storePartial<uint8_t>(dst, 2, o2, 3 * n - 8);
  }
}

template <int Rows, int Bits>
__global__ void __launch_bounds__(kThreads, kBlocksPerSm) ColorSaturation16Kernel(ColorSaturationArgs a) {
  __shared__ float curves[3 * kSaturationEntries];
  loadCurves(curves, a.curves);
  constexpr float kScale = Bits == 12 ? 4096.0f : 65536.0f;
  constexpr uint32_t kHi = Bits == 12 ? 4095u : 65535u, kMask = Bits == 12 ? 4095u : 0xFFFFu;
  planarPixelPairs<kBlockX, kBlockY, Rows>(a.src, a.dst, [&](uint32_t(&p)[3]) {
    float rgb[3];
    for (int c = 0; c < 3; ++c) rgb[c] = static_cast<float>(p[c] & kMask) / kScale;
    colorSaturationPixel(curves, a.ops, rgb);
    for (int c = 0; c < 3; ++c) p[c] = saturationSample(rgb[c], kScale, kHi);
  });
}

}  // namespace

void launchColorSaturationCuda(const ColorSaturationArgs& a) {
  if (a.src.width == 0 || a.src.height == 0) return;
  const dim3 block(kBlockX, kBlockY, 1);
  if (a.bits == 8) {
    constexpr int kRows = 4;
    const uint32_t quads = ceilDiv(a.src.width, 4);
    launchKernel(ColorSaturation8Kernel<kRows>,
                 dim3(ceilDiv(quads, kBlockX), ceilDiv(a.src.height, kBlockY * kRows), 1), block, a);
    return;
  }
  constexpr int kRows = 8;
  const dim3 grid(ceilDiv(ceilDiv(a.src.width, 2), kBlockX), ceilDiv(a.src.height, kBlockY * kRows), 1);
  if (a.bits == 12)
    launchKernel(ColorSaturation16Kernel<kRows, 12>, grid, block, a);
  else
    launchKernel(ColorSaturation16Kernel<kRows, 16>, grid, block, a);
}

}  // namespace opix::OPIX_CUDA_NS
