// The maths of the bit-depth conversions, one group of words at a time (see
// core/WordGroups.h). Values are only shifted: widening shifts left and keeps
// the low 16 bits, narrowing shifts right and keeps the low 8 bits. Nothing is
// rounded or clamped.
#pragma once

#include <cstdint>

#include "WordGroups.h"

namespace opix {

OPIX_HD uint32_t widen8(uint32_t v, uint32_t shift) { return (v << shift) & 0xFFFFu; }
OPIX_HD uint32_t narrow16(uint32_t v, uint32_t shift) { return (v >> shift) & 0xFFu; }

// Four 8-bit gray samples into four 16-bit ones.
struct Gray8To16Op {
  static constexpr int kInPlanes = 1, kInWords = 1, kOutPlanes = 1, kOutWords = 2;
  OPIX_HD static void apply(const uint32_t (&in)[1][1], uint32_t (&out)[1][2], uint32_t s) {
    const uint32_t(&w)[1] = in[0];
    out[0][0] = packHalves(widen8(byteAt(w, 0), s), widen8(byteAt(w, 1), s));
    out[0][1] = packHalves(widen8(byteAt(w, 2), s), widen8(byteAt(w, 3), s));
  }
};

// Four 16-bit gray samples into four 8-bit ones.
struct Gray16To8Op {
  static constexpr int kInPlanes = 1, kInWords = 2, kOutPlanes = 1, kOutWords = 1;
  OPIX_HD static void apply(const uint32_t (&in)[1][2], uint32_t (&out)[1][1], uint32_t s) {
    out[0][0] = packBytes(narrow16(lowHalf(in[0][0]), s), narrow16(highHalf(in[0][0]), s),
                          narrow16(lowHalf(in[0][1]), s), narrow16(highHalf(in[0][1]), s));
  }
};

// Two 16-bit samples of one plane, shifted left (Left) or right.
template <bool Left>
struct Convert16To16Op {
  static constexpr int kInPlanes = 1, kInWords = 1, kOutPlanes = 1, kOutWords = 1;
  OPIX_HD static uint32_t one(uint32_t v, uint32_t s) { return Left ? (v << s) & 0xFFFFu : v >> s; }
  OPIX_HD static void apply(const uint32_t (&in)[1][1], uint32_t (&out)[1][1], uint32_t s) {
    out[0][0] = packHalves(one(lowHalf(in[0][0]), s), one(highHalf(in[0][0]), s));
  }
};

// Four pixels from two words of each 16-bit plane into packed RGB8:
// R0 G0 B0 R1 | G1 B1 R2 G2 | B2 R3 G3 B3.
struct Color16To8Op {
  static constexpr int kInPlanes = 3, kInWords = 2, kOutPlanes = 1, kOutWords = 3;
  OPIX_HD static void apply(const uint32_t (&in)[3][2], uint32_t (&out)[1][3], uint32_t s) {
    uint32_t c[12];  // the 12 samples in pixel order
    for (int k = 0; k < 4; ++k)
      for (int p = 0; p < 3; ++p) {
        const uint32_t w = in[p][k >> 1];
        c[3 * k + p] = narrow16((k & 1) ? highHalf(w) : lowHalf(w), s);
      }
    for (int i = 0; i < 3; ++i) out[0][i] = packBytes(c[4 * i], c[4 * i + 1], c[4 * i + 2], c[4 * i + 3]);
  }
};

// Four packed RGB8 pixels into two words of each 16-bit plane.
struct Color8To16Op {
  static constexpr int kInPlanes = 1, kInWords = 3, kOutPlanes = 3, kOutWords = 2;
  OPIX_HD static void apply(const uint32_t (&in)[1][3], uint32_t (&out)[3][2], uint32_t s) {
    const uint32_t(&w)[3] = in[0];
    for (int p = 0; p < 3; ++p)
      for (int k = 0; k < 2; ++k)
        out[p][k] = packHalves(widen8(byteAt(w, 6 * k + p), s), widen8(byteAt(w, 6 * k + 3 + p), s));
  }
};

}  // namespace opix
