#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  opix::fuzz::decode(data, size,
                     [](const std::string& path, opix::DecodedImage& image) { return opix::readPng(path, image); });
  return 0;
}
