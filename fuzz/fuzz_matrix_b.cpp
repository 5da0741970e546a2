// Matrix B files go through the image reader as a whole, by their extension,
// with RAW files read as 8-bit: the first byte chooses the extension, the
// next four the RAW width and height (0 to 4096 each); the rest is the file.
// A file that is read must give a gray or colour image whose buffer is whole.
#include <cstdlib>

#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const char* const kExtensions[] = {".pgm", ".raw", ".bmp", ".tif", ".png", ".pgm16"};
  if (size < 5) return 0;
  const char* extension = kExtensions[data[0] % (sizeof kExtensions / sizeof *kExtensions)];
  const uint32_t width = (data[1] | data[2] << 8) % 4097, height = (data[3] | data[4] << 8) % 4097;
  opix::HostImage matrix;
  try {
    const std::string& path = opix::fuzz::scratchFile(data + 5, size - 5, extension);
    if (opix::readImage(path, "", matrix, height, width) != OPIX_OK) return 0;
  } catch (const std::bad_alloc&) {
    return 0;
  }
  const uint32_t channels = opixFormatChannels(matrix.surfaceFormat);
  const uint64_t sampleBytes = matrix.bitsPerChannel > 8 ? 2 : 1;
  if (!matrix.data || matrix.width == 0 || matrix.height == 0 ||
      uint64_t{matrix.width} * channels * sampleBytes > matrix.pitch)
    std::abort();
  volatile unsigned char sink = 0;
  unsigned char sum = 0;
  for (uint64_t i = 0; i < uint64_t{matrix.pitch} * matrix.height; ++i)
    sum = static_cast<unsigned char>(sum + matrix.data[i]);
  sink = sum;
  (void)sink;
  return 0;
}
