// MG against a whole-image evaluation of its steps on the mirrored mosaic,
// on every pattern, bit depth and awkward size; uniform fields, the shifted
// patterns, the odd-width refusal, the 12-bit limit and the memory it adds.
#include <algorithm>
#include <cmath>
#include <limits>

#include "BayerTraits.h"
#include "DebayerSupport.h"
#include "MGMath.h"
#include "PixelMath.h"

using namespace opix;
using namespace opix::test;

namespace {

const opixBayerPattern_t kPatterns[] = {OPIX_BAYER_RGGB, OPIX_BAYER_BGGR, OPIX_BAYER_GBRG, OPIX_BAYER_GRBG};

int limitOf(opixSurfaceFormat_t f) { return f == OPIX_I8 ? 255 : f == OPIX_I12 ? 4095 : 65535; }

template <class T>
struct Grid {
  int x0, y0, w;
  std::vector<T> v;
  Grid(int left, int top, int right, int bottom)
      : x0(left), y0(top), w(right - left), v(size_t(right - left) * size_t(bottom - top)) {}
  T& at(int x, int y) { return v[size_t(y - y0) * w + size_t(x - x0)]; }
  T operator()(int x, int y) const { return v[size_t(y - y0) * w + size_t(x - x0)]; }
};

// Each step over the whole image and the margin the next step reads, every
// array filled before the next; the mosaic mirrored once about its edges
// (images of at least 13 x 13).
class Reference {
 public:
  Reference(const Mosaic& m, opixBayerPattern_t p) : w_(int(m.width)), h_(int(m.height)) {
    const int w = w_, h = h_, hi = limitOf(m.format);
    const MgConstants c = mgConstants(hi);
    auto reflect = [](int i, int n) { return i < 0 ? -i : i >= n ? 2 * (n - 1) - i : i; };
    auto s = [&](int x, int y) { return m.at(reflect(x, w), reflect(y, h)); };
    auto site = [&](int x, int y) { return !mgIsGreen(p, x, y); };
    Grid<int> V(-4, -4, w + 4, h + 4), H(-4, -4, w + 4, h + 4);
    for (int y = -4; y < h + 4; ++y)
      for (int x = -4; x < w + 4; ++x) {
        V.at(x, y) = mgGradientV(s, x, y);
        H.at(x, y) = mgGradientH(s, x, y);
      }
    Grid<float> D(-2, -2, w + 2, h + 2);
    Grid<MgWeights> W(0, 0, w, h);
    for (int y = -2; y < h + 2; ++y)
      for (int x = -2; x < w + 2; ++x) {
        const MgWeights wt = mgTwoDirWeights(mgTwoDirSums(V, H, x, y), c);
        if (site(x, y))
          D.at(x, y) = mgSiteDifference(mgSmoothedV(s, x, y), mgSmoothedH(s, x, y), wt);
        else if (x >= 0 && y >= 0 && x < w && y < h)
          W.at(x, y) = wt;
      }
    Grid<float> G(-4, -4, w + 4, h + 4), S(-4, -4, w + 4, h + 4), opp(-1, -1, w + 1, h + 1);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) G.at(x, y) = site(x, y) ? mgSiteGreen(s(x, y), D, V, H, x, y, c) : float(s(x, y));
    for (int y = -4; y < h + 4; ++y)
      for (int x = -4; x < w + 4; ++x) {
        G.at(x, y) = G(reflect(x, w), reflect(y, h));
        S.at(x, y) = float(s(x, y));
      }
    for (int y = -1; y < h + 1; ++y)
      for (int x = -1; x < w + 1; ++x) {
        const int rx = reflect(x, w), ry = reflect(y, h);
        if (site(rx, ry)) opp.at(x, y) = mgOppositeAt(G, S, rx, ry);
      }
    pixels_.resize(size_t(w) * h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const Rgb px = mgPixel(
            p, G, S, opp, [&] { return W(x, y); }, x, y, h, hi);
        pixels_[size_t(y) * w + x] = {px.r, px.g, px.b};
      }
  }
  const Pixel& pixel(int x, int y) const { return pixels_[size_t(y) * w_ + x]; }

 private:
  int w_, h_;
  std::vector<Pixel> pixels_;
};

void expectReference(const DebayerRun& run, const Mosaic& m, opixBayerPattern_t p) {
  const Reference ref(m, p);
  for (uint32_t y = 0; y < m.height; ++y)
    for (uint32_t x = 0; x < m.width; ++x)
      ASSERT_EQ(run.pixel(x, y), ref.pixel(int(x), int(y))) << opixBayerPatternName(p) << " pixel " << x << "," << y;
}

std::string label(opixSurfaceFormat_t f, uint32_t w, uint32_t h) {
  return std::string(opixSurfaceFormatName(f)) + " " + std::to_string(w) + "x" + std::to_string(h);
}

}  // namespace

// One component per depth, current sizes below its maximum and back: tile
// and grid edges of both passes, the minimum, and tiny images (no reference:
// they mirror more than once).
TEST(Mg, MatchesItsStepsOnEveryPatternDepthAndSize) {
  const std::pair<uint32_t, uint32_t> sizes[] = {{64, 64}, {66, 65},  {194, 70}, {16, 13},
                                                 {58, 27}, {130, 33}, {2, 1},    {4, 3}};
  for (opixSurfaceFormat_t f : {OPIX_I8, OPIX_I12, OPIX_I16}) {
    DebayerRun run(OPIX_MG, 194, 70, f);
    ASSERT_EQ(run.status, OPIX_OK);
    EXPECT_EQ(run.destination->surfaceFormat, f == OPIX_I8    ? OPIX_RGB8
                                              : f == OPIX_I12 ? OPIX_RGB12_PLANAR
                                                              : OPIX_RGB16_PLANAR);
    for (const auto& [w, h] : sizes)
      for (opixBayerPattern_t p : kPatterns) {
        SCOPED_TRACE(label(f, w, h));
        const Mosaic m = randomMosaic(w, h, f, w * 7 + h + p);
        ASSERT_EQ(run.run(m, p), OPIX_OK);
        EXPECT_EQ(run.destination->width, w);
        EXPECT_EQ(run.destination->height, h);
        if (w >= 13 && h >= 13) expectReference(run, m, p);
        ASSERT_TRUE(run.onlyPixelsWritten());
      }
  }
}

TEST(Mg, UniformFieldsStayUniform) {
  for (opixSurfaceFormat_t f : {OPIX_I8, OPIX_I12, OPIX_I16})
    for (int v : {0, 1, limitOf(f) / 3, limitOf(f)}) {
      DebayerRun run(OPIX_MG, 70, 66, f);
      for (auto [w, h] : {std::pair{70u, 66u}, std::pair{6u, 3u}}) {
        const Mosaic m{w, h, f, std::vector<int>(size_t(w) * h, v)};
        for (opixBayerPattern_t p : kPatterns) {
          ASSERT_EQ(run.run(m, p), OPIX_OK);
          for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x) ASSERT_EQ(run.pixel(x, y), (Pixel{v, v, v})) << x << "," << y;
        }
      }
    }
}

// A BGGR mosaic is the RGGB mosaic read from (1, 1), GBRG from (0, 1), GRBG
// from (1, 0): away from the border every pixel is the same.
TEST(Mg, EveryPatternEqualsTheShiftedRggbResult) {
  constexpr int kW = 132, kH = 90, kMargin = 16;
  for (opixSurfaceFormat_t f : {OPIX_I8, OPIX_I16}) {
    const Mosaic big = randomMosaic(kW, kH, f, 77);
    DebayerRun rggb(OPIX_MG, kW, kH, f), other(OPIX_MG, kW, kH, f);
    ASSERT_EQ(rggb.run(big, OPIX_BAYER_RGGB), OPIX_OK);
    for (opixBayerPattern_t p : {OPIX_BAYER_BGGR, OPIX_BAYER_GBRG, OPIX_BAYER_GRBG}) {
      const PatternShift sh = bayerShift(p);
      const uint32_t w = kW - 2, h = kH - 2;
      Mosaic m{w, h, f, std::vector<int>(size_t(w) * h)};
      for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) m.samples[y * w + x] = big.at(int(x) + sh.sx, int(y) + sh.sy);
      ASSERT_EQ(other.run(m, p), OPIX_OK);
      for (uint32_t y = kMargin; y + kMargin < h; ++y)
        for (uint32_t x = kMargin; x + kMargin < w; ++x)
          ASSERT_EQ(other.pixel(x, y), rggb.pixel(x + sh.sx, y + sh.sy))
              << opixBayerPatternName(p) << " " << x << "," << y;
    }
  }
}

TEST(Mg, OddWidthIsRefusedAndTheComponentStaysUsable) {
  TraceCapture capture;
  DebayerRun run(OPIX_MG, 101, 64, OPIX_I12);
  ASSERT_EQ(run.status, OPIX_OK);
  const Mosaic odd = randomMosaic(101, 64, OPIX_I12, 3);
  for (opixBayerPattern_t p : kPatterns) {
    EXPECT_EQ(run.run(odd, p), OPIX_INVALID_SIZE);
    EXPECT_TRUE(run.onlyPixelsWritten());
  }
  const Mosaic even = randomMosaic(100, 64, OPIX_I12, 4);
  ASSERT_EQ(run.run(even, OPIX_BAYER_GBRG), OPIX_OK);
  expectReference(run, even, OPIX_BAYER_GBRG);
  const std::string t = capture.finish();
  EXPECT_NE(t.find("Unsupported odd image width\n"), std::string::npos) << t;
}

// A frame with an empty side gives the passes nothing to lay their cells
// out on: it is refused, and the component stays usable.
TEST(Mg, EmptyFrameIsRefused) {
  TraceCapture capture;
  DebayerRun run(OPIX_MG, 64, 64, OPIX_I16);
  ASSERT_EQ(run.status, OPIX_OK);
  for (auto [w, h] : {std::pair{0u, 64u}, std::pair{64u, 0u}, std::pair{0u, 0u}}) {
    EXPECT_EQ(run.run(randomMosaic(w, h, OPIX_I16, 5), OPIX_BAYER_RGGB), OPIX_INVALID_SIZE) << w << "x" << h;
    EXPECT_TRUE(run.onlyPixelsWritten());
  }
  const Mosaic m = randomMosaic(64, 64, OPIX_I16, 6);
  ASSERT_EQ(run.run(m, OPIX_BAYER_RGGB), OPIX_OK);
  expectReference(run, m, OPIX_BAYER_RGGB);
  const std::string t = capture.finish();
  EXPECT_NE(t.find("Unsupported empty image\n"), std::string::npos) << t;
}

// Sharp edges between the largest value and 0 overshoot in every estimate.
TEST(Mg, EstimatesStayWithinTheBitDepth) {
  for (opixSurfaceFormat_t f : {OPIX_I12, OPIX_I16, OPIX_I8}) {
    const int hi = limitOf(f);
    Mosaic m{96, 64, f, std::vector<int>(96 * 64)};
    for (int y = 0; y < 64; ++y)
      for (int x = 0; x < 96; ++x) m.samples[size_t(y) * 96 + x] = ((x / 3 + y / 5) % 2) ? hi : 0;
    DebayerRun run(OPIX_MG, 96, 64, f);
    ASSERT_EQ(run.run(m, OPIX_BAYER_GRBG), OPIX_OK);
    int top = 0, bottom = hi;
    for (uint32_t y = 0; y < 64; ++y)
      for (uint32_t x = 0; x < 96; ++x)
        for (int v : run.pixel(x, y)) {
          top = std::max(top, v);
          bottom = std::min(bottom, v);
        }
    EXPECT_EQ(top, hi) << opixSurfaceFormatName(f);
    EXPECT_EQ(bottom, 0) << opixSurfaceFormatName(f);
  }
}

TEST(Mg, TheNamesOfEarlierVersionsAndTheMemoryItAdds) {
  for (opixDebayerType_t t : {OPIX_MG, OPIX_MG2, OPIX_MG_V2}) {
    DebayerRun run(t, 100, 64, OPIX_I16);
    ASSERT_EQ(run.status, OPIX_OK);
    uint64_t bytes = 0;
    ASSERT_EQ(opixDebayerGetAllocatedGpuMemorySize(run.handle(), &bytes), OPIX_OK);
    // Work image 125 samples in a 256-byte pitch, 89 rows rounded to 96; the
    // planes of 200 x 64 bytes, 38400 in all; pass-1 slots 2 x 3, so six
    // float buffers (weights at both greens, the green at both sites) of
    // 16 x 32 x 6 entries.
    EXPECT_EQ(bytes, 256u * 96 + 38400 + 6 * 4 * 3072);
  }
}

// The host rows round through selects: the same integer as the shared
// rounding for every float, at the edges of each depth, beyond them, at the
// halves and for the special values.
TEST(Mg, RowRoundingEqualsTheSharedRounding) {
  const float specials[] = {0.0f,
                            -0.0f,
                            0.5f,
                            -0.5f,
                            -0.50001f,
                            1e30f,
                            -1e30f,
                            std::numeric_limits<float>::infinity(),
                            -std::numeric_limits<float>::infinity(),
                            std::numeric_limits<float>::quiet_NaN(),
                            std::numeric_limits<float>::denorm_min()};
  for (int hi : {255, 4095, 65535}) {
    for (float v : specials) EXPECT_EQ(roundHalfUpClampSelect(v, hi), roundHalfUpClamp(v, hi)) << v << " " << hi;
    for (int k = -8; k <= 2 * (hi + 8); ++k) {
      const float v = 0.5f * float(k);
      for (float x : {v, std::nextafter(v, -1e9f), std::nextafter(v, 1e9f)})
        ASSERT_EQ(roundHalfUpClampSelect(x, hi), roundHalfUpClamp(x, hi)) << x << " " << hi;
    }
  }
}
