// The white balance filter's per-sample maths, shared by its two kernel drivers.
#pragma once

#include <cmath>
#include <cstdint>

#include "common/FilterMath.h"

namespace opix {

// White balance: p x k + 0.5 as one fused multiply-add, then truncated.
OPIX_HD float whiteBalanceRounded(uint32_t p, float k) { return fmaf(static_cast<float>(p), k, 0.5f); }

OPIX_HD uint32_t whiteBalanceSample(uint32_t p, float k, uint32_t hi) {
  return static_cast<uint32_t>(saturateTruncate(whiteBalanceRounded(p, k), static_cast<int>(hi)));
}

// The same value through selects, for host rows that vectorise (and the
// debayer's fused pre-operation copy on both drivers).
OPIX_HD uint32_t whiteBalanceSampleSelect(uint32_t p, float k, uint32_t hi) {
  return static_cast<uint32_t>(saturateTruncateSelect(whiteBalanceRounded(p, k), static_cast<int>(hi)));
}

}  // namespace opix
