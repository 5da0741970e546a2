// Running a debayer on a mosaic held in host memory, and reading the result.
#pragma once

#include <array>
#include <cstring>

#include "TestSupport.h"

namespace opix::test {

using Pixel = std::array<int, 3>;

struct Mosaic {
  uint32_t width, height;
  opixSurfaceFormat_t format;  // I8, I12 or I16
  std::vector<int> samples;    // width x height
  int at(int x, int y) const { return samples[size_t(y) * width + x]; }
};

inline Mosaic randomMosaic(uint32_t w, uint32_t h, opixSurfaceFormat_t f, uint32_t seed) {
  std::mt19937 rng(seed);
  const int hi = f == OPIX_I8 ? 255 : f == OPIX_I12 ? 4095 : 65535;
  Mosaic m{w, h, f, std::vector<int>(size_t(w) * h)};
  for (int& v : m.samples) v = int(rng() % (hi + 1));
  return m;
}

// Colour (0 R, 1 G, 2 B) of a mosaic position under a pattern.
inline int siteColour(opixBayerPattern_t p, int x, int y) {
  static const int cells[5][4] = {{0, 0, 0, 0}, {0, 1, 1, 2}, {2, 1, 1, 0}, {1, 2, 0, 1}, {1, 0, 2, 1}};
  return cells[p][(x & 1) + 2 * (y & 1)];
}

// A debayer of one type fed from a surface of max size maxW x maxH.
class DebayerRun {
 public:
  static constexpr uint8_t kGuard = 0xA5;

  // With `pre`, a debayer with those pre-operations (and room for their matrices).
  DebayerRun(opixDebayerType_t type, uint32_t maxW, uint32_t maxH, opixSurfaceFormat_t f,
             const opixDebayerPreOperations_t* pre = nullptr)
      : source_(maxW, maxH, f), format_(f) {
    status =
        pre ? opixDebayerCreateWithPreOperations(&handle_, type, maxW, maxH, pre, source_.buffer.get(), &destination)
            : opixDebayerCreate(&handle_, type, maxW, maxH, source_.buffer.get(), &destination);
  }
  ~DebayerRun() {
    if (handle_) {
      EXPECT_EQ(opixDebayerDestroy(handle_), OPIX_OK);
    }
  }

  // Demosaics `m`; returns the status of the Transform.
  opixStatus_t run(const Mosaic& m, opixBayerPattern_t pattern) {
    setCurrentSize(*source_.buffer, m.width, m.height);
    const uint32_t pitch = source_.buffer->pitch;
    std::vector<uint8_t> bytes(opixImageSize(format_, source_.buffer->maxWidth, source_.buffer->maxHeight));
    for (uint32_t y = 0; y < m.height; ++y)
      for (uint32_t x = 0; x < m.width; ++x) {
        const int v = m.at(int(x), int(y));
        if (format_ == OPIX_I8)
          bytes[y * pitch + x] = uint8_t(v);
        else
          std::memcpy(&bytes[y * pitch + 2 * x], &v, 2);
      }
    source_.block.upload(bytes);
    // Guard bytes everywhere in the destination, to see what the debayer writes.
    const uint64_t dstBytes = opixImageSize(destination->surfaceFormat, destination->maxWidth, destination->maxHeight);
    if (dstBytes == 0) return opixDebayerTransform(handle_, pattern, m.width, m.height);
    std::vector<uint8_t> guard(dstBytes, kGuard);
    EXPECT_EQ(device::memcpy(deviceAddress(*destination), guard.data(), guard.size(), device::CopyKind::HostToDevice),
              device::kSuccess);
    const opixStatus_t s = opixDebayerTransform(handle_, pattern, m.width, m.height);
    raw.assign(dstBytes, 0);
    EXPECT_EQ(device::streamSynchronize(), device::kSuccess);
    EXPECT_EQ(device::memcpy(raw.data(), deviceAddress(*destination), raw.size(), device::CopyKind::DeviceToHost),
              device::kSuccess);
    return s;
  }

  Pixel pixel(uint32_t x, uint32_t y) const {
    const opixDeviceSurfaceBuffer_t& d = *destination;
    if (d.surfaceFormat == OPIX_RGB8) {
      const uint8_t* p = &raw[size_t(y) * d.pitch + 3 * x];
      return {p[0], p[1], p[2]};
    }
    Pixel out{};
    for (int c = 0; c < 3; ++c) {
      uint16_t v;
      std::memcpy(&v, &raw[c * size_t(d.maxPitch) * d.maxHeight + size_t(y) * d.pitch + 2 * x], 2);
      out[c] = v;
    }
    return out;
  }

  // True when every byte outside the w x h pixels of each plane kept its guard.
  bool onlyPixelsWritten() const {
    const opixDeviceSurfaceBuffer_t& d = *destination;
    const bool planar = d.surfaceFormat != OPIX_RGB8;
    const size_t rowBytes = planar ? 2 * size_t(d.width) : 3 * size_t(d.width);
    const size_t planeBytes = planar ? size_t(d.maxPitch) * d.maxHeight : raw.size();
    for (size_t i = 0; i < raw.size(); ++i) {
      const size_t inPlane = i % planeBytes;
      const size_t y = d.pitch ? inPlane / d.pitch : 0, x = d.pitch ? inPlane % d.pitch : 0;
      const bool pixel = d.pitch && y < d.height && x < rowBytes;
      if (!pixel && raw[i] != kGuard) {
        ADD_FAILURE() << "byte " << x << " of row " << y << " written";
        return false;
      }
    }
    return true;
  }

  opixStatus_t status;
  opixDeviceSurfaceBufferHandle_t destination = nullptr;
  std::vector<uint8_t> raw;
  opixDebayerHandle_t handle() const { return handle_; }

 private:
  ExternalSurface source_;
  opixSurfaceFormat_t format_;
  opixDebayerHandle_t handle_ = nullptr;
};

}  // namespace opix::test
