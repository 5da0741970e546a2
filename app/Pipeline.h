// The processing chain of the debayer program, built once for the largest
// image and run for every image of the list:
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

// The whole run: loads the images and matrices, builds the chain, processes
// and writes every image, and tears the chain down. `incomplete` is set when
// an image of the list was left without a result (skipped or unreadable)
// while the run itself went on.
opixStatus_t run(DebayerSampleOptions& options, bool& incomplete);

}  // namespace opix::app
