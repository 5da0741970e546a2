// The rounding of every float filter result and the largest sample of a bit
// depth. Both kernel drivers of every filter call these, so the backends agree
// bit for bit (no compiler contracts float expressions here; fmaf is written
// where one fused multiply-add is meant).
#pragma once

#include <cmath>
#include <cstdint>

#include "BayerTraits.h"
#include "Hd.h"
#include "PixelMath.h"

namespace opix {

// Round half up by adding 0.5 and truncating, clamped to 0 ... hi (NaN gives 0).
OPIX_HD uint32_t roundClamp(float v, uint32_t hi) {
  return static_cast<uint32_t>(roundHalfUpClamp(v, static_cast<int>(hi)));
}

// Largest sample value of a bit depth.
OPIX_HD uint32_t maxSample(int bits) { return (1u << bits) - 1u; }

}  // namespace opix
