// The neighbourhood filters: median, Gaussian sharpen and blur, binning, bad
// pixel correction, column repair and defringe, each against an independent
// reference of its formula on awkward sizes, with the guard bytes around the
// image checked, plus their records, edge cases and refusals.
#include <algorithm>
#include <array>
#include <cmath>

#include "FilterSupport.h"
#include "badPixelCorrection/BadPixelMath.h"
#include "defringe/DefringeMath.h"

using namespace opix;
using namespace opix::test;

namespace {

const std::pair<uint32_t, uint32_t> kSizes[] = {{1, 1}, {2, 3}, {5, 2}, {65, 9}, {67, 66}, {130, 70}};

std::string label(opixSurfaceFormat_t f, uint32_t w, uint32_t h) {
  return std::string(opixSurfaceFormatName(f)) + " " + std::to_string(w) + "x" + std::to_string(h);
}

// Round half up by +0.5 and truncation, clamped to 0 ... hi.
uint32_t rounded(float v, uint32_t hi) {
  const float t = v + 0.5f;
  if (!(t > 0.0f)) return 0;
  return t >= float(hi) ? hi : uint32_t(t);
}

// Sample (x, y) of channel c with the coordinates clamped to the image.
uint32_t clamped(const Image& im, int x, int y, uint32_t c) {
  x = std::clamp(x, 0, int(im.width) - 1);
  y = std::clamp(y, 0, int(im.height) - 1);
  return im.at(uint32_t(x), uint32_t(y), c);
}

}  // namespace

// ------------------------------------------------------------------ median

TEST(Median, AgainstASortOfEveryWindow) {
  for (opixSurfaceFormat_t f : {OPIX_I12, OPIX_I16, OPIX_RGB12_PLANAR, OPIX_RGB16_PLANAR})
    for (auto [w, h] : kSizes) {
      SCOPED_TRACE(label(f, w, h));
      FilterRun run(OPIX_MEDIAN, nullptr, w + 3, h + 1, f);  // a source larger than the frame
      ASSERT_EQ(run.status, OPIX_OK);
      const Image in = randomImage(w, h, f, w * 7 + h);
      setCurrentSize(run.source(), w, h);
      ASSERT_EQ(run.run(in), OPIX_OK);
      for (uint32_t c = 0; c < in.channels(); ++c)
        for (uint32_t y = 0; y < h; ++y)
          for (uint32_t x = 0; x < w; ++x) {
            uint32_t window[9];
            for (int k = 0; k < 9; ++k) window[k] = clamped(in, int(x) + k % 3 - 1, int(y) + k / 3 - 1, c);
            std::nth_element(window, window + 4, window + 9);
            ASSERT_EQ(run.out.at(x, y, c), window[4]) << x << "," << y << " channel " << c;
          }
      EXPECT_TRUE(run.onlyPixelsWritten());
    }
}

TEST(Median, ConstantImagesAndIsolatedSamples) {
  FilterRun run(OPIX_MEDIAN, nullptr, 70, 67, OPIX_I16);
  ASSERT_EQ(run.status, OPIX_OK);
  ASSERT_EQ(run.run(uniformImage(70, 67, OPIX_I16, 40000)), OPIX_OK);
  EXPECT_EQ(run.out.v, uniformImage(70, 67, OPIX_I16, 40000).v);  // borders included
  // A lone hot sample and lone dead ones, corners included, vanish.
  Image in = uniformImage(70, 67, OPIX_I16, 1000);
  in.at(10, 10) = 65535;
  in.at(0, 0) = 0;
  in.at(69, 66) = 0;
  ASSERT_EQ(run.run(in), OPIX_OK);
  EXPECT_EQ(run.out.v, uniformImage(70, 67, OPIX_I16, 1000).v);
  // A record given to Transform is ignored: the median takes none.
  const opixGaussianFilter_t unrelated{1.0f};
  ASSERT_EQ(run.run(in, &unrelated), OPIX_OK);
  EXPECT_EQ(run.out.at(10, 10), 1000u);
}

// --------------------------------------------------------------- Gaussian

namespace {

// The kernel as written: exp(-(i² + j²) / (2 s²)) / (2 pi s²) in double over the
// window; sharpen: centre := -2 x sum; all divided by the new sum; stored as float.
std::array<float, 9> referenceKernel(double s, bool sharpen) {
  std::array<double, 9> w{};
  double sum = 0;
  for (int k = 0; k < 9; ++k) {
    const int i = k % 3 - 1, j = k / 3 - 1;
    w[k] = std::exp(-(i * i + j * j) / (2 * s * s)) / (2 * std::acos(-1.0) * s * s);
    sum += w[k];
  }
  if (sharpen) w[4] = -2 * sum;
  double norm = 0;
  for (double v : w) norm += v;
  std::array<float, 9> out{};
  for (int k = 0; k < 9; ++k) out[k] = float(w[k] / norm);
  return out;
}

// Channel c of pixel (x, y) of an image filtered by the kernel in double,
// rounded half up and clamped; `nearHalf` is set when the double result lies
// within float arithmetic's error (a few units of 2^-24 of the summed
// magnitudes) of a rounding boundary, where the filter may round either way.
uint32_t referenceGaussian(const Image& in, const std::array<float, 9>& k, uint32_t x, uint32_t y, uint32_t c,
                           bool& nearHalf) {
  double v = 0, magnitude = 0;
  for (int i = 0; i < 9; ++i) {
    const double term = double(k[i]) * clamped(in, int(x) + i % 3 - 1, int(y) + i / 3 - 1, c);
    v += term;
    magnitude += std::fabs(term);
  }
  nearHalf = std::fabs(v + 0.5 - std::round(v + 0.5)) < 1e-6 * magnitude + 1e-9;
  const double hi = formatMax(in.format);
  return uint32_t(std::clamp(std::floor(v + 0.5), 0.0, hi));
}

}  // namespace

TEST(Gaussian, BothTypesAgainstTheDoubleConvolution) {
  for (opixImageFilterType_t type : {OPIX_GAUSSIAN_BLUR, OPIX_GAUSSIAN_SHARPEN})
    for (opixSurfaceFormat_t f :
         {OPIX_I8, OPIX_I10, OPIX_I12, OPIX_I14, OPIX_I16, OPIX_RGB8, OPIX_BGR8, OPIX_RGB12_PLANAR, OPIX_RGB16_PLANAR})
      for (auto [w, h] : kSizes) {
        const float sigma = w % 2 ? 0.8f : 2.5f;
        SCOPED_TRACE(std::string(opixImageFilterTypeName(type)) + " " + label(f, w, h) + " sigma " +
                     std::to_string(sigma));
        FilterRun run(type, nullptr, w, h, f);
        ASSERT_EQ(run.status, OPIX_OK);
        const Image in = randomImage(w, h, f, w + 3 * h);
        const opixGaussianFilter_t r{sigma};
        ASSERT_EQ(run.run(in, &r), OPIX_OK);
        const auto k = referenceKernel(sigma, type == OPIX_GAUSSIAN_SHARPEN);
        int boundaryCases = 0;
        for (uint32_t c = 0; c < in.channels(); ++c)
          for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x) {
              bool nearHalf = false;
              const uint32_t want = referenceGaussian(in, k, x, y, c, nearHalf);
              const uint32_t got = run.out.at(x, y, c);
              if (nearHalf && got != want) {
                ASSERT_LE(std::abs(int(got) - int(want)), 1) << x << "," << y;
                ++boundaryCases;
                continue;
              }
              ASSERT_EQ(got, want) << x << "," << y << " channel " << c;
            }
        EXPECT_LE(boundaryCases, int(w * h * in.channels() / 100 + 2));
        EXPECT_TRUE(run.onlyPixelsWritten());
      }
}

TEST(Gaussian, ConstantImagesPassAndASpikeSpreadsOrRings) {
  for (opixImageFilterType_t type : {OPIX_GAUSSIAN_BLUR, OPIX_GAUSSIAN_SHARPEN})
    for (opixSurfaceFormat_t f : {OPIX_I8, OPIX_I12, OPIX_RGB8, OPIX_RGB16_PLANAR}) {
      FilterRun run(type, nullptr, 67, 65, f);
      const opixGaussianFilter_t r{1.3f};
      const Image flat = uniformImage(67, 65, f, formatMax(f) / 3);
      ASSERT_EQ(run.run(flat, &r), OPIX_OK);
      EXPECT_EQ(run.out.v, flat.v) << opixSurfaceFormatName(f);
    }
  Image spike = uniformImage(9, 9, OPIX_I16, 0);
  spike.at(4, 4) = 20000;
  const opixGaussianFilter_t r{1.0f};
  FilterRun blur(OPIX_GAUSSIAN_BLUR, nullptr, 9, 9, OPIX_I16);
  ASSERT_EQ(blur.run(spike, &r), OPIX_OK);
  EXPECT_LT(blur.out.at(4, 4), 20000u);
  EXPECT_GT(blur.out.at(3, 4), blur.out.at(3, 3));  // edge neighbours weigh more than corners
  EXPECT_GT(blur.out.at(3, 3), 0u);
  EXPECT_EQ(blur.out.at(2, 4), 0u);
  FilterRun sharpen(OPIX_GAUSSIAN_SHARPEN, nullptr, 9, 9, OPIX_I16);
  ASSERT_EQ(sharpen.run(spike, &r), OPIX_OK);
  EXPECT_GT(sharpen.out.at(4, 4), 20000u);
  EXPECT_EQ(sharpen.out.at(3, 4), 0u);  // the dark ring clipped to 0
  EXPECT_EQ(sharpen.out.at(5, 5), 0u);
  // A huge sigma is a box blur, a tiny one leaves the image alone.
  const opixGaussianFilter_t huge{1e30f}, tiny{1e-30f};
  ASSERT_EQ(blur.run(spike, &huge), OPIX_OK);
  EXPECT_EQ(blur.out.at(3, 3), 2222u);  // 20000 / 9 + 0.5
  ASSERT_EQ(sharpen.run(spike, &tiny), OPIX_OK);
  EXPECT_EQ(sharpen.out.v, spike.v);
}

TEST(Gaussian, RecordAtEveryTransformAndRefusals) {
  FilterRun run(OPIX_GAUSSIAN_SHARPEN, nullptr, 64, 64, OPIX_I12);
  ASSERT_EQ(run.status, OPIX_OK);
  const Image in = randomImage(64, 64, OPIX_I12, 1);
  {
    TraceCapture trace;
    EXPECT_EQ(run.run(in), OPIX_INVALID_SIZE);
    EXPECT_NE(trace.finish().find("\nDynamic Parameters have not to be NULL\n"), std::string::npos);
  }
  const opixGaussianFilter_t good{1.0f};
  ASSERT_EQ(run.run(in, &good), OPIX_OK);
  EXPECT_EQ(run.run(in), OPIX_INVALID_SIZE);  // a record of an earlier Transform does not count
  for (float bad : {0.0f, -1.0f, NAN, INFINITY}) {
    const opixGaussianFilter_t r{bad};
    EXPECT_EQ(run.run(in, &r), OPIX_INVALID_VALUE) << bad;
  }
  const opixGaussianFilter_t zero{0.0f};
  FilterRun badCreate(OPIX_GAUSSIAN_BLUR, &zero, 64, 64, OPIX_I12);
  EXPECT_EQ(badCreate.status, OPIX_INVALID_VALUE);
  for (opixSurfaceFormat_t f : {OPIX_RGB12, OPIX_RGB16, OPIX_BGRX8, OPIX_RGB32, OPIX_YCbCr}) {
    FilterRun unsupported(OPIX_GAUSSIAN_BLUR, nullptr, 64, 64, f);
    EXPECT_EQ(unsupported.status, OPIX_UNSUPPORTED_SURFACE) << opixSurfaceFormatName(f);
  }
}

// ----------------------------------------------------------------- binning

namespace {

uint32_t referenceBin(const Image& in, uint32_t f, opixBinningMode_t mode, uint32_t ox, uint32_t oy) {
  uint32_t sum = 0;
  for (uint32_t j = 0; j < f; ++j)
    for (uint32_t i = 0; i < f; ++i) sum += in.at(ox * f + i, oy * f + j);
  if (mode == OPIX_BINNING_AVERAGE) return sum / (f * f);
  return std::min(sum, mode == OPIX_BINNING_SUM ? formatMax(in.format) : 65535u);
}

}  // namespace

TEST(BinningFilter, WorkedExamples) {
  const opixBinning_t average{OPIX_BINNING_AVERAGE, 2, 2}, sum{OPIX_BINNING_SUM, 2, 2};
  const opixBinning_t sum4{OPIX_BINNING_SUM, 4, 4}, plain{OPIX_BINNING_NONE, 2, 2};
  const Image four{2, 2, OPIX_I12, {1, 2, 3, 4}};
  FilterRun a(OPIX_BINNING, &average, 2, 2, OPIX_I12);
  ASSERT_EQ(a.run(four), OPIX_OK);
  EXPECT_EQ(a.out.v, std::vector<uint32_t>{2});
  FilterRun s(OPIX_BINNING, &sum, 2, 2, OPIX_I12);
  ASSERT_EQ(s.run(four), OPIX_OK);
  EXPECT_EQ(s.out.v, std::vector<uint32_t>{10});
  FilterRun s4(OPIX_BINNING, &sum4, 4, 4, OPIX_I12);
  ASSERT_EQ(s4.run(uniformImage(4, 4, OPIX_I12, 4095)), OPIX_OK);
  EXPECT_EQ(s4.out.v, std::vector<uint32_t>{4095});
  // The plain sum keeps what 12-bit sums need and stops where 16 bits end.
  FilterRun n12(OPIX_BINNING, &plain, 2, 2, OPIX_I12);
  ASSERT_EQ(n12.run(uniformImage(2, 2, OPIX_I12, 4095)), OPIX_OK);
  EXPECT_EQ(n12.out.v, std::vector<uint32_t>{16380});
  FilterRun n16(OPIX_BINNING, &plain, 2, 2, OPIX_I16);
  ASSERT_EQ(n16.run(Image{2, 2, OPIX_I16, {40000, 40000, 1, 2}}), OPIX_OK);
  EXPECT_EQ(n16.out.v, std::vector<uint32_t>{65535});
}

TEST(BinningFilter, EveryFactorAndModeAgainstTheSums) {
  for (opixSurfaceFormat_t f : {OPIX_I12, OPIX_I16})
    for (uint32_t factor : {2u, 3u, 4u})
      for (opixBinningMode_t mode : {OPIX_BINNING_SUM, OPIX_BINNING_AVERAGE, OPIX_BINNING_NONE})
        for (auto [w, h] : {std::pair{131u, 70u}, std::pair{67u, 9u}, std::pair{5u, 5u}, std::pair{3u, 2u}}) {
          SCOPED_TRACE(label(f, w, h) + " factor " + std::to_string(factor) + " " + opixBinningModeName(mode));
          const opixBinning_t r{mode, factor, factor};
          FilterRun run(OPIX_BINNING, &r, 131, 70, f);
          ASSERT_EQ(run.status, OPIX_OK);
          EXPECT_EQ(run.destination->maxWidth, 131 / factor);
          EXPECT_EQ(run.destination->maxHeight, 70 / factor);
          // Bright samples, so that sums reach the limits.
          Image in = randomImage(w, h, f, w * factor + h);
          for (auto& v : in.v) v = formatMax(f) - v / 8;
          setCurrentSize(run.source(), w, h);
          ASSERT_EQ(run.run(in), OPIX_OK);
          ASSERT_EQ(run.out.width, w / factor);
          ASSERT_EQ(run.out.height, h / factor);
          for (uint32_t y = 0; y < h / factor; ++y)
            for (uint32_t x = 0; x < w / factor; ++x)
              ASSERT_EQ(run.out.at(x, y), referenceBin(in, factor, mode, x, y)) << x << "," << y;
          EXPECT_TRUE(run.onlyPixelsWritten());
        }
}

TEST(BinningFilter, FactorsAndModesAreChecked) {
  auto create = [](const opixBinning_t* r) {
    FilterRun run(OPIX_BINNING, r, 64, 64, OPIX_I16);
    return run.status;
  };
  {
    TraceCapture trace;
    const opixBinning_t mismatch{OPIX_BINNING_SUM, 2, 3}, big{OPIX_BINNING_SUM, 5, 5};
    EXPECT_EQ(create(&mismatch), OPIX_INVALID_SIZE);
    EXPECT_EQ(create(&big), OPIX_INVALID_SIZE);
    const std::string t = trace.finish();
    EXPECT_NE(t.find("\nFactors X and Y mismatch\n"), std::string::npos);
    EXPECT_NE(t.find("\nFactor size more than 4\n"), std::string::npos);
  }
  const opixBinning_t zero{OPIX_BINNING_SUM, 0, 0}, one{OPIX_BINNING_SUM, 1, 1};
  const opixBinning_t badMode{opixBinningMode_t(3), 2, 2};
  EXPECT_EQ(create(&zero), OPIX_INVALID_SIZE);
  EXPECT_EQ(create(&one), OPIX_INVALID_SIZE);
  EXPECT_EQ(create(nullptr), OPIX_INVALID_SIZE);  // no record: a factor of 1
  EXPECT_EQ(create(&badMode), OPIX_INVALID_VALUE);
  {
    FilterRun wrongFormat(OPIX_BINNING, &one, 64, 64, OPIX_I8);
    EXPECT_EQ(wrongFormat.status, OPIX_UNSUPPORTED_SURFACE);
  }

  // A record at Transform: a larger factor fits the destination, a smaller
  // one would overflow it at the full frame.
  const opixBinning_t two{OPIX_BINNING_AVERAGE, 2, 2}, four{OPIX_BINNING_AVERAGE, 4, 4};
  FilterRun run(OPIX_BINNING, &two, 64, 64, OPIX_I16);
  const Image in = randomImage(64, 64, OPIX_I16, 3);
  ASSERT_EQ(run.run(in), OPIX_OK);
  EXPECT_EQ(run.out.width, 32u);
  ASSERT_EQ(run.run(in, &four), OPIX_OK);
  EXPECT_EQ(run.out.width, 16u);
  EXPECT_EQ(run.out.at(1, 2), referenceBin(in, 4, OPIX_BINNING_AVERAGE, 1, 2));
  FilterRun small(OPIX_BINNING, &four, 64, 64, OPIX_I16);
  EXPECT_EQ(small.run(in, &two), OPIX_INVALID_SIZE);
  EXPECT_EQ(small.run(in, &one), OPIX_INVALID_SIZE);
}

// ---------------------------------------------------- bad pixel correction

namespace {

// The rule, written from its description: neighbours by site colour in a
// window mirrored about the edge samples.
uint32_t referenceBadPixel(const Image& in, opixBayerPattern_t p, uint32_t x, uint32_t y) {
  auto mirror = [](int i, int n) {
    if (i < 0) i = -i;
    if (i >= n) i = 2 * (n - 1) - i;
    return std::clamp(i, 0, n - 1);
  };
  auto at = [&](int dx, int dy) {
    return in.at(uint32_t(mirror(int(x) + dx, int(in.width))), uint32_t(mirror(int(y) + dy, int(in.height))));
  };
  std::vector<std::pair<int, int>> offsets;
  if (p == OPIX_BAYER_NONE) {
    for (int dy = -1; dy <= 1; ++dy)
      for (int dx = -1; dx <= 1; ++dx)
        if (dx || dy) offsets.push_back({dx, dy});
  } else {
    // Green sites: the two greens of the cell, wherever the pattern puts them.
    const char* cells[] = {"", "RGGB", "BGGR", "GBRG", "GRBG"};
    const bool green = cells[p][(x & 1) + 2 * (y & 1)] == 'G';
    const int d = green ? 1 : 2;
    offsets = {{-2, 0}, {2, 0}, {0, -2}, {0, 2}, {-d, -d}, {d, -d}, {-d, d}, {d, d}};
  }
  uint32_t lo = UINT32_MAX, hi = 0;
  for (auto [dx, dy] : offsets) {
    lo = std::min(lo, at(dx, dy));
    hi = std::max(hi, at(dx, dy));
  }
  const uint32_t v = at(0, 0);
  const uint32_t top = v >> (opixFormatBits(in.format) - 8);
  const float t = top < 16 ? 0.7f : top < 64 ? 0.2f : 0.1f;
  if ((1.0f + t) * float(hi) < float(v)) return hi;
  if ((1.0f - t) * float(lo) > float(v)) return lo;
  return v;
}

// A smooth ramp with hot and dead samples sprinkled over it.
Image spotted(uint32_t w, uint32_t h, opixSurfaceFormat_t f, uint32_t seed) {
  std::mt19937 rng(seed);
  Image im{w, h, f, std::vector<uint32_t>(size_t(w) * h)};
  const uint32_t hi = formatMax(f);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) {
      uint32_t v = (hi / 8) + (x * 7 + y * 5) % (hi / 2) + rng() % (hi / 64 + 1);
      if (rng() % 23 == 0) v = rng() % 2 ? hi - rng() % (hi / 16) : rng() % (hi / 32 + 1);
      im.at(x, y) = v;
    }
  return im;
}

}  // namespace

TEST(BadPixelCorrection, WorkedExamplesOnFlatGrey) {
  const opixBadPixelCorrection_t grey{OPIX_BAYER_NONE};
  FilterRun run(OPIX_BAD_PIXEL_CORRECTION_5x5, &grey, 9, 9, OPIX_I16);
  ASSERT_EQ(run.status, OPIX_OK);
  Image in = uniformImage(9, 9, OPIX_I16, 40000);
  in.at(2, 2) = 60000;  // hot: clipped to the neighbours' maximum
  in.at(6, 2) = 44000;  // 10 % above at t = 0.1: kept
  in.at(2, 6) = 44400;  // 11 % above: clipped
  in.at(6, 6) = 100;    // dead: raised
  ASSERT_EQ(run.run(in), OPIX_OK);
  EXPECT_EQ(run.out.at(2, 2), 40000u);
  EXPECT_EQ(run.out.at(6, 2), 44000u);
  EXPECT_EQ(run.out.at(2, 6), 40000u);
  EXPECT_EQ(run.out.at(6, 6), 40000u);
  EXPECT_EQ(run.out.at(0, 0), 40000u);
}

TEST(BadPixelCorrection, GreyAndEveryPatternAgainstTheRule) {
  for (opixSurfaceFormat_t f : {OPIX_I8, OPIX_I10, OPIX_I12, OPIX_I14, OPIX_I16})
    for (opixBayerPattern_t p : {OPIX_BAYER_NONE, OPIX_BAYER_RGGB, OPIX_BAYER_BGGR, OPIX_BAYER_GBRG, OPIX_BAYER_GRBG}) {
      if (f == OPIX_I8 && p == OPIX_BAYER_NONE) continue;
      for (auto [w, h] : kSizes) {
        SCOPED_TRACE(label(f, w, h) + " " + opixBayerPatternName(p));
        const opixBadPixelCorrection_t r{p};
        FilterRun run(OPIX_BAD_PIXEL_CORRECTION_5x5, &r, w, h, f);
        ASSERT_EQ(run.status, OPIX_OK);
        const Image in = spotted(w, h, f, w + h + uint32_t(p));
        ASSERT_EQ(run.run(in), OPIX_OK);
        uint32_t changed = 0;
        for (uint32_t y = 0; y < h; ++y)
          for (uint32_t x = 0; x < w; ++x) {
            ASSERT_EQ(run.out.at(x, y), referenceBadPixel(in, p, x, y)) << x << "," << y;
            changed += run.out.at(x, y) != in.at(x, y);
          }
        if (w * h > 1000) {
          EXPECT_GT(changed, w * h / 50);  // the spots were found
        }
        EXPECT_TRUE(run.onlyPixelsWritten());
      }
    }
}

// The integer form of the 8-bit decision that vector rows use gives the
// float rule's result for every sample and every range of neighbours.
TEST(BadPixelCorrection, EightBitTablesDecideAsTheFloatRule) {
  const opix::BadPixelTables8 tables = opix::badPixelTables8();
  for (uint32_t v = 0; v < 256; ++v)
    for (uint32_t lo = 0; lo < 256; ++lo)
      for (uint32_t hi = 0; hi < 256; ++hi)
        if (opix::badPixelDecide8(v, lo, hi, tables) != opix::badPixelDecide(v, lo, hi, 8))
          FAIL() << "sample " << v << ", neighbours " << lo << " to " << hi;
}

TEST(BadPixelCorrection, RecordsAndRefusals) {
  const Image in = spotted(64, 64, OPIX_I12, 1);
  FilterRun run(OPIX_BAD_PIXEL_CORRECTION_5x5, nullptr, 64, 64, OPIX_I12);
  ASSERT_EQ(run.status, OPIX_OK);
  {
    TraceCapture trace;
    EXPECT_EQ(run.run(in), OPIX_INVALID_VALUE);
    EXPECT_NE(trace.finish().find("\nBad pixel remover filter is not initialized\n"), std::string::npos);
  }
  const opixBadPixelCorrection_t bayer{OPIX_BAYER_GBRG};
  {
    TraceCapture trace;
    ASSERT_EQ(run.run(in, &bayer), OPIX_OK);
    EXPECT_NE(trace.finish().find("Bad pixel correction reinit"), std::string::npos);
  }
  EXPECT_EQ(run.out.at(7, 9), referenceBadPixel(in, OPIX_BAYER_GBRG, 7, 9));
  const opixBadPixelCorrection_t grey{OPIX_BAYER_NONE}, bad{opixBayerPattern_t(5)};
  EXPECT_EQ(run.run(in, &bad), OPIX_INVALID_VALUE);
  FilterRun eight(OPIX_BAD_PIXEL_CORRECTION_5x5, &grey, 64, 64, OPIX_I8);
  ASSERT_EQ(eight.status, OPIX_OK);
  EXPECT_EQ(eight.run(uniformImage(64, 64, OPIX_I8, 9)), OPIX_INVALID_VALUE);  // 8-bit grey has no kernel
  FilterRun rgb(OPIX_BAD_PIXEL_CORRECTION_5x5, &grey, 64, 64, OPIX_RGB8);
  EXPECT_EQ(rgb.status, OPIX_UNSUPPORTED_SURFACE);
}

// ------------------------------------------------------------ column filter

namespace {

// The column filter works in place: the image is uploaded into the source and
// read back from it.
struct ColumnRun {
  ColumnRun(const opixColumnFilter_t* r, uint32_t maxW, uint32_t maxH) : source(maxW, maxH, OPIX_I12) {
    status = opixImageFilterCreate(&handle, OPIX_COLUMN_FILTER, r, maxW, maxH, source.buffer.get(), &destination);
  }
  ~ColumnRun() {
    if (handle) {
      EXPECT_EQ(opixImageFilterDestroy(handle), OPIX_OK);
    }
  }
  opixStatus_t run(const std::vector<uint8_t>& bytes, uint32_t w, uint32_t h, const opixColumnFilter_t* r = nullptr) {
    setCurrentSize(*source.buffer, w, h);
    source.block.upload(bytes);
    const opixStatus_t s = opixImageFilterTransform(handle, r, w, h);
    after = source.block.download();
    return s;
  }
  ExternalSurface source;
  opixImageFilterHandle_t handle = nullptr;
  opixDeviceSurfaceBufferHandle_t destination = nullptr;
  opixStatus_t status;
  std::vector<uint8_t> after;
};

}  // namespace

TEST(ColumnFilter, CopiesTheSampleTwoColumnsLeftInPlace) {
  for (auto [w, h, column] : {std::tuple{64u, 64u, 2}, std::tuple{67u, 33u, 66}, std::tuple{5u, 600u, 3}}) {
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + " column " + std::to_string(column));
    const opixColumnFilter_t r{column};
    ColumnRun run(&r, 67, 600);
    ASSERT_EQ(run.status, OPIX_OK);
    EXPECT_EQ(deviceAddress(*run.destination), deviceAddress(*run.source.buffer));
    uint64_t bytes = 1;
    EXPECT_EQ(opixImageFilterGetAllocatedGpuMemorySize(run.handle, &bytes), OPIX_OK);
    EXPECT_EQ(bytes, 0u);
    const std::vector<uint8_t> before = randomBytes(opixImageSize(OPIX_I12, 67, 600), w + h);
    ASSERT_EQ(run.run(before, w, h), OPIX_OK);
    EXPECT_EQ(run.destination->width, w);
    // Rows lie a pitch apart (for odd widths more than the width).
    const uint32_t pitch = opixRowBytes(OPIX_I12, w);
    std::vector<uint8_t> want = before;
    for (uint32_t y = 0; y < h; ++y)
      std::memcpy(&want[y * pitch + 2 * column], &before[y * pitch + 2 * (column - 2)], 2);
    EXPECT_EQ(run.after, want);
  }
}

TEST(ColumnFilter, OffsetsAreChecked) {
  TraceCapture trace;
  const opixColumnFilter_t one{1}, last{63}, beyond{64};
  EXPECT_EQ(ColumnRun(nullptr, 64, 64).status, OPIX_INVALID_VALUE);
  EXPECT_EQ(ColumnRun(&one, 64, 64).status, OPIX_INVALID_VALUE);
  EXPECT_EQ(ColumnRun(&beyond, 64, 64).status, OPIX_INVALID_VALUE);
  ColumnRun run(&last, 64, 64);
  ASSERT_EQ(run.status, OPIX_OK);
  const std::vector<uint8_t> bytes = randomBytes(opixImageSize(OPIX_I12, 64, 64), 3);
  EXPECT_EQ(run.run(bytes, 63, 64), OPIX_INVALID_VALUE);  // at the current width
  EXPECT_EQ(run.after, bytes);
  EXPECT_EQ(run.run(bytes, 64, 64), OPIX_OK);
  const opixColumnFilter_t two{2};
  EXPECT_EQ(run.run(bytes, 64, 64, &one), OPIX_INVALID_VALUE);
  EXPECT_EQ(run.run(bytes, 10, 64, &two), OPIX_OK);
  const std::string t = trace.finish();
  EXPECT_NE(t.find("\nColumn filter is not initialized\n"), std::string::npos);
  EXPECT_NE(t.find("\ncolumnOffset < 2\n"), std::string::npos);
  EXPECT_NE(t.find("\topixColumnFilter_t:\n\t\tcolumn offset: 63\n"), std::string::npos);
}

// ---------------------------------------------------------------- defringe

namespace {

double hueOf(uint32_t r, uint32_t g, uint32_t b) {
  const double mx = std::max({r, g, b}), mn = std::min({r, g, b});
  double h = mx == r   ? 60.0 * (double(g) - double(b)) / (mx - mn)
             : mx == g ? 60.0 * (double(b) - double(r)) / (mx - mn) + 120.0
                       : 60.0 * (double(r) - double(g)) / (mx - mn) + 240.0;
  return h < 0 ? h + 360 : h;
}

uint32_t luma(const Image& in, int x, int y) {
  x = std::clamp(x, 0, int(in.width) - 1);
  y = std::clamp(y, 0, int(in.height) - 1);
  return (77 * in.at(x, y, 0) + 150 * in.at(x, y, 1) + 29 * in.at(x, y, 2) + 128) / 256;
}

// The two passes as documented, written plainly.
Image referenceDefringe(const Image& in, const opixDefringe_t& r) {
  const int w = int(in.width), h = int(in.height);
  std::vector<bool> edge(size_t(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      edge[size_t(y) * w + x] = double(std::abs(int(luma(in, x + 1, y)) - int(luma(in, x - 1, y))) +
                                       std::abs(int(luma(in, x, y + 1)) - int(luma(in, x, y - 1)))) > r.edgeThreshold;
  auto inRange = [](double hue, const float* range) {
    return range[0] <= range[1] ? hue >= range[0] && hue <= range[1] : hue >= range[0] || hue <= range[1];
  };
  Image out = in;
  const int radius = int(r.bandRadius);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint32_t c[3] = {in.at(x, y, 0), in.at(x, y, 1), in.at(x, y, 2)};
      if (c[0] == c[1] && c[1] == c[2]) continue;
      const double hue = hueOf(c[0], c[1], c[2]);
      if (!inRange(hue, r.purpleHue) && !inRange(hue, r.greenHue)) continue;
      bool band = false;
      for (int j = std::max(0, y - radius); j <= std::min(h - 1, y + radius); ++j)
        for (int i = std::max(0, x - radius); i <= std::min(w - 1, x + radius); ++i)
          band = band || edge[size_t(j) * w + i];
      if (!band) continue;
      const float yl = float(luma(in, x, y));
      for (int k = 0; k < 3; ++k)
        out.at(x, y, k) = rounded(float(c[k]) + r.strength * (yl - float(c[k])), formatMax(in.format));
    }
  return out;
}

uint32_t chroma(const Image& im, uint32_t x, uint32_t y) {
  const uint32_t c[3] = {im.at(x, y, 0), im.at(x, y, 1), im.at(x, y, 2)};
  return *std::max_element(c, c + 3) - *std::min_element(c, c + 3);
}

// A dark field on the left, a bright light-purple field on the right, and
// purple and green fringes along the edge between them.
Image fringedEdge(opixSurfaceFormat_t f, uint32_t w, uint32_t h) {
  const uint32_t s = f == OPIX_RGB12_PLANAR ? 16 : 1;  // 16-bit levels scaled to the format
  Image im{w, h, f, std::vector<uint32_t>(size_t(w) * h * 3)};
  const uint32_t edge = w / 2;
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) {
      std::array<uint32_t, 3> c = x < edge ? std::array<uint32_t, 3>{6000, 7000, 9000}      // dark blue-grey
                                           : std::array<uint32_t, 3>{50000, 40000, 52000};  // light purple
      if (x + 2 == edge || x + 1 == edge) c = {15000, 5000, 18000};                         // purple fringe
      if (x == edge && y % 4 == 0) c = {20000, 45000, 22000};                               // green fringe
      for (int k = 0; k < 3; ++k) im.at(x, y, k) = c[k] / s;
    }
  return im;
}

}  // namespace

TEST(Defringe, FringesShrinkAndFlatColourStaysBitForBit) {
  const opixDefringe_t r{1000.0f, 3, {260.0f, 320.0f}, {90.0f, 150.0f}, 0.8f};
  for (opixSurfaceFormat_t f : {OPIX_RGB16_PLANAR, OPIX_RGB12_PLANAR})
    for (auto [w, h] : {std::pair{64u, 33u}, std::pair{131u, 7u}}) {
      SCOPED_TRACE(label(f, w, h));
      opixDefringe_t rf = r;
      if (f == OPIX_RGB12_PLANAR) rf.edgeThreshold /= 16;
      FilterRun run(OPIX_DEFRINGE, &rf, w, h, f);
      ASSERT_EQ(run.status, OPIX_OK);
      const Image in = fringedEdge(f, w, h);
      ASSERT_EQ(run.run(in), OPIX_OK);
      EXPECT_EQ(run.out.v, referenceDefringe(in, rf).v);
      const uint32_t edge = w / 2;
      for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x : {edge - 2, edge - 1})  // purple fringe: chroma cut to a fifth
          EXPECT_LE(chroma(run.out, x, y), chroma(in, x, y) / 5 + 1) << x << "," << y;
        if (y % 4 == 0) {
          EXPECT_LE(chroma(run.out, edge, y), chroma(in, edge, y) / 5 + 1);
        }
        // Away from the edge both fields are untouched, the purple one included.
        for (uint32_t x = 0; x < w; ++x)
          if (x + 6 < edge || x > edge + 5) {
            for (uint32_t c = 0; c < 3; ++c) ASSERT_EQ(run.out.at(x, y, c), in.at(x, y, c)) << x << "," << y;
          }
      }
      EXPECT_TRUE(run.onlyPixelsWritten());
    }
  // A uniform image of a fringe colour has no edge: nothing changes.
  FilterRun flat(OPIX_DEFRINGE, &r, 70, 20, OPIX_RGB16_PLANAR);
  Image purple{70, 20, OPIX_RGB16_PLANAR, {}};
  for (uint32_t i = 0; i < 70 * 20; ++i) purple.v.insert(purple.v.end(), {15000, 5000, 18000});
  ASSERT_EQ(flat.run(purple), OPIX_OK);
  EXPECT_EQ(flat.out.v, purple.v);
}

// The host rows' hue test through selects against the shared one, for every
// colour of a lattice that hits hue sector borders and range ends exactly
// (grey, two equal channels, hues of whole multiples of 30 degrees), with
// plain and wrapping ranges.
TEST(Defringe, HueThroughSelectsIsTheSharedHue) {
  const DefringeRule rules[] = {{0, 1, {260.0f, 320.0f}, {90.0f, 150.0f}, 0.5f},
                                {0, 1, {300.0f, 20.0f}, {0.0f, 60.0f}, 0.5f},
                                {0, 1, {359.0f, 1.0f}, {120.0f, 120.0f}, 0.5f}};
  const uint32_t levels[] = {0, 1, 2, 3, 100, 101, 4094, 4095, 30000, 32768, 65534, 65535};
  for (const DefringeRule& rule : rules)
    for (uint32_t r : levels)
      for (uint32_t g : levels)
        for (uint32_t b : levels)
          ASSERT_EQ(fringeHueSelect(float(r), float(g), float(b), rule), fringeHue(r, g, b, rule))
              << r << " " << g << " " << b << " " << rule.purple[0];
}

TEST(Defringe, RandomImagesAgainstThePassesAndRecordChecks) {
  const opixDefringe_t wrap{20000.0f, 1, {300.0f, 20.0f}, {100.0f, 140.0f}, 1.0f};
  FilterRun run(OPIX_DEFRINGE, nullptr, 67, 40, OPIX_RGB16_PLANAR);
  ASSERT_EQ(run.status, OPIX_OK);
  const Image in = randomImage(67, 40, OPIX_RGB16_PLANAR, 12);
  {
    TraceCapture trace;
    EXPECT_EQ(run.run(in), OPIX_INVALID_VALUE);
    EXPECT_NE(trace.finish().find("\nDefringe filter is not initialized\n"), std::string::npos);
  }
  ASSERT_EQ(run.run(in, &wrap), OPIX_OK);
  const Image want = referenceDefringe(in, wrap);
  EXPECT_EQ(run.out.v, want.v);
  EXPECT_NE(want.v, in.v);  // the case exercises both passes

  const opixDefringe_t bad[] = {{-1.0f, 2, {260, 320}, {90, 150}, 0.5f}, {NAN, 2, {260, 320}, {90, 150}, 0.5f},
                                {10.0f, 0, {260, 320}, {90, 150}, 0.5f}, {10.0f, 9, {260, 320}, {90, 150}, 0.5f},
                                {10.0f, 2, {260, 361}, {90, 150}, 0.5f}, {10.0f, 2, {260, 320}, {-5, 150}, 0.5f},
                                {10.0f, 2, {260, 320}, {90, 150}, 1.5f}, {10.0f, 2, {260, 320}, {90, 150}, NAN}};
  for (const opixDefringe_t& b : bad) {
    EXPECT_EQ(run.run(in, &b), OPIX_INVALID_VALUE);
    FilterRun create(OPIX_DEFRINGE, &b, 64, 64, OPIX_RGB12_PLANAR);
    EXPECT_EQ(create.status, OPIX_INVALID_VALUE);
  }
  FilterRun rgb8(OPIX_DEFRINGE, &wrap, 64, 64, OPIX_RGB8);
  EXPECT_EQ(rgb8.status, OPIX_UNSUPPORTED_SURFACE);
  TraceCapture trace;
  { FilterRun traced(OPIX_DEFRINGE, &wrap, 64, 64, OPIX_RGB16_PLANAR); }
  EXPECT_NE(
      trace.finish().find("\topixDefringe_t:\n\t\tedge threshold: 2e+04\n\t\tband radius: 1\n\t\tpurple hue: 300, "
                          "20\n\t\tgreen hue: 100, 140\n\t\tstrength: 1\n"),
      std::string::npos);
}

// -------------------------------------------------------------------- trace

TEST(NeighbourhoodTrace, RecordPrinters) {
  TraceCapture trace;
  const opixGaussianFilter_t g{1.25f};
  const opixBinning_t b{OPIX_BINNING_AVERAGE, 2, 2};
  const opixBadPixelCorrection_t p{OPIX_BAYER_BGGR};
  {
    FilterRun a(OPIX_GAUSSIAN_BLUR, &g, 64, 64, OPIX_I16);
    FilterRun c(OPIX_BINNING, &b, 64, 64, OPIX_I16);
    FilterRun d(OPIX_BAD_PIXEL_CORRECTION_5x5, &p, 64, 64, OPIX_I16);
    FilterRun e(OPIX_MEDIAN, nullptr, 64, 64, OPIX_I16);
  }
  const std::string t = trace.finish();
  for (const char* want :
       {"\topixGaussianFilter_t:\n\t\tsigma: 1.25\n",
        "\topixBinning_t:\n\t\t\tBinning mode: average\n\t\t\tBinning factor X: 2\n\t\t\tBinning factor Y: 2\n",
        "\topixBadPixelCorrection_t:\n\t\tbayer pattern: BGGR\n", "\tfilter type: Median filter\n"})
    EXPECT_NE(t.find(want), std::string::npos) << "missing:\n" << want;
}

// ------------------------------------------------------- wide-pitch sources

// A caller-owned source may pad its rows: the filters read it by its pitch
// and write their destination by the destination's own. With one pitch for
// both, a source wider than the destination wrote past the destination.
TEST(WidePitchSource, MedianAndGaussianGiveThePackedResult) {
  const opixGaussianFilter_t sigma{0.9f};
  struct Case {
    opixImageFilterType_t type;
    opixSurfaceFormat_t format;
    const void* atTransform;
  };
  for (const Case& c :
       {Case{OPIX_MEDIAN, OPIX_I16, nullptr}, Case{OPIX_MEDIAN, OPIX_RGB12_PLANAR, nullptr},
        Case{OPIX_GAUSSIAN_BLUR, OPIX_I8, &sigma}, Case{OPIX_GAUSSIAN_SHARPEN, OPIX_I16, &sigma},
        Case{OPIX_GAUSSIAN_SHARPEN, OPIX_RGB8, &sigma}, Case{OPIX_GAUSSIAN_BLUR, OPIX_RGB16_PLANAR, &sigma}})
    for (auto [w, h] : {std::pair{67u, 66u}, std::pair{130u, 70u}}) {
      SCOPED_TRACE(std::string(opixImageFilterTypeName(c.type)) + " " + label(c.format, w, h));
      FilterRun packed(c.type, nullptr, w, h, c.format);
      FilterRun wide(c.type, nullptr, w, h, c.format, 0, 0, 256);
      ASSERT_EQ(packed.status, OPIX_OK);
      ASSERT_EQ(wide.status, OPIX_OK);
      const Image in = randomImage(w, h, c.format, w + h);
      ASSERT_EQ(packed.run(in, c.atTransform), OPIX_OK);
      ASSERT_EQ(wide.run(in, c.atTransform), OPIX_OK);
      EXPECT_EQ(wide.out.v, packed.out.v);
      EXPECT_TRUE(wide.onlyPixelsWritten());
    }
}

// The column filter's destination is its source's pixels: a reader of it
// steps by the source's pitch, not by packed rows.
TEST(WidePitchSource, ColumnFilterDestinationKeepsTheSourceRows) {
  constexpr uint32_t kW = 64, kH = 64, kExtra = 64;
  ExternalSurface source(kW, kH, OPIX_I12, kExtra);
  std::vector<uint8_t> bytes = randomBytes(source.buffer->pitch * size_t{kH}, 3);
  for (size_t i = 1; i < bytes.size(); i += 2) bytes[i] &= 0x0F;  // 12-bit samples
  source.block.upload(bytes);
  const opixColumnFilter_t column{9};
  opixImageFilterHandle_t filter = nullptr;
  opixDeviceSurfaceBufferHandle_t repaired = nullptr;
  ASSERT_EQ(opixImageFilterCreate(&filter, OPIX_COLUMN_FILTER, &column, kW, kH, source.buffer.get(), &repaired),
            OPIX_OK);
  ASSERT_EQ(opixImageFilterTransform(filter, nullptr, kW, kH), OPIX_OK);
  EXPECT_EQ(repaired->pitch, source.buffer->pitch);
  opixSurfaceFormat_t delivered = OPIX_I8;
  opixExportToHostHandle_t exporter = nullptr;
  ASSERT_EQ(opixExportToHostCreate(&exporter, &delivered, repaired), OPIX_OK);
  std::vector<uint16_t> back(size_t{kW} * kH);
  ASSERT_EQ(opixExportToHostCopy(exporter, back.data(), kW, 2 * kW, kH, nullptr), OPIX_OK);
  size_t wrong = 0;
  for (uint32_t y = 0; y < kH; ++y)
    for (uint32_t x = 0; x < kW; ++x) {
      const size_t at = size_t{y} * source.buffer->pitch + 2 * size_t{x == 9 ? 7 : x};
      wrong += back[size_t{y} * kW + x] != uint16_t(bytes[at] | bytes[at + 1] << 8);
    }
  EXPECT_EQ(wrong, 0u);
  EXPECT_EQ(opixExportToHostDestroy(exporter), OPIX_OK);
  EXPECT_EQ(opixImageFilterDestroy(filter), OPIX_OK);
}
