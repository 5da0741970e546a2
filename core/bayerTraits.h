// Bayer pattern helpers shared by the components that read raw mosaics.
#pragma once

#include "opix.h"
#include "opixException.h"

namespace opix {

// The origin shift that turns a pattern into RGGB: moving the origin by
// (sx, sy) puts a red sample at even column and even row.
struct PatternShift {
  int sx;
  int sy;
};

// Raises OPIX_UNRECOGNIZED_ERROR for a value outside 1 to 4.
inline PatternShift patternShift(opixBayerPattern_t pattern) {
  switch (pattern) {
    case OPIX_BAYER_RGGB: return {0, 0};
    case OPIX_BAYER_BGGR: return {1, 1};
    case OPIX_BAYER_GBRG: return {0, 1};
    case OPIX_BAYER_GRBG: return {1, 0};
    default: OPIX_THROW_AT(OPIX_UNRECOGNIZED_ERROR, "core/bayerTraits");
  }
}

}  // namespace opix
