// Camera files in the program: machine-vision frames named by their pixel
// format, and camera raw files with what they say about their mosaic.
#pragma once

#include <string>

#include "HostImage.h"
#include "Options.h"
#include "opix.h"

namespace opix::app {

// Reads one input image: a frame in the -format pixel format, a camera raw
// file, or any other image through the image reader. A camera file that
// fails prints one line naming the file and the problem.
opixStatus_t readInputImage(const DebayerSampleOptions& o, const std::string& path, const std::string& outputName,
                            HostImage& image);

// How the input frames are packed: by the -format pixel format for inputs
// that are not camera raw files.
opixPacking_t inputPacking(const DebayerSampleOptions& o);

// Settles the pattern from the first image (a Bayer pixel format or the
// camera raw file's pattern, unless -pattern gave one; a contradiction is an
// error) and, with -info, prints what a camera raw file said.
opixStatus_t settleCameraInput(DebayerSampleOptions& o, const HostImage& first);

}  // namespace opix::app
