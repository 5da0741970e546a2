// L7: a fixed linear demosaic with smooth kernels of up to 7 x 7 samples, in
// single-precision float. Samples sharing a coefficient are summed in
// integers first, then scaled, always in the same order, so every driver
// gives the same float result.
#pragma once

#include "DebayerMath.h"
#include "PixelMath.h"

namespace opix {

// Reach: an output pixel depends on the samples at most this many columns and
// rows away (F_D is 7 x 7). Tiled callers overlap their tiles by it.
constexpr int kL7Reach = 3;

// Green at a red or blue site (5 x 5).
template <class Src>
OPIX_HD float l7Green(const Src& s, int x, int y) {
  const int axis1 = s(x - 1, y) + s(x + 1, y) + s(x, y - 1) + s(x, y + 1);
  const int axis2 = s(x - 2, y) + s(x + 2, y) + s(x, y - 2) + s(x, y + 2);
  const int knight = s(x - 1, y - 2) + s(x + 1, y - 2) + s(x - 2, y - 1) + s(x + 2, y - 1) + s(x - 2, y + 1) +
                     s(x + 2, y + 1) + s(x - 1, y + 2) + s(x + 1, y + 2);
  const int corner2 = s(x - 2, y - 2) + s(x + 2, y - 2) + s(x - 2, y + 2) + s(x + 2, y + 2);
  return 0.5f * float(s(x, y)) + 0.225f * float(axis1) - 0.15f * float(axis2) + 0.0125f * float(knight) +
         0.025f * float(corner2);
}

// At a green site, the colour of its neighbours along the row (Horizontal)
// or along the column: the 3 x 5 kernel or its transpose.
template <bool Horizontal, class Src>
OPIX_HD float l7Side(const Src& s, int x, int y) {
  // (u, v): u along the neighbours' direction, v across it.
  auto at = [&](int u, int v) { return Horizontal ? s(x + u, y + v) : s(x + v, y + u); };
  const int near = at(-1, 0) + at(1, 0);
  const int diag = at(-1, -1) + at(1, -1) + at(-1, 1) + at(1, 1);
  const int far = at(-1, -2) + at(1, -2) + at(-1, 2) + at(1, 2);
  return 0.9f * float(s(x, y)) + 0.3f * float(near) - 0.225f * float(diag) + 0.1f * float(far);
}

// At a red site the blue value, at a blue site the red value (7 x 7).
template <class Src>
OPIX_HD float l7Opposite(const Src& s, int x, int y) {
  const int axis2 = s(x - 2, y) + s(x + 2, y) + s(x, y - 2) + s(x, y + 2);
  const int diag1 = s(x - 1, y - 1) + s(x + 1, y - 1) + s(x - 1, y + 1) + s(x + 1, y + 1);
  const int outer = s(x - 3, y - 1) + s(x + 3, y - 1) + s(x - 3, y + 1) + s(x + 3, y + 1) + s(x - 1, y - 3) +
                    s(x + 1, y - 3) + s(x - 1, y + 3) + s(x + 1, y + 3);
  return 0.7f * float(s(x, y)) - 0.175f * float(axis2) + 0.175f * float(diag1) + 0.0375f * float(outer);
}

// The pixel of site `Site` at image position (x, y); the own sample is kept,
// the others are round(value, hi), a rounding that gives roundHalfUpClamp's
// values.
template <int Site, class Src, class Round>
OPIX_HD Rgb l7Pixel(const Src& s, int x, int y, int hi, const Round& round) {
  const int c = s(x, y);
  if (Site == 0) return {c, round(l7Green(s, x, y), hi), round(l7Opposite(s, x, y), hi)};
  if (Site == 3) return {round(l7Opposite(s, x, y), hi), round(l7Green(s, x, y), hi), c};
  const int alongRow = round(l7Side<true>(s, x, y), hi);
  const int alongColumn = round(l7Side<false>(s, x, y), hi);
  return Site == 1 ? Rgb{alongRow, c, alongColumn} : Rgb{alongColumn, c, alongRow};
}

template <int Site, class Src>
OPIX_HD Rgb l7Pixel(const Src& s, int x, int y, int hi) {
  return l7Pixel<Site>(s, x, y, hi, RoundHalfUpClamp{});
}

template <class Src>
OPIX_HD Rgb l7At(const Src& s, int pattern, int x, int y, int hi) {
  switch (bayerPhase(pattern, x, y)) {
    case 0: return l7Pixel<0>(s, x, y, hi);
    case 1: return l7Pixel<1>(s, x, y, hi);
    case 2: return l7Pixel<2>(s, x, y, hi);
    default: return l7Pixel<3>(s, x, y, hi);
  }
}

}  // namespace opix
