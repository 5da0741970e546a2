// Bayer patterns: the one check of a pattern argument, the origin shift of a
// pattern, and the two ways the SDK numbers the four sites of a 2 x 2 cell.
//
// Both numberings give red 0 and blue 3; they differ in the greens.
// - The phase (the demosaic kernels): 1 is the green of a red row, 2 the
//   green of a blue row. It is the site in the RGGB cell that the pattern's
//   shift moves a position to, so every demosaic formula is written once,
//   for RGGB.
// - The cell site (the filters' parameter records, such as the white balance
//   gains R, G1, G2, B): 1 (G1) is the green in row 0 of the pattern's cell,
//   2 (G2) the green in row 1.
// For RGGB the two agree. For BGGR the green at (1, 0) lies in a blue row and
// in row 0 of the cell: phase 2, cell site G1.
#pragma once

#include "Hd.h"
#include "opix.h"
#include "opixException.h"

namespace opix {

// Whether a value is one of the four patterns, 1 to 4.
OPIX_HD bool isBayerPattern(int pattern) { return pattern >= OPIX_BAYER_RGGB && pattern <= OPIX_BAYER_GRBG; }

// Raises `status` for a pattern outside 1 to 4. Every component checks its
// pattern argument here, once, before any work; the status is part of the
// component's interface: OPIX_UNRECOGNIZED_ERROR for every debayer type,
// OPIX_INVALID_VALUE for the white balance, OPIX_INVALID_FORMAT for the Bayer
// black shift.
inline void checkBayerPattern(int pattern, opixStatus_t status) {
  if (!isBayerPattern(pattern)) OPIX_THROW_AT(status, "core/bayerTraits");
}

// The origin shift that turns a pattern into RGGB: moving the origin by
// (sx, sy) puts a red sample at even column and even row. A value outside
// 1 to 4 gives (0, 0); callers check the pattern first.
struct PatternShift {
  int sx;
  int sy;
};

OPIX_HD PatternShift bayerShift(int pattern) {
  return {pattern == OPIX_BAYER_BGGR || pattern == OPIX_BAYER_GRBG ? 1 : 0,
          pattern == OPIX_BAYER_BGGR || pattern == OPIX_BAYER_GBRG ? 1 : 0};
}

// The phases, named as above.
enum BayerPhase { kPhaseR = 0, kPhaseGreenOfRedRow = 1, kPhaseGreenOfBlueRow = 2, kPhaseB = 3 };

// The phase of a position that is already RGGB-phased.
OPIX_HD int rggbPhase(int x, int y) { return (x & 1) | ((y & 1) << 1); }

// The phase of image position (x, y) under a pattern.
OPIX_HD int bayerPhase(int pattern, int x, int y) {
  const PatternShift s = bayerShift(pattern);
  return rggbPhase(x + s.sx, y + s.sy);
}

// Cell sites, in the order of the white balance gains.
enum BayerCellSite { kSiteR = 0, kSiteG1 = 1, kSiteG2 = 2, kSiteB = 3 };

// The cell site of image position (x, y) under a pattern.
OPIX_HD int bayerCellSite(int pattern, int x, int y) {
  const int phase = bayerPhase(pattern, x, y);
  return phase == kPhaseR || phase == kPhaseB ? phase : kSiteG1 + (y & 1);
}

// The colour (0 red, 1 green, 2 blue) of a cell site.
OPIX_HD int cellSiteColour(int site) { return site == kSiteR ? 0 : site == kSiteB ? 2 : 1; }

}  // namespace opix
