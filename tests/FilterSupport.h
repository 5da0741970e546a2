// Running an image filter on images held in host memory, and reading back the
// result.
#pragma once

#include <cstring>

#include "TestSupport.h"

namespace opix::test {

// An image of any filter source format: channels values per pixel.
struct Image {
  uint32_t width, height;
  opixSurfaceFormat_t format;
  std::vector<uint32_t> v;
  uint32_t channels() const { return opixFormatChannels(format); }
  uint32_t& at(uint32_t x, uint32_t y, uint32_t c = 0) { return v[(size_t(y) * width + x) * channels() + c]; }
  uint32_t at(uint32_t x, uint32_t y, uint32_t c = 0) const { return v[(size_t(y) * width + x) * channels() + c]; }
};

inline uint32_t formatMax(opixSurfaceFormat_t f) { return (1u << opixFormatBits(f)) - 1u; }

inline Image randomImage(uint32_t w, uint32_t h, opixSurfaceFormat_t f, uint32_t seed) {
  std::mt19937 rng(seed);
  Image im{w, h, f, std::vector<uint32_t>(size_t(w) * h * opixFormatChannels(f))};
  for (auto& s : im.v) s = rng() % (formatMax(f) + 1);
  return im;
}

inline Image uniformImage(uint32_t w, uint32_t h, opixSurfaceFormat_t f, uint32_t value) {
  return Image{w, h, f, std::vector<uint32_t>(size_t(w) * h * opixFormatChannels(f), value)};
}

// Byte offset of sample (x, y, c) in a buffer laid out as `b` is now.
inline size_t sampleOffset(const opixDeviceSurfaceBuffer_t& b, uint32_t x, uint32_t y, uint32_t c) {
  const size_t row = size_t(y) * b.pitch;
  switch (b.surfaceFormat) {
    case OPIX_I8: return row + x;
    case OPIX_RGB8:
    case OPIX_BGR8: return row + 3 * size_t(x) + c;
    case OPIX_RGB12_PLANAR:
    case OPIX_RGB16_PLANAR: return c * size_t(b.maxPitch) * b.maxHeight + row + 2 * size_t(x);
    default: return row + 2 * size_t(x);
  }
}

inline bool wideSamples(opixSurfaceFormat_t f) { return f != OPIX_I8 && f != OPIX_RGB8 && f != OPIX_BGR8; }

// A filter of one type fed from a source surface of max size maxW x maxH.
class FilterRun {
 public:
  static constexpr uint8_t kGuard = 0xA5;

  // A source whose rows are `extraPitch` bytes longer than packed rows.
  FilterRun(opixImageFilterType_t type, const void* parameters, uint32_t maxW, uint32_t maxH, opixSurfaceFormat_t f,
            uint32_t filterW = 0, uint32_t filterH = 0, uint32_t extraPitch = 0)
      : source_(maxW, maxH, f, extraPitch), extraPitch_(extraPitch) {
    status = opixImageFilterCreate(&handle, type, parameters, filterW ? filterW : maxW, filterH ? filterH : maxH,
                                   source_.buffer.get(), &destination);
  }
  ~FilterRun() {
    if (handle) {
      EXPECT_EQ(opixImageFilterDestroy(handle), OPIX_OK);
    }
  }
  FilterRun(const FilterRun&) = delete;
  FilterRun& operator=(const FilterRun&) = delete;

  // Filters `in` (with `parameters` given to Transform); the result lands in `out`.
  opixStatus_t run(const Image& in, const void* parameters = nullptr) {
    opixDeviceSurfaceBuffer_t& s = *source_.buffer;
    setCurrentSize(s, in.width, in.height);
    s.pitch += extraPitch_;
    std::vector<uint8_t> bytes(size_t{s.maxPitch} * s.maxHeight * (isPlanar(s.surfaceFormat) ? 3 : 1));
    for (uint32_t y = 0; y < in.height; ++y)
      for (uint32_t x = 0; x < in.width; ++x)
        for (uint32_t c = 0; c < in.channels(); ++c) {
          const uint16_t v = uint16_t(in.at(x, y, c));
          if (wideSamples(s.surfaceFormat))
            std::memcpy(&bytes[sampleOffset(s, x, y, c)], &v, 2);
          else
            bytes[sampleOffset(s, x, y, c)] = uint8_t(v);
        }
    source_.block.upload(bytes);
    const opixDeviceSurfaceBuffer_t& d = *destination;
    raw.assign(opixImageSize(d.surfaceFormat, d.maxWidth, d.maxHeight), kGuard);
    EXPECT_EQ(device::memcpy(deviceAddress(d), raw.data(), raw.size(), device::CopyKind::HostToDevice),
              device::kSuccess);
    const opixStatus_t st = opixImageFilterTransform(handle, parameters, in.width, in.height);
    EXPECT_EQ(device::streamSynchronize(), device::kSuccess);
    EXPECT_EQ(device::memcpy(raw.data(), deviceAddress(d), raw.size(), device::CopyKind::DeviceToHost),
              device::kSuccess);
    out = Image{in.width, in.height, in.format, std::vector<uint32_t>(in.v.size())};
    if (st != OPIX_OK) return st;
    // The destination's own size: a scaling filter's differs from the input's.
    out = Image{d.width, d.height, in.format, std::vector<uint32_t>(size_t(d.width) * d.height * in.channels())};
    for (uint32_t y = 0; y < d.height; ++y)
      for (uint32_t x = 0; x < d.width; ++x)
        for (uint32_t c = 0; c < in.channels(); ++c) {
          uint16_t v = 0;
          if (wideSamples(d.surfaceFormat))
            std::memcpy(&v, &raw[sampleOffset(d, x, y, c)], 2);
          else
            v = raw[sampleOffset(d, x, y, c)];
          out.at(x, y, c) = v;
        }
    return st;
  }

  // True when every destination byte outside the current image kept its guard.
  bool onlyPixelsWritten() const {
    const opixDeviceSurfaceBuffer_t& d = *destination;
    std::vector<bool> pixel(raw.size(), false);
    const size_t sampleBytes = wideSamples(d.surfaceFormat) ? 2 : 1;
    for (uint32_t y = 0; y < d.height; ++y)
      for (uint32_t x = 0; x < d.width; ++x)
        for (uint32_t c = 0; c < d.channels; ++c)
          for (size_t k = 0; k < sampleBytes; ++k) pixel[sampleOffset(d, x, y, c) + k] = true;
    for (size_t i = 0; i < raw.size(); ++i)
      if (!pixel[i] && raw[i] != kGuard) {
        ADD_FAILURE() << "byte " << i << " outside the image written";
        return false;
      }
    return true;
  }

  opixStatus_t status;
  opixImageFilterHandle_t handle = nullptr;
  opixDeviceSurfaceBufferHandle_t destination = nullptr;
  std::vector<uint8_t> raw;
  Image out{};
  opixDeviceSurfaceBuffer_t& source() { return *source_.buffer; }

 private:
  ExternalSurface source_;
  uint32_t extraPitch_;
};

}  // namespace opix::test
