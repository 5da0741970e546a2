// The per-sample maths of the filters that run on one pixel at a time. Both
// kernel drivers of every filter call these, so the backends agree bit for
// bit (no compiler contracts float expressions here; fmaf is written where
// one fused multiply-add is meant).
#pragma once

#include <cmath>
#include <cstdint>

#include "Hd.h"
#include "PixelMath.h"
#include "bayerTraits.h"

namespace opix {

// Round half up by adding 0.5 and truncating, clamped to 0 ... hi (NaN gives 0).
OPIX_HD uint32_t roundClamp(float v, uint32_t hi) {
  return static_cast<uint32_t>(roundHalfUpClamp(v, static_cast<int>(hi)));
}

// SAM: the black shift b is skipped for a saturated sample (p == hi).
OPIX_HD uint32_t madSample(uint32_t p, bool hasShift, int32_t b, bool hasFactor, float a, uint32_t hi) {
  float v = static_cast<float>(p);
  if (hasShift && p != hi) v = static_cast<float>(p) - static_cast<float>(b);
  if (hasFactor) v = v * a;
  return roundClamp(v, hi);
}

// White balance: p x k + 0.5 as one fused multiply-add.
OPIX_HD uint32_t whiteBalanceSample(uint32_t p, float k, uint32_t hi) {
  return static_cast<uint32_t>(saturateTruncate(fmaf(static_cast<float>(p), k, 0.5f), static_cast<int>(hi)));
}

OPIX_HD uint32_t blackShiftSample(uint32_t p, float b, uint32_t hi) {
  return roundClamp(static_cast<float>(p) - b, hi);
}

// Base colour correction of a grey sample: m00 p - m03.
OPIX_HD uint32_t colorCorrectGray(uint32_t p, const float* m, uint32_t hi) {
  return roundClamp(m[0] * static_cast<float>(p) - m[3], hi);
}

struct Rgb3 {
  uint32_t c[3];
};

// Base colour correction of a colour pixel: the channels limited to their
// white levels, then each output row of the 3 x 4 matrix, its fourth column
// subtracted.
OPIX_HD Rgb3 colorCorrectRgb(uint32_t r, uint32_t g, uint32_t b, const float* m, const int32_t* white, uint32_t hi) {
  const float in[3] = {static_cast<float>(static_cast<int64_t>(r) < white[0] ? int64_t(r) : int64_t(white[0])),
                       static_cast<float>(static_cast<int64_t>(g) < white[1] ? int64_t(g) : int64_t(white[1])),
                       static_cast<float>(static_cast<int64_t>(b) < white[2] ? int64_t(b) : int64_t(white[2]))};
  Rgb3 out{};
  for (int c = 0; c < 3; ++c) {
    const float* row = m + 4 * c;
    out.c[c] = roundClamp(row[0] * in[0] + row[1] * in[1] + row[2] * in[2] - row[3], hi);
  }
  return out;
}

// Largest sample value of a bit depth.
OPIX_HD uint32_t maxSample(int bits) { return (1u << bits) - 1u; }

}  // namespace opix
