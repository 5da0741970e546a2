// The base colour correction's per-pixel maths, shared by its two kernel drivers.
#pragma once

#include <cstdint>

#include "common/FilterMath.h"

namespace opix {

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

}  // namespace opix
