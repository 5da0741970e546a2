// The maths of the example filter (see Invert.h): one sample inverted
// against a white level.
#pragma once

#include <cstdint>

#include "Hd.h"

namespace opix::example {

OPIX_HD uint32_t invertSample(uint32_t v, uint32_t maxValue) { return maxValue - (v > maxValue ? maxValue : v); }

}  // namespace opix::example
