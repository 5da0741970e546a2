// HQLI against its formulas with mirrored borders, on every pattern, bit
// depth and awkward size, and the debayer component's rules around it.
#include "DebayerSupport.h"

using namespace opix;
using namespace opix::test;

namespace {

// The HQLI filters, read straight from their definition, at mosaic position
// (x, y) with the image mirrored about its edge rows and columns.
Pixel hqliReference(const Mosaic& m, opixBayerPattern_t p, int x, int y) {
  auto s = [&](int dx, int dy) {
    int u = x + dx, v = y + dy;
    const int w = int(m.width), h = int(m.height);
    if (u < 0) u = -u;
    if (u >= w) u = 2 * (w - 1) - u;
    if (v < 0) v = -v;
    if (v >= h) v = 2 * (h - 1) - v;
    return m.at(u, v);
  };
  const int hi = m.format == OPIX_I8 ? 255 : m.format == OPIX_I12 ? 4095 : 65535;
  auto clamp = [&](int v) { return std::min(std::max(v, 0), hi); };
  const int c = s(0, 0);
  const int axis2 = s(0, -2) + s(0, 2) + s(-2, 0) + s(2, 0);
  const int cross1 = s(0, -1) + s(0, 1) + s(-1, 0) + s(1, 0);
  const int diag = s(-1, -1) + s(1, -1) + s(-1, 1) + s(1, 1);
  const int green = clamp((4 * c + 2 * cross1 - axis2) >> 3);
  const int opposite = clamp((12 * c + 4 * diag - 3 * axis2) >> 4);
  const int fromRow =
      clamp((10 * c - 2 * diag - 2 * (s(-2, 0) + s(2, 0)) + (s(0, -2) + s(0, 2)) + 8 * (s(-1, 0) + s(1, 0))) >> 4);
  const int fromColumn =
      clamp((10 * c - 2 * diag + (s(-2, 0) + s(2, 0)) - 2 * (s(0, -2) + s(0, 2)) + 8 * (s(0, -1) + s(0, 1))) >> 4);
  switch (siteColour(p, x, y)) {
    case 0: return {c, green, opposite};
    case 2: return {opposite, green, c};
    default:
      // A green site takes the colour of its row neighbours from them.
      return siteColour(p, x + 1, y) == 0 ? Pixel{fromRow, c, fromColumn} : Pixel{fromColumn, c, fromRow};
  }
}

const opixBayerPattern_t kPatterns[] = {OPIX_BAYER_RGGB, OPIX_BAYER_BGGR, OPIX_BAYER_GBRG, OPIX_BAYER_GRBG};

void expectReference(DebayerRun& run, const Mosaic& m, opixBayerPattern_t p) {
  for (uint32_t y = 0; y < m.height; ++y)
    for (uint32_t x = 0; x < m.width; ++x)
      ASSERT_EQ(run.pixel(x, y), hqliReference(m, p, int(x), int(y)))
          << opixBayerPatternName(p) << " pixel " << x << "," << y;
}

}  // namespace

TEST(Hqli, MatchesItsFormulasOnEveryPatternDepthAndSize) {
  struct Size {
    uint32_t w, h;
  };
  // Odd sizes, the minimum, and widths just above the 8-bit (128) and
  // 16-bit (64) tile widths and heights just above their tile heights.
  const Size sizes[] = {{64, 64}, {67, 65}, {129, 9 + 64}, {65, 97}, {131, 66}};
  for (opixSurfaceFormat_t f : {OPIX_I8, OPIX_I12, OPIX_I16})
    for (const Size& sz : sizes) {
      DebayerRun run(OPIX_HQLI, sz.w, sz.h, f);
      ASSERT_EQ(run.status, OPIX_OK);
      for (opixBayerPattern_t p : kPatterns) {
        SCOPED_TRACE(std::string(opixSurfaceFormatName(f)) + " " + std::to_string(sz.w) + "x" + std::to_string(sz.h));
        const Mosaic m = randomMosaic(sz.w, sz.h, f, sz.w * 7 + sz.h + p);
        ASSERT_EQ(run.run(m, p), OPIX_OK);
        expectReference(run, m, p);
        ASSERT_TRUE(run.onlyPixelsWritten());
      }
    }
}

// Samples of only 0 and the largest value drive the filters' sums to both
// ends of their range and every estimate into its clamp; rows of about a
// thousand pixels, of either parity of width.
TEST(Hqli, SamplesAtBothEndsOnLongRows) {
  for (opixSurfaceFormat_t f : {OPIX_I8, OPIX_I16}) {
    const int hi = f == OPIX_I8 ? 255 : 65535;
    DebayerRun run(OPIX_HQLI, 1031, 67, f);
    ASSERT_EQ(run.status, OPIX_OK);
    for (auto [w, h] : {std::pair{1031u, 67u}, std::pair{1030u, 64u}})
      for (opixBayerPattern_t p : kPatterns) {
        SCOPED_TRACE(std::string(opixSurfaceFormatName(f)) + " " + std::to_string(w) + "x" + std::to_string(h));
        Mosaic m = randomMosaic(w, h, f, w + p);
        for (int& v : m.samples) v = v & 1 ? hi : 0;
        ASSERT_EQ(run.run(m, p), OPIX_OK);
        expectReference(run, m, p);
        ASSERT_TRUE(run.onlyPixelsWritten());
      }
  }
}

TEST(Hqli, CurrentSizeBelowTheMaximumAndBack) {
  DebayerRun run(OPIX_HQLI, 140, 90, OPIX_I8);
  ASSERT_EQ(run.status, OPIX_OK);
  for (auto [w, h] :
       {std::pair{67u, 65u}, std::pair{140u, 90u}, std::pair{1u, 1u}, std::pair{2u, 3u}, std::pair{64u, 64u}}) {
    const Mosaic m = randomMosaic(w, h, OPIX_I8, w + h);
    ASSERT_EQ(run.run(m, OPIX_BAYER_GRBG), OPIX_OK) << w << "x" << h;
    EXPECT_EQ(run.destination->width, w);
    EXPECT_EQ(run.destination->height, h);
    EXPECT_EQ(run.destination->pitch, opixRowBytes(OPIX_RGB8, w));
    if (w >= 3 && h >= 3) expectReference(run, m, OPIX_BAYER_GRBG);
    EXPECT_TRUE(run.onlyPixelsWritten());
  }
}

TEST(Hqli, UniformFieldsStayUniform) {
  for (opixSurfaceFormat_t f : {OPIX_I8, OPIX_I12, OPIX_I16}) {
    DebayerRun run(OPIX_HQLI, 70, 66, f);
    const int v = f == OPIX_I8 ? 200 : f == OPIX_I12 ? 4095 : 65535;
    const Mosaic m{70, 66, f, std::vector<int>(70 * 66, v)};
    for (opixBayerPattern_t p : kPatterns) {
      ASSERT_EQ(run.run(m, p), OPIX_OK);
      for (uint32_t y = 0; y < 66; ++y)
        for (uint32_t x = 0; x < 70; ++x) ASSERT_EQ(run.pixel(x, y), (Pixel{v, v, v})) << x << "," << y;
    }
  }
}

TEST(Hqli, SingleBrightRedSample) {
  DebayerRun run(OPIX_HQLI, 64, 64, OPIX_I8);
  Mosaic m{64, 64, OPIX_I8, std::vector<int>(64 * 64, 0)};
  m.samples[20 * 64 + 20] = 255;
  ASSERT_EQ(run.run(m, OPIX_BAYER_RGGB), OPIX_OK);
  EXPECT_EQ(run.pixel(20, 20), (Pixel{255, 127, 191}));
  EXPECT_EQ(run.pixel(22, 20)[1], 0);  // -255 >> 3 saturates to 0
  EXPECT_EQ(run.pixel(20, 22)[1], 0);
  EXPECT_EQ(run.pixel(21, 20)[0], (8 * 255) >> 4);  // green in the red row, its left neighbour
}

TEST(Hqli, TwelveBitEstimatesStayWithinTwelveBits) {
  DebayerRun run(OPIX_HQLI, 64, 64, OPIX_I12);
  Mosaic m{64, 64, OPIX_I12, std::vector<int>(64 * 64)};
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) m.samples[y * 64 + x] = x < 31 ? 4095 : 0;
  ASSERT_EQ(run.run(m, OPIX_BAYER_RGGB), OPIX_OK);
  int top = 0;
  for (uint32_t y = 0; y < 64; ++y)
    for (uint32_t x = 0; x < 64; ++x)
      for (int c : run.pixel(x, y)) top = std::max(top, c);
  EXPECT_EQ(top, 4095);  // reached, never passed, although the filter overshoots here
}

TEST(DebayerComponent, CreateRefusals) {
  struct Case {
    opixDebayerType_t type;
    uint32_t maxW, maxH;
    opixSurfaceFormat_t f;
    opixStatus_t status;
  };
  const Case cases[] = {
      {OPIX_HQLI, 63, 64, OPIX_I8, OPIX_INVALID_VALUE},
      {OPIX_HQLI, 64, 63, OPIX_I16, OPIX_INVALID_VALUE},
      {OPIX_HQLI, 65536, 64, OPIX_I8, OPIX_INVALID_SIZE},
      {OPIX_HQLI, 64, 64, OPIX_RGB8, OPIX_UNSUPPORTED_FORMAT},
      {OPIX_HQLI, 64, 64, OPIX_I10, OPIX_UNSUPPORTED_FORMAT},
      {OPIX_AMAZE, 64, 64, OPIX_I16, OPIX_UNSUPPORTED_FORMAT},
      {opixDebayerType_t(10), 64, 64, OPIX_I8, OPIX_UNSUPPORTED_FORMAT},
      {OPIX_BINNING_2x2, 64, 64, OPIX_I12, OPIX_UNSUPPORTED_SURFACE},
  };
  for (const Case& c : cases) {
    DebayerRun run(c.type, c.maxW, c.maxH, c.f);
    EXPECT_EQ(run.status, c.status) << c.type << " " << c.maxW << "x" << c.maxH;
    EXPECT_EQ(run.handle(), nullptr);
    EXPECT_EQ(run.destination, nullptr);
  }
  // The source buffer must have the component's max size.
  ExternalSurface src(100, 64, OPIX_I8);
  opixDebayerHandle_t h = nullptr;
  opixDeviceSurfaceBufferHandle_t dst = nullptr;
  EXPECT_EQ(opixDebayerCreate(&h, OPIX_HQLI, 99, 64, src.buffer.get(), &dst), OPIX_INVALID_SIZE);
  EXPECT_EQ(opixDebayerCreate(&h, OPIX_HQLI, 100, 65, src.buffer.get(), &dst), OPIX_INVALID_SIZE);
  EXPECT_EQ(h, nullptr);
}

TEST(DebayerComponent, MemoryLayoutAndTransformRefusals) {
  DebayerRun run(OPIX_HQLI, 100, 64, OPIX_I8);
  ASSERT_EQ(run.status, OPIX_OK);
  uint64_t bytes = 0;
  ASSERT_EQ(opixDebayerGetAllocatedGpuMemorySize(run.handle(), &bytes), OPIX_OK);
  // Work image: 105 samples a row in a 128-byte pitch, 69 rows rounded to 96;
  // then the RGB8 destination of 300 x 64 bytes.
  EXPECT_EQ(bytes, 128u * 96 + 19200);
  EXPECT_EQ(run.destination->surfaceFormat, OPIX_RGB8);

  DebayerRun wide(OPIX_HQLI, 1000, 70, OPIX_I16);
  ASSERT_EQ(opixDebayerGetAllocatedGpuMemorySize(wide.handle(), &bytes), OPIX_OK);
  EXPECT_EQ(bytes, 2048u * 96 + 420096);  // 1005 x 2 bytes -> 2048; planes of 2000 x 70, to 128
  EXPECT_EQ(wide.destination->surfaceFormat, OPIX_RGB16_PLANAR);

  const Mosaic m = randomMosaic(100, 64, OPIX_I8, 5);
  EXPECT_EQ(run.run(m, OPIX_BAYER_NONE), OPIX_UNRECOGNIZED_ERROR);
  EXPECT_EQ(run.run(m, opixBayerPattern_t(5)), OPIX_UNRECOGNIZED_ERROR);
  EXPECT_EQ(opixDebayerTransform(run.handle(), OPIX_BAYER_RGGB, 99, 64), OPIX_INVALID_SIZE);
  EXPECT_EQ(opixDebayerTransform(run.handle(), OPIX_BAYER_RGGB, 100, 63), OPIX_INVALID_SIZE);
  EXPECT_EQ(run.run(m, OPIX_BAYER_RGGB), OPIX_OK);  // still usable
}
