// The bad pixel correction's maths: a sample far above the largest of its
// neighbours is clipped to it, one far below the smallest raised to it; how
// far is a fraction t of the neighbour that depends on the sample's level.
#pragma once

#include <cstdint>

#include "common/NeighbourMath.h"

namespace opix {

// t by the top 8 bits of a sample: dark samples need a larger margin, noise
// being relatively larger there.
OPIX_HD float badPixelThreshold(uint32_t top8) { return top8 < 16 ? 0.7f : (top8 < 64 ? 0.2f : 0.1f); }

// Whether sample v lies far enough below its neighbours' lowest value lo to
// be raised to it, or above their highest hi to be clipped, at margin t.
OPIX_HD bool badPixelRaises(uint32_t v, uint32_t lo, float t) {
  return (1.0f - t) * static_cast<float>(lo) > static_cast<float>(v);
}
OPIX_HD bool badPixelClips(uint32_t v, uint32_t hi, float t) {
  return (1.0f + t) * static_cast<float>(hi) < static_cast<float>(v);
}

// Sample v corrected, its neighbours ranging from lo to hi.
OPIX_HD uint32_t badPixelDecide(uint32_t v, uint32_t lo, uint32_t hi, int bits) {
  const float t = badPixelThreshold(v >> (bits - 8));
  const uint32_t raised = badPixelRaises(v, lo, t) ? lo : v;
  return badPixelClips(v, hi, t) ? hi : raised;
}

// badPixelDecide for 8-bit samples as integer comparisons: a sample of
// threshold class k (t of badPixelThreshold: samples below 16, below 64, the
// others) is raised when below raise[k][lo] and clipped when above
// clip[k][hi]. Each entry is the first sample that badPixelRaises does not
// raise (the last that badPixelClips does not clip): their float products do
// not depend on the sample, and compare with it in its order, so the
// decisions are the same for every sample, lo and hi.
struct BadPixelTables8 {
  uint8_t raise[3][256], clip[3][256];
};

inline int badPixelClass8(uint32_t v) { return v < 16 ? 0 : v < 64 ? 1 : 2; }

inline BadPixelTables8 badPixelTables8() {
  BadPixelTables8 b{};
  const uint32_t first[3] = {0, 16, 64};  // a sample of each class
  for (int k = 0; k < 3; ++k) {
    const float t = badPixelThreshold(first[k]);
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t v = 0;
      while (v < 255 && badPixelRaises(v, n, t)) ++v;
      b.raise[k][n] = static_cast<uint8_t>(v);
      v = 255;
      while (v > 0 && badPixelClips(v, n, t)) --v;
      b.clip[k][n] = static_cast<uint8_t>(v);
    }
  }
  return b;
}

inline uint32_t badPixelDecide8(uint32_t v, uint32_t lo, uint32_t hi, const BadPixelTables8& b) {
  const int k = badPixelClass8(v);
  const uint32_t raised = v < b.raise[k][lo] ? lo : v;
  return v > b.clip[k][hi] ? hi : raised;
}

// The corrected sample at the centre of s, where s(dx, dy) reads the sample
// at that offset (|dx|, |dy| <= 2). Neighbours: grey data the 8 of the 3 x 3
// window; Bayer data the 8 of the same colour in the 5 x 5 window: for red
// and blue two away in the row, column and diagonals, for green the 4
// diagonal neighbours and the 4 samples two away in the row and column.
template <bool Bayer, bool Green, class Src>
OPIX_HD uint32_t badPixelSampleOf(const Src& s, int bits) {
  const uint32_t v = s(0, 0);
  uint32_t lo, hi;
  if (!Bayer) {
    const uint32_t n[8] = {s(-1, -1), s(0, -1), s(1, -1), s(-1, 0), s(1, 0), s(-1, 1), s(0, 1), s(1, 1)};
    lo = hi = n[0];
    for (int k = 1; k < 8; ++k) {
      lo = minOf(lo, n[k]);
      hi = maxOf(hi, n[k]);
    }
  } else {
    constexpr int d = Green ? 1 : 2;  // the diagonal distance of the same colour
    const uint32_t n[8] = {s(-2, 0), s(2, 0), s(0, -2), s(0, 2), s(-d, -d), s(d, -d), s(-d, d), s(d, d)};
    lo = hi = n[0];
    for (int k = 1; k < 8; ++k) {
      lo = minOf(lo, n[k]);
      hi = maxOf(hi, n[k]);
    }
  }
  return badPixelDecide(v, lo, hi, bits);
}

template <class Src>
OPIX_HD uint32_t badPixelSample(const Src& s, bool bayer, bool green, int bits) {
  if (!bayer) return badPixelSampleOf<false, false>(s, bits);
  return green ? badPixelSampleOf<true, true>(s, bits) : badPixelSampleOf<true, false>(s, bits);
}

}  // namespace opix
