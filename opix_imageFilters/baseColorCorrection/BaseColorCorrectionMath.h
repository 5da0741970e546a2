// The base colour correction's per-pixel maths, shared by its two kernel drivers.
#pragma once

#include <cstdint>

#include "common/FilterMath.h"

namespace opix {

// Base colour correction of a grey sample: m00 p - m03. round is the shared
// rounding (RoundHalfUpClamp) or its select form in host rows.
template <class Round = RoundHalfUpClamp>
OPIX_HD uint32_t colorCorrectGray(uint32_t p, const float* m, uint32_t hi, const Round& round = {}) {
  return static_cast<uint32_t>(round(m[0] * static_cast<float>(p) - m[3], static_cast<int>(hi)));
}

struct Rgb3 {
  uint32_t c[3];
};

// Base colour correction of a colour pixel: the channels limited to their
// white levels, then each output row of the 3 x 4 matrix, its fourth column
// subtracted. The limits are taken after the conversions to float, which
// keep the order of values: the same as limiting first (samples are below
// 2^16 and exact as float), with every conversion always made, so host rows
// vectorise.
template <class Round = RoundHalfUpClamp>
OPIX_HD Rgb3 colorCorrectRgb(uint32_t r, uint32_t g, uint32_t b, const float* m, const int32_t* white, uint32_t hi,
                             const Round& round = {}) {
  const float fr = static_cast<float>(static_cast<int32_t>(r)), wr = static_cast<float>(white[0]);
  const float fg = static_cast<float>(static_cast<int32_t>(g)), wg = static_cast<float>(white[1]);
  const float fb = static_cast<float>(static_cast<int32_t>(b)), wb = static_cast<float>(white[2]);
  const float in[3] = {fr < wr ? fr : wr, fg < wg ? fg : wg, fb < wb ? fb : wb};
  Rgb3 out{};
  for (int c = 0; c < 3; ++c) {
    const float* row = m + 4 * c;
    out.c[c] =
        static_cast<uint32_t>(round(row[0] * in[0] + row[1] * in[1] + row[2] * in[2] - row[3], static_cast<int>(hi)));
  }
  return out;
}

}  // namespace opix
