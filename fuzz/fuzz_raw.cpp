// The first three bytes choose width, height and bits; the rest is the file.
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const uint32_t width = data[0] % 64, height = data[1] % 64, bits = data[2] % 24;
  opix::fuzz::decode(data + 3, size - 3, [&](const std::string& path, opix::DecodedImage& image) {
    return opix::readRaw(path, width, height, bits, image);
  });
  return 0;
}
