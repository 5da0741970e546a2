// An example component used by the core tests: it inverts an 8-bit or 16-bit
// grey surface. It shows the whole pattern a component follows: the maths
// here, a CUDA driver, a host driver and one launcher.
#pragma once

#include <cstdint>

#include "Hd.h"

namespace opix::example {

OPIX_HD uint32_t invertSample(uint32_t v, uint32_t maxValue) { return maxValue - (v > maxValue ? maxValue : v); }

}  // namespace opix::example
