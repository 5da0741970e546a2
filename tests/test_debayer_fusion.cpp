// A debayer with pre-operations gives the bytes of the chain of filters it
// stands for (SAM or SAM16, Bayer black shift, white balance, then the
// debayer), for every algorithm with a work image, bit depth and pattern, at
// awkward sizes; and its interface checks what the filters check.
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"

using namespace opix;

namespace {

struct Steps {
  bool shift = false, factor = false, wide = false;  // SAM (wide: SAM16)
  bool black = false, balance = false;
};

struct Frame {
  uint32_t w, h;
  opixSurfaceFormat_t format;
  std::vector<uint8_t> pixels;  // rows of `pitch` bytes
  uint32_t pitch;
  std::vector<uint8_t> shifts;  // at the filters' row stride
  std::vector<float> factors;
};

uint32_t sampleBytes(opixSurfaceFormat_t f) { return f == OPIX_I8 ? 1 : 2; }
uint32_t top(opixSurfaceFormat_t f) { return f == OPIX_I8 ? 255 : f == OPIX_I12 ? 4095 : 65535; }

// Random samples with saturated ones and ones near black, so that the SAM's
// saturation rule, the black clamp and the white clamp all take part.
Frame makeFrame(uint32_t w, uint32_t h, opixSurfaceFormat_t f, bool wide, uint32_t seed) {
  std::mt19937 rng(seed);
  Frame fr{w, h, f, {}, w * sampleBytes(f), {}, {}};
  fr.pixels.resize(size_t(fr.pitch) * h);
  for (uint32_t i = 0; i < w * h; ++i) {
    const uint32_t r = rng() % 16;
    const uint32_t v = r == 0 ? top(f) : r == 1 ? rng() % 40 : rng() % (top(f) + 1);
    if (f == OPIX_I8)
      fr.pixels[i] = uint8_t(v);
    else
      std::memcpy(&fr.pixels[2 * size_t(i)], &v, 2);
  }
  const uint32_t stride = (w * (wide ? 2 : 1) + 3) / 4 * 4;
  fr.shifts.resize(size_t(stride) * h);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) {
      const int v = int(rng() % 61) - 20;  // mostly positive shifts, some negative
      if (wide) {
        const int16_t s = int16_t(v * 9);
        std::memcpy(&fr.shifts[y * stride + 2 * x], &s, 2);
      } else {
        fr.shifts[y * stride + x] = uint8_t(int8_t(v));
      }
    }
  fr.factors.resize(size_t(w) * h);
  for (float& a : fr.factors) a = 0.6f + float(rng() % 1000) / 1000.0f;
  return fr;
}

const opixWhiteBalance_t kBalance{1.7f, 0.93f, 1.06f, 2.4f, OPIX_BAYER_RGGB};
const opixBayerBlackShift_t kBlack{{23.5f, 11.0f, 40.25f}, OPIX_BAYER_RGGB};

// The pre-operation records of `s` over the frame's matrices.
struct Records {
  opixSam_t sam{};
  opixSam16_t sam16{};
  opixWhiteBalance_t balance = kBalance;
  opixBayerBlackShift_t black = kBlack;
  opixDebayerPreOperations_t pre{};

  Records(const Steps& s, const Frame& f, opixBayerPattern_t pattern) {
    balance.bayerPattern = black.bayerPattern = pattern;
    const float* factor = s.factor ? f.factors.data() : nullptr;
    if (s.wide) {
      sam16 = {s.shift ? reinterpret_cast<const int16_t*>(f.shifts.data()) : nullptr, factor};
      if (s.shift || s.factor) pre.sam16 = &sam16;
    } else {
      sam = {s.shift ? reinterpret_cast<const int8_t*>(f.shifts.data()) : nullptr, factor};
      if (s.shift || s.factor) pre.sam = &sam;
    }
    if (s.black) pre.blackShift = &black;
    if (s.balance) pre.whiteBalance = &balance;
  }
};

// import -> [filters] -> debayer -> export, or import -> debayer with the
// same steps as pre-operations -> export; the exported bytes.
std::vector<uint8_t> runChain(opixDebayerType_t type, const Frame& f, const Steps& s, opixBayerPattern_t pattern,
                              bool fused) {
  const Records r(s, f, pattern);
  opixImportFromHostHandle_t importer = nullptr;
  opixDebayerHandle_t debayer = nullptr;
  opixExportToHostHandle_t exporter = nullptr;
  std::vector<opixImageFilterHandle_t> filters;
  opixDeviceSurfaceBufferHandle_t b = nullptr;
  std::vector<uint8_t> out;
  EXPECT_EQ(opixImportFromHostCreate(&importer, f.format, f.w, f.h, &b), OPIX_OK);
  if (fused) {
    EXPECT_EQ(opixDebayerCreateWithPreOperations(&debayer, type, f.w, f.h, &r.pre, b, &b), OPIX_OK);
  } else {
    auto add = [&](opixImageFilterType_t t, const void* record) {
      opixImageFilterHandle_t h = nullptr;
      EXPECT_EQ(opixImageFilterCreate(&h, t, record, f.w, f.h, b, &b), OPIX_OK);
      filters.push_back(h);
    };
    if (r.pre.sam) add(OPIX_SAM, &r.sam);
    if (r.pre.sam16) add(OPIX_SAM16, &r.sam16);
    if (r.pre.blackShift) add(OPIX_BAYER_BLACK_SHIFT, &r.black);
    if (r.pre.whiteBalance) add(OPIX_WHITE_BALANCE, &r.balance);
    EXPECT_EQ(opixDebayerCreate(&debayer, type, f.w, f.h, b, &b), OPIX_OK);
  }
  opixSurfaceFormat_t format{};
  EXPECT_EQ(opixExportToHostCreate(&exporter, &format, b), OPIX_OK);
  if (!debayer || !exporter) return out;
  const uint32_t outPitch = opixRowBytes(format, f.w);
  out.assign(size_t(outPitch) * f.h, 0);
  // Two frames: the second must not depend on what the first left behind.
  for (int k = 0; k < 2; ++k) {
    EXPECT_EQ(opixImportFromHostCopy(importer, f.pixels.data(), f.w, f.pitch, f.h), OPIX_OK);
    for (opixImageFilterHandle_t h : filters) EXPECT_EQ(opixImageFilterTransform(h, nullptr, f.w, f.h), OPIX_OK);
    EXPECT_EQ(opixDebayerTransform(debayer, pattern, f.w, f.h), OPIX_OK);
    EXPECT_EQ(opixExportToHostCopy(exporter, out.data(), f.w, outPitch, f.h, nullptr), OPIX_OK);
  }
  opixExportToHostDestroy(exporter);
  opixDebayerDestroy(debayer);
  for (opixImageFilterHandle_t h : filters) opixImageFilterDestroy(h);
  opixImportFromHostDestroy(importer);
  return out;
}

std::string describe(opixDebayerType_t t, const Frame& f, const Steps& s, opixBayerPattern_t p) {
  std::ostringstream o;
  o << opixDebayerTypeName(t) << " " << opixSurfaceFormatName(f.format) << " " << f.w << "x" << f.h << " "
    << opixBayerPatternName(p) << (s.shift ? " shift" : "") << (s.factor ? " factor" : "") << (s.wide ? "16" : "")
    << (s.black ? " black" : "") << (s.balance ? " balance" : "");
  return o.str();
}

const opixBayerPattern_t kPatterns[] = {OPIX_BAYER_RGGB, OPIX_BAYER_BGGR, OPIX_BAYER_GBRG, OPIX_BAYER_GRBG};

TEST(DebayerFusion, GivesTheBytesOfTheFilterChain) {
  struct Case {
    opixDebayerType_t type;
    opixSurfaceFormat_t format;
  };
  const Case cases[] = {{OPIX_HQLI, OPIX_I8},  {OPIX_HQLI, OPIX_I12}, {OPIX_HQLI, OPIX_I16}, {OPIX_DFPD, OPIX_I8},
                        {OPIX_DFPD, OPIX_I12}, {OPIX_DFPD, OPIX_I16}, {OPIX_L7, OPIX_I12},   {OPIX_L7, OPIX_I16},
                        {OPIX_MG, OPIX_I12},   {OPIX_MG, OPIX_I16}};
  // Odd sizes, a width just above a multiple of 32, and the smallest frame.
  const uint32_t sizes[][2] = {{67, 65}, {130, 71}, {64, 64}};
  uint32_t seed = 1;
  for (const Case& c : cases) {
    const bool deep = c.format != OPIX_I8;
    std::vector<Steps> steps = {{false, false, false, false, true}, {true, true, false, false, true}};
    if (deep) {
      steps.push_back({false, false, false, true, true});
      steps.push_back({true, true, true, true, true});
      steps.push_back({true, false, true, true, false});
    }
    steps.push_back({false, true, false, false, false});
    int k = 0;
    for (const auto& size : sizes) {
      // MG takes even widths only.
      const uint32_t w = c.type == OPIX_MG ? size[0] & ~1u : size[0];
      for (const Steps& s : steps) {
        const opixBayerPattern_t p = kPatterns[k++ % 4];
        const Frame f = makeFrame(w, size[1], c.format, s.wide, seed++);
        const std::vector<uint8_t> chain = runChain(c.type, f, s, p, false);
        const std::vector<uint8_t> fused = runChain(c.type, f, s, p, true);
        ASSERT_FALSE(chain.empty()) << describe(c.type, f, s, p);
        EXPECT_TRUE(fused == chain) << describe(c.type, f, s, p);
      }
    }
  }
}

TEST(DebayerFusion, EveryPatternOfTheWhiteBalanceAndBlackShift) {
  // The pre-operations' pattern need not be the debayer's: each step takes
  // the sites of its own record, as its filter does.
  const Frame f = makeFrame(97, 66, OPIX_I12, false, 99);
  for (opixBayerPattern_t p : kPatterns) {
    const Steps s{false, false, false, true, true};
    const Records r(s, f, p);
    for (opixBayerPattern_t debayerPattern : {OPIX_BAYER_RGGB, OPIX_BAYER_GBRG}) {
      std::vector<uint8_t> chain, fused;
      {
        // The chain with the steps' pattern p and the debayer's own.
        opixImportFromHostHandle_t importer = nullptr;
        opixImageFilterHandle_t black = nullptr, balance = nullptr;
        opixDebayerHandle_t plain = nullptr, pre = nullptr;
        opixExportToHostHandle_t e1 = nullptr, e2 = nullptr;
        opixDeviceSurfaceBufferHandle_t in = nullptr, b = nullptr, d1 = nullptr, d2 = nullptr;
        opixSurfaceFormat_t format{};
        ASSERT_EQ(opixImportFromHostCreate(&importer, f.format, f.w, f.h, &in), OPIX_OK);
        ASSERT_EQ(opixImageFilterCreate(&black, OPIX_BAYER_BLACK_SHIFT, &r.black, f.w, f.h, in, &b), OPIX_OK);
        ASSERT_EQ(opixImageFilterCreate(&balance, OPIX_WHITE_BALANCE, &r.balance, f.w, f.h, b, &b), OPIX_OK);
        ASSERT_EQ(opixDebayerCreate(&plain, OPIX_HQLI, f.w, f.h, b, &d1), OPIX_OK);
        ASSERT_EQ(opixDebayerCreateWithPreOperations(&pre, OPIX_HQLI, f.w, f.h, &r.pre, in, &d2), OPIX_OK);
        ASSERT_EQ(opixExportToHostCreate(&e1, &format, d1), OPIX_OK);
        ASSERT_EQ(opixExportToHostCreate(&e2, &format, d2), OPIX_OK);
        const uint32_t pitch = opixRowBytes(format, f.w);
        chain.assign(size_t(pitch) * f.h, 0);
        fused.assign(size_t(pitch) * f.h, 0);
        EXPECT_EQ(opixImportFromHostCopy(importer, f.pixels.data(), f.w, f.pitch, f.h), OPIX_OK);
        EXPECT_EQ(opixImageFilterTransform(black, nullptr, f.w, f.h), OPIX_OK);
        EXPECT_EQ(opixImageFilterTransform(balance, nullptr, f.w, f.h), OPIX_OK);
        EXPECT_EQ(opixDebayerTransform(plain, debayerPattern, f.w, f.h), OPIX_OK);
        EXPECT_EQ(opixDebayerTransform(pre, debayerPattern, f.w, f.h), OPIX_OK);
        EXPECT_EQ(opixExportToHostCopy(e1, chain.data(), f.w, pitch, f.h, nullptr), OPIX_OK);
        EXPECT_EQ(opixExportToHostCopy(e2, fused.data(), f.w, pitch, f.h, nullptr), OPIX_OK);
        for (auto h : {e1, e2}) opixExportToHostDestroy(h);
        for (auto h : {plain, pre}) opixDebayerDestroy(h);
        for (auto h : {black, balance}) opixImageFilterDestroy(h);
        opixImportFromHostDestroy(importer);
      }
      EXPECT_TRUE(fused == chain) << opixBayerPatternName(p) << " on " << opixBayerPatternName(debayerPattern);
    }
  }
}

TEST(DebayerFusion, SetPreOperationsReplacesThemAndKeepsThemOnFailure) {
  const uint32_t w = 80, h = 66;
  const Frame f = makeFrame(w, h, OPIX_I16, false, 7);
  const Steps balanceOnly{false, false, false, false, true};
  opixImportFromHostHandle_t importer = nullptr;
  opixDebayerHandle_t debayer = nullptr;
  opixExportToHostHandle_t exporter = nullptr;
  opixDeviceSurfaceBufferHandle_t b = nullptr;
  opixSurfaceFormat_t format{};
  ASSERT_EQ(opixImportFromHostCreate(&importer, OPIX_I16, w, h, &b), OPIX_OK);
  const Records initial(balanceOnly, f, OPIX_BAYER_GRBG);
  ASSERT_EQ(opixDebayerCreateWithPreOperations(&debayer, OPIX_DFPD, w, h, &initial.pre, b, &b), OPIX_OK);
  ASSERT_EQ(opixExportToHostCreate(&exporter, &format, b), OPIX_OK);
  const uint32_t pitch = opixRowBytes(format, w);
  auto frame = [&] {
    std::vector<uint8_t> out(size_t(pitch) * h);
    EXPECT_EQ(opixImportFromHostCopy(importer, f.pixels.data(), w, f.pitch, h), OPIX_OK);
    EXPECT_EQ(opixDebayerTransform(debayer, OPIX_BAYER_GRBG, w, h), OPIX_OK);
    EXPECT_EQ(opixExportToHostCopy(exporter, out.data(), w, pitch, h, nullptr), OPIX_OK);
    return out;
  };
  EXPECT_TRUE(frame() == runChain(OPIX_DFPD, f, balanceOnly, OPIX_BAYER_GRBG, false));

  // New gains and a black shift take effect at the next Transform.
  const Steps more{false, false, false, true, true};
  Records next(more, f, OPIX_BAYER_GRBG);
  ASSERT_EQ(opixDebayerSetPreOperations(debayer, &next.pre), OPIX_OK);
  const std::vector<uint8_t> expected = runChain(OPIX_DFPD, f, more, OPIX_BAYER_GRBG, false);
  EXPECT_TRUE(frame() == expected);

  // Refused records change nothing: a matrix Create left no room for, both
  // SAM kinds, bad patterns.
  Records withMatrix({true, true, false, false, true}, f, OPIX_BAYER_GRBG);
  EXPECT_EQ(opixDebayerSetPreOperations(debayer, &withMatrix.pre), OPIX_INVALID_VALUE);
  opixDebayerPreOperations_t both = next.pre;
  const opixSam_t sam{nullptr, nullptr};
  const opixSam16_t sam16{nullptr, nullptr};
  both.sam = &sam;
  both.sam16 = &sam16;
  EXPECT_EQ(opixDebayerSetPreOperations(debayer, &both), OPIX_INVALID_VALUE);
  opixWhiteBalance_t badBalance = kBalance;
  badBalance.bayerPattern = OPIX_BAYER_NONE;
  opixDebayerPreOperations_t bad = next.pre;
  bad.whiteBalance = &badBalance;
  EXPECT_EQ(opixDebayerSetPreOperations(debayer, &bad), OPIX_INVALID_VALUE);
  opixBayerBlackShift_t badBlack = kBlack;
  badBlack.bayerPattern = static_cast<opixBayerPattern_t>(5);
  bad = next.pre;
  bad.blackShift = &badBlack;
  EXPECT_EQ(opixDebayerSetPreOperations(debayer, &bad), OPIX_INVALID_FORMAT);
  EXPECT_TRUE(frame() == expected);

  // Null: no step, the plain debayer's bytes.
  ASSERT_EQ(opixDebayerSetPreOperations(debayer, nullptr), OPIX_OK);
  EXPECT_TRUE(frame() == runChain(OPIX_DFPD, f, Steps{}, OPIX_BAYER_GRBG, false));
  EXPECT_EQ(opixDebayerSetPreOperations(nullptr, nullptr), OPIX_INVALID_HANDLE);

  opixExportToHostDestroy(exporter);
  opixDebayerDestroy(debayer);
  opixImportFromHostDestroy(importer);
}

TEST(DebayerFusion, CreateRefusesWhatTheFiltersRefuse) {
  const uint32_t w = 64, h = 64;
  opixImportFromHostHandle_t i8 = nullptr, i16 = nullptr;
  opixDeviceSurfaceBufferHandle_t b8 = nullptr, b16 = nullptr, d = nullptr;
  ASSERT_EQ(opixImportFromHostCreate(&i8, OPIX_I8, w, h, &b8), OPIX_OK);
  ASSERT_EQ(opixImportFromHostCreate(&i16, OPIX_I16, w, h, &b16), OPIX_OK);
  opixDebayerHandle_t debayer = nullptr;
  opixDebayerPreOperations_t pre{};
  pre.whiteBalance = &kBalance;
  // Binning reads its source directly: no pre-operations.
  EXPECT_EQ(opixDebayerCreateWithPreOperations(&debayer, OPIX_BINNING_2x2, w, h, &pre, b16, &d),
            OPIX_UNSUPPORTED_FORMAT);
  EXPECT_EQ(debayer, nullptr);
  // A Bayer black shift and SAM16 take 12- and 16-bit mosaics only.
  opixDebayerPreOperations_t black{};
  black.blackShift = &kBlack;
  EXPECT_EQ(opixDebayerCreateWithPreOperations(&debayer, OPIX_HQLI, w, h, &black, b8, &d), OPIX_UNSUPPORTED_SURFACE);
  const opixSam16_t sam16{nullptr, nullptr};
  opixDebayerPreOperations_t wide{};
  wide.sam16 = &sam16;
  EXPECT_EQ(opixDebayerCreateWithPreOperations(&debayer, OPIX_HQLI, w, h, &wide, b8, &d), OPIX_UNSUPPORTED_SURFACE);
  EXPECT_EQ(debayer, nullptr);
  EXPECT_EQ(opixDebayerCreateWithPreOperations(&debayer, OPIX_HQLI, w, h, &pre, nullptr, &d), OPIX_INVALID_VALUE);

  // The matrices live in the debayer's memory block.
  std::vector<float> factors(size_t(w) * h, 1.0f);
  const opixSam_t sam{nullptr, factors.data()};
  opixDebayerPreOperations_t withSam{};
  withSam.sam = &sam;
  opixDebayerHandle_t plain = nullptr;
  ASSERT_EQ(opixDebayerCreate(&plain, OPIX_HQLI, w, h, b16, &d), OPIX_OK);
  ASSERT_EQ(opixDebayerCreateWithPreOperations(&debayer, OPIX_HQLI, w, h, &withSam, b16, &d), OPIX_OK);
  uint64_t plainBytes = 0, fusedBytes = 0;
  EXPECT_EQ(opixDebayerGetAllocatedGpuMemorySize(plain, &plainBytes), OPIX_OK);
  EXPECT_EQ(opixDebayerGetAllocatedGpuMemorySize(debayer, &fusedBytes), OPIX_OK);
  EXPECT_GE(fusedBytes, plainBytes + factors.size() * sizeof(float));
  opixDebayerDestroy(plain);
  opixDebayerDestroy(debayer);
  opixImportFromHostDestroy(i8);
  opixImportFromHostDestroy(i16);
}

TEST(DebayerFusion, TraceNamesTheCallsAndTheRecord) {
  test::TraceCapture trace;
  opixImportFromHostHandle_t importer = nullptr;
  opixDeviceSurfaceBufferHandle_t b = nullptr;
  opixDebayerHandle_t debayer = nullptr;
  ASSERT_EQ(opixImportFromHostCreate(&importer, OPIX_I12, 64, 64, &b), OPIX_OK);
  opixDebayerPreOperations_t pre{};
  pre.whiteBalance = &kBalance;
  ASSERT_EQ(opixDebayerCreateWithPreOperations(&debayer, OPIX_HQLI, 64, 64, &pre, b, &b), OPIX_OK);
  EXPECT_EQ(opixDebayerSetPreOperations(debayer, nullptr), OPIX_OK);
  opixDebayerDestroy(debayer);
  opixImportFromHostDestroy(importer);
  const std::string log = trace.finish();
  EXPECT_NE(log.find("Debayer. Create with pre-operations"), std::string::npos) << log;
  EXPECT_NE(log.find("\topixDebayerPreOperations_t:\n\topixSam_t: NULL\n\topixSam16_t: NULL\n"
                     "\topixBayerBlackShift_t: NULL\n\topixWhiteBalance_t:\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("Debayer. Set pre-operations"), std::string::npos) << log;
  EXPECT_NE(log.find("\topixDebayerPreOperations_t: NULL\n"), std::string::npos) << log;
}

}  // namespace
