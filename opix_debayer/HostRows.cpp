#include "HostRows.h"

#include "device/Parallel.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace opix {

OPIX_HOST_SIMD_CLONES void copyRgb8Pixels(unsigned char* out, const unsigned char* rgb, int n, bool bgr) {
  const size_t bytes = 3 * size_t(n);
  if (!bgr) {
    if (out != rgb) std::memmove(out, rgb, bytes);
    return;
  }
  // Five pixels a 16-byte block, blocks 15 bytes apart: a block's last byte
  // (the next pixel's first) goes out unchanged and the next block writes it
  // again, swapped, so the swap also runs in place.
  typedef unsigned char Bytes16 __attribute__((vector_size(16)));
  const Bytes16 swap = {2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15};
  size_t i = 0;
  for (; i + 16 <= bytes; i += 15) {
    Bytes16 v;
    std::memcpy(&v, rgb + i, 16);
    v = __builtin_shuffle(v, swap);
    std::memcpy(out + i, &v, 16);
  }
  for (; i < bytes; i += 3) {
    const unsigned char r = rgb[i];
    out[i] = rgb[i + 2];
    out[i + 1] = rgb[i + 1];
    out[i + 2] = r;
  }
}

OPIX_HOST_SIMD_CLONES void interleave16Pixels(uint16_t* __restrict o, const uint16_t* r, const uint16_t* g,
                                              const uint16_t* b, int n, bool stream) {
  // Eight pixels a step, as three vectors of eight samples each: two-source
  // word permutes take r and g into place, then b. Streamed stores need a
  // 16-byte aligned row, whose eight-pixel steps then stay aligned.
#if defined(__SSE2__)
  const bool streamed = stream && (reinterpret_cast<uintptr_t>(o) & 15) == 0;
#else
  const bool streamed = false;
  (void)stream;
#endif
  typedef uint16_t Words8 __attribute__((vector_size(16)));
  const Words8 rg0 = {0, 8, 0, 1, 9, 0, 2, 10}, rgb0 = {0, 1, 8, 3, 4, 9, 6, 7};
  const Words8 rg1 = {0, 3, 11, 0, 4, 12, 0, 5}, rgb1 = {10, 1, 2, 11, 4, 5, 12, 7};
  const Words8 rg2 = {13, 0, 6, 14, 0, 7, 15, 0}, rgb2 = {0, 13, 2, 3, 14, 5, 6, 15};
  int x = 0;
  for (; x + 8 <= n; x += 8) {
    Words8 vr, vg, vb;
    std::memcpy(&vr, r + x, 16);
    std::memcpy(&vg, g + x, 16);
    std::memcpy(&vb, b + x, 16);
    const Words8 w0 = __builtin_shuffle(__builtin_shuffle(vr, vg, rg0), vb, rgb0);
    const Words8 w1 = __builtin_shuffle(__builtin_shuffle(vr, vg, rg1), vb, rgb1);
    const Words8 w2 = __builtin_shuffle(__builtin_shuffle(vr, vg, rg2), vb, rgb2);
#if defined(__SSE2__)
    if (streamed) {
      __m128i* out = reinterpret_cast<__m128i*>(o + 3 * x);
      _mm_stream_si128(out, __m128i(w0));
      _mm_stream_si128(out + 1, __m128i(w1));
      _mm_stream_si128(out + 2, __m128i(w2));
      continue;
    }
#endif
    std::memcpy(o + 3 * x, &w0, 16);
    std::memcpy(o + 3 * x + 8, &w1, 16);
    std::memcpy(o + 3 * x + 16, &w2, 16);
  }
  for (; x < n; ++x) {
    o[3 * x] = r[x];
    o[3 * x + 1] = g[x];
    o[3 * x + 2] = b[x];
  }
}

void streamCopy(uint16_t* dst, const uint16_t* src, int n) {
  unsigned char* out = reinterpret_cast<unsigned char*>(dst);
  const unsigned char* in = reinterpret_cast<const unsigned char*>(src);
  const size_t bytes = 2 * size_t(n);
#if defined(__SSE2__)
  size_t i = (16 - (reinterpret_cast<uintptr_t>(out) & 15)) & 15;
  if (i > bytes) i = bytes;
  std::memcpy(out, in, i);
  for (; i + 16 <= bytes; i += 16)
    _mm_stream_si128(reinterpret_cast<__m128i*>(out + i), _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i)));
  std::memcpy(out + i, in + i, bytes - i);
#else
  std::memcpy(out, in, bytes);
#endif
}

void streamFence() {
#if defined(__SSE2__)
  _mm_sfence();
#endif
}

void copyPlanarPixels(const SurfaceView& d, int64_t y, int x0, const uint16_t* r, const uint16_t* g, const uint16_t* b,
                      int n, bool stream) {
  if (!isInterleaved16(d)) {
    const PlanarRow o = planarRow(d, y);
    if (stream) {
      streamCopy(o.r + x0, r, n);
      streamCopy(o.g + x0, g, n);
      streamCopy(o.b + x0, b, n);
      return;
    }
    std::memcpy(o.r + x0, r, 2 * size_t(n));
    std::memcpy(o.g + x0, g, 2 * size_t(n));
    std::memcpy(o.b + x0, b, 2 * size_t(n));
    return;
  }
  interleave16Pixels(reinterpret_cast<uint16_t*>(d.plane[0] + y * d.pitch) + 3 * int64_t(x0), r, g, b, n, stream);
}

}  // namespace opix
