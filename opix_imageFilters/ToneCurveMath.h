// The per-pixel maths of the tone curve, shared by both kernel drivers: the
// largest and smallest channel through the curve, the middle one kept in
// proportion between them so that the hue stays.
#pragma once

#include <cstdint>

#include "Hd.h"

namespace opix {

constexpr uint32_t kToneCurveEntries = 1024;

// The curve at a 16-bit value: entry v / 64, interpolated towards the next
// entry (the last entry stands for its successor), rounded half up.
OPIX_HD uint32_t toneCurveValue(const uint16_t* curve, uint32_t v) {
  const uint32_t i = v >> 6, next = i + 1 < kToneCurveEntries ? i + 1 : kToneCurveEntries - 1;
  const float f = static_cast<float>(v & 63u) * 0.015625f;
  const float a = (1.0f - f) * static_cast<float>(curve[i]);
  const float b = f * static_cast<float>(curve[next]);
  return static_cast<uint32_t>(a + b + 0.5f);
}

// One pixel, channels in place.
OPIX_HD void toneCurvePixel(const uint16_t* curve, uint32_t (&c)[3]) {
  int hi = 0, lo = 0;
  for (int k = 1; k < 3; ++k) {
    if (c[k] > c[hi]) hi = k;
    if (c[k] < c[lo]) lo = k;
  }
  if (hi == lo) {  // grey: every channel alike
    const uint32_t v = toneCurveValue(curve, c[0]);
    c[0] = c[1] = c[2] = v;
    return;
  }
  const int mid = 3 - hi - lo;
  const uint32_t maxIn = c[hi], minIn = c[lo], midIn = c[mid];
  const uint32_t maxOut = toneCurveValue(curve, maxIn), minOut = toneCurveValue(curve, minIn);
  c[mid] = midIn == minIn ? minOut : minOut + (maxOut - minOut) * (midIn - minIn) / (maxIn - minIn);
  c[hi] = maxOut;
  c[lo] = minOut;
}

}  // namespace opix
