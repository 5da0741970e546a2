#include <new>

#include "FuzzSupport.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  opix::fuzz::setUp();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  opix::DecodedImage image;
  try {
    if (opix::readBmp(opix::fuzz::scratchFile(data, size), image) == opix::kBmpOk)
      opix::fuzz::touch(image);
  } catch (const std::bad_alloc&) {
  }
  return 0;
}
