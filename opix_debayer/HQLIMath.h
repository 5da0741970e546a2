// HQLI: the gradient-corrected linear demosaic. Every missing colour is a
// fixed 5 x 5 linear combination of the mosaic: the bilinear estimate
// corrected by the Laplacian of the channel present, in integers.
#pragma once

#include "DebayerMath.h"

namespace opix {

// Reach: an output pixel depends on the samples at most this many columns and
// rows away (the 5 x 5 kernels). Tiled callers overlap their tiles by it.
constexpr int kHQLIReach = 2;

// The pixel at RGGB-phased position (x, y) of phase `Phase` (rggbPhase). `s`
// returns the sample at a phased position. Unclamped.
//
// V is the type each filter's sum is taken in before its shift: int, or
// int16_t for 8-bit samples, which lets a host driver keep twice the lanes in
// a vector. The results are the same: with samples in 0..255 the sums lie in
// -3060..7140 (green at a red or blue site 4c + 2 cross1 - (n2 + w2) in
// -4*255..12*255; the opposite colour 12c + 4d - 3 (n2 + w2), and either
// colour at a green site, 10c - 2d - 2 w2 + n2 + 8 (e + w) and its column
// twin, in -12*255..28*255), well inside int16_t.
template <int Phase, class V = int, class Src>
OPIX_HD Rgb hqliPixel(const Src& s, int x, int y) {
  const int c = s(x, y);
  const int n2 = s(x, y - 2) + s(x, y + 2);  // N2 + S2
  const int w2 = s(x - 2, y) + s(x + 2, y);  // W2 + E2
  if (Phase == 0 || Phase == 3) {
    const int cross1 = s(x, y - 1) + s(x, y + 1) + s(x - 1, y) + s(x + 1, y);
    const int d = s(x - 1, y - 1) + s(x + 1, y - 1) + s(x - 1, y + 1) + s(x + 1, y + 1);
    const int g = V(4 * c + 2 * cross1 - (n2 + w2)) >> 3;
    const int other = V(12 * c + 4 * d - 3 * (n2 + w2)) >> 4;
    return Phase == 0 ? Rgb{c, g, other} : Rgb{other, g, c};
  }
  const int d = s(x - 1, y - 1) + s(x + 1, y - 1) + s(x - 1, y + 1) + s(x + 1, y + 1);
  // Colour of the row neighbours, then of the column neighbours.
  const int along = V(10 * c - 2 * d - 2 * w2 + n2 + 8 * (s(x - 1, y) + s(x + 1, y))) >> 4;
  const int across = V(10 * c - 2 * d + w2 - 2 * n2 + 8 * (s(x, y - 1) + s(x, y + 1))) >> 4;
  return Phase == 1 ? Rgb{along, c, across} : Rgb{across, c, along};
}

// Clamps the estimated channels; the site's own sample stays as it is.
template <int Phase>
OPIX_HD Rgb hqliClamp(Rgb p, int hi) {
  if (Phase != 0) p.r = clampSample(p.r, hi);
  if (Phase == 0 || Phase == 3) p.g = clampSample(p.g, hi);
  if (Phase != 3) p.b = clampSample(p.b, hi);
  return p;
}

// The clamped pixel at any phased position.
template <class Src>
OPIX_HD Rgb hqliAt(const Src& s, int x, int y, int hi) {
  switch (rggbPhase(x, y)) {
    case 0: return hqliClamp<0>(hqliPixel<0>(s, x, y), hi);
    case 1: return hqliClamp<1>(hqliPixel<1>(s, x, y), hi);
    case 2: return hqliClamp<2>(hqliPixel<2>(s, x, y), hi);
    default: return hqliClamp<3>(hqliPixel<3>(s, x, y), hi);
  }
}

}  // namespace opix
