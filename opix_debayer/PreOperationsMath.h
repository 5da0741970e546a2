// The per-sample corrections a debayer applies as it copies its source into
// the work image (the CUDA drivers) or as it assembles the work image's rows
// from the source (the host drivers), and the copy's geometry. The
// corrections are the image filters' own maths, composed in the order the
// filters would run (SAM, Bayer black shift, white balance), so both give the
// samples of the filter chain bit for bit.
#pragma once

#include <cstdint>

#include "ApronCopyMath.h"
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

  bool any() const { return sam || blackShift || whiteBalance; }
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

// The steps present, as flags: the CUDA copy has a kernel for each set, so
// a copy runs only the steps it applies.
enum PreStep : int { kPreSam = 1, kPreBlack = 2, kPreBalance = 4 };
OPIX_HD int preSteps(const PreOperations& p) {
  return (p.sam ? kPreSam : 0) | (p.blackShift ? kPreBlack : 0) | (p.whiteBalance ? kPreBalance : 0);
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

// Source sample v corrected by the steps of `Steps`, given its SAM shift and
// factor (read only where the matrix is present) and its site's black level
// and gain: the steps' select forms, the host rows' own maths, so no sample
// branches in a kernel either.
template <int Steps>
OPIX_HD uint32_t preOperationSiteSample(const PreOperations& p, uint32_t v, int32_t shift, float factor, float level,
                                        float gain) {
  if (Steps & kPreSam) v = madSampleSelect(v, p.shift != nullptr, shift, p.factor != nullptr, factor, p.hi);
  if (Steps & kPreBlack) v = blackShiftSampleSelect(v, level, p.hi);
  if (Steps & kPreBalance) v = whiteBalanceSampleSelect(v, gain, p.hi);
  return v;
}

// The same for the sample at image column x of row y, whose sites are `s`.
template <int Steps>
OPIX_HD uint32_t preOperationSample(const PreOperations& p, const PreRowSites& s, uint32_t v, int x, int y) {
  const bool sam = (Steps & kPreSam) != 0, odd = (x & 1) != 0;
  const int32_t shift = sam && p.shift ? samShiftAt(p, x, y) : 0;
  const float factor = sam && p.factor ? p.factor[int64_t{y} * p.factorPitch + x] : 1.0f;
  return preOperationSiteSample<Steps>(p, v, shift, factor, odd ? s.levelOdd : s.levelEven,
                                       odd ? s.gainOdd : s.gainEven);
}

// One copy of a source image into a work image with the pre-operations
// applied: every work row and column, the mirrored margins included (they
// mirror the corrected image as the copy and the apron fill would).
struct PreCopyArgs {
  PreOperations pre;
  const unsigned char* src;
  uint32_t srcPitch;  // bytes
  unsigned char* work;
  uint32_t workPitch;  // bytes
  int total, rows;     // work columns and rows to write
  int first, y0;       // work column and row of the image's (0, 0)
  int cols, height;    // image size
  int sampleBytes;     // 1 (I8) or 2
};

}  // namespace opix
