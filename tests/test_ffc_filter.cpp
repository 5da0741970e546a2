// Flat-field correction: the node grid and its layout, the bilinear gain
// against its formula, saturation, refused grids and records at Transform.
#include "FilterSupport.h"

using namespace opix;
using namespace opix::test;

namespace {

uint32_t nodes(uint32_t pixels) { return (pixels + 3) / 4 + 1; }
uint32_t rowValues(uint32_t width) { return (2 * nodes(width) + 3) / 4 * 2; }  // 16-bit values per node row

// A grid for w x h in the documented host layout; padding values are 0.
struct Grid {
  uint32_t w, h;
  std::vector<uint16_t> v;
  Grid(uint32_t w_, uint32_t h_, uint16_t fill) : w(w_), h(h_), v(size_t(rowValues(w_)) * nodes(h_), 0) {
    for (uint32_t j = 0; j < nodes(h); ++j)
      for (uint32_t i = 0; i < nodes(w); ++i) at(i, j) = fill;
  }
  uint16_t& at(uint32_t i, uint32_t j) { return v[size_t(j) * rowValues(w) + i]; }
  uint16_t at(uint32_t i, uint32_t j) const { return v[size_t(j) * rowValues(w) + i]; }
};

// The formula: corner gains divider / node, blended along x with quarters,
// then along y, times the sample, + 0.5, truncated and clamped.
uint32_t expected(const Grid& g, float divider, uint32_t x, uint32_t y, uint32_t p, uint32_t hi) {
  const uint32_t i = x / 4, j = y / 4;
  const float dx = float(x % 4), dy = float(y % 4);
  const float g00 = divider / float(g.at(i, j)), g10 = divider / float(g.at(i + 1, j));
  const float g01 = divider / float(g.at(i, j + 1)), g11 = divider / float(g.at(i + 1, j + 1));
  const float t = ((4.0f - dx) * g00 + dx * g10) * 0.25f;
  const float b = ((4.0f - dx) * g01 + dx * g11) * 0.25f;
  const float gain = ((4.0f - dy) * t + dy * b) * 0.25f;
  const float v = float(p) * gain + 0.5f;
  if (!(v > 0.0f)) return 0;
  return v >= float(hi) ? hi : uint32_t(v);
}

}  // namespace

TEST(Ffc, WorkedExamples) {
  Grid g(8, 4, 1024);
  g.at(0, 0) = 512;
  const opixFFC_t r{1024, g.v.data()};
  FilterRun run(OPIX_FFC, &r, 8, 4, OPIX_I16);
  ASSERT_EQ(run.status, OPIX_OK);
  ASSERT_EQ(run.run(uniformImage(8, 4, OPIX_I16, 1000)), OPIX_OK);
  EXPECT_EQ(run.out.at(0, 0), 2000u);  // at the node: gain 2
  EXPECT_EQ(run.out.at(2, 0), 1500u);  // halfway to the next node: 1.5
  EXPECT_EQ(run.out.at(4, 0), 1000u);
  EXPECT_EQ(run.out.at(0, 2), 1500u);

  Grid twice(4, 4, 512);
  const opixFFC_t r2{1024, twice.v.data()};
  FilterRun sat(OPIX_FFC, &r2, 4, 4, OPIX_I12);
  ASSERT_EQ(sat.run(Image{1, 1, OPIX_I12, {3000}}), OPIX_OK);
  EXPECT_EQ(sat.out.at(0, 0), 4095u);

  Grid unit(13, 9, 777);
  const opixFFC_t r3{777, unit.v.data()};
  FilterRun id(OPIX_FFC, &r3, 13, 9, OPIX_I12);
  const Image in = randomImage(13, 9, OPIX_I12, 2);
  ASSERT_EQ(id.run(in), OPIX_OK);
  EXPECT_EQ(id.out.v, in.v);
}

TEST(Ffc, RandomGridsAgainstTheFormula) {
  std::mt19937 rng(9);
  for (opixSurfaceFormat_t f : {OPIX_I12, OPIX_I16})
    for (auto [w, h] : {std::pair<uint32_t, uint32_t>{6, 5}, {1, 1}, {131, 37}, {257, 70}}) {
      SCOPED_TRACE(std::string(opixSurfaceFormatName(f)) + " " + std::to_string(w) + "x" + std::to_string(h));
      Grid g(w, h, 1);
      for (uint32_t j = 0; j < nodes(h); ++j)
        for (uint32_t i = 0; i < nodes(w); ++i) g.at(i, j) = uint16_t(600 + rng() % 1200);
      const opixFFC_t r{1000, g.v.data()};
      FilterRun run(OPIX_FFC, &r, w, h, f);
      ASSERT_EQ(run.status, OPIX_OK);
      const Image in = randomImage(w, h, f, rng());
      ASSERT_EQ(run.run(in), OPIX_OK);
      for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
          ASSERT_EQ(run.out.at(x, y), expected(g, 1000.0f, x, y, in.at(x, y), formatMax(f))) << x << ", " << y;
      EXPECT_TRUE(run.onlyPixelsWritten());
    }
}

TEST(Ffc, GridLayoutRefusalsAndRecordsAtTransform) {
  // Width 6: 3 nodes, rows of 8 bytes; height 5: 3 node rows. The grid is
  // exactly that long, so a read past it would be caught by the sanitizer.
  std::vector<uint16_t> exact(4 * 3, 1024);
  const opixFFC_t r{1024, exact.data()};
  FilterRun run(OPIX_FFC, &r, 6, 5, OPIX_I16);
  ASSERT_EQ(run.status, OPIX_OK);
  ASSERT_EQ(run.run(uniformImage(6, 5, OPIX_I16, 99)), OPIX_OK);
  EXPECT_EQ(run.out.at(5, 4), 99u);

  Grid zero(64, 64, 1024);
  zero.at(3, 7) = 0;
  const opixFFC_t bad{1024, zero.v.data()};
  EXPECT_EQ(FilterRun(OPIX_FFC, &bad, 64, 64, OPIX_I12).status, OPIX_INVALID_VALUE);
  const opixFFC_t none{1024, nullptr};
  EXPECT_EQ(FilterRun(OPIX_FFC, &none, 64, 64, OPIX_I12).status, OPIX_INVALID_VALUE);

  FilterRun later(OPIX_FFC, nullptr, 64, 64, OPIX_I12);
  ASSERT_EQ(later.status, OPIX_OK);
  const Image small = uniformImage(10, 7, OPIX_I12, 100);
  {
    TraceCapture trace;
    EXPECT_EQ(later.run(small), OPIX_INVALID_VALUE);
    EXPECT_NE(trace.finish().find("\nFFC filter is not initialized\n"), std::string::npos);
  }
  Grid zeroSmall(10, 7, 1000);
  zeroSmall.at(3, 2) = 0;  // the last node of the grid
  const opixFFC_t badSmall{1000, zeroSmall.v.data()};
  EXPECT_EQ(later.run(small, &badSmall), OPIX_INVALID_VALUE);  // node 0 refused at Transform too
  // A record at Transform carries the grid of the current frame.
  Grid g(10, 7, 500);
  const opixFFC_t half{1000, g.v.data()};
  {
    TraceCapture trace;
    ASSERT_EQ(later.run(small, &half), OPIX_OK);
    EXPECT_NE(trace.finish().find("\topixFFC_t:\n\t\t\tDivider: 1000\n\t\t\tCorrection matrix pointer: 0x"),
              std::string::npos);
  }
  for (uint32_t v : later.out.v) ASSERT_EQ(v, 200u);
  ASSERT_EQ(later.run(small), OPIX_OK);  // null keeps it
  EXPECT_EQ(later.out.at(9, 6), 200u);
  // A larger frame than that grid covers is refused.
  EXPECT_EQ(later.run(uniformImage(11, 7, OPIX_I12, 100)), OPIX_INVALID_SIZE);
}
