// Stores of demosaiced pixels into the debayer's destination formats as whole
// 32-bit words, shared by its CUDA drivers. `pixel(i)` gives the pixel
// i places right of the first one; it is called only for pixels inside the
// row.
#pragma once

#include <cstdint>

#include "CudaKernel.cuh"

#include "DebayerMath.h"
#include "DeviceSurfaceBuffer.h"

namespace opix::OPIX_CUDA_NS {

// RGB8: pixels x to x + 3 of row y (x a multiple of 4) as three words; at the
// end of a row the pixels inside it byte by byte.
template <class PixelAt>
__device__ void storeRgb8Quad(const SurfaceView& d, int x, int y, const PixelAt& pixel) {
  const int n = int(d.width) - x;
  uint8_t b[12] = {};
  OPIX_UNROLL
  for (int i = 0; i < 4; ++i) {
    if (i < n) {
      const Rgb p = pixel(i);
      b[3 * i] = uint8_t(p.r);
      b[3 * i + 1] = uint8_t(p.g);
      b[3 * i + 2] = uint8_t(p.b);
    }
  }
  unsigned char* row = d.plane[0] + size_t(y) * d.pitch + 3 * size_t(x);
  if (n >= 4) {
    uint32_t* out = reinterpret_cast<uint32_t*>(row);
    OPIX_UNROLL
    for (int k = 0; k < 3; ++k)
      out[k] = b[4 * k] | (b[4 * k + 1] << 8) | (b[4 * k + 2] << 16) | (uint32_t(b[4 * k + 3]) << 24);
  } else {
    OPIX_UNROLL
    for (int k = 0; k < 9; ++k)
      if (k < 3 * n) row[k] = b[k];
  }
}

// Planar 16-bit: pixels x and x + 1 of row y (x even) as one word in each
// plane, the left pixel in the low half; at an odd end of a row pixel x
// alone, as one 16-bit sample per plane.
template <class PixelAt>
__device__ void storePlanarPair(const SurfaceView& d, int x, int y, const PixelAt& pixel) {
  const size_t offset = size_t(y) * d.pitch + 2 * size_t(x);
  const Rgb a = pixel(0);
  const int va[3] = {a.r, a.g, a.b};
  if (x + 1 < int(d.width)) {
    const Rgb b = pixel(1);
    const int vb[3] = {b.r, b.g, b.b};
    OPIX_UNROLL
    for (int c = 0; c < 3; ++c)
      *reinterpret_cast<uint32_t*>(d.plane[c] + offset) = uint32_t(va[c]) | (uint32_t(vb[c]) << 16);
  } else {
    OPIX_UNROLL
    for (int c = 0; c < 3; ++c) *reinterpret_cast<uint16_t*>(d.plane[c] + offset) = uint16_t(va[c]);
  }
}

// The store of the destination format that samples of type T demosaic to:
// kStorePixels<T> pixels from x, RGB8 for 8-bit samples, planar for 16-bit.
template <class T>
constexpr int kStorePixels = sizeof(T) == 1 ? 4 : 2;

template <class T, class PixelAt>
__device__ void storePixels(const SurfaceView& d, int x, int y, const PixelAt& pixel) {
  if constexpr (sizeof(T) == 1)
    storeRgb8Quad(d, x, y, pixel);
  else
    storePlanarPair(d, x, y, pixel);
}

}  // namespace opix::OPIX_CUDA_NS
