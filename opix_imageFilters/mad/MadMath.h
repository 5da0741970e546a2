// The SAM filter's per-sample maths, shared by its two kernel drivers.
#pragma once

#include <cstdint>

#include "common/FilterMath.h"

namespace opix {

// SAM: the black shift b is skipped for a saturated sample (p == hi).
OPIX_HD uint32_t madSample(uint32_t p, bool hasShift, int32_t b, bool hasFactor, float a, uint32_t hi) {
  float v = static_cast<float>(p);
  if (hasShift && p != hi) v = static_cast<float>(p) - static_cast<float>(b);
  if (hasFactor) v = v * a;
  return roundClamp(v, hi);
}

}  // namespace opix
