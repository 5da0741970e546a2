// Camera files in the program: machine-vision frames named by their pixel
// format, and camera raw files with what they say about their mosaic.
#pragma once

#include <string>

#include "CameraFiles.h"
#include "HostImage.h"
#include "LutFile.h"
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

// The white-balance record that develops a camera raw image at the work
// depth of `o`: the as-shot gains (or the user's -wb_* gains, which replace
// them; none with -linear) times the scale from the black-subtracted white
// level to the top of the depth.
opixWhiteBalance_t developWhiteBalance(const DebayerSampleOptions& o, const CameraRawInfo& camera);

// The sRGB curve as a look-up table from the colour result at `inputBits`
// (12 or 16) to 16 bits, or to 8 bits when `eightBit`.
void srgbCurve(uint32_t inputBits, bool eightBit, LutTable& lut);

}  // namespace opix::app
