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

// The middle channel's output: the curve's value where the middle equals
// the smallest, else placed between the outputs of the smallest and the
// largest in proportion, rounded down: minOut + a * b / d with
// a = maxOut - minOut, b = midIn - minIn, d = maxIn - minIn (the curve does
// not decrease, so a >= 0; b <= d; all below 65536). Without an integer
// division, which vector units lack: the quotient is estimated in float with
// a relative error below 2^-23, so an absolute one below 0.008, which leaves
// it at most one away; the exact remainder then moves it to the floor. The
// result is the integer quotient's on every input, whatever the rounding of
// the estimate. A zero d (all three inputs equal, so b is zero) is taken as 1.
OPIX_HD uint32_t toneCurveMiddle(uint32_t maxIn, uint32_t minIn, uint32_t midIn, uint32_t maxOut, uint32_t minOut) {
  const int32_t a = static_cast<int32_t>(maxOut - minOut), b = static_cast<int32_t>(midIn - minIn);
  const int32_t d = static_cast<int32_t>(maxIn - minIn) | static_cast<int32_t>(maxIn == minIn);
  int32_t q = static_cast<int32_t>(static_cast<float>(a) * (static_cast<float>(b) / static_cast<float>(d)));
  const uint32_t rest =
      static_cast<uint32_t>(a) * static_cast<uint32_t>(b) - static_cast<uint32_t>(q) * static_cast<uint32_t>(d);
  const auto r = static_cast<int32_t>(rest);
  q += (r >= d) - (r < 0);
  return minOut + static_cast<uint32_t>(q);
}

// A channel's output by the place of its input: largest, smallest or middle
// (ties with the largest or smallest take their output).
OPIX_HD uint32_t toneCurveChannel(uint32_t v, uint32_t maxIn, uint32_t minIn, uint32_t maxOut, uint32_t minOut,
                                  uint32_t midOut) {
  return v == maxIn ? maxOut : v == minIn ? minOut : midOut;
}

// One pixel, channels in place; curve(v) gives toneCurveValue of the curve.
template <class Curve>
OPIX_HD void toneCurvePixel(const Curve& curve, uint32_t (&c)[3]) {
  const uint32_t maxIn = c[0] > c[1] ? (c[0] > c[2] ? c[0] : c[2]) : (c[1] > c[2] ? c[1] : c[2]);
  const uint32_t minIn = c[0] < c[1] ? (c[0] < c[2] ? c[0] : c[2]) : (c[1] < c[2] ? c[1] : c[2]);
  const uint32_t midIn = c[0] + c[1] + c[2] - maxIn - minIn;
  const uint32_t maxOut = curve(maxIn), minOut = curve(minIn);
  const uint32_t midOut = toneCurveMiddle(maxIn, minIn, midIn, maxOut, minOut);
  for (int k = 0; k < 3; ++k) c[k] = toneCurveChannel(c[k], maxIn, minIn, maxOut, minOut, midOut);
}

}  // namespace opix
