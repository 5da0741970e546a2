// The chains report of opix_bench (--chains).
#pragma once

#include <cstdint>

namespace opix::tools {

// Prints the report for frames of w x h; returns the number of chains that failed.
int chainReport(uint32_t w, uint32_t h, int runs);

}  // namespace opix::tools
