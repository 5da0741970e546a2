// The three-dimensional look-up tables (RGB and HSV) against an independent
// reference: trilinear interpolation of the grid with the texture unit's
// weights, kept to 1/256, computed in double precision.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>

#include "FilterSupport.h"
#include "TextureRead.h"
#include "lut3D/Lut3DMath.h"

using namespace opix;
using namespace opix::test;

namespace {

// A grid of three tables, element (i, j, k) at (k h + j) w + i.
struct Grid3 {
  uint32_t w, h, d;
  std::array<std::vector<float>, 3> t;
  Grid3(uint32_t w_, uint32_t h_, uint32_t d_,
        const std::function<std::array<float, 3>(uint32_t, uint32_t, uint32_t)>& f)
      : w(w_), h(h_), d(d_) {
    for (auto& v : t) v.resize(size_t(w) * h * d);
    for (uint32_t k = 0; k < d; ++k)
      for (uint32_t j = 0; j < h; ++j)
        for (uint32_t i = 0; i < w; ++i) {
          const auto v = f(i, j, k);
          for (int c = 0; c < 3; ++c) t[c][(size_t(k) * h + j) * w + i] = v[c];
        }
  }
  opixRGBLut_3D_t rgb() const { return {t[0].data(), t[1].data(), t[2].data(), w}; }
  opixHsvLut3D_t hsv(opixColorSaturationOperationType_t h0 = OPIX_OP_ADD,
                     opixColorSaturationOperationType_t s0 = OPIX_OP_MULTIPLY) const {
    return {w, h, d, h0, s0, OPIX_OP_MULTIPLY, t[0].data(), t[1].data(), t[2].data()};
  }
};

// One axis: position p in grid units (0 at the first node); the two nodes
// around it and the weight of the upper one rounded to a multiple of 1/256.
struct Axis {
  uint32_t lo, hi;
  double a;
};
// Set when a weight lay so close to a rounding boundary that single
// precision coordinates may round it the other way; positions computed
// exactly in single precision (`exact`) round ties the same way.
bool g_nearBoundary = false;
Axis axis(double p, uint32_t n, bool exact = true) {
  p = std::clamp(p, 0.0, double(n - 1));
  const auto lo = uint32_t(std::floor(p));
  const double steps = (p - lo) * 256.0;
  const double off = std::fabs(steps - std::floor(steps) - 0.5);
  if (off < 1e-3 && (off > 0 || !exact)) g_nearBoundary = true;
  return {lo, std::min(lo + 1, n - 1), std::floor(steps + 0.5) / 256.0};
}

// Table c of g at grid position (p, q, r), interpolated trilinearly.
double trilinear(const Grid3& g, int c, double p, double q, double r, bool exactXY = true) {
  const Axis x = axis(p, g.w, exactXY), y = axis(q, g.h, exactXY), z = axis(r, g.d);
  double sum = 0;
  for (int dz = 0; dz < 2; ++dz)
    for (int dy = 0; dy < 2; ++dy)
      for (int dx = 0; dx < 2; ++dx) {
        const double wgt = (dx ? x.a : 1 - x.a) * (dy ? y.a : 1 - y.a) * (dz ? z.a : 1 - z.a);
        const uint32_t i = dx ? x.hi : x.lo, j = dy ? y.hi : y.lo, k = dz ? z.hi : z.lo;
        sum += wgt * g.t[c][(size_t(k) * g.h + j) * g.w + i];
      }
  return sum;
}

uint32_t toSample(double v, uint32_t hi) { return uint32_t(std::clamp(std::floor(v + 0.5), 0.0, double(hi))); }

// RGB table: the samples, as fractions of 4096 or 65536, across the grid.
constexpr uint32_t kSkip = ~0u;

std::array<uint32_t, 3> rgbReference(const Grid3& g, int bits, std::array<uint32_t, 3> p) {
  const double unit = bits == 12 ? 4096 : 65536;
  const uint32_t hi = uint32_t(unit) - 1;
  std::array<uint32_t, 3> out{};
  for (int c = 0; c < 3; ++c)
    out[c] = toSample(trilinear(g, c, p[0] / unit * (g.w - 1), p[1] / unit * (g.h - 1), p[2] / unit * (g.d - 1)), hi);
  return out;
}

// HSV table: hue in degrees, saturation and value; hue offset added, factors
// applied, back to RGB. Pixels whose weights lie on a rounding boundary are
// skipped (kSkip).
std::array<uint32_t, 3> hsvReference(const Grid3& g, int bits, std::array<uint32_t, 3> p) {
  g_nearBoundary = false;
  const double unit = bits == 12 ? 4096 : 65536;
  const double r = p[0] / unit, gr = p[1] / unit, b = p[2] / unit;
  const double mx = std::max({r, gr, b}), mn = std::min({r, gr, b});
  double hue = 0;
  if (mx > mn) {
    if (mx == r)
      hue = 60 * std::fmod((gr - b) / (mx - mn) + 6, 6.0);
    else if (mx == gr)
      hue = 60 * ((b - r) / (mx - mn) + 2);
    else
      hue = 60 * ((r - gr) / (mx - mn) + 4);
  }
  const double sat = mx > 0 ? (mx - mn) / mx : 0, val = mx;
  const double gx = hue / 360 * (g.w - 1), gy = sat * (g.h - 1), gz = val * (g.d - 1);
  // Hue and saturation are rounded in single precision, the value is exact.
  double h2 = std::fmod(hue + trilinear(g, 0, gx, gy, gz, false) + 720, 360.0);
  const double s2 = std::clamp(sat * trilinear(g, 1, gx, gy, gz, false), 0.0, 1.0);
  const double v2 = std::clamp(val * trilinear(g, 2, gx, gy, gz, false), 0.0, 1.0);
  // v - v s max(0, min(k, 4 - k, 1)), k = (n + h / 60) mod 6
  auto channel = [&](double n) {
    const double k = std::fmod(n + h2 / 60, 6.0);
    return v2 - v2 * s2 * std::max(0.0, std::min({k, 4 - k, 1.0}));
  };
  const uint32_t hi = uint32_t(unit) - 1;
  if (g_nearBoundary) return {kSkip, kSkip, kSkip};
  return {toSample(channel(5) * unit, hi), toSample(channel(3) * unit, hi), toSample(channel(1) * unit, hi)};
}

using Reference = std::function<std::array<uint32_t, 3>(std::array<uint32_t, 3>)>;

// Every pixel of `out` within `tol` of the reference of the same pixel of
// `in`; returns the largest difference.
uint32_t compare(const Image& in, const Image& out, const Reference& ref, uint32_t tol) {
  uint32_t worst = 0, failures = 0, skipped = 0;
  for (uint32_t y = 0; y < in.height; ++y)
    for (uint32_t x = 0; x < in.width; ++x) {
      const auto want = ref({in.at(x, y, 0), in.at(x, y, 1), in.at(x, y, 2)});
      if (want[0] == kSkip) {
        ++skipped;
        continue;
      }
      for (uint32_t c = 0; c < 3; ++c) {
        const uint32_t got = out.at(x, y, c), diff = got > want[c] ? got - want[c] : want[c] - got;
        worst = std::max(worst, diff);
        if (diff > tol && ++failures <= 5)
          ADD_FAILURE() << "pixel (" << x << ", " << y << ") = (" << in.at(x, y, 0) << ", " << in.at(x, y, 1) << ", "
                        << in.at(x, y, 2) << ") channel " << c << ": " << got << ", expected " << want[c];
      }
    }
  EXPECT_LE(skipped, in.width * in.height / 100 + 1);
  return worst;
}

// An image with the format's extremes and random pixels.
Image testImage(uint32_t w, uint32_t h, opixSurfaceFormat_t f, uint32_t seed) {
  Image in = randomImage(w, h, f, seed);
  const uint32_t hi = formatMax(f);
  const uint32_t corners[][3] = {{0, 0, 0},  {hi, hi, hi}, {hi, 0, 0},    {0, hi, 0},
                                 {0, 0, hi}, {hi, hi, 0},  {1, hi - 1, 2}};
  for (uint32_t i = 0; i < std::size(corners) && i < w; ++i)
    for (uint32_t c = 0; c < 3; ++c) in.at(i, 0, c) = corners[i][c];
  return in;
}

int bitsOf(opixSurfaceFormat_t f) { return int(opixFormatBits(f)); }

}  // namespace

// ----------------------------------------------------------------- RGB tables

TEST(Lut3D, RgbIdentityGridsSpanTheWholeSampleRange) {
  // Nodes 64 samples apart on 12-bit sources: every fraction is a multiple of
  // 1/64, kept exactly by the 1/256 weights, so the identity is exact.
  const Grid3 id12(65, 65, 65, [](uint32_t i, uint32_t j, uint32_t k) {
    return std::array<float, 3>{64.0f * i, 64.0f * j, 64.0f * k};
  });
  const opixRGBLut_3D_t r12 = id12.rgb();
  FilterRun run12(OPIX_RGB_LUT_3D, &r12, 129, 7, OPIX_RGB12_PLANAR);
  ASSERT_EQ(run12.status, OPIX_OK);
  const Image in12 = testImage(129, 7, OPIX_RGB12_PLANAR, 3);
  ASSERT_EQ(run12.run(in12), OPIX_OK);
  EXPECT_EQ(run12.out.v, in12.v);
  EXPECT_TRUE(run12.onlyPixelsWritten());

  // Nodes 1024 apart on 16-bit sources: the weights round the fraction to
  // 1/256 of a cell, 4 samples.
  const Grid3 id16(65, 65, 65, [](uint32_t i, uint32_t j, uint32_t k) {
    return std::array<float, 3>{1024.0f * i, 1024.0f * j, 1024.0f * k};
  });
  const opixRGBLut_3D_t r16 = id16.rgb();
  FilterRun run16(OPIX_RGB_LUT_3D, &r16, 67, 5, OPIX_RGB16_PLANAR);
  const Image in16 = testImage(67, 5, OPIX_RGB16_PLANAR, 4);
  ASSERT_EQ(run16.run(in16), OPIX_OK);
  for (size_t i = 0; i < in16.v.size(); ++i)
    ASSERT_EQ(run16.out.v[i], std::min(65535u, 4 * ((in16.v[i] + 2) / 4))) << "sample " << in16.v[i];

  // The two-node grid of corner values: within half a 1/256 step.
  const Grid3 corners(2, 2, 2, [](uint32_t i, uint32_t j, uint32_t k) {
    return std::array<float, 3>{65535.0f * i, 65535.0f * j, 65535.0f * k};
  });
  const opixRGBLut_3D_t r2 = corners.rgb();
  FilterRun run2(OPIX_RGB_LUT_3D, &r2, 67, 5, OPIX_RGB16_PLANAR);
  ASSERT_EQ(run2.run(in16), OPIX_OK);
  EXPECT_GT(compare(
                in16, run2.out, [](std::array<uint32_t, 3> p) { return p; }, 128),
            64u);
  EXPECT_EQ(compare(
                in16, run2.out, [&](auto p) { return rgbReference(corners, 16, p); }, 1),
            0u);
}

TEST(Lut3D, RgbRandomGridsEveryDepthAndSize) {
  for (opixSurfaceFormat_t f : {OPIX_RGB12_PLANAR, OPIX_RGB16_PLANAR})
    for (uint32_t n : {2u, 3u, 17u, 33u}) {
      SCOPED_TRACE(std::string(opixSurfaceFormatName(f)) + " grid " + std::to_string(n));
      std::mt19937 rng(n);
      // Values beyond the output range on purpose: results clamp.
      const Grid3 g(n, n, n, [&](uint32_t, uint32_t, uint32_t) {
        return std::array<float, 3>{float(rng() % 70000) - 2000.0f, float(rng() % 66000),
                                    float(rng() % 1000000) / 10.0f};
      });
      const opixRGBLut_3D_t r = g.rgb();
      FilterRun run(OPIX_RGB_LUT_3D, &r, 131, 37, f);
      ASSERT_EQ(run.status, OPIX_OK);
      const Image in = testImage(131, 37, f, n);
      ASSERT_EQ(run.run(in), OPIX_OK);
      compare(
          in, run.out, [&](auto p) { return rgbReference(g, bitsOf(f), p); }, 1);
      EXPECT_TRUE(run.onlyPixelsWritten());
    }
}

TEST(Lut3D, TwelveBitSourcesIgnoreTheHighBits) {
  const Grid3 g(5, 5, 5, [](uint32_t i, uint32_t j, uint32_t k) {
    return std::array<float, 3>{100.0f * i + j, 200.0f * j + k, 300.0f * k + i};
  });
  const opixRGBLut_3D_t r = g.rgb();
  FilterRun run(OPIX_RGB_LUT_3D, &r, 4, 1, OPIX_RGB12_PLANAR);
  const Image clean{4, 1, OPIX_RGB12_PLANAR, {1, 2, 3, 4095, 2048, 0, 100, 3000, 4000, 7, 8, 9}};
  Image dirty = clean;
  for (auto& v : dirty.v) v |= 0xF000;
  ASSERT_EQ(run.run(clean), OPIX_OK);
  const Image want = run.out;
  ASSERT_EQ(run.run(dirty), OPIX_OK);
  EXPECT_EQ(run.out.v, want.v);
  compare(
      clean, want, [&](auto p) { return rgbReference(g, 12, p); }, 1);
}

// ----------------------------------------------------------------- HSV tables

TEST(Lut3D, HsvNeutralHueTurnAndFactors) {
  const Grid3 neutral(9, 9, 9, [](uint32_t, uint32_t, uint32_t) { return std::array<float, 3>{0, 1, 1}; });
  for (opixSurfaceFormat_t f : {OPIX_RGB12_PLANAR, OPIX_RGB16_PLANAR}) {
    const opixHsvLut3D_t h = neutral.hsv();
    FilterRun run(OPIX_HSV_LUT_3D, &h, 97, 11, f);
    ASSERT_EQ(run.status, OPIX_OK);
    const Image in = testImage(97, 11, f, 8);
    ASSERT_EQ(run.run(in), OPIX_OK);
    compare(
        in, run.out, [](std::array<uint32_t, 3> p) { return p; }, 1);
  }
  // A third of a turn: red becomes green, green blue, blue red.
  const Grid3 turn(5, 5, 5, [](uint32_t, uint32_t, uint32_t) { return std::array<float, 3>{120, 1, 1}; });
  const opixHsvLut3D_t t = turn.hsv();
  FilterRun run(OPIX_HSV_LUT_3D, &t, 3, 1, OPIX_RGB16_PLANAR);
  ASSERT_EQ(run.run(Image{3, 1, OPIX_RGB16_PLANAR, {60000, 0, 0, 40000, 10000, 20000, 5, 5, 5}}), OPIX_OK);
  const std::vector<uint32_t> want = {0, 60000, 0, 20000, 40000, 10000, 5, 5, 5};
  for (size_t i = 0; i < want.size(); ++i) EXPECT_NEAR(double(run.out.v[i]), double(want[i]), 1.0) << i;
  // No saturation and half the value: grey at half the largest channel.
  const Grid3 grey(2, 2, 2, [](uint32_t, uint32_t, uint32_t) { return std::array<float, 3>{0, 0, 0.5f}; });
  const opixHsvLut3D_t gr = grey.hsv();
  FilterRun half(OPIX_HSV_LUT_3D, &gr, 1, 1, OPIX_RGB12_PLANAR);
  ASSERT_EQ(half.run(Image{1, 1, OPIX_RGB12_PLANAR, {1000, 3000, 2000}}), OPIX_OK);
  EXPECT_EQ(half.out.v, (std::vector<uint32_t>{1500, 1500, 1500}));
}

TEST(Lut3D, HsvGridsOfUnequalSizesFollowHueSaturationAndValue) {
  // Every table varies along its own axis and one other, on a grid of three
  // different sizes; dimV 1 makes the tables independent of the value.
  for (const auto& dims : {std::array<uint32_t, 3>{7, 3, 5}, {13, 4, 1}, {2, 9, 3}, {5, 5, 5}})
    for (opixSurfaceFormat_t f : {OPIX_RGB12_PLANAR, OPIX_RGB16_PLANAR}) {
      SCOPED_TRACE(std::to_string(dims[0]) + "x" + std::to_string(dims[1]) + "x" + std::to_string(dims[2]) + " " +
                   opixSurfaceFormatName(f));
      const Grid3 g(dims[0], dims[1], dims[2], [&](uint32_t i, uint32_t j, uint32_t k) {
        return std::array<float, 3>{40.0f * float(i) / float(dims[0]) - 7.0f * k, 0.6f + 0.1f * i + 0.3f * j,
                                    1.3f - 0.2f * k + 0.05f * j};
      });
      const opixHsvLut3D_t h = g.hsv();
      FilterRun run(OPIX_HSV_LUT_3D, &h, 101, 23, f);
      ASSERT_EQ(run.status, OPIX_OK);
      const Image in = testImage(101, 23, f, dims[0] * dims[1]);
      ASSERT_EQ(run.run(in), OPIX_OK);
      compare(
          in, run.out, [&](auto p) { return hsvReference(g, bitsOf(f), p); }, 2);
    }
}

// ------------------------------------------------- lifecycle and bad records

TEST(Lut3D, SourcesSizesAndRecordsRefused) {
  const Grid3 g(4, 4, 4, [](uint32_t i, uint32_t j, uint32_t k) {
    return std::array<float, 3>{1000.0f * i, 1000.0f * j, 1000.0f * k};
  });
  const opixRGBLut_3D_t r = g.rgb();
  for (opixSurfaceFormat_t f : {OPIX_I8, OPIX_I12, OPIX_I16, OPIX_RGB8}) {
    EXPECT_EQ(FilterRun(OPIX_RGB_LUT_3D, &r, 8, 8, f).status, OPIX_UNSUPPORTED_SURFACE);
    const opixHsvLut3D_t h = g.hsv();
    EXPECT_EQ(FilterRun(OPIX_HSV_LUT_3D, &h, 8, 8, f).status, OPIX_UNSUPPORTED_SURFACE);
  }
  {
    TraceCapture trace;
    EXPECT_EQ(FilterRun(OPIX_RGB_LUT_3D, nullptr, 8, 8, OPIX_RGB16_PLANAR).status, OPIX_INVALID_VALUE);
    EXPECT_NE(trace.finish().find("\nStatic Parameters have not to be NULL\n"), std::string::npos);
  }
  for (uint32_t n : {0u, 2049u, 0x80000000u}) {
    const opixRGBLut_3D_t bad{r.lutR, r.lutG, r.lutB, n};
    EXPECT_EQ(FilterRun(OPIX_RGB_LUT_3D, &bad, 8, 8, OPIX_RGB16_PLANAR).status, OPIX_INVALID_SIZE) << n;
    for (int axis = 0; axis < 3; ++axis) {
      opixHsvLut3D_t h = g.hsv();
      (axis == 0 ? h.dimH : axis == 1 ? h.dimS : h.dimV) = n;
      EXPECT_EQ(FilterRun(OPIX_HSV_LUT_3D, &h, 8, 8, OPIX_RGB12_PLANAR).status, OPIX_INVALID_SIZE) << n;
    }
  }
  // A grid one node wide or high is made but cannot be sampled.
  const Image in = testImage(8, 8, OPIX_RGB12_PLANAR, 1);
  for (int axis = 0; axis < 2; ++axis) {
    opixHsvLut3D_t h = g.hsv();
    (axis == 0 ? h.dimH : h.dimS) = 1;
    FilterRun thin(OPIX_HSV_LUT_3D, &h, 8, 8, OPIX_RGB12_PLANAR);
    ASSERT_EQ(thin.status, OPIX_OK);
    TraceCapture trace;
    EXPECT_EQ(thin.run(in), OPIX_INVALID_VALUE);
    EXPECT_NE(trace.finish().find("\nInvalide LUT size\n"), std::string::npos);
  }
  const opixRGBLut_3D_t one{r.lutR, r.lutG, r.lutB, 1};
  FilterRun single(OPIX_RGB_LUT_3D, &one, 8, 8, OPIX_RGB12_PLANAR);
  ASSERT_EQ(single.status, OPIX_OK);
  EXPECT_EQ(single.run(in), OPIX_INVALID_VALUE);
  // HSV tables only add to the hue and multiply saturation and value.
  const opixHsvLut3D_t replace = g.hsv(OPIX_OP_REPLACE, OPIX_OP_REPLACE);
  FilterRun wrongOps(OPIX_HSV_LUT_3D, &replace, 8, 8, OPIX_RGB12_PLANAR);
  ASSERT_EQ(wrongOps.status, OPIX_OK);
  {
    TraceCapture trace;
    EXPECT_EQ(wrongOps.run(in), OPIX_INVALID_VALUE);
    EXPECT_NE(trace.finish().find("\nUnsupported operation type\n"), std::string::npos);
  }
  const opixHsvLut3D_t good = g.hsv();
  EXPECT_EQ(wrongOps.run(in, &good), OPIX_OK);
}

TEST(Lut3D, TablesComeLaterOrSmallerAtTransform) {
  const Grid3 big(9, 9, 9, [](uint32_t i, uint32_t j, uint32_t k) {
    return std::array<float, 3>{512.0f * i, 512.0f * j, 4095.0f - 512.0f * k};
  });
  const Grid3 small(3, 3, 3, [](uint32_t i, uint32_t j, uint32_t k) {
    return std::array<float, 3>{100.0f + 1000.0f * j, 4000.0f - 1500.0f * i, 700.0f * k * k};
  });
  // No tables yet: the source passes unchanged.
  const opixRGBLut_3D_t empty{nullptr, nullptr, nullptr, 9};
  FilterRun run(OPIX_RGB_LUT_3D, &empty, 67, 9, OPIX_RGB12_PLANAR);
  ASSERT_EQ(run.status, OPIX_OK);
  const Image in = testImage(67, 9, OPIX_RGB12_PLANAR, 5);
  ASSERT_EQ(run.run(in), OPIX_OK);
  EXPECT_EQ(run.out.v, in.v);
  EXPECT_TRUE(run.onlyPixelsWritten());
  {
    TraceCapture trace;
    const opixRGBLut_3D_t b = big.rgb();
    ASSERT_EQ(run.run(in, &b), OPIX_OK);
    const std::string text = trace.finish();
    EXPECT_NE(text.find("\n\tLut3D reinit\n"), std::string::npos);
    EXPECT_NE(text.find("\n\tLut3D reinit: SUCCESS\n"), std::string::npos);
    compare(
        in, run.out, [&](auto p) { return rgbReference(big, 12, p); }, 1);
  }
  // A smaller grid is read as a grid of its own size, its faces clamped.
  const opixRGBLut_3D_t s = small.rgb();
  ASSERT_EQ(run.run(in, &s), OPIX_OK);
  compare(
      in, run.out, [&](auto p) { return rgbReference(small, 12, p); }, 1);
  // Kept for the next frames; a record without tables changes nothing.
  ASSERT_EQ(run.run(in, &empty), OPIX_OK);
  compare(
      in, run.out, [&](auto p) { return rgbReference(small, 12, p); }, 1);
  // Larger than the arrays of Create: refused, the tables in force kept.
  const Grid3 huge(10, 10, 10, [](uint32_t, uint32_t, uint32_t) { return std::array<float, 3>{0, 0, 0}; });
  const opixRGBLut_3D_t hg = huge.rgb();
  {
    TraceCapture trace;
    EXPECT_EQ(run.run(in, &hg), OPIX_INVALID_SIZE);
    EXPECT_NE(trace.finish().find("\nNew LUT size is greater than allocated memory\n"), std::string::npos);
  }
  ASSERT_EQ(run.run(in), OPIX_OK);
  compare(
      in, run.out, [&](auto p) { return rgbReference(small, 12, p); }, 1);
  // HSV: no axis may grow, even where the node count would fit.
  const Grid3 hsv(6, 4, 2, [](uint32_t, uint32_t, uint32_t) { return std::array<float, 3>{0, 1, 1}; });
  const opixHsvLut3D_t h = hsv.hsv();
  FilterRun hrun(OPIX_HSV_LUT_3D, &h, 8, 8, OPIX_RGB16_PLANAR);
  const Grid3 taller(3, 8, 2, [](uint32_t, uint32_t, uint32_t) { return std::array<float, 3>{0, 1, 1}; });
  const opixHsvLut3D_t ht = taller.hsv();
  EXPECT_EQ(hrun.run(testImage(8, 8, OPIX_RGB16_PLANAR, 2), &ht), OPIX_INVALID_SIZE);
}

// A new grid every frame, some smaller than the arrays: each frame gives the
// bytes a filter created with its grid gives, and Transform makes nothing on
// the host backend.
TEST(Lut3D, ANewGridEveryFrame) {
  std::vector<Grid3> grids;
  for (uint32_t n : {9u, 5u, 9u, 2u, 7u})
    grids.emplace_back(n, n, n, [n](uint32_t i, uint32_t j, uint32_t k) {
      const float step = 4095.0f / float(n - 1);
      return std::array<float, 3>{step * float(j), 4095.0f - step * float(i), step * float((i + k) % n)};
    });
  const opixRGBLut_3D_t first = grids[0].rgb();
  FilterRun run(OPIX_RGB_LUT_3D, &first, 33, 7, OPIX_RGB12_PLANAR);
  ASSERT_EQ(run.status, OPIX_OK);
  std::vector<Image> inputs;
  std::vector<std::vector<uint8_t>> bytes;
  const uint64_t made = device::hostAllocations();
  for (size_t frame = 0; frame < grids.size(); ++frame) {
    inputs.push_back(testImage(33, 7, OPIX_RGB12_PLANAR, uint32_t(40 + frame)));
    const opixRGBLut_3D_t g = grids[frame].rgb();
    ASSERT_EQ(run.run(inputs.back(), &g), OPIX_OK);
    bytes.push_back(run.raw);
  }
  if (g_backend != Backend::Cuda) {
    EXPECT_EQ(device::hostAllocations(), made);
  }
  for (size_t frame = 0; frame < grids.size(); ++frame) {
    const opixRGBLut_3D_t g = grids[frame].rgb();
    FilterRun fresh(OPIX_RGB_LUT_3D, &g, 33, 7, OPIX_RGB12_PLANAR);
    ASSERT_EQ(fresh.status, OPIX_OK);
    ASSERT_EQ(fresh.run(inputs[frame]), OPIX_OK);
    EXPECT_EQ(fresh.raw, bytes[frame]) << "frame " << frame;
  }
}

TEST(Lut3D, CreateTracesArraysTexturesAndRecords) {
  const Grid3 g(2, 3, 2, [](uint32_t i, uint32_t j, uint32_t k) {
    return std::array<float, 3>{float(i), 0.5f * float(j), 1.25f + float(k)};
  });
  const opixHsvLut3D_t h = g.hsv();
  TraceCapture trace;
  ASSERT_EQ(opixTraceSetPrintTables(true), OPIX_OK);
  FilterRun run(OPIX_HSV_LUT_3D, &h, 8, 8, OPIX_RGB16_PLANAR);
  ASSERT_EQ(opixTraceSetPrintTables(false), OPIX_OK);
  ASSERT_EQ(run.status, OPIX_OK);
  const std::string text = trace.finish();
  for (const char* l : {"\topixHsvLut3D_t:\n", "\t\tdimH: 2\n", "\t\tdimS: 3\n", "\t\toperationV: ", "\t\tH\tS\tV\n",
                        "\t\t1\t0.5\t2.25\n"})
    EXPECT_NE(text.find(l), std::string::npos) << l;
  // The arrays, the copy, then the texture objects, in this order.
  size_t at = 0;
  for (const char* l :
       {"Allocating CUDA Array 1\n", "CUDA Array 1 has been Allocated\n", "CUDA Array 3 has been Allocated\n",
        "\tLut3D reinit\n", "\tCopy arrays\n", "\tcudaMemcpy3DParms:\n", "\t\textent: 2 x 3 x 2\n",
        "\t\tkind: cudaMemcpyHostToDevice\n", "cudaMemcpy3D success: true\n", "\tLut3D reinit: SUCCESS\n",
        "\tResource init\n", "\tTexture init\n", "\tCreate texture objects\n", "\tCreate: SUCCESS\n"}) {
    const size_t found = text.find(l, at);
    EXPECT_NE(found, std::string::npos) << l << " missing or out of order";
    if (found != std::string::npos) at = found;
  }
  const opixRGBLut_3D_t r{h.lutH, h.lutS, h.lutV, 2};
  TraceCapture rgbTrace;
  FilterRun rgb(OPIX_RGB_LUT_3D, &r, 8, 8, OPIX_RGB12_PLANAR);
  const std::string rgbText = rgbTrace.finish();
  EXPECT_NE(rgbText.find("\topixRGBLut_3D_t:\n"), std::string::npos);
  EXPECT_NE(rgbText.find("\t\tsize1D: 2\n"), std::string::npos);
  EXPECT_EQ(rgbText.find("R\tG\tB"), std::string::npos);  // tables only with print tables
}

// ------------------------------------------------ the host texture read itself

TEST(Lut3D, HostTextureReadClampsAndRoundsTheWeights) {
  if (g_backend == Backend::Cuda) GTEST_SKIP() << "reads the host backend's arrays";
  Texture3DF32 tex;
  ASSERT_TRUE(tex.allocate(3, 2, 2));
  ASSERT_TRUE(tex.createTexture());
  std::vector<float> v(12);
  for (size_t i = 0; i < v.size(); ++i) v[i] = float(i * i);  // element (i, j, k) at (2k + j) 3 + i
  ASSERT_TRUE(tex.upload(v.data()));
  const TextureView t = tex.view();
  ASSERT_EQ(t.width, 3u);
  ASSERT_EQ(t.height, 2u);
  ASSERT_EQ(t.depth, 2u);
  auto at = [&](int i, int j, int k) { return double(v[size_t((2 * k + j) * 3 + i)]); };
  // Element centres and beyond the faces: the elements themselves.
  EXPECT_EQ(textureLinear3D(t, 0.5f, 0.5f, 0.5f), at(0, 0, 0));
  EXPECT_EQ(textureLinear3D(t, 2.5f, 1.5f, 1.5f), at(2, 1, 1));
  EXPECT_EQ(textureLinear3D(t, -100.0f, 0.0f, -1e30f), at(0, 0, 0));
  EXPECT_EQ(textureLinear3D(t, 3.0f, 1e30f, 7.0f), at(2, 1, 1));
  EXPECT_EQ(textureLinear3D(t, 1e10f, -0.2f, 0.1f), at(2, 0, 0));
  // A fraction of 0.3 is weighed as 77/256, one of 0.999 as 1.
  EXPECT_FLOAT_EQ(textureLinear3D(t, 1.8f, 0.5f, 0.5f), float(at(1, 0, 0) + 77.0 / 256 * (at(2, 0, 0) - at(1, 0, 0))));
  EXPECT_EQ(textureLinear3D(t, 1.499f, 0.5f, 0.5f), at(1, 0, 0));
  EXPECT_EQ(textureLinear3D(t, 0.5f, 0.5f, 1.4999f), at(0, 0, 1));
  // All three axes: a weight of one half on each.
  double mid = 0;
  for (int k = 0; k < 2; ++k)
    for (int j = 0; j < 2; ++j)
      for (int i = 1; i < 3; ++i) mid += at(i, j, k) / 8;
  EXPECT_FLOAT_EQ(textureLinear3D(t, 2.0f, 1.0f, 1.0f), float(mid));
}

// The host rows take each axis's taps through selects and the HSV table's
// steps around the read in select form: the same values as the shared steps
// for every coordinate (NaN, infinities, beyond both faces, fractions that
// round to a whole element) and every pixel.
TEST(Lut3D, SelectFormsGiveTheSharedValues) {
  const float inf = std::numeric_limits<float>::infinity();
  std::vector<float> xs = {std::nanf(""), -inf, inf,     -1e30f, 1e30f, -0.5f, 0.0f,  0.5f,    0.501f,  0.998f,
                           0.999f,        1.0f, 1.4999f, 1.5f,   16.5f, 17.0f, 17.5f, 2047.5f, 2048.0f, 4e9f};
  std::mt19937 rng(31);
  for (int i = 0; i < 20000; ++i) xs.push_back(float(rng() % 2000000) / 1000.0f - 10.0f);
  for (uint32_t n : {1u, 2u, 17u, 33u, 2048u})
    for (float x : xs) {
      const LinearTaps e = linearTaps(x, n);
      int i0 = -1, i1 = -1;
      float a = -1;
      linearTapsSelect(x, n, i0, i1, a);
      ASSERT_EQ(uint32_t(i0), e.i0) << x << " " << n;
      ASSERT_EQ(uint32_t(i1), e.i1) << x << " " << n;
      ASSERT_EQ(a, e.a) << x << " " << n;
    }
  // The HSV pixel through the select steps around the same read of a grid.
  const uint32_t w = 7, h = 3, d = 5;
  std::array<std::vector<float>, 3> tables;
  for (int t = 0; t < 3; ++t)
    for (size_t i = 0; i < size_t(w) * h * d; ++i)
      tables[t].push_back(t == 0 ? float(rng() % 36000) / 50.0f - 360.0f : float(rng() % 3000) / 1000.0f);
  Lut3DArgs a{};
  a.bits = 16;
  a.hsv = true;
  for (int t = 0; t < 3; ++t) a.table[t] = {0, reinterpret_cast<const unsigned char*>(tables[t].data()), w, h, d};
  a.scale[0] = float(w - 1) / 360.0f;
  a.scale[1] = float(h - 1);
  a.scale[2] = float(d - 1);
  for (int i = 0; i < 200000; ++i) {
    uint32_t px[3] = {uint32_t(rng() & 0xFFFF), uint32_t(rng() & 0xFFFF), uint32_t(rng() & 0xFFFF)};
    if (i % 7 == 0) px[1] = px[0];           // ties between the largest channels
    if (i % 11 == 0) px[2] = px[1] = px[0];  // grey
    float hsv[3], lut[3], rgb[3];
    lut3DHsvOfSelect(float(px[0]) / 65536.0f, float(px[1]) / 65536.0f, float(px[2]) / 65536.0f, hsv);
    lut3DFetch(a, lut3DCoordinate(a.scale[0], hsv[0]), lut3DCoordinate(a.scale[1], hsv[1]),
               lut3DCoordinate(a.scale[2], hsv[2]), lut);
    lut3DHsvApplySelect(hsv, lut, rgb);
    const uint32_t in[3] = {px[0], px[1], px[2]};
    lut3DPixel(a, px);
    for (int c = 0; c < 3; ++c)
      ASSERT_EQ(saturationSampleSelect(rgb[c], 65536.0f, 65535u), px[c]) << in[0] << " " << in[1] << " " << in[2];
  }
  for (float v : {std::nanf(""), -1.0f, 0.0f, 0.4999f, 0.5f, 4094.5f, 4095.0f, 1e9f})
    EXPECT_EQ(lut3DSampleSelect(v, 4095u), lut3DSample(v, 4095u)) << v;
}
