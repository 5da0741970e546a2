#include <cstdlib>

#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  opix::HostImage matrix;
  uint32_t width = 0, pitch = 0, height = 0, channels = 0;
  const opixStatus_t s =
      opix::readMatrixA(opix::fuzz::scratchFile(data, size), matrix, width, pitch, 4, height, channels);
  if (s == OPIX_OK) {
    if (pitch != uint64_t{width} * channels || 14 + uint64_t{pitch} * height * 4 > size) std::abort();
    volatile float sink = 0;
    const float* f = reinterpret_cast<const float*>(matrix.data.get());
    for (uint64_t i = 0; i < uint64_t{pitch} * height; ++i) sink = sink + f[i];
  }
  return 0;
}
