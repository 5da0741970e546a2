// The first five bytes choose width and height (0 to 4096 each, little-endian
// 16-bit values) and bits; the rest is the file.
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5) return 0;
  const uint32_t width = (data[0] | data[1] << 8) % 4097, height = (data[2] | data[3] << 8) % 4097;
  const uint32_t bits = data[4] % 24;
  opix::fuzz::decode(data + 5, size - 5, [&](const std::string& path, opix::DecodedImage& image) {
    return opix::readRaw(path, width, height, bits, image);
  });
  return 0;
}
