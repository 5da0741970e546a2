// Read speed of the image reader: a 64 MiB 16-bit PGM (4096 x 8192), read
// repeatedly from the page cache; prints the median in MB/s. Given a file
// after the run count, it reads that file instead and prints the median
// time, the outcome and the process's peak resident memory (for files that
// must be refused quickly, such as decompression bombs). A camera raw file
// is read through its decoder process twice over: with the decoder kept from
// one read to the next, and with a fresh decoder started for each read.
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "CameraFiles.h"
#include "ImageFiles.h"
#include "opix.h"

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
  if (opixInitHost() != OPIX_OK) return 1;
  if (argc > 2 && opix::isCameraRawName(argv[2])) {
    for (bool fresh : {false, true}) {
      std::vector<double> seconds;
      bool ok = true;
      std::string why;
      for (int r = 0; r < runs + 1; ++r) {
        if (fresh) opix::setCameraRawDecoder("", 0);  // stops the kept decoder
        opix::DecodedImage image;
        opix::CameraRawInfo info;
        const auto t0 = std::chrono::steady_clock::now();
        ok = opix::readCameraRawFile(argv[2], image, info, why);
        if (r > 0) seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
      }
      std::sort(seconds.begin(), seconds.end());
      std::printf("%s: %s, median %.3f ms over %d reads, %s\n", argv[2], ok ? "decoded" : why.c_str(),
                  seconds[seconds.size() / 2] * 1e3, runs, fresh ? "a fresh decoder each" : "decoder kept");
    }
    return 0;
  }
  if (argc > 2) {
    std::vector<double> seconds;
    opixStatus_t status = OPIX_OK;
    for (int r = 0; r < runs; ++r) {
      opix::HostImage image;
      const auto t0 = std::chrono::steady_clock::now();
      status = opix::readImage(argv[2], "", image, 0, 0, 0);
      seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    std::sort(seconds.begin(), seconds.end());
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%s: status %d, median %.3f ms over %d reads, peak RSS %.1f MB\n", argv[2], int(status),
                seconds[seconds.size() / 2] * 1e3, runs, double(usage.ru_maxrss) / 1024.0);
    return 0;
  }
  char dir[] = "/tmp/opix_bench_XXXXXX";
  if (!mkdtemp(dir)) return 1;
  const std::string path = std::string(dir) + "/frame.pgm";

  const uint32_t width = 4096, height = 8192, pitch = 2 * width;
  std::vector<uint16_t> frame(size_t{width} * height);
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint16_t>(i * 2654435761u >> 16);
  std::string name = path;
  if (opix::writeImage(name, frame.data(), OPIX_I16, height, width, pitch) != OPIX_OK) return 1;

  std::vector<double> seconds;
  for (int r = 0; r < runs + 1; ++r) {
    opix::HostImage image;
    const auto t0 = std::chrono::steady_clock::now();
    if (opix::readImage(path, "", image, 0, 0, 0) != OPIX_OK) return 1;
    const auto t1 = std::chrono::steady_clock::now();
    if (r > 0) seconds.push_back(std::chrono::duration<double>(t1 - t0).count());  // run 0 warms the cache
  }
  std::sort(seconds.begin(), seconds.end());
  const double mb = 2.0 * width * height / 1e6;
  std::printf("16-bit PGM %ux%u (%.1f MB): median %.2f ms, %.0f MB/s over %d reads\n", width, height, mb,
              seconds[seconds.size() / 2] * 1e3, mb / seconds[seconds.size() / 2], runs);
  unlink(path.c_str());
  rmdir(dir);
  return 0;
}
