// The per-sample corrections a debayer applies as it copies its source into
// the work image, and the copy's geometry. The corrections are the image
// filters' own maths, composed in the order the filters would run (SAM, Bayer
// black shift, white balance), so both copy drivers give the samples of the
// filter chain bit for bit.
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
  bool blackShift = false;
  int blackPattern = 1;
  float level[3] = {};  // red, green, blue
  bool whiteBalance = false;
  int balancePattern = 1;
  float gain[4] = {};  // by cell site: R, G1, G2, B

  bool any() const { return sam || blackShift || whiteBalance; }
};

// Selections instead of indexed arrays, so the CUDA kernel needs no stack frame.
OPIX_HD float levelOfSite(const PreOperations& p, int site) {
  const int c = cellSiteColour(site);
  return c == 0 ? p.level[0] : c == 1 ? p.level[1] : p.level[2];
}
OPIX_HD float gainOfSite(const PreOperations& p, int site) {
  return site == kSiteR ? p.gain[0] : site == kSiteG1 ? p.gain[1] : site == kSiteG2 ? p.gain[2] : p.gain[3];
}

OPIX_HD int32_t samShiftAt(const PreOperations& p, int x, int y) {
  const uint8_t* row = p.shift + int64_t{y} * p.shiftPitch;
  return p.wideShift ? reinterpret_cast<const int16_t*>(row)[x] : reinterpret_cast<const int8_t*>(row)[x];
}

// Source sample v at image column x and row y, corrected.
OPIX_HD uint32_t preOperationSample(const PreOperations& p, uint32_t v, int x, int y) {
  if (p.sam) {
    const bool hasShift = p.shift != nullptr, hasFactor = p.factor != nullptr;
    v = madSample(v, hasShift, hasShift ? samShiftAt(p, x, y) : 0, hasFactor,
                  hasFactor ? p.factor[int64_t{y} * p.factorPitch + x] : 1.0f, p.hi);
  }
  if (p.blackShift) v = blackShiftSample(v, levelOfSite(p, bayerCellSite(p.blackPattern, x, y)), p.hi);
  if (p.whiteBalance) v = whiteBalanceSample(v, gainOfSite(p, bayerCellSite(p.balancePattern, x, y)), p.hi);
  return v;
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
