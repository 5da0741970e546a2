#include "FuzzSupport.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "opix.h"

namespace opix::fuzz {
namespace {

std::string& scratchPath() {
  static std::string path;
  return path;
}

std::string& currentScratch() {
  static std::string path;
  return path;
}

void removeScratch() {
  if (!currentScratch().empty()) unlink(currentScratch().c_str());
}

}  // namespace

void setUp() {
  const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  scratchPath() = std::string(dir) + "/opix_fuzz_" + std::to_string(getpid());
  std::atexit(removeScratch);
  if (opixInitHost() != OPIX_OK) std::abort();
  const int null = open("/dev/null", O_WRONLY);
  if (null < 0 || dup2(null, STDOUT_FILENO) < 0) std::abort();
  close(null);
}

const std::string& scratchFile(const uint8_t* data, size_t size, const char* extension) {
  // One scratch file at a time: one of another extension is removed.
  std::string& path = currentScratch();
  const std::string wanted = scratchPath() + extension;
  if (path != wanted) {
    if (!path.empty()) unlink(path.c_str());
    path = wanted;
  }
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f || (size && std::fwrite(data, 1, size, f) != size) || std::fclose(f) != 0) std::abort();
  return path;
}

void touch(const DecodedImage& image) {
  const uint64_t bytesPerSample = image.bits > 8 ? 2 : 1;
  if (!image.data || image.width == 0 || image.height == 0 ||
      uint64_t{image.width} * image.channels * bytesPerSample > image.pitch)
    std::abort();
  const uint64_t bytes = uint64_t{image.pitch} * image.height;
  volatile unsigned char sink = 0;
  unsigned char sum = 0;
  for (uint64_t i = 0; i < bytes; ++i) sum = static_cast<unsigned char>(sum + image.data[i]);
  sink = sum;
  (void)sink;
}

}  // namespace opix::fuzz

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  opix::fuzz::setUp();
  return 0;
}
