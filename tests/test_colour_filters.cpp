// The colour filters on demosaiced images: tone curve (hue kept, middle
// channel in proportion) and colour saturation (HSL and HSV with three
// curves), each against an independent reference of its formula.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>

#include "FilterSupport.h"
#include "colorSaturation/ColorSaturationMath.h"
#include "toneCurve/ToneCurveMath.h"

using namespace opix;
using namespace opix::test;

// ---------------------------------------------------------------- tone curve

namespace {

uint32_t curveAt(const opixToneCurve_t& t, uint32_t v) {
  const uint32_t i = v / 64, next = std::min(i + 1, 1023u);
  const double f = (v % 64) / 64.0;
  return uint32_t((1 - f) * t.curve[i] + f * t.curve[next] + 0.5);
}

// Largest and smallest through the curve, the middle in proportion.
std::array<uint32_t, 3> toneReference(const opixToneCurve_t& t, std::array<uint32_t, 3> p) {
  const uint32_t mx = *std::max_element(p.begin(), p.end()), mn = *std::min_element(p.begin(), p.end());
  const uint32_t mxo = curveAt(t, mx), mno = curveAt(t, mn);
  std::array<uint32_t, 3> out{};
  for (int c = 0; c < 3; ++c) {
    if (p[c] == mx)
      out[c] = mxo;
    else if (p[c] == mn)
      out[c] = mno;
    else
      out[c] = mno + uint32_t(uint64_t(mxo - mno) * (p[c] - mn) / (mx - mn));
  }
  return out;
}

}  // namespace

TEST(ToneCurve, IdentityDoublingAndTheMiddleChannel) {
  static opixToneCurve_t identity, twice;
  for (uint32_t i = 0; i < 1024; ++i) {
    identity.curve[i] = uint16_t(64 * i);
    twice.curve[i] = uint16_t(std::min(128u * i, 65535u));
  }
  FilterRun id(OPIX_TONE_CURVE, &identity, 67, 9, OPIX_RGB16_PLANAR);
  ASSERT_EQ(id.status, OPIX_OK);
  Image in = randomImage(67, 9, OPIX_RGB16_PLANAR, 1);
  for (auto& v : in.v) v = v % 65473;  // above 64 x 1023 the last entry holds
  ASSERT_EQ(id.run(in), OPIX_OK);
  EXPECT_EQ(id.out.v, in.v);
  ASSERT_EQ(id.run(Image{1, 1, OPIX_RGB16_PLANAR, {65535, 65500, 65472}}), OPIX_OK);
  EXPECT_EQ(id.out.v, (std::vector<uint32_t>{65472, 65472, 65472}));

  FilterRun dbl(OPIX_TONE_CURVE, &twice, 3, 1, OPIX_RGB16_PLANAR);
  ASSERT_EQ(dbl.run(Image{3, 1, OPIX_RGB16_PLANAR, {1000, 500, 0, 7, 7, 7, 300, 900, 900}}), OPIX_OK);
  EXPECT_EQ(dbl.out.at(0, 0, 0), 2000u);
  EXPECT_EQ(dbl.out.at(0, 0, 1), 1000u);  // the midpoint of the new red and blue
  EXPECT_EQ(dbl.out.at(0, 0, 2), 0u);
  EXPECT_EQ(dbl.out.at(1, 0, 1), 14u);
  EXPECT_EQ(dbl.out.at(2, 0, 1), 1800u);
  EXPECT_EQ(dbl.out.at(2, 0, 2), 1800u);
}

TEST(ToneCurve, RandomCurvesAgainstTheFormula) {
  std::mt19937 rng(4);
  static opixToneCurve_t t;
  uint32_t v = 0;
  for (auto& e : t.curve) e = uint16_t(v = std::min(65535u, v + uint32_t(rng() % 130)));
  FilterRun run(OPIX_TONE_CURVE, &t, 131, 37, OPIX_RGB16_PLANAR);
  for (auto [w, h] : {std::pair<uint32_t, uint32_t>{131, 37}, {1, 1}, {3, 2}}) {
    Image in = randomImage(w, h, OPIX_RGB16_PLANAR, rng());
    in.at(0, 0, 1) = in.at(0, 0, 2);  // a tie
    ASSERT_EQ(run.run(in), OPIX_OK);
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x) {
        const auto e = toneReference(t, {in.at(x, y, 0), in.at(x, y, 1), in.at(x, y, 2)});
        for (int c = 0; c < 3; ++c) ASSERT_EQ(run.out.at(x, y, c), e[c]) << x << ", " << y << " channel " << c;
      }
    EXPECT_TRUE(run.onlyPixelsWritten());
  }
}

// The middle channel is placed through a float estimate of the quotient and
// a correction by the exact remainder, and must give the integer quotient.
// Quotients that are whole numbers, or a remainder of one either side of
// one, are where an estimate would land on the wrong side; all of them are
// covered for many divisors, and random inputs for the rest.
TEST(ToneCurve, MiddleChannelIsTheIntegerQuotient) {
  const auto check = [](uint32_t a, uint32_t b, uint32_t d) {
    // Inputs: smallest 100, middle 100 + b, largest 100 + d; outputs 7 and 7 + a.
    const uint32_t exact = 7 + a * b / d;
    ASSERT_EQ(toneCurveMiddle(100 + d, 100, 100 + b, 7 + a, 7), exact) << a << " * " << b << " / " << d;
  };
  std::mt19937 rng(12);
  std::vector<uint32_t> divisors = {1, 2, 3, 255, 256, 4095, 4096, 65000, 65534, 65535 - 100};
  for (int i = 0; i < 300; ++i) divisors.push_back(1 + rng() % (65535 - 100));
  for (uint32_t d : divisors)
    for (uint32_t a : {0u, 1u, d - 1, d, d + 1, 65535u, 65534u, 1 + uint32_t(rng() % 65535)}) {
      if (a > 65535) continue;
      for (uint32_t b : {0u, 1u, d - 1, d}) check(a, b, d);
      // Every b whose a * b / d is within one of a whole number.
      for (uint32_t b = 1; b < d && b < 20000; ++b) {
        const uint64_t r = uint64_t(a) * b % d;
        if (r == 0 || r == d - 1 || r == 1) check(a, b, d);
      }
    }
  for (int i = 0; i < 2000000; ++i) {
    const uint32_t d = 1 + rng() % (65535 - 100), b = rng() % d, a = rng() % 65536;
    check(a, b, d);
  }
  // All three inputs equal: the smallest's output.
  EXPECT_EQ(toneCurveMiddle(500, 500, 500, 900, 900), 900u);
}

TEST(ToneCurve, CreatedWithoutACurveAndRefusedCurves) {
  static opixToneCurve_t t, falling;
  for (uint32_t i = 0; i < 1024; ++i) {
    t.curve[i] = uint16_t(64 * i);
    falling.curve[i] = uint16_t(65535 - 64 * i);
  }
  FilterRun run(OPIX_TONE_CURVE, nullptr, 8, 8, OPIX_RGB16_PLANAR);
  ASSERT_EQ(run.status, OPIX_OK);
  const Image in = randomImage(8, 8, OPIX_RGB16_PLANAR, 6);
  {
    TraceCapture trace;
    EXPECT_EQ(run.run(in), OPIX_INVALID_VALUE);
    EXPECT_NE(trace.finish().find("\nTone Curve filter is not initialized\n"), std::string::npos);
  }
  EXPECT_EQ(run.run(in, &falling), OPIX_INVALID_VALUE);
  {
    TraceCapture trace;
    ASSERT_EQ(run.run(in, &t), OPIX_OK);
    EXPECT_NE(trace.finish().find("\nTone curve reinit\n"), std::string::npos);
  }
  ASSERT_EQ(run.run(in), OPIX_OK);
  EXPECT_EQ(FilterRun(OPIX_TONE_CURVE, &falling, 8, 8, OPIX_RGB16_PLANAR).status, OPIX_INVALID_VALUE);
  for (opixSurfaceFormat_t f : {OPIX_RGB8, OPIX_RGB12_PLANAR, OPIX_I16})
    EXPECT_EQ(FilterRun(OPIX_TONE_CURVE, &t, 8, 8, f).status, OPIX_UNSUPPORTED_SURFACE);
}

// --------------------------------------------------------- colour saturation

namespace {

struct Hsx {
  double h, s, l;
};

// The textbook conversions, in double.
Hsx toHsx(double r, double g, double b, bool hsv) {
  const double mx = std::max({r, g, b}), mn = std::min({r, g, b});
  double h = 0;
  if (mx != mn) {
    if (mx == g)
      h = 1.0 / 3 + (b - r) / (6 * (mx - mn));
    else if (mx == b)
      h = 2.0 / 3 + (r - g) / (6 * (mx - mn));
    else
      h = (g - b) / (6 * (mx - mn)) + (g < b ? 1 : 0);
  }
  if (hsv) return {h, mx == 0 ? 0 : 1 - mn / mx, mx};
  const double l = (mx + mn) / 2;
  return {h, (mx == mn || l == 0) ? 0 : (mx - mn) / (1 - std::fabs(mx + mn - 1)), l};
}

std::array<double, 3> fromHsx(Hsx c, bool hsv) {
  if (hsv) {
    const double h6 = c.h * 6, f = h6 - std::floor(h6);
    const double p = c.l * (1 - c.s), q = c.l * (1 - f * c.s), t = c.l * (1 - (1 - f) * c.s);
    switch (int(std::floor(h6)) % 6) {
      case 0: return {c.l, t, p};
      case 1: return {q, c.l, p};
      case 2: return {p, c.l, t};
      case 3: return {p, q, c.l};
      case 4: return {t, p, c.l};
      default: return {c.l, p, q};
    }
  }
  if (c.s == 0) return {c.l, c.l, c.l};
  const double q = c.l < 0.5 ? c.l * (1 + c.s) : c.l + c.s - c.l * c.s, p = 2 * c.l - q;
  auto channel = [&](double t) {
    t = t - std::floor(t);
    if (6 * t < 1) return p + (q - p) * 6 * t;
    if (6 * t < 3) return q;
    if (6 * t < 4) return p + (q - p) * (4 - 6 * t);
    return p;
  };
  return {channel(c.h + 1.0 / 3), channel(c.h), channel(c.h - 1.0 / 3)};
}

double curve(const opixColorSaturation_t& r, int c, double x) {
  const double idx = std::clamp(x * 1023, 0.0, 1023.0);
  const int i = int(idx), next = std::min(i + 1, 1023);
  const double f = idx - i;
  return (1 - f) * r.lut[c][i] + f * r.lut[c][next];
}

std::array<uint32_t, 3> saturationReference(const opixColorSaturation_t& r, bool hsv, int bits,
                                            std::array<uint32_t, 3> p) {
  const double scale = bits == 8 ? 256 : bits == 12 ? 4096 : 65536;
  const Hsx in = toHsx(p[0] / scale, p[1] / scale, p[2] / scale, hsv);
  const double v[3] = {in.h, in.s, in.l};
  double o[3];
  for (int c = 0; c < 3; ++c) {
    const double t = curve(r, c, v[r.channel[c]]);
    const double x = c == 0 ? 360 * v[0] : v[c];
    const double res = r.operation[c] == OPIX_OP_REPLACE ? t : r.operation[c] == OPIX_OP_ADD ? x + t : x * t;
    o[c] = c == 0 ? (res - 360 * std::floor(res / 360)) / 360 : std::clamp(res, 0.0, 1.0);
  }
  const auto rgb = fromHsx({o[0], o[1], o[2]}, hsv);
  const double hi = bits == 8 ? 255 : bits == 12 ? 4095 : 65535;
  std::array<uint32_t, 3> out{};
  for (int c = 0; c < 3; ++c) out[c] = uint32_t(std::clamp(std::floor(rgb[c] * scale + 0.5), 0.0, hi));
  return out;
}

opixColorSaturation_t flat(float h, float s, float l, opixColorSaturationOperationType_t op) {
  opixColorSaturation_t r{};
  for (int i = 0; i < 1024; ++i) {
    r.lut[0][i] = h;
    r.lut[1][i] = s;
    r.lut[2][i] = l;
  }
  for (int c = 0; c < 3; ++c) {
    r.operation[c] = op;
    r.channel[c] = opixColorSaturationChannelType_t(c);
  }
  return r;
}

void expectNear(const Image& in, const Image& out,
                const std::function<std::array<uint32_t, 3>(std::array<uint32_t, 3>)>& ref, uint32_t tolerance) {
  for (uint32_t y = 0; y < in.height; ++y)
    for (uint32_t x = 0; x < in.width; ++x) {
      const auto e = ref({in.at(x, y, 0), in.at(x, y, 1), in.at(x, y, 2)});
      for (int c = 0; c < 3; ++c)
        ASSERT_LE(std::abs(int(out.at(x, y, c)) - int(e[c])), int(tolerance))
            << "(" << x << ", " << y << ") channel " << c << " input " << in.at(x, y, 0) << " " << in.at(x, y, 1) << " "
            << in.at(x, y, 2);
    }
}

}  // namespace

TEST(ColorSaturation, WorkedExamples) {
  static const opixColorSaturation_t keep = flat(1.0f, 1.0f, 1.0f, OPIX_OP_MULTIPLY);
  for (opixImageFilterType_t t : {OPIX_COLOR_SATURATION_HSL, OPIX_COLOR_SATURATION_HSV})
    for (opixSurfaceFormat_t f : {OPIX_RGB8, OPIX_RGB12_PLANAR, OPIX_RGB16_PLANAR}) {
      SCOPED_TRACE(std::string(opixImageFilterTypeName(t)) + " " + opixSurfaceFormatName(f));
      FilterRun run(t, &keep, 61, 7, f);
      ASSERT_EQ(run.status, OPIX_OK);
      Image in = randomImage(61, 7, f, 3);
      in.at(0, 0, 0) = in.at(0, 0, 1) = in.at(0, 0, 2) = formatMax(f);  // white
      in.at(1, 0, 0) = in.at(1, 0, 1) = in.at(1, 0, 2) = 100;           // grey
      ASSERT_EQ(run.run(in), OPIX_OK);
      for (size_t i = 0; i < in.v.size(); ++i) ASSERT_LE(std::abs(int(run.out.v[i]) - int(in.v[i])), 1) << i;
      for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(run.out.at(0, 0, c), formatMax(f));
        EXPECT_EQ(run.out.at(1, 0, c), 100u);
      }
      EXPECT_TRUE(run.onlyPixelsWritten());
    }
  // Hue 350 plus 20 wraps to 10: (255, 0, 42.5) becomes (255, 42.5, 0) in HSV.
  opixColorSaturation_t turn = flat(20.0f, 0.0f, 0.0f, OPIX_OP_ADD);
  FilterRun hue(OPIX_COLOR_SATURATION_HSV, &turn, 1, 1, OPIX_RGB16_PLANAR);
  ASSERT_EQ(hue.run(Image{1, 1, OPIX_RGB16_PLANAR, {60000, 0, 10000}}), OPIX_OK);
  EXPECT_EQ(hue.out.v, (std::vector<uint32_t>{60000, 10000, 0}));
  // Saturation doubled past 1 is clamped: a half-saturated colour becomes pure.
  opixColorSaturation_t more = flat(1.0f, 4.0f, 1.0f, OPIX_OP_MULTIPLY);
  FilterRun sat(OPIX_COLOR_SATURATION_HSV, &more, 1, 1, OPIX_RGB8);
  ASSERT_EQ(sat.run(Image{1, 1, OPIX_RGB8, {200, 100, 100}}), OPIX_OK);
  EXPECT_EQ(sat.out.v, (std::vector<uint32_t>{200, 0, 0}));
}

TEST(ColorSaturation, RandomCurvesAgainstTheFormula) {
  std::mt19937 rng(8);
  for (opixImageFilterType_t t : {OPIX_COLOR_SATURATION_HSL, OPIX_COLOR_SATURATION_HSV})
    for (opixSurfaceFormat_t f : {OPIX_RGB8, OPIX_RGB12_PLANAR, OPIX_RGB16_PLANAR})
      for (int op = 0; op < 3; ++op) {
        SCOPED_TRACE(std::string(opixImageFilterTypeName(t)) + " " + opixSurfaceFormatName(f) + " operation " +
                     std::to_string(op));
        static opixColorSaturation_t r;
        // Smooth curves, each indexed by another channel than its own.
        for (int c = 0; c < 3; ++c) {
          const double a = (rng() % 100) / 100.0, k = 1 + rng() % 3;
          for (int i = 0; i < 1024; ++i) {
            const double wave = a * std::sin(k * i / 1023.0 * 3.14159);
            r.lut[c][i] = float(op == OPIX_OP_MULTIPLY ? 1 + wave
                                : c == 0               ? 90 * wave
                                : op == OPIX_OP_ADD    ? wave / 4
                                                       : 0.5 + wave / 2);
          }
          r.operation[c] = opixColorSaturationOperationType_t(op);
          r.channel[c] = opixColorSaturationChannelType_t((c + 1) % 3);
        }
        FilterRun run(t, &r, 67, 13, f);
        ASSERT_EQ(run.status, OPIX_OK);
        const Image in = randomImage(67, 13, f, rng());
        ASSERT_EQ(run.run(in), OPIX_OK);
        const bool hsv = t == OPIX_COLOR_SATURATION_HSV;
        const int bits = int(opixFormatBits(f));
        expectNear(
            in, run.out, [&](std::array<uint32_t, 3> p) { return saturationReference(r, hsv, bits, p); },
            bits == 16 ? 3 : 1);
      }
}

TEST(ColorSaturation, CreatedWithoutCurvesAndRefusedRecords) {
  static opixColorSaturation_t keep = flat(1.0f, 1.0f, 1.0f, OPIX_OP_MULTIPLY);
  FilterRun run(OPIX_COLOR_SATURATION_HSL, nullptr, 8, 8, OPIX_RGB8);
  ASSERT_EQ(run.status, OPIX_OK);
  const Image in = randomImage(8, 8, OPIX_RGB8, 6);
  {
    TraceCapture trace;
    EXPECT_EQ(run.run(in), OPIX_INVALID_VALUE);
    EXPECT_NE(trace.finish().find("\nColor Saturation filter is not initialized\n"), std::string::npos);
  }
  ASSERT_EQ(run.run(in, &keep), OPIX_OK);
  static opixColorSaturation_t bad = keep;
  bad.operation[1] = opixColorSaturationOperationType_t(3);
  EXPECT_EQ(FilterRun(OPIX_COLOR_SATURATION_HSV, &bad, 8, 8, OPIX_RGB8).status, OPIX_INVALID_VALUE);
  bad = keep;
  bad.channel[2] = opixColorSaturationChannelType_t(-1);
  EXPECT_EQ(FilterRun(OPIX_COLOR_SATURATION_HSV, &bad, 8, 8, OPIX_RGB8).status, OPIX_INVALID_VALUE);
  for (opixSurfaceFormat_t f : {OPIX_I8, OPIX_I16, OPIX_BGR8})
    EXPECT_EQ(FilterRun(OPIX_COLOR_SATURATION_HSL, &keep, 8, 8, f).status, OPIX_UNSUPPORTED_SURFACE);
  {
    TraceCapture trace;
    ASSERT_EQ(opixTraceSetPrintTables(true), OPIX_OK);
    FilterRun printed(OPIX_COLOR_SATURATION_HSV, &keep, 8, 8, OPIX_RGB8);
    ASSERT_EQ(opixTraceSetPrintTables(false), OPIX_OK);
    EXPECT_NE(trace.finish().find("\topixColorSaturation_t:\n\t\tH\tS\tL\n\t\t1\t1\t1\n"), std::string::npos);
  }
}

namespace {

bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

// The host rows compute the pixel through selects; each select form must give
// the shared maths' float, bit for bit, on every path: every sector of the
// hue (its ends and just past them included), grey and black pixels, curves
// that wrap the hue both ways, clamp below 0 and above 1, and each curve read
// by another channel.
TEST(ColorSaturation, SelectFormsGiveTheSharedFloats) {
  for (float h : {0.0f, 1e-7f, 0.1666666f, 1.0f / 6, 0.5f, 0.8333333f, 0.9999999f, 1.0f, 1.0000001f, 2.5f, -0.25f})
    for (float sv : {0.0f, 0.3f, 1.0f}) {
      float a[3], b[3];
      hsvToRgb(h, sv, 0.75f, a);
      hsvToRgbSelect(h, sv, 0.75f, b);
      for (int c = 0; c < 3; ++c) ASSERT_TRUE(sameBits(a[c], b[c])) << h << " " << sv << " channel " << c;
      for (float t : {-0.5f, -0.1f, 0.0f, 0.1f, 1.0f / 6, 0.4f, 2.0f / 3, 0.9f, 1.0f, 1.2f})
        ASSERT_TRUE(sameBits(hslChannel(0.2f, sv, t), hslChannelSelect(0.2f, sv, t))) << sv << " " << t;
    }
  // A hue whose sector has no int (a curve that holds NaN, an infinity or a
  // huge value) takes the last sector, (v, p, q), in both forms.
  const float inf = std::numeric_limits<float>::infinity();
  for (float h : {std::numeric_limits<float>::quiet_NaN(), inf, -inf, 1e30f, -1e30f, 4e8f, -4e8f}) {
    float a[3], b[3];
    hsvToRgb(h, 0.5f, 0.75f, a);
    hsvToRgbSelect(h, 0.5f, 0.75f, b);
    const float p = 0.75f * (1.0f - 0.5f);
    const float f = h * 6.0f - floorf(h * 6.0f);
    const float q = 0.75f * (1.0f - f * 0.5f);
    for (const float* rgb : {a, b}) {
      EXPECT_TRUE(sameBits(rgb[0], 0.75f) && sameBits(rgb[1], p) && sameBits(rgb[2], q)) << h;
    }
  }
  std::mt19937 rng(21);
  static ColorSaturationOps ops;
  static float curves[3 * kSaturationEntries];
  for (int config = 0; config < 4; ++config) {
    for (int c = 0; c < 3; ++c) {
      ops.operation[c] = (c + config) % 3;
      ops.channel[c] = (c + config / 2) % 3;
      for (int i = 0; i < kSaturationEntries; ++i) {
        const float u = float(rng() % 20001) / 10000.0f - 1.0f;  // -1 ... 1
        curves[c * kSaturationEntries + i] = c == 0 ? 400.0f * u : ops.operation[c] == 2 ? 1.0f + u : u;
      }
    }
    for (bool hsv : {false, true}) {
      ops.hsv = hsv;
      SCOPED_TRACE(std::string(hsv ? "HSV" : "HSL") + " configuration " + std::to_string(config));
      const auto check = [&](float r, float g, float b) {
        float shared[3] = {r, g, b}, selected[3] = {r, g, b};
        colorSaturationPixel(curves, ops, shared);
        if (hsv)
          colorSaturationPixelSelect<true>(curves, ops, selected);
        else
          colorSaturationPixelSelect<false>(curves, ops, selected);
        for (int c = 0; c < 3; ++c) {
          if (!sameBits(shared[c], selected[c])) return ::testing::AssertionFailure() << r << " " << g << " " << b;
          if (saturationSample(shared[c], 65536.0f, 65535u) != saturationSampleSelect(selected[c], 65536.0f, 65535u))
            return ::testing::AssertionFailure() << "sample of " << r << " " << g << " " << b;
        }
        return ::testing::AssertionSuccess();
      };
      // 8-bit colours on a grid that holds greys, pure and mixed hues, and
      // 16-bit colours at random.
      for (int r = 0; r < 256; r += 3)
        for (int g = 0; g < 256; g += 3)
          for (int b = 0; b < 256; b += 3) ASSERT_TRUE(check(float(r) / 256.0f, float(g) / 256.0f, float(b) / 256.0f));
      for (int i = 0; i < 100000; ++i)
        ASSERT_TRUE(check(float(rng() & 0xFFFF) / 65536.0f, float(rng() & 0xFFFF) / 65536.0f,
                          float(rng() & 0xFFFF) / 65536.0f));
    }
  }
  for (float v : {-1.0f, 0.0f, 1e-9f, 0.4999f, 0.5f, 0.99999f, 1.0f, 2.0f})
    EXPECT_EQ(saturationSampleSelect(v, 4096.0f, 4095u), saturationSample(v, 4096.0f, 4095u)) << v;
}
