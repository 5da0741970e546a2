// The Bayer black shift filter's per-sample maths, shared by its two kernel drivers.
#pragma once

#include <cstdint>

#include "common/FilterMath.h"

namespace opix {

OPIX_HD uint32_t blackShiftSample(uint32_t p, float b, uint32_t hi) {
  return roundClamp(static_cast<float>(p) - b, hi);
}

// The same value through selects, for host rows that vectorise (and the
// debayer's fused pre-operation copy on both drivers).
OPIX_HD uint32_t blackShiftSampleSelect(uint32_t p, float b, uint32_t hi) {
  return static_cast<uint32_t>(roundHalfUpClampSelect(static_cast<float>(p) - b, static_cast<int>(hi)));
}

}  // namespace opix
