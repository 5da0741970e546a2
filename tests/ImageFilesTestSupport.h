// Helpers of the image file tests: a scratch folder per test, whole-file
// reads and writes, and console capture.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ImageFiles.h"

namespace opix::test {

using Bytes = std::vector<uint8_t>;

class ImageFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/opix_files_XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    dir_ = name;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  std::string put(const std::string& name, const Bytes& bytes) const {
    const std::string p = path(name);
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return p;
  }
  std::string put(const std::string& name, const std::string& text) const {
    return put(name, Bytes(text.begin(), text.end()));
  }

  static Bytes load(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }

  // Names in the scratch folder: a writer must leave no temporary behind.
  std::vector<std::string> listing() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir_)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string dir_;
};

inline Bytes concat(std::string text, const Bytes& tail) {
  Bytes b(text.begin(), text.end());
  b.insert(b.end(), tail.begin(), tail.end());
  return b;
}

inline uint16_t sample16(const HostImage& img, uint32_t x, uint32_t y) {
  uint16_t v;
  std::memcpy(&v, img.data.get() + uint64_t{y} * img.pitch + 2 * x, 2);
  return v;
}

// Reads `path` through the image reader with the console captured.
struct ReadResult {
  opixStatus_t status;
  std::string out, err;
};
inline ReadResult readCaptured(const std::string& path, HostImage& img, uint32_t h = 0, uint32_t w = 0,
                               uint32_t bits = 8) {
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  const opixStatus_t s = readImage(path, path + ".out", img, h, w, bits);
  std::fflush(stdout);
  ReadResult r{s, ::testing::internal::GetCapturedStdout(), ::testing::internal::GetCapturedStderr()};
  return r;
}

}  // namespace opix::test
