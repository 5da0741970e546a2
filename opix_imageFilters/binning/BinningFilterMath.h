// The binning filter's maths: a factor x factor block of samples becomes one.
#pragma once

#include <cstdint>

#include "Hd.h"
#include "opix.h"

namespace opix {

// The output of a block whose samples sum to `sum`; hi: the format's largest
// value. A plain sum (mode NONE) is limited to what 16 bits hold.
OPIX_HD uint32_t binnedSample(uint32_t sum, int factor, int mode, uint32_t hi) {
  switch (mode) {
    case OPIX_BINNING_SUM: return sum < hi ? sum : hi;
    case OPIX_BINNING_AVERAGE: return factor == 2 ? sum >> 2 : factor == 3 ? sum / 9u : sum >> 4;
    default: return sum < 65535u ? sum : 65535u;
  }
}

}  // namespace opix
