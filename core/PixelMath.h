// Rounding and clamping of float results to integer samples, shared by every
// kernel that computes in float.
#pragma once

#include "Hd.h"

namespace opix {

// Truncates a value that already carries its rounding offset, saturating to
// [0, maxValue].
OPIX_HD int saturateTruncate(float rounded, int maxValue) {
  if (!(rounded > 0.0f)) return 0;
  if (rounded >= float(maxValue)) return maxValue;
  return int(rounded);
}

// Rounds half up (adds 0.5 and truncates) and saturates to [0, maxValue].
OPIX_HD int roundHalfUpClamp(float v, int maxValue) { return saturateTruncate(v + 0.5f, maxValue); }

struct RoundHalfUpClamp {
  OPIX_HD int operator()(float v, int maxValue) const { return roundHalfUpClamp(v, maxValue); }
};

// saturateTruncate's value for every input (NaN included) through selects
// instead of branches, for host rows that vectorise and kernels that should
// not branch per sample: the truncation is always taken, of a value already
// inside [0, maxValue] (maxValue < 2^24, so exact as float).
OPIX_HD int saturateTruncateSelect(float rounded, int maxValue) {
  const float top = float(maxValue);
  const float low = rounded > 0.0f ? rounded : 0.0f;
#if defined(__CUDA_ARCH__)
  return int(fminf(low, top));  // one instruction; low is never NaN, so the same value
#else
  return int(low < top ? low : top);
#endif
}

// roundHalfUpClamp's value through selects.
OPIX_HD int roundHalfUpClampSelect(float v, int maxValue) { return saturateTruncateSelect(v + 0.5f, maxValue); }

struct RoundHalfUpClampSelect {
  int operator()(float v, int maxValue) const { return roundHalfUpClampSelect(v, maxValue); }
};

}  // namespace opix
