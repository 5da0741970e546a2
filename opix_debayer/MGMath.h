// MG: multiscale colour-difference gradients with directional weighting.
//
// Positions are image positions; `pattern` names the site of each. On the
// mosaic, mirrored beyond the image:
//  1. directional colour differences green minus red/blue along the row and
//     the column, from the estimates (-1/4, 1/2, 1/2, 1/2, -1/4): at a site
//     the estimate of green, at a green the other colour of that line;
//  2. the multiscale gradients V (along the column) and H (along the row);
//  3. weights 1 / (S^p + eps): two directions (p = 3) from V and H summed
//     over the centred 5 x 5 window, four directions (p = 2) from V and H
//     summed over 4 positions towards N, S, W and E, the neighbouring columns
//     (rows) at 0.4;
//  4. at a site, D = the two colour differences smoothed (1, 2, 1) / 4 along
//     their line, blended with the two-direction weights;
//  5. D refined: 0.6 D + 0.4 x the four-direction weighted mean of D at the
//     sites of the same colour two away; green = sample + D;
//  6. red at blue and blue at red from the colour differences of the four
//     diagonal sites (10/32 each) and the eight at (+-1, +-3), (+-3, +-1)
//     (-1/32 each);
//  7. red and blue at a green from the colour differences of its row and
//     column neighbours, weighted with the two-direction weights.
// Steps 1 to 3 and the window sums are exact integers (gradients are kept 28
// times, the four-direction sums 5 times larger; the eps follow), so any
// driver may sum them in any order. Every float step is one function below,
// evaluated in one order by every driver.
//
// Steps 1 to 5 read the mirrored mosaic directly (they reach 9 samples, the
// work image's apron is 12). Steps 6 and 7 read the green of step 5 and the
// colour of step 6 at a position outside the image from its mirror image
// (`mgMirror`), which keeps them inside the image.
#pragma once

#include "BayerTraits.h"
#include "DebayerMath.h"
#include "PixelMath.h"

namespace opix {

// Reach: an output pixel depends on the samples at most this many columns and
// rows away. Along the column (the row is alike): the gradient reads 5, the
// two-direction weights 7 (5 x 5 window), step 4 7, the four-direction sums 8
// and the green of step 5 9 (D two away). Step 6 at a site reads greens up to
// 3 away, 12 in all, and step 7 at a green reads step 6 at its column
// neighbour, whose greens lie 4 rows away: 13. This is more than the work
// image's apron, since steps 6 and 7 mirror their planes themselves. Tiled
// callers overlap their tiles by it.
constexpr int kMgReach = 13;

// Weighting of the steps. eps are given on a 0..255 scale of the gradient
// sums and converted to the integer sums of a bit depth by mgConstants.
struct MgConstants {
  float eps2;  // four-direction weights (squares)
  float eps3;  // two-direction weights (cubes)
  int hi;      // largest output value
};

// Sums of the four-direction window: 5 V(x, y) + 2 (V(x - 1, y) + V(x + 1, y))
// over this many rows, from the position's own row outwards.
constexpr int kMgFourDirLength = 4;

inline MgConstants mgConstants(int hi) {
  const double eps = 0.01;
  const double unit = 28.0 * double(hi) / 255.0;  // a gradient of 1 on the 0..255 scale
  const double four = 5.0 * unit;
  return {float(eps * four * four), float(eps * unit * unit * unit), hi};
}

// 28 times the multiscale gradient along a line; a(k) is the sample k steps
// from the centre.
template <class Line>
OPIX_HD int mgGradient(const Line& a) {
  const int v = 14 * (a(1) - a(-1)) - 8 * (a(2) - a(-2)) + 4 * (a(3) - a(-3)) - 2 * (a(4) - a(-4)) + (a(5) - a(-5));
  return v < 0 ? -v : v;
}

template <class Src>
OPIX_HD int mgGradientV(const Src& s, int x, int y) {
  return mgGradient([&](int k) { return s(x, y + k); });
}

template <class Src>
OPIX_HD int mgGradientH(const Src& s, int x, int y) {
  return mgGradient([&](int k) { return s(x + k, y); });
}

// Four times the colour difference at a position along a line; a(k) is the
// sample k steps away. Four times the estimate is 2 (a(-1) + a(0) + a(1)) -
// a(-2) - a(2); at a site the difference is estimate - sample, at a green
// sample - estimate.
template <class Line>
OPIX_HD int mgDifference4(const Line& a, bool site) {
  const int e = 2 * (a(-1) + a(0) + a(1)) - a(-2) - a(2);
  return site ? e - 4 * a(0) : 4 * a(0) - e;
}

// The smoothing (1, 2, 1) along a line.
OPIX_HD int mgSmooth(int before, int at, int after) { return before + 2 * at + after; }

// 16 times the colour difference at a site smoothed along a line (the
// positions beside it are greens).
template <class Line>
OPIX_HD int mgSmoothedDifference(const Line& a) {
  return mgSmooth(mgDifference4([&](int k) { return a(k - 1); }, false), mgDifference4(a, true),
                  mgDifference4([&](int k) { return a(k + 1); }, false));
}

template <class Src>
OPIX_HD int mgSmoothedV(const Src& s, int x, int y) {
  return mgSmoothedDifference([&](int k) { return s(x, y + k); });
}

template <class Src>
OPIX_HD int mgSmoothedH(const Src& s, int x, int y) {
  return mgSmoothedDifference([&](int k) { return s(x + k, y); });
}

// Window sums, given the gradients V(x, y) and H(x, y) at every position.
struct MgTwoDirSums {
  int v, h;
};
template <class Grad>
OPIX_HD MgTwoDirSums mgTwoDirSums(const Grad& V, const Grad& H, int x, int y) {
  int v = 0, h = 0;
  for (int dy = -2; dy <= 2; ++dy)
    for (int dx = -2; dx <= 2; ++dx) {
      v += V(x + dx, y + dy);
      h += H(x + dx, y + dy);
    }
  return {v, h};
}

// One term of the four-direction sums: the gradient with its neighbours
// across the line at 0.4, times 5.
OPIX_HD int mgAcross(int g, int a, int b) { return 5 * g + 2 * (a + b); }

struct MgFourDirSums {
  int n, s, w, e;
};
template <class Grad>
OPIX_HD MgFourDirSums mgFourDirSums(const Grad& V, const Grad& H, int x, int y) {
  MgFourDirSums r{0, 0, 0, 0};
  for (int k = 0; k < kMgFourDirLength; ++k) {
    r.n += mgAcross(V(x, y - k), V(x - 1, y - k), V(x + 1, y - k));
    r.s += mgAcross(V(x, y + k), V(x - 1, y + k), V(x + 1, y + k));
    r.w += mgAcross(H(x - k, y), H(x - k, y - 1), H(x - k, y + 1));
    r.e += mgAcross(H(x + k, y), H(x + k, y - 1), H(x + k, y + 1));
  }
  return r;
}

OPIX_HD float mgWeight2(int sum, float eps) {
  const float s = float(sum);
  return 1.0f / (s * s + eps);
}

OPIX_HD float mgWeight3(int sum, float eps) {
  const float s = float(sum);
  return 1.0f / (s * s * s + eps);
}

// The two-direction weights of a position.
struct MgWeights {
  float v, h;
};
OPIX_HD MgWeights mgTwoDirWeights(MgTwoDirSums s, const MgConstants& c) {
  return {mgWeight3(s.v, c.eps3), mgWeight3(s.h, c.eps3)};
}

// Step 4: D at a site from its smoothed differences (16 times) and weights.
OPIX_HD float mgSiteDifference(int smoothedV, int smoothedH, MgWeights w) {
  return (w.v * float(smoothedV) + w.h * float(smoothedH)) / (w.v + w.h) * (1.0f / 16.0f);
}

// Step 5: D refined with the differences two sites away, N, S, W, E.
OPIX_HD float mgRefinedDifference(float d, float dn, float ds, float dw, float de, MgFourDirSums sums,
                                  const MgConstants& c) {
  const float wn = mgWeight2(sums.n, c.eps2), ws = mgWeight2(sums.s, c.eps2);
  const float ww = mgWeight2(sums.w, c.eps2), we = mgWeight2(sums.e, c.eps2);
  const float mean = (((wn * dn + ws * ds) + ww * dw) + we * de) / (((wn + ws) + ww) + we);
  return 0.6f * d + 0.4f * mean;
}

// Step 6: the colour a site lacks; g is its green, d(dx, dy) the colour
// difference (green - sample) of the site dx, dy away.
template <class Diff>
OPIX_HD float mgOpposite(float g, const Diff& d) {
  const float near = ((d(-1, -1) + d(1, -1)) + d(-1, 1)) + d(1, 1);
  const float far = ((((((d(-1, -3) + d(1, -3)) + d(-3, -1)) + d(3, -1)) + d(-3, 1)) + d(3, 1)) + d(-1, 3)) + d(1, 3);
  return g - (near * (10.0f / 32.0f) - far * (1.0f / 32.0f));
}

// Step 7: a colour at a green with sample c from the colour differences
// (green - colour) of its column neighbours v0, v1 and row neighbours h0, h1.
OPIX_HD float mgAtGreen(float c, float v0, float v1, float h0, float h1, MgWeights w) {
  return c - (w.v * (v0 + v1) + w.h * (h0 + h1)) / (2.0f * (w.v + w.h));
}

// Index i reflected into [0, n) about the first and last index, without
// repeating them, as often as needed; this keeps the parity for n >= 2.
OPIX_HD int mgMirror(int i, int n) {
  if (n <= 1) return 0;
  while (i < 0 || i >= n) i = i < 0 ? -i : 2 * (n - 1) - i;
  return i;
}

OPIX_HD bool mgIsGreen(int pattern, int x, int y) {
  const int phase = bayerPhase(pattern, x, y);
  return phase == kPhaseGreenOfRedRow || phase == kPhaseGreenOfBlueRow;
}

OPIX_HD int mgRound(float v, int hi) { return roundHalfUpClamp(v, hi); }

// Step 5 at a site: D(x, y) the differences of step 4, `sums` its
// four-direction sums.
template <class Diff>
OPIX_HD float mgSiteGreenFrom(int sample, const Diff& D, MgFourDirSums sums, int x, int y, const MgConstants& c) {
  return float(sample) + mgRefinedDifference(D(x, y), D(x, y - 2), D(x, y + 2), D(x - 2, y), D(x + 2, y), sums, c);
}

// The same from the gradients V and H.
template <class Diff, class Grad>
OPIX_HD float mgSiteGreen(int sample, const Diff& D, const Grad& V, const Grad& H, int x, int y, const MgConstants& c) {
  return mgSiteGreenFrom(sample, D, mgFourDirSums(V, H, x, y), x, y, c);
}

// Steps 6 and 7 read planes indexed by position that hold, at a position
// outside the image, the value of its mirror image: G the green (step 5 at a
// site, the sample at a green) and S the sample, both as float.

// Step 6 at a site inside the image.
template <class Plane>
OPIX_HD float mgOppositeAt(const Plane& G, const Plane& S, int x, int y) {
  return mgOpposite(G(x, y), [&](int dx, int dy) { return G(x + dx, y + dy) - S(x + dx, y + dy); });
}

// The pixel at image position (x, y) of an image h rows high: opp(x, y) is
// step 6 at the mirror image of the position (read at a site and at the
// sites among the four neighbours of a green), weights() the two-direction
// weights of the position, read at a green only.
template <class Plane, class Opp, class Weights>
OPIX_HD Rgb mgPixel(int pattern, const Plane& G, const Plane& S, const Opp& opp, const Weights& weights, int x, int y,
                    int h, int hi) {
  const int phase = bayerPhase(pattern, x, y);
  const int c = int(S(x, y));
  if (phase == kPhaseR || phase == kPhaseB) {
    const int g = mgRound(G(x, y), hi);
    const int other = mgRound(opp(x, y), hi);
    return phase == kPhaseR ? Rgb{c, g, other} : Rgb{other, g, c};
  }
  // Green - red (or blue) at a neighbour: its sample where it has that
  // colour, step 6 where it has the other. Mirroring keeps the parity of a
  // position, hence its site, except in an image one row high, which has no
  // other row: there the column neighbours count 0.
  auto diff = [&](int dx, int dy, bool red) {
    if (dy != 0 && h == 1) return 0.0f;
    const bool hasRed = bayerPhase(pattern, x + dx, y + dy) == kPhaseR;
    return G(x + dx, y + dy) - (hasRed == red ? S(x + dx, y + dy) : opp(x + dx, y + dy));
  };
  const MgWeights wt = weights();
  const float cf = S(x, y);
  const float r = mgAtGreen(cf, diff(0, -1, true), diff(0, 1, true), diff(-1, 0, true), diff(1, 0, true), wt);
  const float b = mgAtGreen(cf, diff(0, -1, false), diff(0, 1, false), diff(-1, 0, false), diff(1, 0, false), wt);
  return {mgRound(r, hi), c, mgRound(b, hi)};
}

}  // namespace opix
