// Shared set-up of the file reader fuzz targets: the SDK's host backend, a
// scratch file per process and a check that a decoded buffer is whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "ImageFiles.h"

namespace opix::fuzz {

// Initialises the host backend and silences standard output, where the
// readers print their diagnostics.
void setUp();

// Writes `data` to this process's scratch file and returns its path.
const std::string& scratchFile(const uint8_t* data, size_t size);

// Reads every byte of a decoded image so that the sanitizers see any
// buffer smaller than pitch x height, and checks the geometry invariants.
void touch(const DecodedImage& image);

}  // namespace opix::fuzz
