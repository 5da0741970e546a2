// Stores of demosaiced pixels into the debayer's destination formats,
// shared by its CUDA drivers. `pixel(i)` gives the pixel i places right of
// the first one; it is called only for pixels inside the row.
//
// One thread's pixels of an interleaved format (four RGB8 or BGR8 pixels,
// two RGB12 or RGB16 pixels) are 12 bytes, so the 32-bit stores of a warp
// land 12 bytes apart and each writes a third of every 32-byte sector it
// touches. storeWarpRows gathers a warp's 384 bytes of a row in shared
// memory and writes them as aligned 16-byte words, whole sectors, with
// 32-bit words and bytes only at the ends. Planar stores are already whole
// sectors: a warp's word of a plane covers 128 consecutive bytes.
#pragma once

#include <cstddef>
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

// The three words of the interleaved bytes of four pixels of an RGB8 or
// BGR8 row, the first n of them (0 to 4) inside the row; the bytes of the
// others are 0. Blue-green-red order is made from the red-green-blue bytes
// by permutes, after the pixels' maths, which stays the same code for
// either order.
template <class PixelAt>
__device__ void rgb8QuadWords(const SurfaceView& d, int n, const PixelAt& pixel, uint32_t (&w)[3]) {
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
  uint32_t v[3];
  OPIX_UNROLL
  for (int k = 0; k < 3; ++k)
    v[k] = b[4 * k] | (b[4 * k + 1] << 8) | (b[4 * k + 2] << 16) | (uint32_t(b[4 * k + 3]) << 24);
  const bool bgr = isBgr8(d.format);
  // R0 G0 B0 R1 | G1 B1 R2 G2 | B2 R3 G3 B3 to B0 G0 R0 B1 | G1 R1 B2 G2 | R2 B3 G3 R3.
  const uint32_t s0 = permuteBytes(v[0], v[1], 0x5012u);
  const uint32_t s1 = permuteBytes(permuteBytes(v[1], v[0], 0x3070u), v[2], 0x3410u);
  const uint32_t s2 = permuteBytes(v[1], v[2], 0x5672u);
  w[0] = bgr ? s0 : v[0];
  w[1] = bgr ? s1 : v[1];
  w[2] = bgr ? s2 : v[2];
}

// Pixels x and x + 1 of a 16-bit row, the first n of them (0 to 2) inside
// the row, as the pair's planar words: red, green and blue, the left pixel
// in the low half; the samples of pixels outside the row are 0.
template <class PixelAt>
__device__ void pairPlaneWords(int n, const PixelAt& pixel, uint32_t (&v)[3]) {
  const Rgb a = n > 0 ? pixel(0) : Rgb{0, 0, 0};
  const Rgb b = n > 1 ? pixel(1) : Rgb{0, 0, 0};
  v[0] = uint32_t(a.r) | (uint32_t(b.r) << 16);
  v[1] = uint32_t(a.g) | (uint32_t(b.g) << 16);
  v[2] = uint32_t(a.b) | (uint32_t(b.b) << 16);
}

// The interleaved words of a pair (RGB12, RGB16) from its planar words:
// R0 R1 | G0 G1 | B0 B1 to R0 G0 | B0 R1 | G1 B1.
__device__ inline void interleavePair(const uint32_t (&v)[3], uint32_t (&w)[3]) {
  w[0] = permuteBytes(v[0], v[1], 0x5410u);
  w[1] = permuteBytes(v[2], v[0], 0x7610u);
  w[2] = permuteBytes(v[1], v[2], 0x7632u);
}

// A pair's planar words at pixel x of row y, n of its pixels (1 or 2)
// inside the row: a word in each plane, or at an odd end of a row the low
// halves.
__device__ inline void storePlaneWords(const SurfaceView& d, int x, int y, int n, const uint32_t (&v)[3]) {
  const size_t offset = size_t(y) * d.pitch + 2 * size_t(x);
  OPIX_UNROLL
  for (int c = 0; c < 3; ++c) {
    if (n > 1)
      *reinterpret_cast<uint32_t*>(d.plane[c] + offset) = v[c];
    else
      *reinterpret_cast<uint16_t*>(d.plane[c] + offset) = uint16_t(v[c]);
  }
}

// RGB8 and BGR8: pixels x to x + 3 of row y (x a multiple of 4) as three
// words; at the end of a row the pixels inside it byte by byte.
template <class PixelAt>
__device__ void storeRgb8Quad(const SurfaceView& d, int x, int y, const PixelAt& pixel) {
  const int n = int(d.width) - x;
  uint32_t w[3];
  rgb8QuadWords(d, n, pixel, w);
  unsigned char* row = d.plane[0] + size_t(y) * d.pitch + 3 * size_t(x);
  if (n >= 4) {
    uint32_t* out = reinterpret_cast<uint32_t*>(row);
    OPIX_UNROLL
    for (int k = 0; k < 3; ++k) out[k] = w[k];
  } else {
    OPIX_UNROLL
    for (int i = 0; i < 9; ++i)
      if (i < 3 * n) row[i] = uint8_t(w[i / 4] >> (8 * (i % 4)));
  }
}

// 16-bit colour: pixels x and x + 1 of row y (x even) as three words,
// planar or interleaved (RGB12, RGB16: the pair's six samples side by
// side). At an odd end of a row pixel x alone, sample by sample.
template <class PixelAt>
__device__ void storePlanarPair(const SurfaceView& d, int x, int y, const PixelAt& pixel) {
  const int n = x + 1 < int(d.width) ? 2 : 1;
  uint32_t v[3];
  pairPlaneWords(n, pixel, v);
  if (!isInterleaved16(d.format)) {
    storePlaneWords(d, x, y, n, v);
    return;
  }
  uint32_t w[3];
  interleavePair(v, w);
  unsigned char* row = d.plane[0] + size_t(y) * d.pitch + 6 * size_t(x);
  if (n > 1) {
    uint32_t* out = reinterpret_cast<uint32_t*>(row);
    OPIX_UNROLL
    for (int k = 0; k < 3; ++k) out[k] = w[k];
  } else {
    uint16_t* out = reinterpret_cast<uint16_t*>(row);
    out[0] = uint16_t(w[0]);
    out[1] = uint16_t(w[0] >> 16);
    out[2] = uint16_t(w[1]);
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

#if defined(OPIX_CUDA_CPU_DRIVER)
struct alignas(16) Words16 {
  uint32_t v[4];
};
#else
using Words16 = uint4;
#endif

// A warp's stores of Rows rows, rows y0 + step x j for j from 0 (step > 0): in each,
// lane i's kStorePixels<T> pixels from xw + kStorePixels<T> x i, those inside
// the image, `pixel(i, j)` the pixel i places right of the lane's first one
// in row j. Interleaved rows are staged in shared memory, each 384-byte
// segment at its offset in a 16-byte word, and leave as one aligned 16-byte
// word per lane; only the partly covered words at a segment's ends go out as
// 32-bit words, and a row's last bytes byte by byte. Planar rows go out word
// by word. Every lane of the block's Warps warps calls it the same number of
// times, and a warp's lanes are consecutive threads of the block.
template <class T, int Warps, int Rows, class PixelAt>
__device__ void storeWarpRows(const SurfaceView& d, int xw, int y0, int step, const PixelAt& pixel) {
  constexpr int kPixels = kStorePixels<T>, kBytes = 3 * int(sizeof(T));  // per pixel
  constexpr int kSegment = 32 * kPixels * kBytes, kStage = kSegment / 16 + 1;
  __shared__ Words16 stage[Warps][Rows][kStage];
  const int t = threadInBlock(), lane = t % 32, warp = t / 32;
  const int x = xw + kPixels * lane, width = int(d.width), height = int(d.height);
  const bool planar = sizeof(T) == 2 && !isInterleaved16(d.format);
  // A segment's offset in the plane; its bytes from the row's start lie
  // within the pitch, a 32-bit figure.
  const auto offset = [&](int y) { return size_t(y) * d.pitch + size_t(uint32_t(kBytes) * uint32_t(xw)); };
  warpSync();  // the warp's reads of its last rows are done
  OPIX_UNROLL
  for (int j = 0; j < Rows; ++j) {
    const int y = y0 + step * j;
    int n = y < height ? width - x : 0;
    n = n < 0 ? 0 : n > kPixels ? kPixels : n;
    const auto rowPixel = [&](int i) { return pixel(i, j); };
    uint32_t w[3];
    if constexpr (sizeof(T) == 1) {
      rgb8QuadWords(d, n, rowPixel, w);
    } else {
      uint32_t v[3];
      pairPlaneWords(n, rowPixel, v);
      if (planar) {
        if (n > 0) storePlaneWords(d, x, y, n, v);
        continue;
      }
      interleavePair(v, w);
    }
    const int shift = int((reinterpret_cast<uintptr_t>(d.plane[0]) + offset(y)) & 15);
    uint32_t* s = reinterpret_cast<uint32_t*>(stage[warp][j]);
    OPIX_UNROLL
    for (int k = 0; k < 3; ++k) s[shift / 4 + 3 * lane + k] = w[k];
  }
  if (planar) return;  // the same for every thread
  warpSync();
  int bytes = kBytes * (width - xw);
  bytes = bytes < 0 ? 0 : bytes > kSegment ? kSegment : bytes;
  OPIX_NO_UNROLL
  for (int j = 0; j < Rows; ++j) {
    const int y = y0 + step * j;
    if (y >= height) break;
    unsigned char* segment = d.plane[0] + offset(y);
    const int first = 16 * lane - int(reinterpret_cast<uintptr_t>(segment) & 15);  // the lane's word
    if (first >= bytes) continue;
    if (first >= 0 && first + 16 <= bytes) {
      *reinterpret_cast<Words16*>(segment + first) = stage[warp][j][lane];
      continue;
    }
    const uint32_t* s = reinterpret_cast<const uint32_t*>(stage[warp][j]) + 4 * lane;
    OPIX_NO_UNROLL
    for (int k = 0; k < 4; ++k) {
      const int at = first + 4 * k, left = bytes - at;
      if (at < 0 || left <= 0) continue;
      if (left >= 4) {
        *reinterpret_cast<uint32_t*>(segment + at) = s[k];
      } else {
        OPIX_NO_UNROLL
        for (int i = 0; i < left; ++i) segment[at + i] = uint8_t(s[k] >> (8 * i));
      }
    }
  }
}

}  // namespace opix::OPIX_CUDA_NS
