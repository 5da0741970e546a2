// The white balance filter's per-sample maths, shared by its two kernel drivers.
#pragma once

#include <cmath>
#include <cstdint>

#include "common/FilterMath.h"

namespace opix {

// White balance: p x k + 0.5 as one fused multiply-add.
OPIX_HD uint32_t whiteBalanceSample(uint32_t p, float k, uint32_t hi) {
  return static_cast<uint32_t>(saturateTruncate(fmaf(static_cast<float>(p), k, 0.5f), static_cast<int>(hi)));
}

}  // namespace opix
