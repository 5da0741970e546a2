// DFPD: demosaic by directional filtering and a posteriori decision. Green is
// estimated along the row and along the column at every red and blue site; a
// classifier of colour-difference gradients picks one per site; red and blue
// are rebuilt from colour differences. Positions are RGGB-phased (red at even
// x and even y); `s` returns the mosaic sample at a position.
#pragma once

#include "DebayerMath.h"

namespace opix {

// The filter (-1, 2, 2, 2, -1) / 4 along the row or the column, saturated.
template <class S>
OPIX_HD int menonGh(const S& s, int x, int y, int hi) {
  return clampSample((2 * (s(x - 1, y) + s(x + 1, y)) + 2 * s(x, y) - s(x - 2, y) - s(x + 2, y)) >> 2, hi);
}
template <class S>
OPIX_HD int menonGv(const S& s, int x, int y, int hi) {
  return clampSample((2 * (s(x, y - 1) + s(x, y + 1)) + 2 * s(x, y) - s(x, y - 2) - s(x, y + 2)) >> 2, hi);
}

OPIX_HD int menonAbs(int v) { return v < 0 ? -v : v; }

// Gradients of the colour differences to the next site of the same colour,
// limited to gmax.
template <class S>
OPIX_HD int menonDh(const S& s, int x, int y, int hi, int gmax) {
  const int d = menonAbs((s(x, y) - menonGh(s, x, y, hi)) - (s(x + 2, y) - menonGh(s, x + 2, y, hi)));
  return d < gmax ? d : gmax;
}
template <class S>
OPIX_HD int menonDv(const S& s, int x, int y, int hi, int gmax) {
  const int d = menonAbs((s(x, y) - menonGv(s, x, y, hi)) - (s(x, y + 2) - menonGv(s, x, y + 2, hi)));
  return d < gmax ? d : gmax;
}

// The classifier at a red or blue site: true for the horizontal estimate (a
// tie goes to horizontal). `dh` and `dv` return the gradients at a site.
template <class DH, class DV>
OPIX_HD bool menonHorizontal(const DH& dh, const DV& dv, int x, int y) {
  const int sumH = 3 * (dh(x - 2, y) + dh(x, y)) + dh(x - 2, y - 2) + dh(x, y - 2) + dh(x - 2, y + 2) +
                   dh(x, y + 2) + dh(x - 1, y - 1) + dh(x - 1, y + 1);
  const int sumV = 3 * (dv(x, y - 2) + dv(x, y)) + dv(x - 2, y - 2) + dv(x - 2, y) + dv(x + 2, y - 2) +
                   dv(x + 2, y) + dv(x - 1, y - 1) + dv(x + 1, y - 1);
  return sumH <= sumV;
}

// Red and blue at a green site from the colour differences of its two row
// neighbours and its two column neighbours; `g` returns the final green at
// a red or blue site.
template <class S, class G>
OPIX_HD Rgb menonGreenSite(const S& s, const G& g, int x, int y, int hi) {
  const int c = s(x, y);
  const int alongRow = clampSample(c + (((s(x - 1, y) - g(x - 1, y)) + (s(x + 1, y) - g(x + 1, y))) >> 1), hi);
  const int alongColumn = clampSample(c + (((s(x, y - 1) - g(x, y - 1)) + (s(x, y + 1) - g(x, y + 1))) >> 1), hi);
  // In a red row the row neighbours are red.
  return (y & 1) == 0 ? Rgb{alongRow, c, alongColumn} : Rgb{alongColumn, c, alongRow};
}

// The pixel at any position; `horizontal` returns the decision at a red or
// blue site.
template <class S, class G, class D>
OPIX_HD Rgb menonPixel(const S& s, const G& g, const D& horizontal, int x, int y, int hi) {
  const int site = sitePhase(x, y);
  if (site == 1 || site == 2) return menonGreenSite(s, g, x, y, hi);
  const bool h = horizontal(x, y);
  const Rgb p = h ? menonGreenSite(s, g, x - 1, y, hi) : menonGreenSite(s, g, x, y - 1, hi);
  const Rgb q = h ? menonGreenSite(s, g, x + 1, y, hi) : menonGreenSite(s, g, x, y + 1, hi);
  const int c = s(x, y);
  if (site == 0) return {c, g(x, y), clampSample(c + (((p.b - p.r) + (q.b - q.r)) >> 1), hi)};
  return {clampSample(c + (((p.r - p.b) + (q.r - q.b)) >> 1), hi), g(x, y), c};
}

// Gradient limit of a source format.
constexpr int menonGradientMax(opixSurfaceFormat_t source) { return source == OPIX_I8 ? 255 : 65535; }

}  // namespace opix
