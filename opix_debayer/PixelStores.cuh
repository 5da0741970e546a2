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

// Byte i of the result is byte (s >> 4i) & 7 of the eight bytes {y:x},
// little-endian: the device's byte permute (selectors 0 to 7 only).
__device__ inline uint32_t permuteBytes(uint32_t x, uint32_t y, uint32_t s) {
#if defined(__CUDA_ARCH__)
  return __byte_perm(x, y, s);
#else
  const uint64_t v = uint64_t(y) << 32 | x;
  uint32_t r = 0;
  for (int i = 0; i < 4; ++i) r |= uint32_t((v >> (8 * ((s >> (4 * i)) & 7))) & 0xFF) << (8 * i);
  return r;
#endif
}

// RGB8 and BGR8: pixels x to x + 3 of row y (x a multiple of 4) as three
// words; at the end of a row the pixels inside it byte by byte. Blue-green-
// red order is made from the red-green-blue bytes by permutes, after the
// pixels' maths, which stays the same code for either order.
template <class PixelAt>
__device__ void storeRgb8Quad(const SurfaceView& d, int x, int y, const PixelAt& pixel) {
  const int n = int(d.width) - x;
  const bool bgr = d.format == OPIX_BGR8;
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
    uint32_t w[3];
    OPIX_UNROLL
    for (int k = 0; k < 3; ++k)
      w[k] = b[4 * k] | (b[4 * k + 1] << 8) | (b[4 * k + 2] << 16) | (uint32_t(b[4 * k + 3]) << 24);
    // R0 G0 B0 R1 | G1 B1 R2 G2 | B2 R3 G3 B3 to B0 G0 R0 B1 | G1 R1 B2 G2 | R2 B3 G3 R3.
    const uint32_t s0 = permuteBytes(w[0], w[1], 0x5012u);
    const uint32_t s1 = permuteBytes(permuteBytes(w[1], w[0], 0x3070u), w[2], 0x3410u);
    const uint32_t s2 = permuteBytes(w[1], w[2], 0x5672u);
    uint32_t* out = reinterpret_cast<uint32_t*>(row);
    out[0] = bgr ? s0 : w[0];
    out[1] = bgr ? s1 : w[1];
    out[2] = bgr ? s2 : w[2];
  } else {
    OPIX_UNROLL
    for (int i = 0; i < 3; ++i) {
      if (i < n) {
        row[3 * i] = bgr ? b[3 * i + 2] : b[3 * i];
        row[3 * i + 1] = b[3 * i + 1];
        row[3 * i + 2] = bgr ? b[3 * i] : b[3 * i + 2];
      }
    }
  }
}

// 16-bit colour: pixels x and x + 1 of row y (x even) as three words.
// Planar: one word in each plane, the left pixel in the low half.
// Interleaved (RGB12, RGB16): the pair's six samples side by side, the
// planar words permuted. At an odd end of a row pixel x alone, sample by
// sample.
template <class PixelAt>
__device__ void storePlanarPair(const SurfaceView& d, int x, int y, const PixelAt& pixel) {
  const bool interleaved = d.format == OPIX_RGB12 || d.format == OPIX_RGB16;
  const size_t offset = size_t(y) * d.pitch + 2 * size_t(x);
  const auto row = [&] { return reinterpret_cast<uint16_t*>(d.plane[0] + offset + 4 * size_t(x)); };
  const Rgb a = pixel(0);
  if (x + 1 < int(d.width)) {
    const Rgb b = pixel(1);
    const uint32_t w[3] = {uint32_t(a.r) | (uint32_t(b.r) << 16), uint32_t(a.g) | (uint32_t(b.g) << 16),
                           uint32_t(a.b) | (uint32_t(b.b) << 16)};
    if (interleaved) {
      // R0 R1 | G0 G1 | B0 B1 to R0 G0 | B0 R1 | G1 B1.
      uint32_t* out = reinterpret_cast<uint32_t*>(row());
      out[0] = permuteBytes(w[0], w[1], 0x5410u);
      out[1] = permuteBytes(w[2], w[0], 0x7610u);
      out[2] = permuteBytes(w[1], w[2], 0x7632u);
    } else {
      OPIX_UNROLL
      for (int c = 0; c < 3; ++c) *reinterpret_cast<uint32_t*>(d.plane[c] + offset) = w[c];
    }
  } else if (interleaved) {
    uint16_t* out = row();
    out[0] = uint16_t(a.r);
    out[1] = uint16_t(a.g);
    out[2] = uint16_t(a.b);
  } else {
    const int v[3] = {a.r, a.g, a.b};
    OPIX_UNROLL
    for (int c = 0; c < 3; ++c) *reinterpret_cast<uint16_t*>(d.plane[c] + offset) = uint16_t(v[c]);
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
