// The SAM filter's per-sample maths, shared by its two kernel drivers.
#pragma once

#include <cstdint>

#include "common/FilterMath.h"

namespace opix {

// Bytes per black shift matrix row for a frame width (below 65536): the
// kernels read whole 32-bit words, four 8-bit or two 16-bit values each.
inline uint32_t madShiftPitch(bool wideShift, uint32_t width) { return (width * (wideShift ? 2u : 1u) + 3u) / 4u * 4u; }

// SAM: the black shift b is skipped for a saturated sample (p == hi).
OPIX_HD uint32_t madSample(uint32_t p, bool hasShift, int32_t b, bool hasFactor, float a, uint32_t hi) {
  float v = static_cast<float>(p);
  if (hasShift && p != hi) v = static_cast<float>(p) - static_cast<float>(b);
  if (hasFactor) v = v * a;
  return roundClamp(v, hi);
}

}  // namespace opix
