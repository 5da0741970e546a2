// The bit-depth converter: every conversion pair shifts exactly, at awkward
// widths, writing nothing past its rows; impossible pairs and shifts refused.
#include <cstring>

#include "TestSupport.h"

using namespace opix;
using namespace opix::test;

namespace {

struct Converter {
  Converter(opixSurfaceFormat_t f, uint32_t w, uint32_t h, uint32_t target, bool override = false,
            uint32_t sourceBits = 0)
      : source(w, h, f) {
    const opixBitDepthConverter_t p{sourceBits, override, target};
    status = opixSurfaceConverterCreate(&handle, OPIX_BIT_DEPTH_CONVERTER, &p, w, h, source.buffer.get(), &out);
  }
  ~Converter() {
    if (handle) {
      EXPECT_EQ(opixSurfaceConverterDestroy(handle), OPIX_OK);
    }
  }
  // Fills the source with `bytes`, converts, returns the destination's bytes.
  std::vector<uint8_t> run(const std::vector<uint8_t>& bytes) {
    source.block.upload(bytes);
    const uint64_t n = opixImageSize(out->surfaceFormat, out->maxWidth, out->maxHeight);
    std::vector<uint8_t> guard(n, 0xA5);
    EXPECT_EQ(device::memcpy(deviceAddress(*out), guard.data(), n, device::CopyKind::HostToDevice), 0);
    EXPECT_EQ(opixSurfaceConverterTransform(handle, nullptr, source.buffer->width, source.buffer->height), OPIX_OK);
    std::vector<uint8_t> result(n);
    EXPECT_EQ(device::streamSynchronize(), 0);
    EXPECT_EQ(device::memcpy(result.data(), deviceAddress(*out), n, device::CopyKind::DeviceToHost), 0);
    return result;
  }
  ExternalSurface source;
  opixSurfaceConverterHandle_t handle = nullptr;
  opixDeviceSurfaceBufferHandle_t out = nullptr;
  opixStatus_t status;
};

uint16_t word(const std::vector<uint8_t>& b, size_t at) {
  uint16_t v;
  std::memcpy(&v, &b[at], 2);
  return v;
}

}  // namespace

TEST(BitDepthConverter, GrayPairsAtEveryWidth) {
  for (uint32_t w = 1; w <= 9; ++w) {
    const uint32_t h = 3;
    // 8 -> 16: v << 8; the padding of a row may change, the next row never.
    Converter up(OPIX_I8, w, h, 16);
    ASSERT_EQ(up.status, OPIX_OK);
    EXPECT_EQ(up.out->surfaceFormat, OPIX_I16);
    const auto src = randomBytes(opixImageSize(OPIX_I8, w, h), w);
    const auto r = up.run(src);
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x)
        ASSERT_EQ(word(r, y * up.out->pitch + 2 * x), src[y * up.source.buffer->pitch + x] << 8) << w << " " << x;
    // 12 -> 8 and 16 -> 12: right shifts of the significant bits.
    Converter down(OPIX_I12, w, h, 8);
    ASSERT_EQ(down.status, OPIX_OK);
    EXPECT_EQ(down.out->surfaceFormat, OPIX_I8);
    std::vector<uint8_t> twelve(opixImageSize(OPIX_I12, w, h));
    for (size_t i = 0; i + 1 < twelve.size(); i += 2) {
      const uint16_t v = uint16_t((i * 37) % 4096);
      std::memcpy(&twelve[i], &v, 2);
    }
    const auto d = down.run(twelve);
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x)
        ASSERT_EQ(d[y * down.out->pitch + x], word(twelve, y * down.source.buffer->pitch + 2 * x) >> 4);
    Converter same(OPIX_I16, w, h, 12);
    ASSERT_EQ(same.status, OPIX_OK);
    EXPECT_EQ(same.out->surfaceFormat, OPIX_I12);
    const auto s = same.run(twelve);
    EXPECT_EQ(word(s, 0), word(twelve, 0) >> 4);
  }
}

TEST(BitDepthConverter, ColourPairs) {
  Converter up(OPIX_RGB8, 5, 2, 16);
  ASSERT_EQ(up.status, OPIX_OK);
  ASSERT_EQ(up.out->surfaceFormat, OPIX_RGB16_PLANAR);
  const auto src = randomBytes(opixImageSize(OPIX_RGB8, 5, 2), 9);
  const auto r = up.run(src);
  const size_t plane = size_t(up.out->maxPitch) * up.out->maxHeight;
  for (uint32_t y = 0; y < 2; ++y)
    for (uint32_t x = 0; x < 5; ++x)
      for (int c = 0; c < 3; ++c)
        ASSERT_EQ(word(r, c * plane + y * up.out->pitch + 2 * x), src[y * 16 + 3 * x + c] << 8);

  Converter down(OPIX_RGB12_PLANAR, 5, 2, 8);
  ASSERT_EQ(down.status, OPIX_OK);
  ASSERT_EQ(down.out->surfaceFormat, OPIX_RGB8);
  std::vector<uint8_t> planes(opixImageSize(OPIX_RGB12_PLANAR, 5, 2));
  for (size_t i = 0; i + 1 < planes.size(); i += 2) {
    const uint16_t v = uint16_t((i * 91) % 4096);
    std::memcpy(&planes[i], &v, 2);
  }
  const auto d = down.run(planes);
  const size_t srcPlane = 12 * 2;
  for (uint32_t y = 0; y < 2; ++y)
    for (uint32_t x = 0; x < 5; ++x)
      for (int c = 0; c < 3; ++c) ASSERT_EQ(d[y * 16 + 3 * x + c], word(planes, c * srcPlane + y * 12 + 2 * x) >> 4);
}

TEST(BitDepthConverter, Refusals) {
  EXPECT_EQ(Converter(OPIX_I8, 8, 8, 8).status, OPIX_UNSUPPORTED_SURFACE);
  EXPECT_EQ(Converter(OPIX_I8, 8, 8, 20).status, OPIX_UNSUPPORTED_SURFACE);
  EXPECT_EQ(Converter(OPIX_RGB8, 8, 8, 8).status, OPIX_UNSUPPORTED_SURFACE);
  // An override that would make the shift negative.
  EXPECT_EQ(Converter(OPIX_I8, 8, 8, 16, true, 20).status, OPIX_INVALID_VALUE);
  Converter ok(OPIX_I8, 8, 8, 16);
  EXPECT_EQ(ok.status, OPIX_OK);
  EXPECT_EQ(opixSurfaceConverterTransform(ok.handle, nullptr, 9, 8), OPIX_INVALID_SIZE);
}
