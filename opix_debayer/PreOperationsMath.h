// The per-sample corrections a debayer applies as it reads its source: as
// the CUDA drivers' blocks load their tiles, and as the host drivers
// assemble the work image's rows. The corrections are the image filters'
// own maths, composed in the order the filters would run (SAM, Bayer black
// shift, white balance), so both give the samples of the filter chain bit
// for bit.
#pragma once

#include <cstdint>

#include "BayerTraits.h"
#include "Hd.h"
#include "bayerBlackShift/BayerBlackShiftMath.h"
#include "mad/MadMath.h"
#include "whiteBalance/WhiteBalanceMath.h"

namespace opix {

// What both drivers receive: plain values, so the CUDA kernel takes it by value.
struct PreOperations {
  uint32_t hi = 0;  // largest sample of the source format
  // SAM: matrices in device memory, null when absent.
  bool sam = false;
  bool wideShift = false;  // 16-bit black shifts (SAM16), else 8-bit
  const uint8_t* shift = nullptr;
  uint32_t shiftPitch = 0;  // bytes per shift row
  const float* factor = nullptr;
  uint32_t factorPitch = 0;  // floats per factor row
  // The black shift's level and the white balance's gain of each position
  // of a 2 x 2 cell, by (x & 1) | (y & 1) << 1: a position's cell site
  // depends only on the parities of its column and row.
  bool blackShift = false;
  float level[4] = {};
  bool whiteBalance = false;
  float gain[4] = {};

  OPIX_HD bool any() const { return sam || blackShift || whiteBalance; }
};

// The levels by position of a black shift with levels red, green, blue
// under a pattern, and the gains of a white balance with gains R, G1, G2, B.
inline void setBlackLevels(PreOperations& p, int pattern, const float (&level)[3]) {
  for (int i = 0; i < 4; ++i) p.level[i] = level[cellSiteColour(bayerCellSite(pattern, i & 1, i >> 1))];
}
inline void setBalanceGains(PreOperations& p, int pattern, const float (&gain)[4]) {
  for (int i = 0; i < 4; ++i) p.gain[i] = gain[bayerCellSite(pattern, i & 1, i >> 1)];
}

OPIX_HD int32_t samShiftAt(const PreOperations& p, int x, int y) {
  const uint8_t* row = p.shift + int64_t{y} * p.shiftPitch;
  return p.wideShift ? reinterpret_cast<const int16_t*>(row)[x] : reinterpret_cast<const int8_t*>(row)[x];
}

// The black levels and gains of one image row's even and odd columns.
struct PreRowSites {
  float levelEven, levelOdd, gainEven, gainOdd;
};
OPIX_HD PreRowSites preRowSites(const PreOperations& p, int y) {
  const bool odd = (y & 1) != 0;  // selects: no indexed array in a kernel's frame
  return {odd ? p.level[2] : p.level[0], odd ? p.level[3] : p.level[1], odd ? p.gain[2] : p.gain[0],
          odd ? p.gain[3] : p.gain[1]};
}

// Source sample v at image column x of row y, whose sites are `s`,
// corrected by each step whose flag is set: the steps' select forms, the
// host rows' own maths (the SAM's shift and factor read only where its
// matrix is present).
OPIX_HD uint32_t preOperationSample(const PreOperations& p, const PreRowSites& s, uint32_t v, int x, int y) {
  const bool odd = (x & 1) != 0;
  if (p.sam) {
    const int32_t shift = p.shift ? samShiftAt(p, x, y) : 0;
    const float factor = p.factor ? p.factor[int64_t{y} * p.factorPitch + x] : 1.0f;
    v = madSampleSelect(v, p.shift != nullptr, shift, p.factor != nullptr, factor, p.hi);
  }
  if (p.blackShift) v = blackShiftSampleSelect(v, odd ? s.levelOdd : s.levelEven, p.hi);
  if (p.whiteBalance) v = whiteBalanceSampleSelect(v, odd ? s.gainOdd : s.gainEven, p.hi);
  return v;
}

}  // namespace opix
