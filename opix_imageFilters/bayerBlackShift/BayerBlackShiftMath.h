// The Bayer black shift filter's per-sample maths, shared by its two kernel drivers.
#pragma once

#include <cstdint>

#include "common/FilterMath.h"

namespace opix {

OPIX_HD uint32_t blackShiftSample(uint32_t p, float b, uint32_t hi) {
  return roundClamp(static_cast<float>(p) - b, hi);
}

}  // namespace opix
