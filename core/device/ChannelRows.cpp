#include "device/ChannelRows.h"

#include <cstring>

#include "device/Parallel.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// GCC's vector permutes; other compilers (the fuzzers' clang) take the
// plain loops, which give the same bytes.
#if defined(__GNUC__) && !defined(__clang__)
#define OPIX_CHANNEL_SHUFFLES 1
#else
#define OPIX_CHANNEL_SHUFFLES 0
#endif

namespace opix::host {

OPIX_HOST_SIMD_CLONES void swapRgb8(const uint8_t* s, uint8_t* d, size_t n) {
  const size_t bytes = 3 * n;
  // Five pixels a 16-byte block, blocks 15 bytes apart: a block's last byte
  // (the next pixel's first) goes out unchanged and the next block writes it
  // again, swapped, so the swap also runs in place.
  size_t i = 0;
#if OPIX_CHANNEL_SHUFFLES
  typedef uint8_t Bytes16 __attribute__((vector_size(16)));
  const Bytes16 swap = {2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15};
  for (; i + 16 <= bytes; i += 15) {
    Bytes16 v;
    std::memcpy(&v, s + i, 16);
    v = __builtin_shuffle(v, swap);
    std::memcpy(d + i, &v, 16);
  }
#endif
  for (; i < bytes; i += 3) {
    const uint8_t r = s[i];
    d[i] = s[i + 2];
    d[i + 1] = s[i + 1];
    d[i + 2] = r;
  }
}

OPIX_HOST_SIMD_CLONES void interleave16(const uint16_t* r, const uint16_t* g, const uint16_t* b, uint8_t* d, size_t n,
                                        bool stream) {
  // Eight pixels a step, as three vectors of eight samples each: two-source
  // word permutes take r and g into place, then b. An aligned row stays
  // aligned from step to step.
  size_t x = 0;
#if OPIX_CHANNEL_SHUFFLES
#if defined(__SSE2__)
  const bool streamed = stream && (reinterpret_cast<uintptr_t>(d) & 15) == 0;
#endif
  typedef uint16_t Words8 __attribute__((vector_size(16)));
  const Words8 rg0 = {0, 8, 0, 1, 9, 0, 2, 10}, rgb0 = {0, 1, 8, 3, 4, 9, 6, 7};
  const Words8 rg1 = {0, 3, 11, 0, 4, 12, 0, 5}, rgb1 = {10, 1, 2, 11, 4, 5, 12, 7};
  const Words8 rg2 = {13, 0, 6, 14, 0, 7, 15, 0}, rgb2 = {0, 13, 2, 3, 14, 5, 6, 15};
  for (; x + 8 <= n; x += 8) {
    Words8 vr, vg, vb;
    std::memcpy(&vr, r + x, 16);
    std::memcpy(&vg, g + x, 16);
    std::memcpy(&vb, b + x, 16);
    const Words8 w[3] = {__builtin_shuffle(__builtin_shuffle(vr, vg, rg0), vb, rgb0),
                         __builtin_shuffle(__builtin_shuffle(vr, vg, rg1), vb, rgb1),
                         __builtin_shuffle(__builtin_shuffle(vr, vg, rg2), vb, rgb2)};
    uint8_t* out = d + 6 * x;
#if defined(__SSE2__)
    if (streamed) {
      for (int k = 0; k < 3; ++k) _mm_stream_si128(reinterpret_cast<__m128i*>(out) + k, __m128i(w[k]));
      continue;
    }
#endif
    std::memcpy(out, w, 48);
  }
#endif
  (void)stream;
  for (; x < n; ++x) {
    const uint16_t p[3] = {r[x], g[x], b[x]};
    std::memcpy(d + 6 * x, p, 6);
  }
}

void streamBytes(const uint8_t* s, uint8_t* d, size_t n) {
#if defined(__SSE2__)
  size_t i = (16 - (reinterpret_cast<uintptr_t>(d) & 15)) & 15;
  if (i > n) i = n;
  std::memcpy(d, s, i);
  for (; i + 16 <= n; i += 16)
    _mm_stream_si128(reinterpret_cast<__m128i*>(d + i), _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i)));
  std::memcpy(d + i, s + i, n - i);
#else
  std::memcpy(d, s, n);
#endif
}

void streamFence() {
#if defined(__SSE2__)
  _mm_sfence();
#endif
}

}  // namespace opix::host
