#include "device/Rgb8Planes.h"

#include <cstring>

#include "device/BytePermutes.h"

namespace opix::host {

namespace {

void splitBytes(const uint8_t* s, uint8_t* r, uint8_t* g, uint8_t* b, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    r[i] = s[3 * i];
    g[i] = s[3 * i + 1];
    b[i] = s[3 * i + 2];
  }
}

void joinBytes(const uint8_t* r, const uint8_t* g, const uint8_t* b, uint8_t* d, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    d[3 * i] = r[i];
    d[3 * i + 1] = g[i];
    d[3 * i + 2] = b[i];
  }
}

#if OPIX_BYTE_PERMUTES
// 64 pixels at a time: 192 bytes in three registers. A channel's 64 bytes
// lie in the first two registers, then in the third: two two-register
// permutes gather them; joining runs the same steps backwards.
struct Rgb8Indices {
  Bytes64 splitFirst[3], splitSecond[3], joinFirst[3], joinSecond[3];
  Rgb8Indices() {
    for (int c = 0; c < 3; ++c)
      for (int i = 0; i < 64; ++i) {
        const int q = 3 * i + c;  // the block's byte of pixel i's channel c
        splitFirst[c][i] = uint8_t(q < 128 ? q : 0);
        splitSecond[c][i] = uint8_t(q < 128 ? i : 64 + (q - 128));
      }
    for (int k = 0; k < 3; ++k)
      for (int j = 0; j < 64; ++j) {
        const int q = 64 * k + j, p = q / 3, c = q % 3;  // the byte's pixel and channel
        joinFirst[k][j] = uint8_t(c == 0 ? p : c == 1 ? 64 + p : 0);
        joinSecond[k][j] = uint8_t(c == 2 ? 64 + p : j);
      }
  }
};

const Rgb8Indices& indices() {
  static const Rgb8Indices i;
  return i;
}

OPIX_VBMI void splitVectors(const uint8_t* s, uint8_t* const (&plane)[3], size_t n, const Rgb8Indices& x) {
  for (size_t i = 0; i < n; i += 64) {
    Bytes64 v[3];
    std::memcpy(v, s + 3 * i, sizeof v);
    for (int c = 0; c < 3; ++c) {
      const Bytes64 t = __builtin_shuffle(v[0], v[1], x.splitFirst[c]);
      const Bytes64 out = __builtin_shuffle(t, v[2], x.splitSecond[c]);
      std::memcpy(plane[c] + i, &out, 64);
    }
  }
}

OPIX_VBMI void joinVectors(const uint8_t* const (&plane)[3], uint8_t* d, size_t n, const Rgb8Indices& x) {
  for (size_t i = 0; i < n; i += 64) {
    Bytes64 p[3];
    for (int c = 0; c < 3; ++c) std::memcpy(&p[c], plane[c] + i, 64);
    for (int k = 0; k < 3; ++k) {
      const Bytes64 t = __builtin_shuffle(p[0], p[1], x.joinFirst[k]);
      const Bytes64 out = __builtin_shuffle(t, p[2], x.joinSecond[k]);
      std::memcpy(d + 3 * i + 64 * k, &out, 64);
    }
  }
}
#endif

}  // namespace

void splitRgb8(const uint8_t* s, uint8_t* r, uint8_t* g, uint8_t* b, size_t n) {
  size_t done = 0;
#if OPIX_BYTE_PERMUTES
  if (bytePermutes()) {
    done = n / 64 * 64;
    uint8_t* const plane[3] = {r, g, b};
    splitVectors(s, plane, done, indices());
  }
#endif
  splitBytes(s + 3 * done, r + done, g + done, b + done, n - done);
}

void joinRgb8(const uint8_t* r, const uint8_t* g, const uint8_t* b, uint8_t* d, size_t n) {
  size_t done = 0;
#if OPIX_BYTE_PERMUTES
  if (bytePermutes()) {
    done = n / 64 * 64;
    const uint8_t* const plane[3] = {r, g, b};
    joinVectors(plane, d, done, indices());
  }
#endif
  joinBytes(r + done, g + done, b + done, d + 3 * done, n - done);
}

}  // namespace opix::host
