// Kernel launches the calling thread has made so far, on either backend (one
// per launch check): what the benchmarks count per frame.
#pragma once

#include <cstdint>

namespace opix::device {

uint64_t launchesOnThisThread();

}  // namespace opix::device
