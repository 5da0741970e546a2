// The defringe filter's maths. Pass 1 marks edge pixels: the luminance
// gradient (central differences, summed over both axes) above a threshold.
// Pass 2 takes each pixel whose hue lies in the purple or the green range
// and that lies within the band radius of an edge pixel towards its
// luminance by the strength; every other pixel is copied unchanged.
#pragma once

#include <cstdint>

#include "common/FilterMath.h"
#include "common/NeighbourMath.h"

namespace opix {

struct DefringeRule {
  float threshold;  // luminance gradient above which a pixel is an edge
  int radius;       // 1 to 8
  float purple[2];  // hue ranges in degrees, [from, to]; from > to wraps through 0
  float green[2];
  float strength;  // 0 to 1
};

// Integer luminance, weights 77, 150, 29 (0.299, 0.587, 0.114 in 1/256).
OPIX_HD uint32_t defringeLuma(uint32_t r, uint32_t g, uint32_t b) { return (77u * r + 150u * g + 29u * b + 128u) >> 8; }

OPIX_HD uint32_t absDiff(uint32_t a, uint32_t b) { return a < b ? b - a : a - b; }

// Pass 1, from the luminance of the four edge neighbours (positions past the
// border take the nearest edge pixel).
OPIX_HD bool defringeEdge(uint32_t left, uint32_t right, uint32_t up, uint32_t down, float threshold) {
  return static_cast<float>(absDiff(right, left) + absDiff(down, up)) > threshold;
}

OPIX_HD bool hueInRange(float h, const float* range) {
  return range[0] <= range[1] ? (h >= range[0] && h <= range[1]) : (h >= range[0] || h <= range[1]);
}

// Whether a colour's hue (HSV, degrees) lies in either fringe range; grey has no hue.
OPIX_HD bool fringeHue(uint32_t r, uint32_t g, uint32_t b, const DefringeRule& rule) {
  const uint32_t mx = maxOf(maxOf(r, g), b), mn = minOf(minOf(r, g), b);
  if (mx == mn) return false;
  const float d = static_cast<float>(mx - mn);
  float h;
  if (mx == r)
    h = 60.0f * static_cast<float>(int(g) - int(b)) / d;
  else if (mx == g)
    h = 60.0f * static_cast<float>(int(b) - int(r)) / d + 120.0f;
  else
    h = 60.0f * static_cast<float>(int(r) - int(g)) / d + 240.0f;
  if (h < 0.0f) h += 360.0f;
  return hueInRange(h, rule.purple) || hueInRange(h, rule.green);
}

// fringeHue's answer through selects, for host rows that vectorise, in
// float from the start: samples are below 2^16, so their floats, maxima,
// minima and differences are exact and the same as fringeHue's. The
// differences are all formed and one picked before the one division; the
// offset and the wrap add 0 where fringeHue adds nothing (turning -0 into
// +0, which compares the same), and grey is masked off after.
inline bool fringeHueSelect(float r, float g, float b, const DefringeRule& rule) {
  const float mx = maxOf(maxOf(r, g), b), mn = minOf(minOf(r, g), b);
  const float gb = g - b, br = b - r, rg = r - g;
  const float num = mx == r ? gb : (mx == g ? br : rg);
  const float offset = mx == r ? 0.0f : (mx == g ? 120.0f : 240.0f);
  float h = 60.0f * num / (mx - mn) + offset;
  h = h + (h < 0.0f ? 360.0f : 0.0f);
  const auto in = [h](const float* range) {
    const bool from = h >= range[0], to = h <= range[1], wraps = range[0] > range[1];
    return (from & to) | (wraps & (from | to));
  };
  return (mx != mn) & (in(rule.purple) | in(rule.green));
}

// Whether an edge pixel lies within `radius` (in both axes) of (x, y);
// edge(x, y) reads pass 1's mark of a pixel inside the image.
template <class Edges>
OPIX_HD bool inFringeBand(const Edges& edge, int x, int y, int w, int h, int radius) {
  const int x0 = maxOf(x - radius, 0), x1 = minOf(x + radius, w - 1);
  const int y0 = maxOf(y - radius, 0), y1 = minOf(y + radius, h - 1);
  for (int j = y0; j <= y1; ++j)
    for (int i = x0; i <= x1; ++i)
      if (edge(i, j)) return true;
  return false;
}

// One channel moved towards the luminance y by the strength.
// round is the shared rounding (RoundHalfUpClamp) or its select form in host rows.
template <class Round = RoundHalfUpClamp>
OPIX_HD uint32_t defringeChannel(uint32_t c, uint32_t y, float strength, uint32_t hi, const Round& round = {}) {
  // Samples are below 2^16: converted through int32_t, the same values.
  const float v = static_cast<float>(static_cast<int32_t>(c)), l = static_cast<float>(static_cast<int32_t>(y));
  return static_cast<uint32_t>(round(v + strength * (l - v), static_cast<int>(hi)));
}

}  // namespace opix
