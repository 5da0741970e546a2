// DFPD: directional filtering with a posteriori decision. Green is estimated
// twice at every red and blue site, along the row and along the column; a
// classifier over the variation of the colour differences keeps one of the
// two; red and blue are then rebuilt from colour differences. All integer.
//
// Positions are RGGB-phased: red at even x and y, blue at odd x and y; a
// site is a red or blue position. The scalar formulas below are the one
// definition of every step; DFPDPoint evaluates them at one position from
// a sample accessor, the host driver evaluates them over rows.
#pragma once

#include "DebayerMath.h"

namespace opix {

// Reach: an output pixel depends on the samples at most this many columns and
// rows away. A directional estimate reads 2 along its line; a gradient reads
// from 2 before its site to 4 after it (its second estimate is 2 ahead); the
// decision at a site, and so its final green, 4 (gradients of the sites from
// 2 before it up to it); the colours of a green 5 (the final greens of its
// neighbours) and the missing colour of a site 6 (the colours of its green
// neighbours). Tiled callers overlap their tiles by it.
constexpr int kDFPDReach = 6;

// Every step below computes in int. A caller may name a narrower integer
// type I for the intermediate results where every value of its sources fits
// in it; the results are then those of int, since +, - and * give the same
// low bits in any width and each result is cast before a shift, comparison
// or clamp reads it, and again after a clamp.
// For samples in 0..hi: estimates and colours lie in 0..hi, colour
// differences in -hi..hi and their pair sums in -2 hi..2 hi, estimates'
// filter sums in -2 hi..6 hi. A gradient is at most hi, not 2 hi. Take the
// sites at 0 and 2 along a line, d = (s0 - h0) - (s2 - h2). If h0 = hi or
// h2 = 0, d <= hi at once. Otherwise h0 is at least its unclamped floor(E0 / 4)
// and h2 at most its floor(E2 / 4) (a clamp to 0 raises one, to hi lowers
// the other), so d <= s0 - s2 - (E0 - 3) / 4 + E2 / 4, where the sample
// between the sites cancels: (s0 - s2 - 2 s-1 + s-2 + 2 s3 - s4 + 3) / 4,
// below hi + 1. The same with the roles turned gives d >= -hi. A classifier
// sum is then at most 12 hi.
// So 8-bit sources fit int16_t at every step (filter sums -510..1530,
// classifier sums 0..3060), and so do 12-bit samples below 4096 (filter sums
// -8190..24570) but for the classifier sums, 0..49140, which fit uint16_t.
// Samples of 16 bits need int for the differences and sums; their samples,
// estimates, gradients (at most 65535, and limited to it anyway) and colours
// fit uint16_t.

// A directional green estimate at a site: the filter (-1, 2, 2, 2, -1) / 4
// along a row or column, c being the centre, n1a/n1b the neighbours at one
// and n2a/n2b those at two.
template <class I = int>
OPIX_HD int dfpdEstimate(int c, int n1a, int n1b, int n2a, int n2b, int hi) {
  return I(clampSample(I(2 * (n1a + n1b) + 2 * c - n2a - n2b) >> 2, hi));
}

// The gradient between two colour differences, limited to gmax.
template <class I = int>
OPIX_HD int dfpdGradient(int c0, int c1, int gmax) {
  const int d = c0 > c1 ? I(c0 - c1) : I(c1 - c0);
  return I(d < gmax ? d : gmax);
}

// Gradient limit of a source format: the gradients of 8-bit sources fit a
// byte, those of 12- and 16-bit sources 16 bits.
OPIX_HD int dfpdGradientMax(int hi) { return hi == 255 ? 255 : 65535; }

// A classifier sum: the two central gradients weigh three times.
template <class I = int>
OPIX_HD int dfpdSum(int a0, int a1, int b0, int b1, int c0, int c1, int d0, int d1) {
  return I(3 * (a0 + a1) + b0 + b1 + c0 + c1 + d0 + d1);
}

// The classifier at a site from the gradients of the sites around it:
// dh(dx, dy) and dv(dx, dy) are those of the site dx columns and dy rows
// away. Horizontal when its sum is not larger (a tie goes to horizontal).
template <class I = int, class Dh, class Dv>
OPIX_HD bool dfpdHorizontal(const Dh& dh, const Dv& dv) {
  const int sh = dfpdSum<I>(dh(-2, 0), dh(0, 0), dh(-2, -2), dh(0, -2), dh(-2, 2), dh(0, 2), dh(-1, -1), dh(-1, 1));
  const int sv = dfpdSum<I>(dv(0, -2), dv(0, 0), dv(-2, -2), dv(-2, 0), dv(2, -2), dv(2, 0), dv(-1, -1), dv(1, -1));
  return sh <= sv;
}

// A colour rebuilt on `base` from two colour differences.
template <class I = int>
OPIX_HD int dfpdFromDifferences(int base, int d0, int d1, int hi) {
  return I(clampSample(I(base + (I(d0 + d1) >> 1)), hi));
}

// Every step at one phased position, from a sample accessor s(x, y).
template <class Src>
struct DFPDPoint {
  const Src& s;
  int hi;

  OPIX_HD int greenH(int x, int y) const {
    return dfpdEstimate(s(x, y), s(x - 1, y), s(x + 1, y), s(x - 2, y), s(x + 2, y), hi);
  }
  OPIX_HD int greenV(int x, int y) const {
    return dfpdEstimate(s(x, y), s(x, y - 1), s(x, y + 1), s(x, y - 2), s(x, y + 2), hi);
  }
  OPIX_HD int dh(int x, int y) const {
    return dfpdGradient(s(x, y) - greenH(x, y), s(x + 2, y) - greenH(x + 2, y), dfpdGradientMax(hi));
  }
  OPIX_HD int dv(int x, int y) const {
    return dfpdGradient(s(x, y) - greenV(x, y), s(x, y + 2) - greenV(x, y + 2), dfpdGradientMax(hi));
  }
  OPIX_HD bool horizontal(int x, int y) const {
    return dfpdHorizontal([&](int dx, int dy) { return dh(x + dx, y + dy); },
                          [&](int dx, int dy) { return dv(x + dx, y + dy); });
  }
  // Final green at a site.
  OPIX_HD int green(int x, int y) const { return horizontal(x, y) ? greenH(x, y) : greenV(x, y); }
};

// The two colours of a green position: the colour of its row neighbours and
// that of its column neighbours, from the differences at those four sites.
struct GreenColours {
  int row, column;
};
template <class I = int>
OPIX_HD GreenColours dfpdGreenColours(int g, int left, int right, int up, int down, int hi) {
  return {dfpdFromDifferences<I>(g, left, right, hi), dfpdFromDifferences<I>(g, up, down, hi)};
}

// The missing colour at a site with own sample c. Along the row the two
// green neighbours share the site's row: `a` and `b` are their (column
// colour - row colour). Along the column they lie in rows of the other
// colour, where the same quantity has the opposite sign.
template <class I = int>
OPIX_HD int dfpdMissingAlongRow(int c, int a, int b, int hi) {
  return dfpdFromDifferences<I>(c, a, b, hi);
}
template <class I = int>
OPIX_HD int dfpdMissingAlongColumn(int c, int a, int b, int hi) {
  return dfpdFromDifferences<I>(c, -a, -b, hi);
}

// The pixel at any phased position from the samples and the final green
// and decision of the sites around it (`sites.green(x, y)`,
// `sites.horizontal(x, y)`).
template <class Src, class Sites>
OPIX_HD Rgb dfpdPixelFrom(const Src& s, const Sites& sites, int x, int y, int hi) {
  const bool blueRow = y & 1;
  auto greenAt = [&](int gx, int gy) {
    return dfpdGreenColours(s(gx, gy), s(gx - 1, gy) - sites.green(gx - 1, gy), s(gx + 1, gy) - sites.green(gx + 1, gy),
                            s(gx, gy - 1) - sites.green(gx, gy - 1), s(gx, gy + 1) - sites.green(gx, gy + 1), hi);
  };
  if (((x + y) & 1) != 0) {
    const GreenColours c = greenAt(x, y);
    const int g = s(x, y);
    return blueRow ? Rgb{c.column, g, c.row} : Rgb{c.row, g, c.column};
  }
  const int c = s(x, y);
  const int g = sites.green(x, y);
  int other;
  if (sites.horizontal(x, y)) {
    const GreenColours p = greenAt(x - 1, y), q = greenAt(x + 1, y);
    other = dfpdMissingAlongRow(c, p.column - p.row, q.column - q.row, hi);
  } else {
    const GreenColours p = greenAt(x, y - 1), q = greenAt(x, y + 1);
    other = dfpdMissingAlongColumn(c, p.column - p.row, q.column - q.row, hi);
  }
  return blueRow ? Rgb{other, g, c} : Rgb{c, g, other};
}

// The pixel with every step evaluated from the samples.
template <class Src>
OPIX_HD Rgb dfpdPixel(const Src& s, int x, int y, int hi) {
  return dfpdPixelFrom(s, DFPDPoint<Src>{s, hi}, x, y, hi);
}

}  // namespace opix
