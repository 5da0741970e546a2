// The first three bytes choose width, height and bits; the rest is the file.
#include <new>

#include "FuzzSupport.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  opix::fuzz::setUp();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const uint32_t width = data[0] % 64, height = data[1] % 64, bits = data[2] % 24;
  opix::DecodedImage image;
  try {
    if (opix::readRaw(opix::fuzz::scratchFile(data + 3, size - 3), width, height, bits, image))
      opix::fuzz::touch(image);
  } catch (const std::bad_alloc&) {
  }
  return 0;
}
