// The per-pixel maths of the mosaic and colour correction filters. Each
// operation is a small value type that both kernel drivers call per pixel.
#pragma once

#include <cmath>
#include <cstdint>

#include "DebayerMath.h"
#include "Hd.h"
#include "PixelMath.h"

namespace opix {

// Colour (0 red, 1 green, 2 blue) and cell row of mosaic position (x, y).
OPIX_HD int mosaicColour(int pattern, int x, int y) {
  const int site = bayerSite(pattern, x, y);
  return site == 0 ? 0 : site == 3 ? 2 : 1;
}

// SAM: a per-pixel black shift (never applied to a saturated sample), then a
// per-pixel gain, rounded half up.
struct MadOp {
  const int8_t* shift8;    // SAM, or null
  const int16_t* shift16;  // SAM16, or null
  int64_t shiftStride;     // values per matrix row
  const float* gain;       // or null
  int64_t gainStride;
  int maxValue;
  OPIX_HD int operator()(int x, int y, int p) const {
    float v = float(p);
    if (p != maxValue) {
      if (shift8) v = float(p - int(shift8[y * shiftStride + x]));
      if (shift16) v = float(p - int(shift16[y * shiftStride + x]));
    }
    if (gain) v = v * gain[y * gainStride + x];
    return roundHalfUpClamp(v, maxValue);
  }
};

// White balance: the sample times the gain of its site, with the rounding
// offset in one fused multiply-add.
struct WhiteBalanceOp {
  float gain[4];  // R, G1, G2, B
  int pattern;
  int maxValue;
  OPIX_HD int operator()(int x, int y, int p) const {
    const int colour = mosaicColour(pattern, x, y);
    const float k = colour == 0 ? gain[0] : colour == 2 ? gain[3] : ((y & 1) ? gain[2] : gain[1]);
    return saturateTruncate(fmaf(float(p), k, 0.5f), maxValue);
  }
};

// Bayer black shift: the black level of the site's colour subtracted.
struct BlackShiftOp {
  float level[3];
  int pattern;
  int maxValue;
  OPIX_HD int operator()(int x, int y, int p) const {
    return roundHalfUpClamp(float(p) - level[mosaicColour(pattern, x, y)], maxValue);
  }
};

// Base colour correction of gray samples: gain and offset.
struct GrayCorrectionOp {
  float gain, offset;
  int maxValue;
  OPIX_HD int operator()(int, int, int p) const { return roundHalfUpClamp(gain * float(p) - offset, maxValue); }
};

// Base colour correction of colour pixels: white levels, then the 3 x 4 matrix.
struct ColourCorrectionOp {
  float m[12];
  int white[3];
  int maxValue;
  OPIX_HD Rgb operator()(int r, int g, int b) const {
    const float in[3] = {float(r < white[0] ? r : white[0]), float(g < white[1] ? g : white[1]),
                         float(b < white[2] ? b : white[2])};
    int out[3];
    for (int c = 0; c < 3; ++c)
      out[c] = roundHalfUpClamp(m[4 * c] * in[0] + m[4 * c + 1] * in[1] + m[4 * c + 2] * in[2] - m[4 * c + 3],
                                maxValue);
    return {out[0], out[1], out[2]};
  }
};

}  // namespace opix
