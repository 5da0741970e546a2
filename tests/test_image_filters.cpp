// The image filter interface and its per-pixel filters: dispatch, sizes,
// parameter records at Create and Transform, and every filter against its
// formula on awkward sizes, every pattern and every format it takes.
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <string>

#include "FilterSupport.h"
#include "bayerBlackShift/BayerBlackShiftMath.h"
#include "common/FilterRegistry.h"
#include "example/Invert.h"
#include "mad/MadMath.h"
#include "whiteBalance/WhiteBalanceMath.h"

using namespace opix;
using namespace opix::test;

namespace {

const opixBayerPattern_t kPatterns[] = {OPIX_BAYER_RGGB, OPIX_BAYER_BGGR, OPIX_BAYER_GBRG, OPIX_BAYER_GRBG};

// Site of a position as the pattern names it: 'R', '1' (G1), '2' (G2), 'B'.
char site(opixBayerPattern_t p, uint32_t x, uint32_t y) {
  const char* cells[] = {"", "R12B", "B12R", "1BR2", "1RB2"};  // row 0 then row 1 of the cell
  return cells[p][(x & 1) + 2 * (y & 1)];
}

// Round half up by +0.5 and truncation, clamped to 0 ... hi.
uint32_t rounded(float v, uint32_t hi) {
  const float t = v + 0.5f;
  if (!(t > 0.0f)) return 0;
  return t >= float(hi) ? hi : uint32_t(t);
}

opixStatus_t createStatus(opixImageFilterType_t type, opixSurfaceFormat_t f, const void* parameters = nullptr,
                          uint32_t maxW = 64, uint32_t maxH = 64) {
  ExternalSurface src(64, 64, f);
  opixImageFilterHandle_t h = reinterpret_cast<opixImageFilterHandle_t>(0x1);
  opixDeviceSurfaceBufferHandle_t d = nullptr;
  const opixStatus_t s = opixImageFilterCreate(&h, type, parameters, maxW, maxH, src.buffer.get(), &d);
  if (s == OPIX_OK) {
    EXPECT_EQ(opixImageFilterDestroy(h), OPIX_OK);
  } else {
    EXPECT_EQ(h, reinterpret_cast<opixImageFilterHandle_t>(0x1)) << "a failed Create stored a handle";
    EXPECT_EQ(d, nullptr);
  }
  return s;
}

}  // namespace

// Every type of the interface is declared by one filter under a display name
// of its own, which the trace prints except for the two types it has always
// printed as "Other"; the declaration alone decides which source formats
// Create accepts.
TEST(ImageFilterRegistry, EveryTypeDeclaredOnceWithItsNameAndFormats) {
  std::map<int, int> declared;
  std::map<std::string, int> named;
  for (const FilterDeclaration* d : filterDeclarations())
    for (size_t i = 0; i < d->typeCount; ++i) ++declared[d->types[i].type];
  for (int t = 1; t <= 44; ++t) {
    const auto type = opixImageFilterType_t(t);
    EXPECT_EQ(declared[t], 1) << t;
    const FilterType* entry = nullptr;
    ASSERT_NE(findFilter(type, &entry), nullptr) << t;
    ASSERT_NE(entry->name, nullptr) << t;
    EXPECT_STRNE(entry->name, "") << t;
    EXPECT_STRNE(entry->name, "Other") << t;
    EXPECT_EQ(++named[entry->name], 1) << entry->name;
    EXPECT_STREQ(opixImageFilterTypeName(type), entry->name);
    const bool otherInTrace = t == OPIX_GAUSSIAN_BLUR || t == OPIX_FFC;
    EXPECT_EQ(entry->namedInTrace, !otherInTrace) << t;
    EXPECT_STREQ(filterTraceName(type), otherInTrace ? "Other" : entry->name);
    for (int f = OPIX_I8; f <= OPIX_RGB16_PLANAR; ++f) {
      const auto format = opixSurfaceFormat_t(f);
      SCOPED_TRACE(std::to_string(t) + " on " + opixSurfaceFormatName(format));
      EXPECT_EQ(createStatus(type, format) == OPIX_UNSUPPORTED_SURFACE, !(entry->sources & formatBit(format)));
    }
  }
  for (int t : {0, 45, -1}) EXPECT_STREQ(filterTraceName(opixImageFilterType_t(t)), "Other") << t;
  EXPECT_EQ(findFilter(opixImageFilterType_t(0)), nullptr);
  EXPECT_EQ(findFilter(opixImageFilterType_t(45)), nullptr);
  // Record sizes: a plain record, a table record with its Bayer pattern, none.
  EXPECT_EQ(findFilter(OPIX_WHITE_BALANCE)->recordBytes(OPIX_WHITE_BALANCE), sizeof(opixWhiteBalance_t));
  EXPECT_EQ(findFilter(OPIX_SAM16)->recordBytes(OPIX_SAM16), sizeof(opixSam16_t));
  EXPECT_EQ(findFilter(OPIX_LUT_16_16_FR_BAYER)->recordBytes(OPIX_LUT_16_16_FR_BAYER),
            3 * 65536 * 2 + sizeof(opixBayerPattern_t));
  EXPECT_EQ(findFilter(OPIX_LUT_8_8)->recordBytes(OPIX_LUT_8_8), 256u);
  EXPECT_EQ(findFilter(OPIX_MEDIAN)->recordBytes(OPIX_MEDIAN), 0u);
}

// A filter of a program's own, registered with one line, is served by the
// interface like the SDK's; a type can be registered only once.
TEST(ImageFilterRegistry, ServesARegisteredFilter) {
  using example::kInvertType;
  ASSERT_EQ(findFilter(kInvertType), &example::kInvertFilter);
  EXPECT_STREQ(opixImageFilterTypeName(kInvertType), "Invert");
  EXPECT_FALSE(registerFilter(example::kInvertFilter));
  EXPECT_EQ(createStatus(kInvertType, OPIX_I12), OPIX_UNSUPPORTED_SURFACE);
  const example::InvertParameters white{255};
  FilterRun run(kInvertType, &white, 64, 64, OPIX_I8);
  ASSERT_EQ(run.status, OPIX_OK);
  ASSERT_EQ(run.run(uniformImage(40, 30, OPIX_I8, 55)), OPIX_OK);
  EXPECT_EQ(run.out.at(39, 29, 0), 200u);
}

// A class serves only the types of the declaration it was made from, whoever
// calls its Init; one made outside the registry serves none.
TEST(ImageFilterRegistry, AClassRefusesTypesItWasNotMadeFor) {
  ExternalSurface src(16, 16, OPIX_I8);
  const auto initStatus = [&](std::unique_ptr<ImageFilterBase> filter, opixImageFilterType_t used) {
    opixDeviceSurfaceBufferHandle_t d = nullptr;
    try {
      filter->Init(OPIX_I8, used, nullptr, 16, 16, src.buffer.get(), &d);
    } catch (const opixException& e) {
      EXPECT_EQ(d, nullptr);
      return e.status();
    }
    return OPIX_OK;
  };
  const auto made = [](opixImageFilterType_t t) { return createFilter(t, OPIX_I8); };
  EXPECT_EQ(initStatus(made(OPIX_LUT_8_8), OPIX_LUT_8_16), OPIX_OK);  // one class, several types
  EXPECT_EQ(initStatus(made(OPIX_LUT_8_8), OPIX_LUT_8_16_BAYER), OPIX_INVALID_VALUE);
  EXPECT_EQ(initStatus(made(OPIX_SAM), OPIX_WHITE_BALANCE), OPIX_INVALID_VALUE);
  EXPECT_EQ(initStatus(made(OPIX_GAUSSIAN_SHARPEN), OPIX_GAUSSIAN_BLUR), OPIX_OK);
  EXPECT_EQ(initStatus(made(OPIX_GAUSSIAN_SHARPEN), OPIX_SAM), OPIX_INVALID_VALUE);
  EXPECT_EQ(initStatus(findFilter(OPIX_SAM)->make(), OPIX_SAM), OPIX_INVALID_VALUE);
}

TEST(ImageFilterDispatch, TypeThenFormatThenClass) {
  const opixWhiteBalance_t wb{1, 1, 1, 1, OPIX_BAYER_RGGB};
  EXPECT_EQ(createStatus(opixImageFilterType_t(0), OPIX_I8), OPIX_INVALID_VALUE);
  EXPECT_EQ(createStatus(opixImageFilterType_t(45), OPIX_I8), OPIX_INVALID_VALUE);
  EXPECT_EQ(createStatus(OPIX_SAM, OPIX_RGB8), OPIX_UNSUPPORTED_SURFACE);
  EXPECT_EQ(createStatus(OPIX_SAM16, OPIX_I8), OPIX_UNSUPPORTED_SURFACE);
  EXPECT_EQ(createStatus(OPIX_WHITE_BALANCE, OPIX_I10, &wb), OPIX_UNSUPPORTED_SURFACE);
  EXPECT_EQ(createStatus(OPIX_BAYER_BLACK_SHIFT, OPIX_I8), OPIX_UNSUPPORTED_SURFACE);
  EXPECT_EQ(createStatus(OPIX_BASE_COLOR_CORRECTION, OPIX_BGR8), OPIX_UNSUPPORTED_SURFACE);
  // Filters whose classes come later: the format check still comes first.
  EXPECT_EQ(createStatus(OPIX_LUT_8_8, OPIX_I16), OPIX_UNSUPPORTED_SURFACE);
  EXPECT_EQ(createStatus(OPIX_LUT_8_8, OPIX_I8), OPIX_OK);
  EXPECT_EQ(createStatus(OPIX_GAUSSIAN_SHARPEN, OPIX_I8), OPIX_OK);
  EXPECT_EQ(createStatus(OPIX_FFC, OPIX_I8), OPIX_UNSUPPORTED_SURFACE);
  EXPECT_EQ(createStatus(OPIX_FFC, OPIX_I16), OPIX_OK);
  for (opixSurfaceFormat_t f : {OPIX_I8, OPIX_I10, OPIX_I12, OPIX_I14, OPIX_I16})
    EXPECT_EQ(createStatus(OPIX_SAM, f), OPIX_OK) << opixSurfaceFormatName(f);
  for (opixSurfaceFormat_t f : {OPIX_I8, OPIX_I12, OPIX_I16, OPIX_RGB8, OPIX_RGB12_PLANAR, OPIX_RGB16_PLANAR})
    EXPECT_EQ(createStatus(OPIX_BASE_COLOR_CORRECTION, f), OPIX_OK) << opixSurfaceFormatName(f);
}

TEST(ImageFilterDispatch, SizesAtCreateAndTransform) {
  EXPECT_EQ(createStatus(OPIX_SAM, OPIX_I12, nullptr, 100, 70), OPIX_OK);  // larger than the source
  EXPECT_EQ(createStatus(OPIX_SAM, OPIX_I12, nullptr, 63, 64), OPIX_INVALID_VALUE);
  EXPECT_EQ(createStatus(OPIX_SAM, OPIX_I12, nullptr, 64, 63), OPIX_INVALID_VALUE);
  EXPECT_EQ(createStatus(OPIX_SAM, OPIX_I12, nullptr, 65536, 64), OPIX_INVALID_SIZE);
  EXPECT_EQ(createStatus(OPIX_SAM, OPIX_I12, nullptr, 64, 65536), OPIX_INVALID_SIZE);

  const opixSam_t none{nullptr, nullptr};
  FilterRun run(OPIX_SAM, &none, 64, 64, OPIX_I12, 80, 90);
  ASSERT_EQ(run.status, OPIX_OK);
  EXPECT_EQ(run.destination->maxWidth, 64u);  // the destination follows the source
  EXPECT_EQ(run.destination->surfaceFormat, OPIX_I12);
  uint64_t bytes = 0;
  EXPECT_EQ(opixImageFilterGetAllocatedGpuMemorySize(run.handle, &bytes), OPIX_OK);
  // Destination, 64 x 64 floats, 64 x 64 bytes of black shift, each rounded to 128.
  EXPECT_EQ(bytes, 8192u + 16384u + 4096u);
  setCurrentSize(run.source(), 40, 30);
  EXPECT_EQ(opixImageFilterTransform(run.handle, nullptr, 41, 30), OPIX_INVALID_SIZE);
  EXPECT_EQ(opixImageFilterTransform(run.handle, nullptr, 40, 31), OPIX_INVALID_SIZE);
  EXPECT_EQ(opixImageFilterTransform(run.handle, nullptr, 40, 30), OPIX_OK);
  EXPECT_EQ(run.destination->width, 40u);
  EXPECT_EQ(run.destination->pitch, 80u);
}

// ------------------------------------------------------------------- SAM

TEST(Sam, WorkedExamples) {
  {
    const int8_t shift[4] = {-5, 10, 0, 0};
    const float factor[4] = {1.0f, 0.5f, 1.0f, 1.0f};
    const opixSam_t shiftOnly{shift, nullptr};
    const opixSam_t both{shift, factor};
    FilterRun a(OPIX_SAM, &shiftOnly, 4, 1, OPIX_I8);
    FilterRun b(OPIX_SAM, &both, 4, 1, OPIX_I8);
    ASSERT_EQ(a.status, OPIX_OK);
    ASSERT_EQ(b.status, OPIX_OK);
    const Image in{4, 1, OPIX_I8, {100, 255, 3, 250}};
    ASSERT_EQ(a.run(in), OPIX_OK);
    EXPECT_EQ(a.out.at(0, 0), 105u);  // 100 - (-5)
    EXPECT_EQ(a.out.at(1, 0), 255u);  // saturated: never shifted
    ASSERT_EQ(b.run(in), OPIX_OK);
    EXPECT_EQ(b.out.at(1, 0), 128u);  // 255 x 0.5 = 127.5, rounded half up
  }
  {
    const int8_t shift[4] = {20, 100, -100, 0};
    const opixSam_t r{shift, nullptr};
    FilterRun run(OPIX_SAM, &r, 3, 1, OPIX_I12);
    ASSERT_EQ(run.run(Image{3, 1, OPIX_I12, {10, 4095, 4050}}), OPIX_OK);
    EXPECT_EQ(run.out.at(0, 0), 0u);     // negative results clamp to 0
    EXPECT_EQ(run.out.at(1, 0), 4095u);  // saturated
    EXPECT_EQ(run.out.at(2, 0), 4095u);  // 4150 clamps to the maximum
  }
  {
    const float factor[2] = {1.1f, 1.1f};
    const opixSam16_t r{nullptr, factor};
    FilterRun run(OPIX_SAM16, &r, 2, 1, OPIX_I12);
    ASSERT_EQ(run.run(Image{2, 1, OPIX_I12, {4000, 100}}), OPIX_OK);
    EXPECT_EQ(run.out.at(0, 0), 4095u);
    EXPECT_EQ(run.out.at(1, 0), 110u);
  }
}

namespace {

struct SamCase {
  opixImageFilterType_t type;
  opixSurfaceFormat_t format;
  uint32_t w, h;
};

// The matrices of a frame in the documented host layout, and the expected result.
struct SamMatrices {
  std::vector<int8_t> shift8;
  std::vector<int16_t> shift16;
  std::vector<float> factor;
  uint32_t stride;  // values per black shift row

  SamMatrices(const SamCase& c, uint32_t seed) {
    std::mt19937 rng(seed);
    const bool wide = c.type == OPIX_SAM16;
    stride = wide ? (c.w + 1) / 2 * 2 : (c.w + 3) / 4 * 4;
    const uint32_t hi = formatMax(c.format);
    for (uint32_t i = 0; i < stride * c.h; ++i) {
      if (wide)
        shift16.push_back(int16_t(int(rng() % (hi / 4)) - int(hi / 8)));
      else
        shift8.push_back(int8_t(rng()));
    }
    for (uint32_t i = 0; i < c.w * c.h; ++i) factor.push_back(0.5f + float(rng() % 1000) / 1000.0f);
  }

  uint32_t expected(const SamCase& c, const Image& in, uint32_t x, uint32_t y, bool useShift, bool useFactor) const {
    const uint32_t hi = formatMax(c.format);
    const uint32_t p = in.at(x, y);
    float v = float(p);
    const int b = c.type == OPIX_SAM16 ? shift16[y * stride + x] : shift8[y * stride + x];
    if (useShift && p != hi) v = float(p) - float(b);
    if (useFactor) v = v * factor[y * c.w + x];
    return rounded(v, hi);
  }
};

}  // namespace

TEST(Sam, EveryFormatAtOddWidthsAgainstItsFormula) {
  // Widths of every remainder modulo 4, and ones just past a block of 1024.
  std::vector<SamCase> cases;
  for (opixSurfaceFormat_t f : {OPIX_I8, OPIX_I10, OPIX_I12, OPIX_I14, OPIX_I16})
    for (auto [w, h] :
         {std::pair{65u, 9u}, std::pair{66u, 17u}, std::pair{67u, 8u}, std::pair{1029u, 11u}, std::pair{5u, 3u}}) {
      cases.push_back({OPIX_SAM, f, w, h});
      if (f != OPIX_I8) cases.push_back({OPIX_SAM16, f, w, h});
    }
  for (const SamCase& c : cases) {
    SCOPED_TRACE(std::string(opixImageFilterTypeName(c.type)) + " " + opixSurfaceFormatName(c.format) + " " +
                 std::to_string(c.w) + "x" + std::to_string(c.h));
    const SamMatrices m(c, c.w * 31 + c.h);
    const opixSam_t r8{m.shift8.data(), m.factor.data()};
    const opixSam16_t r16{m.shift16.data(), m.factor.data()};
    const void* record = c.type == OPIX_SAM16 ? static_cast<const void*>(&r16) : &r8;
    FilterRun run(c.type, record, c.w, c.h, c.format);
    ASSERT_EQ(run.status, OPIX_OK);
    Image in = randomImage(c.w, c.h, c.format, c.w + c.h);
    in.at(c.w - 1, c.h - 1) = formatMax(c.format);  // a saturated pixel in the last row
    ASSERT_EQ(run.run(in), OPIX_OK);
    for (uint32_t y = 0; y < c.h; ++y)
      for (uint32_t x = 0; x < c.w; ++x)
        ASSERT_EQ(run.out.at(x, y), m.expected(c, in, x, y, true, true)) << x << "," << y;
    EXPECT_TRUE(run.onlyPixelsWritten());
  }
}

TEST(Sam, NullRecordsAndRecordsAtTransform) {
  const SamCase c{OPIX_SAM16, OPIX_I16, 70, 66};
  const SamMatrices m(c, 5);
  const Image in = randomImage(c.w, c.h, c.format, 9);

  FilterRun run(OPIX_SAM16, nullptr, c.w, c.h, c.format);
  ASSERT_EQ(run.status, OPIX_OK);
  {
    TraceCapture trace;
    EXPECT_EQ(run.run(in), OPIX_INVALID_VALUE);
    EXPECT_NE(trace.finish().find("\nMAD 16 filter is not initialized\n"), std::string::npos);
  }
  // A record at Transform initialises the filter; only the shift is given.
  const opixSam16_t shiftOnly{m.shift16.data(), nullptr};
  ASSERT_EQ(run.run(in, &shiftOnly), OPIX_OK);
  for (uint32_t y = 0; y < c.h; ++y)
    for (uint32_t x = 0; x < c.w; ++x) ASSERT_EQ(run.out.at(x, y), m.expected(c, in, x, y, true, false));
  // Null keeps it in force; a new record replaces it whole.
  ASSERT_EQ(run.run(in), OPIX_OK);
  EXPECT_EQ(run.out.at(3, 3), m.expected(c, in, 3, 3, true, false));
  const opixSam16_t factorOnly{nullptr, m.factor.data()};
  ASSERT_EQ(run.run(in, &factorOnly), OPIX_OK);
  for (uint32_t y = 0; y < c.h; ++y)
    for (uint32_t x = 0; x < c.w; ++x) ASSERT_EQ(run.out.at(x, y), m.expected(c, in, x, y, false, true));

  // A smaller frame reads the top-left part of the max-size matrices.
  const opixSam16_t both{m.shift16.data(), m.factor.data()};
  const Image small = randomImage(33, 20, c.format, 2);
  setCurrentSize(run.source(), small.width, small.height);
  ASSERT_EQ(run.run(small, &both), OPIX_OK);
  for (uint32_t y = 0; y < small.height; ++y)
    for (uint32_t x = 0; x < small.width; ++x) ASSERT_EQ(run.out.at(x, y), m.expected(c, small, x, y, true, true));
  EXPECT_TRUE(run.onlyPixelsWritten());

  // A record with neither matrix copies the source.
  const opixSam_t none{nullptr, nullptr};
  FilterRun copy(OPIX_SAM, &none, c.w, c.h, OPIX_I12);
  const Image in12 = randomImage(c.w, c.h, OPIX_I12, 4);
  ASSERT_EQ(copy.run(in12), OPIX_OK);
  EXPECT_EQ(copy.out.v, in12.v);
}

// ------------------------------------------------------------ white balance

TEST(WhiteBalance, WorkedExamples) {
  const opixWhiteBalance_t r{2.0f, 1.0f, 1.0f, 0.5f, OPIX_BAYER_RGGB};
  FilterRun run(OPIX_WHITE_BALANCE, &r, 2, 2, OPIX_I8);
  ASSERT_EQ(run.run(Image{2, 2, OPIX_I8, {100, 50, 60, 201}}), OPIX_OK);
  EXPECT_EQ(run.out.v, (std::vector<uint32_t>{200, 50, 60, 101}));

  const opixWhiteBalance_t two{2.0f, 2.0f, 2.0f, 2.0f, OPIX_BAYER_RGGB};
  FilterRun twelve(OPIX_WHITE_BALANCE, &two, 2, 1, OPIX_I12);
  ASSERT_EQ(twelve.run(Image{2, 1, OPIX_I12, {3000, 2047}}), OPIX_OK);
  EXPECT_EQ(twelve.out.at(0, 0), 4095u);
  EXPECT_EQ(twelve.out.at(1, 0), 4094u);
}

TEST(WhiteBalance, EverySiteOfEveryPatternAndFormat) {
  const float gain[4] = {1.5f, 0.75f, 1.25f, 3.1f};  // R, G1, G2, B
  for (opixSurfaceFormat_t f : {OPIX_I8, OPIX_I12, OPIX_I16})
    for (auto [w, h] : {std::pair{67u, 35u}, std::pair{1030u, 17u}, std::pair{3u, 3u}}) {
      FilterRun run(OPIX_WHITE_BALANCE, nullptr, w, h, f);
      ASSERT_EQ(run.status, OPIX_OK);
      const Image in = randomImage(w, h, f, w * h);
      for (opixBayerPattern_t p : kPatterns) {
        SCOPED_TRACE(std::string(opixSurfaceFormatName(f)) + " " + opixBayerPatternName(p) + " " + std::to_string(w));
        const opixWhiteBalance_t r{gain[0], gain[1], gain[2], gain[3], p};
        ASSERT_EQ(run.run(in, &r), OPIX_OK);
        for (uint32_t y = 0; y < h; ++y)
          for (uint32_t x = 0; x < w; ++x) {
            const char s = site(p, x, y);
            const float k = s == 'R' ? gain[0] : s == '1' ? gain[1] : s == '2' ? gain[2] : gain[3];
            const float t = std::fmaf(float(in.at(x, y)), k, 0.5f);
            ASSERT_EQ(run.out.at(x, y), t >= float(formatMax(f)) ? formatMax(f) : uint32_t(t)) << x << "," << y;
          }
        EXPECT_TRUE(run.onlyPixelsWritten());
      }
    }
}

TEST(WhiteBalance, PatternOutsideTheTableFailsTheTransform) {
  const opixWhiteBalance_t r{1, 1, 1, 1, OPIX_BAYER_NONE};
  FilterRun run(OPIX_WHITE_BALANCE, &r, 64, 64, OPIX_I8);
  ASSERT_EQ(run.status, OPIX_OK);
  EXPECT_EQ(run.run(uniformImage(64, 64, OPIX_I8, 1)), OPIX_INVALID_VALUE);
  TraceCapture trace;
  FilterRun unset(OPIX_WHITE_BALANCE, nullptr, 64, 64, OPIX_I8);
  EXPECT_EQ(unset.run(uniformImage(64, 64, OPIX_I8, 1)), OPIX_INVALID_VALUE);
  EXPECT_NE(trace.finish().find("\nWhite Balance filter is not initialized\n"), std::string::npos);
}

// -------------------------------------------------------- Bayer black shift

TEST(BayerBlackShift, WorkedExampleAndEveryPattern) {
  const opixBayerBlackShift_t r{{64, 32, 16}, OPIX_BAYER_RGGB};
  FilterRun run(OPIX_BAYER_BLACK_SHIFT, &r, 2, 2, OPIX_I12);
  ASSERT_EQ(run.run(Image{2, 2, OPIX_I12, {60, 100, 40, 200}}), OPIX_OK);
  EXPECT_EQ(run.out.v, (std::vector<uint32_t>{0, 68, 8, 184}));

  const float level[3] = {100.25f, -7.5f, 3000.0f};  // a negative level raises the samples
  for (opixSurfaceFormat_t f : {OPIX_I12, OPIX_I16})
    for (auto [w, h] : {std::pair{65u, 65u}, std::pair{131u, 70u}, std::pair{1u, 2u}}) {
      FilterRun big(OPIX_BAYER_BLACK_SHIFT, nullptr, w, h, f);
      Image in = randomImage(w, h, f, w + h);
      in.at(0, 0) = formatMax(f);
      for (opixBayerPattern_t p : kPatterns) {
        SCOPED_TRACE(std::string(opixSurfaceFormatName(f)) + " " + opixBayerPatternName(p));
        const opixBayerBlackShift_t rp{{level[0], level[1], level[2]}, p};
        ASSERT_EQ(big.run(in, &rp), OPIX_OK);
        for (uint32_t y = 0; y < h; ++y)
          for (uint32_t x = 0; x < w; ++x) {
            const char s = site(p, x, y);
            const float b = s == 'R' ? level[0] : s == 'B' ? level[2] : level[1];
            ASSERT_EQ(big.out.at(x, y), rounded(float(in.at(x, y)) - b, formatMax(f))) << x << "," << y;
          }
        EXPECT_TRUE(big.onlyPixelsWritten());
      }
    }
}

TEST(BayerBlackShift, PatternOutsideTheTableIsAnInvalidFormat) {
  const opixBayerBlackShift_t r{{1, 1, 1}, opixBayerPattern_t(5)};
  FilterRun run(OPIX_BAYER_BLACK_SHIFT, &r, 64, 64, OPIX_I16);
  EXPECT_EQ(run.run(uniformImage(64, 64, OPIX_I16, 9)), OPIX_INVALID_FORMAT);
}

// --------------------------------------------------- base colour correction

TEST(BaseColorCorrection, WorkedExamples) {
  opixBaseColorCorrection_t identity{{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0}, {128, 255, 255}};
  FilterRun rgb(OPIX_BASE_COLOR_CORRECTION, &identity, 1, 1, OPIX_RGB8);
  ASSERT_EQ(rgb.run(Image{1, 1, OPIX_RGB8, {200, 100, 50}}), OPIX_OK);
  EXPECT_EQ(rgb.out.v, (std::vector<uint32_t>{128, 100, 50}));

  opixBaseColorCorrection_t gray{{1.5f, 9, 9, 100, 9, 9, 9, 9, 9, 9, 9, 9}, {0, 0, 0}};
  FilterRun twelve(OPIX_BASE_COLOR_CORRECTION, &gray, 3, 1, OPIX_I12);
  ASSERT_EQ(twelve.run(Image{3, 1, OPIX_I12, {1000, 50, 4000}}), OPIX_OK);
  EXPECT_EQ(twelve.out.v, (std::vector<uint32_t>{1400, 0, 4095}));
}

TEST(BaseColorCorrection, EveryFormatAgainstItsFormula) {
  const opixBaseColorCorrection_t r{{1.2f, -0.1f, -0.05f, 3.5f, -0.2f, 1.3f, -0.1f, -2.0f, 0.0f, -0.3f, 1.4f, 0.25f},
                                    {60000, 3000, 200}};
  for (opixSurfaceFormat_t f : {OPIX_I8, OPIX_I12, OPIX_I16, OPIX_RGB8, OPIX_RGB12_PLANAR, OPIX_RGB16_PLANAR})
    for (auto [w, h] : {std::pair{67u, 33u}, std::pair{133u, 129u}, std::pair{2u, 1u}}) {
      SCOPED_TRACE(std::string(opixSurfaceFormatName(f)) + " " + std::to_string(f) + " " + std::to_string(w));
      FilterRun run(OPIX_BASE_COLOR_CORRECTION, &r, w, h, f);
      ASSERT_EQ(run.status, OPIX_OK);
      const Image in = randomImage(w, h, f, w ^ h);
      ASSERT_EQ(run.run(in), OPIX_OK);
      const uint32_t hi = formatMax(f);
      for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
          if (in.channels() == 1) {
            ASSERT_EQ(run.out.at(x, y), rounded(r.matrix[0] * float(in.at(x, y)) - r.matrix[3], hi));
            continue;
          }
          float c[3];
          for (int k = 0; k < 3; ++k) c[k] = float(std::min<int64_t>(in.at(x, y, k), r.whiteLevel[k]));
          for (int k = 0; k < 3; ++k) {
            const float* m = r.matrix + 4 * k;
            ASSERT_EQ(run.out.at(x, y, k), rounded(m[0] * c[0] + m[1] * c[1] + m[2] * c[2] - m[3], hi))
                << x << "," << y << " channel " << k;
          }
        }
      EXPECT_TRUE(run.onlyPixelsWritten());
    }
}

TEST(BaseColorCorrection, RecordAtTransformReplacesTheOneOfCreate) {
  const opixBaseColorCorrection_t half{{0.5f, 0, 0, 0, 0, 0.5f, 0, 0, 0, 0, 0.5f, 0}, {255, 255, 255}};
  const opixBaseColorCorrection_t negate{{-1, 0, 0, -255, 0, -1, 0, -255, 0, 0, -1, -255}, {255, 255, 255}};
  FilterRun run(OPIX_BASE_COLOR_CORRECTION, &half, 5, 1, OPIX_RGB8);
  const Image in{5, 1, OPIX_RGB8, {10, 20, 30, 0, 255, 7, 1, 2, 3, 4, 5, 6, 200, 100, 51}};
  ASSERT_EQ(run.run(in), OPIX_OK);
  EXPECT_EQ(run.out.at(4, 0, 2), 26u);  // 25.5 rounds up
  ASSERT_EQ(run.run(in, &negate), OPIX_OK);
  EXPECT_EQ(run.out.at(0, 0, 0), 245u);
  ASSERT_EQ(run.run(in), OPIX_OK);  // the new record stays in force
  EXPECT_EQ(run.out.at(1, 0, 1), 0u);
}

// ------------------------------------------------- host rows through selects

// A float's bits: NaNs compare by their payload, and -0 differs from 0.
static uint32_t floatBits(float v) {
  uint32_t b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

// The host rows of the white balance, the black shift and the SAM round
// through selects so that they vectorise: the same sample as the shared maths
// for every sample of each depth, with factors, levels and shifts that push
// the value below black, above white, to infinity or to NaN.
TEST(FilterMaths, SelectFormsGiveTheSharedSamples) {
  const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
  const float rounded[] = {0.0f,   -0.0f,   0.5f,       1.0f,     254.99998f,
                           255.0f, 4095.0f, 65534.996f, 65535.0f, 1e30f,
                           -1e30f, inf,     -inf,       nan,      std::numeric_limits<float>::denorm_min()};
  for (int hi : {255, 4095, 65535})
    for (float v : rounded) EXPECT_EQ(saturateTruncateSelect(v, hi), saturateTruncate(v, hi)) << v << " " << hi;

  const float gains[] = {0.0f, -1.0f, 0.5f, 0.93f, 1.0f, 1.0000001f, 2.4f, 1e30f, inf, nan};
  const float levels[] = {-7.5f, 0.0f, 0.5f, 23.5f, 40.25f, 255.5f, 70000.0f, -inf, nan};
  const int32_t shifts[] = {-32768, -128, -1, 0, 3, 127, 32767};
  for (uint32_t hi : {255u, 4095u, 65535u})
    for (uint32_t p = 0; p <= hi; ++p) {
      for (float k : gains)
        ASSERT_EQ(whiteBalanceSampleSelect(p, k, hi), whiteBalanceSample(p, k, hi)) << p << " " << k << " " << hi;
      for (float b : levels)
        ASSERT_EQ(blackShiftSampleSelect(p, b, hi), blackShiftSample(p, b, hi)) << p << " " << b << " " << hi;
      if (p % 7 != 0 && p + 1 < hi) continue;  // SAM: a seventh of the samples and the top two
      for (int32_t b : shifts)
        for (float a : {0.6f, 1.01f, -2.0f, inf, nan})
          for (int m = 0; m < 4; ++m) {
            const bool hasShift = (m & 1) != 0, hasFactor = (m & 2) != 0;
            ASSERT_EQ(madSampleSelect(p, hasShift, b, hasFactor, a, hi), madSample(p, hasShift, b, hasFactor, a, hi))
                << p << " " << b << " " << a << " " << m << " " << hi;
            // The value itself, bit for bit, against the formula written out.
            const float plain = static_cast<float>(p);
            const float v = hasShift && p != hi ? plain - static_cast<float>(b) : plain;
            ASSERT_EQ(floatBits(madValue(p, hasShift, b, hasFactor, a, hi)), floatBits(hasFactor ? v * a : v))
                << p << " " << b << " " << a << " " << m << " " << hi;
          }
    }
}

// -------------------------------------------------------------------- trace

TEST(ImageFilterTrace, RecordsAndCallLines) {
  TraceCapture trace;
  const int8_t shift[64 * 64] = {};
  const opixSam_t sam{shift, nullptr};
  const opixWhiteBalance_t wb{2.0f, 1.0f, 1.25f, 0.333333f, OPIX_BAYER_GBRG};
  const opixBayerBlackShift_t bbs{{64, 32, 16.5f}, OPIX_BAYER_GRBG};
  const opixBaseColorCorrection_t bcc{{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0.5f}, {128, 255, 4095}};
  {
    FilterRun a(OPIX_SAM, &sam, 64, 64, OPIX_I8);
    FilterRun b(OPIX_WHITE_BALANCE, &wb, 64, 64, OPIX_I8);
    FilterRun c(OPIX_BAYER_BLACK_SHIFT, &bbs, 64, 64, OPIX_I12);
    FilterRun d(OPIX_BASE_COLOR_CORRECTION, &bcc, 64, 64, OPIX_I12);
    FilterRun e(OPIX_SAM16, nullptr, 64, 64, OPIX_I12);
    FilterRun f(OPIX_GAUSSIAN_BLUR, nullptr, 64, 64, OPIX_I8);
    ASSERT_EQ(a.run(uniformImage(64, 64, OPIX_I8, 3)), OPIX_OK);
  }
  const std::string t = trace.finish();
  std::ostringstream shiftLine;
  shiftLine << "\topixSam_t:\n\t\tblack shift matrix pointer: 0x" << std::hex << reinterpret_cast<uintptr_t>(shift)
            << "\n\t\tcorrection matrix pointer: 0x0\n";
  for (const std::string& want :
       {std::string("Image filter. Create\n\tfilter type: SAM\n"), shiftLine.str(),
        std::string(
            "\topixWhiteBalance_t:\n\t\tR: 2\n\t\tG1: 1\n\t\tG2: 1.25\n\t\tB: 0.333\n\t\t\tbayer pattern: GBRG\n"),
        std::string("\topixBayerBlackShift_t:\n\t\tblack shift coefficients: 64, 32, 16.5\n\t\tbayer pattern: GRBG\n"),
        std::string("\topixBaseColorCorrection_t:\n\t\twhite level: 128, 255, 4095\n"
                    "\t\tmatrix: 1, 0, 0, 0; 0, 1, 0, 0; 0, 0, 1, 0.5\n"),
        std::string("\topixSam16_t: NULL\n"), std::string("Image filter. Create\n\tfilter type: Other\n"),
        std::string("Image filter. Transform\n"), std::string("\theight: 64\n\topixSam_t: NULL\n"),
        std::string("Image filter. Destroyed.\n")})
    EXPECT_NE(t.find(want), std::string::npos) << "missing:\n" << want;
}
