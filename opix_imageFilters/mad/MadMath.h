// The SAM filter's per-sample maths, shared by its two kernel drivers.
#pragma once

#include <cstdint>

#include "common/FilterMath.h"

namespace opix {

// Bytes per black shift matrix row for a frame width (below 65536): the
// kernels read whole 32-bit words, four 8-bit or two 16-bit values each.
inline uint32_t madShiftPitch(bool wideShift, uint32_t width) { return (width * (wideShift ? 2u : 1u) + 3u) / 4u * 4u; }

// SAM before the rounding: the black shift b is skipped for a saturated
// sample (p == hi). Both values are formed and one is picked, so host rows
// vectorise.
OPIX_HD float madValue(uint32_t p, bool hasShift, int32_t b, bool hasFactor, float a, uint32_t hi) {
  const float plain = static_cast<float>(p), shifted = plain - static_cast<float>(b);
  const float v = hasShift && p != hi ? shifted : plain;
  return hasFactor ? v * a : v;
}

OPIX_HD uint32_t madSample(uint32_t p, bool hasShift, int32_t b, bool hasFactor, float a, uint32_t hi) {
  return roundClamp(madValue(p, hasShift, b, hasFactor, a, hi), hi);
}

// The same value through selects, for host rows that vectorise.
inline uint32_t madSampleSelect(uint32_t p, bool hasShift, int32_t b, bool hasFactor, float a, uint32_t hi) {
  return static_cast<uint32_t>(
      roundHalfUpClampSelect(madValue(p, hasShift, b, hasFactor, a, hi), static_cast<int>(hi)));
}

}  // namespace opix
