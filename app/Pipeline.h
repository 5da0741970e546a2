// The processing chain of the debayer program, built for the largest image
// (per host thread, and per input format met) and run for every image of
// the list as it is read:
// import -> [to 16 bits] -> [SAM] -> [white balance] -> debayer -> [back] -> export
#pragma once

#include <memory>
#include <vector>

#include "HostImage.h"
#include "Options.h"
#include "opix.h"

namespace opix::app {

// Status message of the program's status table ("" for 0).
const char* statusMessage(int status);

// The whole run: loads the matrices, builds the chain, reads, processes and
// writes every image, one at a time per thread, and tears the chains down.
// `incomplete` is set when a file of the list was left without a result
// (unreadable, skipped, or its result not written) while the run went on.
opixStatus_t run(DebayerSampleOptions& options, bool& incomplete);

}  // namespace opix::app
