// Running a debayer of the SDK on a mosaic in host memory, for the tools.
#pragma once

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "DeviceSurfaceBuffer.h"
#include "device/Device.h"
#include "opix.h"

namespace opix::tools {

// A debayer of one type on a device surface of one size and format.
class DebayerHarness {
 public:
  DebayerHarness(opixDebayerType_t type, uint32_t w, uint32_t h, opixSurfaceFormat_t f) : format_(f) {
    source_ = createSurfaceBuffer(w, h, f);
    if (device::malloc(&sourceMemory_, opixImageSize(f, w, h)) != device::kSuccess)
      throw std::runtime_error("no device memory for the source");
    source_->external = 1;
    source_->directPointer = sourceMemory_;
    status_ = opixDebayerCreate(&handle_, type, w, h, source_.get(), &destination_);
  }
  ~DebayerHarness() {
    if (handle_) opixDebayerDestroy(handle_);
    device::free(sourceMemory_);
  }
  DebayerHarness(const DebayerHarness&) = delete;
  DebayerHarness& operator=(const DebayerHarness&) = delete;

  opixStatus_t status() const { return status_; }
  opixDeviceSurfaceBufferHandle_t destination() const { return destination_; }

  // Uploads samples (one per pixel, row-major) into the source surface.
  void upload(const std::vector<uint16_t>& samples) {
    const uint32_t w = source_->width, h = source_->height, pitch = source_->pitch;
    std::vector<uint8_t> bytes(size_t(pitch) * h);
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x) {
        const uint16_t v = samples[size_t(y) * w + x];
        if (format_ == OPIX_I8)
          bytes[size_t(y) * pitch + x] = uint8_t(v);
        else
          std::memcpy(&bytes[size_t(y) * pitch + 2 * x], &v, 2);
      }
    device::memcpy(sourceMemory_, bytes.data(), bytes.size(), device::CopyKind::HostToDevice);
  }

  opixStatus_t transform(opixBayerPattern_t pattern) {
    return opixDebayerTransform(handle_, pattern, source_->width, source_->height);
  }

  // The result as interleaved R, G, B values, one triple per pixel.
  std::vector<uint16_t> download() const {
    const opixDeviceSurfaceBuffer_t& d = *destination_;
    std::vector<uint8_t> raw(opixImageSize(d.surfaceFormat, d.maxWidth, d.maxHeight));
    device::streamSynchronize();
    device::memcpy(raw.data(), deviceAddress(d), raw.size(), device::CopyKind::DeviceToHost);
    std::vector<uint16_t> rgb(size_t(d.width) * d.height * 3);
    for (uint32_t y = 0; y < d.height; ++y)
      for (uint32_t x = 0; x < d.width; ++x)
        for (int c = 0; c < 3; ++c) {
          uint16_t v;
          if (d.surfaceFormat == OPIX_RGB8) {
            v = raw[size_t(y) * d.pitch + 3 * x + c];
          } else {
            std::memcpy(&v, &raw[c * size_t(d.maxPitch) * d.maxHeight + size_t(y) * d.pitch + 2 * x], 2);
          }
          rgb[(size_t(y) * d.width + x) * 3 + c] = v;
        }
    return rgb;
  }

 private:
  opixSurfaceFormat_t format_;
  SurfaceBufferPtr source_;
  void* sourceMemory_ = nullptr;
  opixDebayerHandle_t handle_ = nullptr;
  opixDeviceSurfaceBufferHandle_t destination_ = nullptr;
  opixStatus_t status_ = OPIX_OK;
};

// Initialises the SDK on the backend named ("cuda", "host"), or on CUDA
// when a device is usable and on the host otherwise ("auto").
inline std::string initBackend(const std::string& wanted) {
  if (wanted != "host" && opixInit(1u, false) == OPIX_OK) return "cuda";
  if (wanted == "cuda") throw std::runtime_error("no usable CUDA device");
  opixInitHost();
  return "host";
}

}  // namespace opix::tools
