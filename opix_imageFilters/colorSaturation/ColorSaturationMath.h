// The per-pixel maths of the colour saturation filters, shared by both
// kernel drivers: RGB to hue, saturation and lightness (HSL) or value (HSV),
// three curves applied, and back.
#pragma once

#include <cmath>
#include <cstdint>

#include "Hd.h"
#include "PixelMath.h"

namespace opix {

constexpr int kSaturationEntries = 1024;

struct ColorSaturationOps {
  int operation[3];  // opixColorSaturationOperationType_t: 0 replace, 1 add, 2 multiply
  int channel[3];    // opixColorSaturationChannelType_t: 0 hue, 1 saturation, 2 lightness or value
  bool hsv;          // HSV (type 37), else HSL (type 36)
};

// Curve c at x in [0, 1], linear between entries; indices outside the
// table clamp to its ends.
// Where the curve is read: entries i and next, weighed 1 - f and f.
struct CurveTap {
  int i, next;
  float f;
};

OPIX_HD CurveTap saturationCurveTap(float x) {
  float idx = x * 1023.0f;
  if (!(idx > 0.0f)) idx = 0.0f;
  if (idx > 1023.0f) idx = 1023.0f;
  const int i = static_cast<int>(idx);
  const int next = i < kSaturationEntries - 1 ? i + 1 : kSaturationEntries - 1;
  return {i, next, idx - static_cast<float>(i)};
}

OPIX_HD float saturationCurveBetween(float at, float next, float f) { return (1.0f - f) * at + f * next; }

OPIX_HD float saturationCurve(const float* curve, float x) {
  const CurveTap t = saturationCurveTap(x);
  return saturationCurveBetween(curve[t.i], curve[t.next], t.f);
}

OPIX_HD float clampUnit(float v) { return v < 0.0f ? 0.0f : v >= 1.0f ? 1.0f : v; }

// Hue in [0, 1) of a colour whose largest channel is mx and smallest mn; 0
// for grey.
OPIX_HD float hueOf(float r, float g, float b, float mx, float mn) {
  float h = 0.0f;
  if (mx != mn) {
    const float d = 6.0f * (mx - mn);
    if (mx == g)
      h = 1.0f / 3.0f + (b - r) / d;
    else if (mx == b)
      h = 2.0f / 3.0f + (r - g) / d;
    else
      h = (g - b) / d + (g < b ? 1.0f : 0.0f);
  }
  return h;
}

// The case of hsvToRgb for sector floor(6h), modulo 6: 0 to 4, or any other
// value for the last. A sector outside int (a hue a curve made NaN, infinite
// or huge) is the last, on every backend: a float to int conversion out of
// range is undefined, and processors differ on it.
OPIX_HD int hsvSector(float sector) {
  return sector >= -2147483648.0f && sector < 2147483648.0f ? static_cast<int>(sector) % 6 : 5;
}

// HSV back to RGB, hue h in [0, 1).
OPIX_HD void hsvToRgb(float h, float s, float v, float (&rgb)[3]) {
  const float h6 = h * 6.0f;
  const float sector = floorf(h6);
  const float f = h6 - sector;
  const float p = v * (1.0f - s), q = v * (1.0f - f * s), t = v * (1.0f - (1.0f - f) * s);
  switch (hsvSector(sector)) {
    case 0: rgb[0] = v, rgb[1] = t, rgb[2] = p; break;
    case 1: rgb[0] = q, rgb[1] = v, rgb[2] = p; break;
    case 2: rgb[0] = p, rgb[1] = v, rgb[2] = t; break;
    case 3: rgb[0] = p, rgb[1] = q, rgb[2] = v; break;
    case 4: rgb[0] = t, rgb[1] = p, rgb[2] = v; break;
    default: rgb[0] = v, rgb[1] = p, rgb[2] = q; break;
  }
}

// HSL back to RGB: one channel at hue t.
OPIX_HD float hslChannel(float p, float q, float t) {
  if (t < 0.0f) t += 1.0f;
  if (t > 1.0f) t -= 1.0f;
  const float t6 = 6.0f * t;
  if (t6 < 1.0f) return p + (q - p) * t6;
  if (t6 < 3.0f) return q;
  if (t6 < 4.0f) return p + (q - p) * (4.0f - t6);
  return p;
}

// One pixel of normalised channels in [0, 1), in place. The curves are the
// three tables of 1024 floats, one after another.
OPIX_HD void colorSaturationPixel(const float* curves, const ColorSaturationOps& ops, float (&rgb)[3]) {
  const float r = rgb[0], g = rgb[1], b = rgb[2];
  const float mx = r > g ? (r > b ? r : b) : (g > b ? g : b);
  const float mn = r < g ? (r < b ? r : b) : (g < b ? g : b);
  const float h = hueOf(r, g, b, mx, mn);
  float s, l;
  if (ops.hsv) {
    l = mx;
    s = mx == 0.0f ? 0.0f : 1.0f - mn / mx;
  } else {
    l = (mx + mn) * 0.5f;
    s = (mx == mn || l == 0.0f) ? 0.0f : (mx - mn) / (1.0f - fabsf(mx + mn - 1.0f));
  }
  // The channels picked by selects, not an indexed array, so the CUDA
  // kernels keep them in registers.
  float out[3];
  for (int c = 0; c < 3; ++c) {
    const int from = ops.channel[c];
    const float t = saturationCurve(curves + c * kSaturationEntries, from == 0 ? h : from == 1 ? s : l);
    const float v = c == 0 ? 360.0f * h : c == 1 ? s : l;
    float res = ops.operation[c] == 0 ? t : ops.operation[c] == 1 ? v + t : v * t;
    if (c == 0) {
      res = res - 360.0f * floorf(res / 360.0f);
      out[0] = res / 360.0f;
    } else {
      out[c] = clampUnit(res);
    }
  }
  const float hh = out[0], ss = out[1], ll = out[2];
  if (ops.hsv) {
    hsvToRgb(hh, ss, ll, rgb);
    return;
  }
  if (ss == 0.0f) {
    rgb[0] = rgb[1] = rgb[2] = ll;
    return;
  }
  const float q = ll < 0.5f ? ll * (1.0f + ss) : ll + ss - ll * ss;
  const float p = 2.0f * ll - q;
  rgb[0] = hslChannel(p, q, hh + 1.0f / 3.0f);
  rgb[1] = hslChannel(p, q, hh);
  rgb[2] = hslChannel(p, q, hh - 1.0f / 3.0f);
}

// A result back to a sample: v x scale + 0.5, truncated, within 0 ... hi.
OPIX_HD uint32_t saturationSample(float v, float scale, uint32_t hi) {
  const float s = v * scale + 0.5f;
  if (!(s > 0.0f)) return 0;
  return s >= static_cast<float>(hi) ? hi : static_cast<uint32_t>(s);
}

// ---------------------------------------------------------- select forms
// The values of hueOf, hsvToRgb, colorSaturationPixel and saturationSample
// for every input, through selects instead of branches, so the host rows
// vectorise. Each candidate is formed by the shared expression and one is
// picked; a quotient the shared code forms on one path only is formed on
// every path (a grey pixel's 0 / 0 is masked off after). No arithmetic
// stands inside a select: the compiler does not speculate float operations
// that could trap, so such a select would keep the loop scalar.

// hueOf: the numerator and offset of the largest channel are picked before
// the one division. On the red path hueOf adds the offset after the
// quotient; the sum is the same either way round.
OPIX_HD float hueOfSelect(float r, float g, float b, float mx, float mn) {
  const bool isG = mx == g, isB = mx == b;
  const float br = b - r, rg = r - g, gb = g - b;
  const float num = isG ? br : (isB ? rg : gb);
  const float offset = isG ? 1.0f / 3.0f : (isB ? 2.0f / 3.0f : (g < b ? 1.0f : 0.0f));
  const float h = offset + num / (6.0f * (mx - mn));
  return mx != mn ? h : 0.0f;
}

// hsvToRgb: the switch's default, then each case of the sector (0 ... 4)
// picked over it in a select of its own (a chain of comparisons of one
// value would be turned back into a switch, which keeps the row scalar).
OPIX_HD void hsvToRgbSelect(float h, float s, float v, float (&rgb)[3]) {
  const float h6 = h * 6.0f;
  const float sector = floorf(h6);
  const float f = h6 - sector;
  const float p = v * (1.0f - s), q = v * (1.0f - f * s), t = v * (1.0f - (1.0f - f) * s);
  const int k = hsvSector(sector);
  float r = v, g = p, b = q;
  const auto pick = [&](int at, float rs, float gs, float bs) {
    r = k == at ? rs : r;
    g = k == at ? gs : g;
    b = k == at ? bs : b;
  };
  pick(4, t, p, v);
  pick(3, p, q, v);
  pick(2, p, v, t);
  pick(1, q, v, p);
  pick(0, v, t, p);
  rgb[0] = r;
  rgb[1] = g;
  rgb[2] = b;
}

OPIX_HD float hslChannelSelect(float p, float q, float t) {
  const float up = t + 1.0f;
  t = t < 0.0f ? up : t;
  const float down = t - 1.0f;
  t = t > 1.0f ? down : t;
  const float t6 = 6.0f * t;
  const float rise = p + (q - p) * t6, fall = p + (q - p) * (4.0f - t6);
  return t6 < 1.0f ? rise : (t6 < 3.0f ? q : (t6 < 4.0f ? fall : p));
}

// colorSaturationPixel with HSV or HSL fixed, in three steps so that a host
// row can read the curves between them in a loop of its own (the vector
// units have no gather worth using): the pixel's hue, saturation and
// lightness or value (hsx), the curves' inputs, and from the curves' values
// back to RGB.
template <bool Hsv>
OPIX_HD void hsxSelect(float r, float g, float b, float (&hsx)[3]) {
  const float mx = r > g ? (r > b ? r : b) : (g > b ? g : b);
  const float mn = r < g ? (r < b ? r : b) : (g < b ? g : b);
  hsx[0] = hueOfSelect(r, g, b, mx, mn);
  if (Hsv) {
    hsx[2] = mx;
    const float ratio = 1.0f - mn / mx;
    hsx[1] = mx == 0.0f ? 0.0f : ratio;
  } else {
    hsx[2] = (mx + mn) * 0.5f;
    const float spread = (mx - mn) / (1.0f - fabsf(mx + mn - 1.0f));
    hsx[1] = ((mx == mn) | (hsx[2] == 0.0f)) ? 0.0f : spread;
  }
}

OPIX_HD float saturationCurveInput(const ColorSaturationOps& ops, int c, const float (&hsx)[3]) {
  const int from = ops.channel[c];
  return from == 0 ? hsx[0] : from == 1 ? hsx[1] : hsx[2];
}

// t: the value of curve c at its input.
template <bool Hsv>
OPIX_HD void saturationFromCurvesSelect(const ColorSaturationOps& ops, const float (&hsx)[3], const float (&t)[3],
                                        float (&rgb)[3]) {
  const float h = hsx[0], s = hsx[1], l = hsx[2];
  float out[3];
  for (int c = 0; c < 3; ++c) {
    const float v = c == 0 ? 360.0f * h : c == 1 ? s : l;
    const float added = v + t[c], multiplied = v * t[c];
    const float res = ops.operation[c] == 0 ? t[c] : ops.operation[c] == 1 ? added : multiplied;
    if (c == 0)
      out[0] = (res - 360.0f * floorf(res / 360.0f)) / 360.0f;
    else
      out[c] = clampUnit(res);
  }
  const float hh = out[0], ss = out[1], ll = out[2];
  if (Hsv) {
    hsvToRgbSelect(hh, ss, ll, rgb);
    return;
  }
  const float low = ll * (1.0f + ss), high = ll + ss - ll * ss;
  const float q = ll < 0.5f ? low : high;
  const float p = 2.0f * ll - q;
  const float r1 = hslChannelSelect(p, q, hh + 1.0f / 3.0f), g1 = hslChannelSelect(p, q, hh),
              b1 = hslChannelSelect(p, q, hh - 1.0f / 3.0f);
  const bool grey = ss == 0.0f;
  rgb[0] = grey ? ll : r1;
  rgb[1] = grey ? ll : g1;
  rgb[2] = grey ? ll : b1;
}

template <bool Hsv>
OPIX_HD void colorSaturationPixelSelect(const float* curves, const ColorSaturationOps& ops, float (&rgb)[3]) {
  float hsx[3], t[3];
  hsxSelect<Hsv>(rgb[0], rgb[1], rgb[2], hsx);
  for (int c = 0; c < 3; ++c)
    t[c] = saturationCurve(curves + c * kSaturationEntries, saturationCurveInput(ops, c, hsx));
  saturationFromCurvesSelect<Hsv>(ops, hsx, t, rgb);
}

// saturationSample (hi below 2^24).
OPIX_HD uint32_t saturationSampleSelect(float v, float scale, uint32_t hi) {
  return static_cast<uint32_t>(saturateTruncateSelect(v * scale + 0.5f, static_cast<int>(hi)));
}

}  // namespace opix
