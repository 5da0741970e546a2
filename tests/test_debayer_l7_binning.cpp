// L7 against its filters, and binning against block means.
#include <cmath>

#include "DebayerSupport.h"
#include "L7Math.h"
#include "opix_internal/opix_program.h"

using namespace opix;
using namespace opix::test;

namespace {

const opixBayerPattern_t kPatterns[] = {OPIX_BAYER_RGGB, OPIX_BAYER_BGGR, OPIX_BAYER_GBRG, OPIX_BAYER_GRBG};

// Mirrored sample access to a mosaic.
struct Mirrored {
  const Mosaic& m;
  int operator()(int x, int y) const {
    const int w = int(m.width), h = int(m.height);
    if (x < 0) x = -x;
    if (x >= w) x = 2 * (w - 1) - x;
    if (y < 0) y = -y;
    if (y >= h) y = 2 * (h - 1) - y;
    return m.at(x, y);
  }
};

// The L7 filters as full coefficient grids, evaluated in double.
double applyGrid(const Mirrored& s, int x, int y, const double* grid, int cols, int rows) {
  double sum = 0;
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < cols; ++c) sum += grid[r * cols + c] * s(x + c - cols / 2, y + r - rows / 2);
  return sum;
}

const double kGreen[25] = {0.025,  0.0125, -0.15, 0.0125, 0.025, 0.0125, 0,      0.225, 0,
                           0.0125, -0.15,  0.225, 0.5,    0.225, -0.15,  0.0125, 0,     0.225,
                           0,      0.0125, 0.025, 0.0125, -0.15, 0.0125, 0.025};
const double kRow[15] = {0.1, 0, 0.1, -0.225, 0, -0.225, 0.3, 0.9, 0.3, -0.225, 0, -0.225, 0.1, 0, 0.1};     // 3 x 5
const double kColumn[15] = {0.1, -0.225, 0.3, -0.225, 0.1, 0, 0, 0.9, 0, 0, 0.1, -0.225, 0.3, -0.225, 0.1};  // 5 x 3
double kOpposite[49];

Pixel l7Reference(const Mosaic& m, opixBayerPattern_t p, int x, int y) {
  if (kOpposite[24] == 0) {
    auto set = [](int dx, int dy, double v) { kOpposite[(dy + 3) * 7 + dx + 3] = v; };
    set(0, 0, 0.7);
    for (int k : {-2, 2}) set(k, 0, -0.175), set(0, k, -0.175);
    for (int a : {-1, 1})
      for (int b : {-1, 1}) set(a, b, 0.175), set(3 * a, b, 0.0375), set(a, 3 * b, 0.0375);
  }
  const Mirrored s{m};
  const int hi = m.format == OPIX_I12 ? 4095 : 65535;
  auto fin = [&](double v) { return int(std::min(std::max(std::floor(v + 0.5), 0.0), double(hi))); };
  const int c = s(x, y);
  const int colour = siteColour(p, x, y);
  if (colour == 0) return {c, fin(applyGrid(s, x, y, kGreen, 5, 5)), fin(applyGrid(s, x, y, kOpposite, 7, 7))};
  if (colour == 2) return {fin(applyGrid(s, x, y, kOpposite, 7, 7)), fin(applyGrid(s, x, y, kGreen, 5, 5)), c};
  const int row = fin(applyGrid(s, x, y, kRow, 3, 5)), column = fin(applyGrid(s, x, y, kColumn, 5, 3));
  return siteColour(p, x + 1, y) == 0 ? Pixel{row, c, column} : Pixel{column, c, row};
}

}  // namespace

TEST(L7, FiltersOnEveryPatternDepthAndSize) {
  struct Size {
    uint32_t w, h;
  };
  for (opixSurfaceFormat_t f : {OPIX_I12, OPIX_I16})
    for (const Size& sz : {Size{64, 64}, Size{65, 67}, Size{129, 81}}) {
      DebayerRun run(OPIX_L7, sz.w, sz.h, f);
      ASSERT_EQ(run.status, OPIX_OK);
      for (opixBayerPattern_t p : kPatterns) {
        const Mosaic m = randomMosaic(sz.w, sz.h, f, sz.w + 3 * sz.h + p);
        ASSERT_EQ(run.run(m, p), OPIX_OK);
        ASSERT_TRUE(run.onlyPixelsWritten());
        const Mirrored s{m};
        const int hi = f == OPIX_I12 ? 4095 : 65535;
        int offByOne = 0;
        for (uint32_t y = 0; y < sz.h; ++y)
          for (uint32_t x = 0; x < sz.w; ++x) {
            const Pixel got = run.pixel(x, y);
            // The driver's float sums, evaluated here in the same order: equal.
            const Rgb same = l7At(s, p, int(x), int(y), hi);
            ASSERT_EQ(got, (Pixel{same.r, same.g, same.b})) << opixBayerPatternName(p) << " " << x << "," << y;
            // The filters in double: at most one unit apart, rarely.
            const Pixel want = l7Reference(m, p, int(x), int(y));
            for (int c = 0; c < 3; ++c) {
              ASSERT_LE(std::abs(got[c] - want[c]), 1) << x << "," << y << " channel " << c;
              offByOne += got[c] != want[c];
            }
          }
        EXPECT_LT(offByOne, int(sz.w * sz.h) / 50);  // float rounding, not a systematic error
      }
    }
}

TEST(L7, UniformFieldsAndASingleSample) {
  DebayerRun run(OPIX_L7, 64, 64, OPIX_I12);
  for (int v : {0, 1, 1234, 4095}) {
    const Mosaic m{64, 64, OPIX_I12, std::vector<int>(64 * 64, v)};
    for (opixBayerPattern_t p : kPatterns) {
      ASSERT_EQ(run.run(m, p), OPIX_OK);
      for (uint32_t y = 0; y < 64; ++y)
        for (uint32_t x = 0; x < 64; ++x) ASSERT_EQ(run.pixel(x, y), (Pixel{v, v, v})) << v << " " << x << "," << y;
    }
  }
  Mosaic m{64, 64, OPIX_I12, std::vector<int>(64 * 64, 0)};
  m.samples[20 * 64 + 20] = 4000;  // a red site of RGGB
  ASSERT_EQ(run.run(m, OPIX_BAYER_RGGB), OPIX_OK);
  EXPECT_EQ(run.pixel(20, 20), (Pixel{4000, 2000, 2800}));
  EXPECT_EQ(run.pixel(22, 20)[1], 0);  // -0.15 x 4000 saturates to 0
  // BGGR is RGGB with red and blue exchanged.
  const Pixel rggb = run.pixel(21, 21);
  ASSERT_EQ(run.run(m, OPIX_BAYER_BGGR), OPIX_OK);
  EXPECT_EQ(run.pixel(20, 20), (Pixel{2800, 2000, 4000}));
  EXPECT_EQ(run.pixel(21, 21), (Pixel{rggb[2], rggb[1], rggb[0]}));
}

TEST(L7, EightBitSourcesAreRefused) {
  DebayerRun run(OPIX_L7, 64, 64, OPIX_I8);
  EXPECT_EQ(run.status, OPIX_UNSUPPORTED_FORMAT);
  EXPECT_EQ(run.handle(), nullptr);
}

namespace {

Pixel binReference(const Mosaic& m, opixBayerPattern_t p, int f, int ox, int oy) {
  long sum[3] = {0, 0, 0};
  for (int y = oy * f; y < (oy + 1) * f; ++y)
    for (int x = ox * f; x < (ox + 1) * f; ++x) sum[siteColour(p, x, y)] += m.at(x, y);
  const long q = (f / 2) * (f / 2);
  return {int(sum[0] / q), int(sum[1] / (2 * q)), int(sum[2] / q)};
}

}  // namespace

TEST(Binning, BlockMeansOnEveryFactorPatternAndDepth) {
  for (opixDebayerType_t type : {OPIX_BINNING_2x2, OPIX_BINNING_4x4, OPIX_BINNING_8x8})
    for (opixSurfaceFormat_t f : {OPIX_I8, OPIX_I16}) {
      const int factor = type == OPIX_BINNING_2x2 ? 2 : type == OPIX_BINNING_4x4 ? 4 : 8;
      DebayerRun run(type, 2063, 999, f);
      ASSERT_EQ(run.status, OPIX_OK);
      EXPECT_EQ(run.destination->maxWidth, 2063u / factor);
      uint64_t bytes = 0;
      ASSERT_EQ(opixDebayerGetAllocatedGpuMemorySize(run.handle(), &bytes), OPIX_OK);
      EXPECT_EQ(bytes, alignUp(opixImageSize(run.destination->surfaceFormat, 2063 / factor, 999 / factor), 128));
      // Rows of more than a thousand pixels, an odd number at 2 x 2, so that
      // the host rows' chunks and their odd last pixel are all met.
      for (opixBayerPattern_t p : kPatterns)
        for (auto [w, h] : {std::pair{1001u, 999u}, std::pair{2063u, 17u}, std::pair{130u, 67u}, std::pair{7u, 9u}}) {
          const Mosaic m = randomMosaic(w, h, f, w + h + p + factor);
          ASSERT_EQ(run.run(m, p), OPIX_OK);
          ASSERT_EQ(run.destination->width, w / factor);
          ASSERT_EQ(run.destination->height, h / factor);
          ASSERT_TRUE(run.onlyPixelsWritten());
          for (uint32_t y = 0; y < h / factor; ++y)
            for (uint32_t x = 0; x < w / factor; ++x)
              ASSERT_EQ(run.pixel(x, y), binReference(m, p, factor, int(x), int(y)))
                  << factor << " " << opixBayerPatternName(p) << " " << x << "," << y;
        }
    }
}

TEST(Binning, CellExampleAndRefusals) {
  DebayerRun run(OPIX_BINNING_2x2, 4, 2, OPIX_I8);  // no minimum size for binning
  ASSERT_EQ(run.status, OPIX_OK);
  const Mosaic m{4, 2, OPIX_I8, {10, 3, 10, 3, 4, 200, 4, 200}};
  ASSERT_EQ(run.run(m, OPIX_BAYER_RGGB), OPIX_OK);
  EXPECT_EQ(run.pixel(0, 0), (Pixel{10, 3, 200}));
  ASSERT_EQ(run.run(m, OPIX_BAYER_BGGR), OPIX_OK);
  EXPECT_EQ(run.pixel(1, 0), (Pixel{200, 3, 10}));
  // Every debayer type refuses a pattern outside 1 to 4 alike.
  EXPECT_EQ(run.run(m, OPIX_BAYER_NONE), OPIX_UNRECOGNIZED_ERROR);
  EXPECT_EQ(run.run(m, opixBayerPattern_t(7)), OPIX_UNRECOGNIZED_ERROR);

  DebayerRun twelve(OPIX_BINNING_4x4, 64, 64, OPIX_I12);
  EXPECT_EQ(twelve.status, OPIX_UNSUPPORTED_SURFACE);
  DebayerRun rgb(OPIX_BINNING_8x8, 64, 64, OPIX_RGB8);
  EXPECT_EQ(rgb.status, OPIX_UNSUPPORTED_FORMAT);
  DebayerRun tiny(OPIX_BINNING_8x8, 7, 7, OPIX_I16);  // no whole block: nothing to write
  ASSERT_EQ(tiny.status, OPIX_OK);
  EXPECT_EQ(tiny.run(randomMosaic(7, 7, OPIX_I16, 1), OPIX_BAYER_RGGB), OPIX_OK);
}

// The program sizes its output images by debayerScale: every type that builds
// must produce exactly that size.
TEST(Binning, OutputSizeFollowsDebayerScale) {
  const std::pair<opixDebayerType_t, uint32_t> types[] = {{OPIX_DFPD, 1},        {OPIX_HQLI, 1},
                                                          {OPIX_L7, 1},          {OPIX_BINNING_2x2, 2},
                                                          {OPIX_BINNING_4x4, 4}, {OPIX_BINNING_8x8, 8}};
  for (auto [type, scale] : types) {
    EXPECT_EQ(debayerScale(type), scale) << opixDebayerTypeName(type);
    DebayerRun run(type, 264, 130, OPIX_I16);
    ASSERT_EQ(run.status, OPIX_OK) << type;
    EXPECT_EQ(run.destination->maxWidth, 264 / scale) << type;
    EXPECT_EQ(run.destination->maxHeight, 130 / scale) << type;
  }
}
