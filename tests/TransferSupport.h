// Host images and import/export round trips for the transfer and converter
// tests.
#pragma once

#include <cstring>
#include <vector>

#include "TestSupport.h"

namespace opix::test {

// An interleaved host image with `extra` padding bytes at the end of each row.
struct HostImage {
  opixSurfaceFormat_t format;
  uint32_t width, height, pitch;
  std::vector<uint8_t> data;

  HostImage(opixSurfaceFormat_t f, uint32_t w, uint32_t h, uint32_t extra = 0, uint8_t fill = 0)
      : format(f), width(w), height(h), pitch(rowBytes(f, w) + extra), data(size_t{pitch} * h, fill) {}

  static uint32_t channels(opixSurfaceFormat_t f) { return opixFormatChannels(f); }
  static uint32_t sampleBytes(opixSurfaceFormat_t f) { return static_cast<uint32_t>(opixFormatBytesPerElement(f)); }
  // Bytes of one row without padding.
  static uint32_t rowBytes(opixSurfaceFormat_t f, uint32_t w) { return w * channels(f) * sampleBytes(f); }

  uint32_t sample(uint32_t x, uint32_t y, uint32_t c) const {
    const size_t at = size_t{y} * pitch + (size_t{x} * channels(format) + c) * sampleBytes(format);
    return sampleBytes(format) == 1 ? data[at] : uint32_t{data[at]} | uint32_t{data[at + 1]} << 8;
  }
  void setSample(uint32_t x, uint32_t y, uint32_t c, uint32_t v) {
    const size_t at = size_t{y} * pitch + (size_t{x} * channels(format) + c) * sampleBytes(format);
    data[at] = static_cast<uint8_t>(v);
    if (sampleBytes(format) == 2) data[at + 1] = static_cast<uint8_t>(v >> 8);
  }
  // Random samples, with the first pixel at the bottom and the last at the
  // top of the sample range.
  void randomise(uint32_t seed) {
    data = randomBytes(data.size(), seed);
    const uint32_t top = sampleBytes(format) == 1 ? 0xFFu : 0xFFFFu;
    for (uint32_t c = 0; c < channels(format); ++c) {
      setSample(0, 0, c, 0);
      setSample(width - 1, height - 1, c, top);
    }
  }
};

// Downloads `bytes` bytes of device memory at `p`.
inline std::vector<uint8_t> readDevice(const void* p, size_t bytes) {
  std::vector<uint8_t> host(bytes);
  EXPECT_EQ(device::streamSynchronize(), device::kSuccess);
  EXPECT_EQ(device::memcpy(host.data(), p, bytes, device::CopyKind::DeviceToHost), device::kSuccess);
  return host;
}

// Import and export pair bound to one device buffer.
struct Importer {
  opixImportFromHostHandle_t handle = nullptr;
  opixDeviceSurfaceBufferHandle_t buffer = nullptr;
  Importer(opixSurfaceFormat_t f, uint32_t maxWidth, uint32_t maxHeight) {
    EXPECT_EQ(opixImportFromHostCreate(&handle, f, maxWidth, maxHeight, &buffer), OPIX_OK);
  }
  ~Importer() {
    if (handle) {
      EXPECT_EQ(opixImportFromHostDestroy(handle), OPIX_OK);
    }
  }
  opixStatus_t copy(const HostImage& img) {
    return opixImportFromHostCopy(handle, img.data.data(), img.width, img.pitch, img.height);
  }
};

struct Exporter {
  opixExportToHostHandle_t handle = nullptr;
  opixSurfaceFormat_t format = OPIX_RGB32;
  explicit Exporter(opixDeviceSurfaceBufferHandle_t source) {
    EXPECT_EQ(opixExportToHostCreate(&handle, &format, source), OPIX_OK);
  }
  ~Exporter() {
    if (handle) {
      EXPECT_EQ(opixExportToHostDestroy(handle), OPIX_OK);
    }
  }
  // Exports the source's current image into an image padded by 8 bytes a row
  // and checks that the padding was left alone.
  HostImage copy(uint32_t width, uint32_t height, const opixExportParameters_t* p = nullptr) {
    HostImage out(format, width, height, 8, 0xA5);
    EXPECT_EQ(opixExportToHostCopy(handle, out.data.data(), width, out.pitch, height, p), OPIX_OK);
    const uint32_t row = HostImage::rowBytes(format, width);
    for (uint32_t y = 0; y < height; ++y)
      for (uint32_t i = row; i < out.pitch; ++i) EXPECT_EQ(out.data[size_t{y} * out.pitch + i], 0xA5) << "padding";
    return out;
  }
};

}  // namespace opix::test
