// DFPD against a straightforward reading of its steps over whole-image
// arrays with mirrored borders, on every pattern, bit depth and awkward size.
#include <functional>
#include <map>

#include "DebayerSupport.h"

using namespace opix;
using namespace opix::test;

namespace {

const opixBayerPattern_t kPatterns[] = {OPIX_BAYER_RGGB, OPIX_BAYER_BGGR, OPIX_BAYER_GBRG, OPIX_BAYER_GRBG};

// The method in RGGB-phased positions X = x + sx, Y = y + sy.
class Reference {
 public:
  Reference(const Mosaic& m, opixBayerPattern_t p) : m_(m) {
    sx_ = (p == OPIX_BAYER_BGGR || p == OPIX_BAYER_GRBG);
    sy_ = (p == OPIX_BAYER_BGGR || p == OPIX_BAYER_GBRG);
    hi_ = m.format == OPIX_I8 ? 255 : m.format == OPIX_I12 ? 4095 : 65535;
    gmax_ = m.format == OPIX_I8 ? 255 : 65535;
  }

  Pixel at(int x, int y) {
    const int X = x + sx_, Y = y + sy_;
    const bool redRow = (Y % 2 + 2) % 2 == 0, evenX = (X % 2 + 2) % 2 == 0;
    if (redRow != evenX) {  // green
      const Pixel rb = greenSite(X, Y);
      return rb;
    }
    const bool horizontal = decide(X, Y);
    const Pixel p = horizontal ? greenSite(X - 1, Y) : greenSite(X, Y - 1);
    const Pixel q = horizontal ? greenSite(X + 1, Y) : greenSite(X, Y + 1);
    const int c = s(X, Y);
    if (redRow) return {c, green(X, Y), sat(c + floorHalf((p[2] - p[0]) + (q[2] - q[0])))};
    return {sat(c + floorHalf((p[0] - p[2]) + (q[0] - q[2]))), green(X, Y), c};
  }

 private:
  static int floorHalf(int v) { return v >= 0 ? v / 2 : -((-v + 1) / 2); }
  static int floorQuarter(int v) { return v >= 0 ? v / 4 : -((-v + 3) / 4); }
  int sat(int v) const { return std::min(std::max(v, 0), hi_); }
  int s(int X, int Y) const {
    int x = X - sx_, y = Y - sy_;
    const int w = int(m_.width), h = int(m_.height);
    if (x < 0) x = -x;
    if (x >= w) x = 2 * (w - 1) - x;
    if (y < 0) y = -y;
    if (y >= h) y = 2 * (h - 1) - y;
    return m_.at(x, y);
  }
  int gh(int X, int Y) const {
    return sat(floorQuarter(2 * (s(X - 1, Y) + s(X + 1, Y)) + 2 * s(X, Y) - s(X - 2, Y) - s(X + 2, Y)));
  }
  int gv(int X, int Y) const {
    return sat(floorQuarter(2 * (s(X, Y - 1) + s(X, Y + 1)) + 2 * s(X, Y) - s(X, Y - 2) - s(X, Y + 2)));
  }
  int dh(int X, int Y) const {
    return std::min(gmax_, std::abs((s(X, Y) - gh(X, Y)) - (s(X + 2, Y) - gh(X + 2, Y))));
  }
  int dv(int X, int Y) const {
    return std::min(gmax_, std::abs((s(X, Y) - gv(X, Y)) - (s(X, Y + 2) - gv(X, Y + 2))));
  }
  bool decide(int X, int Y) {
    const auto key = std::make_pair(X, Y);
    auto it = decisions_.find(key);
    if (it != decisions_.end()) return it->second;
    const int H = 3 * (dh(X - 2, Y) + dh(X, Y)) + dh(X - 2, Y - 2) + dh(X, Y - 2) + dh(X - 2, Y + 2) + dh(X, Y + 2) +
                  dh(X - 1, Y - 1) + dh(X - 1, Y + 1);
    const int V = 3 * (dv(X, Y - 2) + dv(X, Y)) + dv(X - 2, Y - 2) + dv(X - 2, Y) + dv(X + 2, Y - 2) + dv(X + 2, Y) +
                  dv(X - 1, Y - 1) + dv(X + 1, Y - 1);
    return decisions_[key] = H <= V;
  }
  int green(int X, int Y) { return decide(X, Y) ? gh(X, Y) : gv(X, Y); }
  Pixel greenSite(int X, int Y) {
    const int c = s(X, Y);
    const int row = sat(c + floorHalf((s(X - 1, Y) - green(X - 1, Y)) + (s(X + 1, Y) - green(X + 1, Y))));
    const int col = sat(c + floorHalf((s(X, Y - 1) - green(X, Y - 1)) + (s(X, Y + 1) - green(X, Y + 1))));
    const bool redRow = (Y % 2 + 2) % 2 == 0;
    return redRow ? Pixel{row, c, col} : Pixel{col, c, row};
  }

  const Mosaic& m_;
  int sx_, sy_, hi_, gmax_;
  std::map<std::pair<int, int>, bool> decisions_;
};

}  // namespace

TEST(Dfpd, MatchesTheMethodOnEveryPatternDepthAndSize) {
  struct Size {
    uint32_t w, h;
  };
  for (opixSurfaceFormat_t f : {OPIX_I8, OPIX_I12, OPIX_I16})
    for (const Size& sz : {Size{64, 64}, Size{67, 65}, Size{129, 66}, Size{65, 97}}) {
      DebayerRun run(OPIX_DFPD, sz.w, sz.h, f);
      ASSERT_EQ(run.status, OPIX_OK);
      for (opixBayerPattern_t p : kPatterns) {
        const Mosaic m = randomMosaic(sz.w, sz.h, f, sz.w * 5 + sz.h + p);
        ASSERT_EQ(run.run(m, p), OPIX_OK);
        ASSERT_TRUE(run.onlyPixelsWritten());
        Reference ref(m, p);
        for (uint32_t y = 0; y < sz.h; ++y)
          for (uint32_t x = 0; x < sz.w; ++x)
            ASSERT_EQ(run.pixel(x, y), ref.at(int(x), int(y)))
                << opixSurfaceFormatName(f) << " " << opixBayerPatternName(p) << " " << sz.w << "x" << sz.h << " at "
                << x << "," << y;
      }
    }
}

TEST(Dfpd, UniformFieldsAndSmallerCurrentSizes) {
  for (opixSurfaceFormat_t f : {OPIX_I8, OPIX_I12, OPIX_I16}) {
    DebayerRun run(OPIX_DFPD, 140, 80, f);
    const int v = f == OPIX_I8 ? 77 : f == OPIX_I12 ? 4000 : 60000;
    for (auto [w, h] : {std::pair{140u, 80u}, std::pair{67u, 65u}, std::pair{9u, 7u}, std::pair{140u, 80u}}) {
      const Mosaic m{w, h, f, std::vector<int>(size_t(w) * h, v)};
      ASSERT_EQ(run.run(m, OPIX_BAYER_GBRG), OPIX_OK);
      EXPECT_TRUE(run.onlyPixelsWritten());
      for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) ASSERT_EQ(run.pixel(x, y), (Pixel{v, v, v})) << x << "," << y;
    }
  }
}

TEST(Dfpd, EdgesPickTheirDirection) {
  // Columns of constant value changing from column to column: the row
  // estimate crosses the edges, so green comes from the column estimate and
  // stays exact on every column.
  Mosaic m{64, 64, OPIX_I8, std::vector<int>(64 * 64)};
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) m.samples[y * 64 + x] = (x / 3) % 2 ? 200 : 20;
  DebayerRun run(OPIX_DFPD, 64, 64, OPIX_I8);
  ASSERT_EQ(run.run(m, OPIX_BAYER_RGGB), OPIX_OK);
  for (int y = 8; y < 56; ++y)
    for (int x = 8; x < 56; ++x) ASSERT_EQ(run.pixel(x, y)[1], m.at(x, y)) << x << "," << y;
}

TEST(Dfpd, MemoryLayout) {
  DebayerRun eight(OPIX_DFPD, 100, 64, OPIX_I8);
  uint64_t bytes = 0;
  ASSERT_EQ(opixDebayerGetAllocatedGpuMemorySize(eight.handle(), &bytes), OPIX_OK);
  // Work image: 113 samples in a 128-byte pitch, 77 rows rounded to 96; RGB8 destination.
  EXPECT_EQ(bytes, 128u * 96 + 19200);
  DebayerRun sixteen(OPIX_DFPD, 100, 64, OPIX_I16);
  ASSERT_EQ(opixDebayerGetAllocatedGpuMemorySize(sixteen.handle(), &bytes), OPIX_OK);
  // Work 256 x 96; planes of 3 x 200 x 64 rounded to 128; then the four cell
  // planes of W2 = 169, H2 = 102: 2 x 256 x 51 and 2 x 128 x 51.
  EXPECT_EQ(bytes, 256u * 96 + 38400 + 2 * 256 * 51 + 2 * 128 * 51);
}
