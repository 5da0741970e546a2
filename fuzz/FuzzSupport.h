// Shared set-up of the file reader fuzz targets: the SDK's host backend
// (LLVMFuzzerInitialize is defined once, in FuzzSupport.cpp), a scratch file
// per process and a check that a decoded buffer is whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <string>

#include "ImageFiles.h"

namespace opix::fuzz {

// Initialises the host backend and silences standard output, where the
// readers print their diagnostics.
void setUp();

// Writes `data` to this process's scratch file, whose name ends in
// `extension`, and returns its path.
const std::string& scratchFile(const uint8_t* data, size_t size, const char* extension = "");

// Reads every byte of a decoded image so that the sanitizers see any
// buffer smaller than pitch x height, and checks the geometry invariants.
void touch(const DecodedImage& image);

// Hands the input to `read` as a file and checks what it decodes. A pixel
// buffer that cannot be allocated is an accepted outcome.
template <class Read>
void decode(const uint8_t* data, size_t size, Read read) {
  DecodedImage image;
  try {
    if (read(scratchFile(data, size), image)) touch(image);
  } catch (const std::bad_alloc&) {
  }
}

}  // namespace opix::fuzz
