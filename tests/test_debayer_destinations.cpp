// A debayer whose destination is in the layout the export delivers (BGR8,
// interleaved RGB12 and RGB16) gives, through an export that only copies,
// the bytes the export of its own destination delivers, for every type, bit
// depth and pattern at awkward sizes, with and without pre-operations; and
// its Create refuses every other format.
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "KernelLaunch.h"
#include "TestSupport.h"

using namespace opix;

namespace {

struct Frame {
  uint32_t w, h;
  opixSurfaceFormat_t format;
  std::vector<uint8_t> pixels;  // tight rows
};

uint32_t sampleBytes(opixSurfaceFormat_t f) { return f == OPIX_I8 ? 1 : 2; }

Frame makeFrame(uint32_t w, uint32_t h, opixSurfaceFormat_t f, uint32_t seed) {
  std::mt19937 rng(seed);
  const uint32_t top = f == OPIX_I8 ? 255 : f == OPIX_I12 ? 4095 : 65535;
  Frame fr{w, h, f, std::vector<uint8_t>(size_t(w) * h * sampleBytes(f))};
  for (size_t i = 0; i < size_t(w) * h; ++i) {
    const uint32_t v = rng() % 8 == 0 ? top : rng() % (top + 1);
    if (f == OPIX_I8)
      fr.pixels[i] = uint8_t(v);
    else
      std::memcpy(&fr.pixels[2 * i], &v, 2);
  }
  return fr;
}

opixSurfaceFormat_t deliveredLayout(opixSurfaceFormat_t source) {
  return source == OPIX_I8 ? OPIX_BGR8 : source == OPIX_I12 ? OPIX_RGB12 : OPIX_RGB16;
}

uint32_t scaleOf(opixDebayerType_t t) {
  return t == OPIX_BINNING_2x2 ? 2 : t == OPIX_BINNING_4x4 ? 4 : t == OPIX_BINNING_8x8 ? 8 : 1;
}

struct Result {
  std::vector<uint8_t> bytes;
  opixSurfaceFormat_t destination{}, delivered{};
  uint64_t exportMemory = 0, debayerMemory = 0;
};

// import -> debayer -> export of two frames (the second must not depend on
// what the first left), the 8-bit result asked for in blue-green-red order;
// `layout` gives the debayer that destination format.
Result runChain(opixDebayerType_t type, const Frame& f, opixBayerPattern_t pattern, bool balance,
                const opixSurfaceFormat_t* layout) {
  Result r;
  const opixWhiteBalance_t wb{1.7f, 0.93f, 1.06f, 2.4f, pattern};
  opixDebayerPreOperations_t pre{};
  pre.whiteBalance = &wb;
  opixImportFromHostHandle_t importer = nullptr;
  opixDebayerHandle_t debayer = nullptr;
  opixExportToHostHandle_t exporter = nullptr;
  opixDeviceSurfaceBufferHandle_t b = nullptr;
  EXPECT_EQ(opixImportFromHostCreate(&importer, f.format, f.w, f.h, &b), OPIX_OK);
  const opixDebayerPreOperations_t* steps = balance ? &pre : nullptr;
  if (layout)
    EXPECT_EQ(opixDebayerCreateWithDestinationFormat(&debayer, type, f.w, f.h, steps, *layout, b, &b), OPIX_OK);
  else
    EXPECT_EQ(opixDebayerCreateWithPreOperations(&debayer, type, f.w, f.h, steps, b, &b), OPIX_OK);
  if (!debayer) {
    opixImportFromHostDestroy(importer);
    return r;
  }
  r.destination = b->surfaceFormat;
  EXPECT_EQ(opixDebayerGetAllocatedGpuMemorySize(debayer, &r.debayerMemory), OPIX_OK);
  EXPECT_EQ(opixExportToHostCreate(&exporter, &r.delivered, b), OPIX_OK);
  EXPECT_EQ(opixExportToHostGetAllocatedGpuMemorySize(exporter, &r.exportMemory), OPIX_OK);
  const uint32_t ow = f.w / scaleOf(type), oh = f.h / scaleOf(type);
  const uint32_t pitch = opixRowBytes(r.delivered, ow) + 8;  // the rows' ends must stay untouched
  r.bytes.assign(size_t(pitch) * oh, 0xA5);
  const opixExportParameters_t bgr{OPIX_CONVERT_BGR};
  for (int k = 0; k < 2; ++k) {
    EXPECT_EQ(opixImportFromHostCopy(importer, f.pixels.data(), f.w, f.w * sampleBytes(f.format), f.h), OPIX_OK);
    EXPECT_EQ(opixDebayerTransform(debayer, pattern, f.w, f.h), OPIX_OK);
    EXPECT_EQ(opixExportToHostCopy(exporter, r.bytes.data(), ow, pitch, oh, &bgr), OPIX_OK);
  }
  opixExportToHostDestroy(exporter);
  opixDebayerDestroy(debayer);
  opixImportFromHostDestroy(importer);
  return r;
}

const opixBayerPattern_t kPatterns[] = {OPIX_BAYER_RGGB, OPIX_BAYER_BGGR, OPIX_BAYER_GBRG, OPIX_BAYER_GRBG};

TEST(DebayerDestinations, TheExportsLayoutDeliversTheSameBytes) {
  struct Case {
    opixDebayerType_t type;
    opixSurfaceFormat_t format;
  };
  const Case cases[] = {
      {OPIX_HQLI, OPIX_I8},        {OPIX_HQLI, OPIX_I12},        {OPIX_HQLI, OPIX_I16},
      {OPIX_DFPD, OPIX_I8},        {OPIX_DFPD, OPIX_I12},        {OPIX_DFPD, OPIX_I16},
      {OPIX_MG, OPIX_I8},          {OPIX_MG, OPIX_I16},          {OPIX_L7, OPIX_I12},
      {OPIX_L7, OPIX_I16},         {OPIX_BINNING_2x2, OPIX_I8},  {OPIX_BINNING_4x4, OPIX_I16},
      {OPIX_BINNING_8x8, OPIX_I8}, {OPIX_BINNING_8x8, OPIX_I16},
  };
  // Odd sizes (an odd last pixel, rows whose bytes are not whole words), a
  // width just above a multiple of 32 and one past a vector's blocks.
  const uint32_t sizes[][2] = {{67, 65}, {131, 70}, {258, 64}};
  uint32_t seed = 1;
  for (const Case& c : cases) {
    int k = 0;
    for (const auto& size : sizes) {
      const bool binning = scaleOf(c.type) != 1;
      const uint32_t w = c.type == OPIX_MG ? size[0] & ~1u : size[0];  // MG takes even widths
      const uint32_t h = binning ? size[1] + 8 : size[1];
      for (bool balance : {false, true}) {
        if (balance && binning) continue;  // binning takes no pre-operations
        const opixBayerPattern_t p = kPatterns[k++ % 4];
        const Frame f = makeFrame(w, h, c.format, seed++);
        std::ostringstream what;
        what << opixDebayerTypeName(c.type) << " " << opixSurfaceFormatName(c.format) << " " << w << "x" << h << " "
             << opixBayerPatternName(p) << (balance ? " balance" : "");
        const opixSurfaceFormat_t layout = deliveredLayout(c.format);
        const Result own = runChain(c.type, f, p, balance, nullptr);
        const Result fused = runChain(c.type, f, p, balance, &layout);
        ASSERT_FALSE(own.bytes.empty()) << what.str();
        EXPECT_EQ(fused.destination, layout) << what.str();
        EXPECT_TRUE(fused.bytes == own.bytes) << what.str();
        // The debayer's memory figure is that of its own layout; the export
        // copies: no pass, no buffer of its own.
        EXPECT_EQ(fused.debayerMemory, own.debayerMemory) << what.str();
        EXPECT_EQ(fused.exportMemory, 0u) << what.str();
        if (cudaDrivers()) {
          EXPECT_GT(own.exportMemory, 0u) << what.str();
        }
      }
    }
  }
}

// Frames too large for the caches have their 16-bit rows streamed to memory
// by the host drivers (DFPD in strips of columns where the frame is wider
// than one): the interleaved stores give the same bytes there too.
TEST(DebayerDestinations, LargeFramesGiveTheSameBytes) {
  struct Case {
    opixDebayerType_t type;
    opixSurfaceFormat_t format;
    uint32_t w, h;
  };
  const Case cases[] = {
      {OPIX_DFPD, OPIX_I12, 4100, 352}, {OPIX_DFPD, OPIX_I12, 1601, 901}, {OPIX_DFPD, OPIX_I16, 4100, 352},
      {OPIX_DFPD, OPIX_I16, 1601, 901}, {OPIX_HQLI, OPIX_I12, 1601, 901}, {OPIX_HQLI, OPIX_I16, 1601, 901},
      {OPIX_MG, OPIX_I16, 1600, 901},   {OPIX_L7, OPIX_I12, 1601, 901},
  };
  uint32_t seed = 100;
  for (const Case& c : cases) {
    const Frame f = makeFrame(c.w, c.h, c.format, seed++);
    const opixBayerPattern_t p = kPatterns[seed % 4];
    const opixSurfaceFormat_t layout = deliveredLayout(c.format);
    const Result own = runChain(c.type, f, p, true, nullptr);
    const Result fused = runChain(c.type, f, p, true, &layout);
    ASSERT_FALSE(own.bytes.empty());
    EXPECT_TRUE(fused.bytes == own.bytes)
        << opixDebayerTypeName(c.type) << " " << opixSurfaceFormatName(c.format) << " " << f.w << "x" << f.h;
  }
}

TEST(DebayerDestinations, CreateTakesTheOwnFormatAndRefusesOthers) {
  const uint32_t w = 64, h = 64;
  opixImportFromHostHandle_t importers[3] = {};
  opixDeviceSurfaceBufferHandle_t sources[3] = {};
  const opixSurfaceFormat_t formats[3] = {OPIX_I8, OPIX_I12, OPIX_I16};
  const opixSurfaceFormat_t own[3] = {OPIX_RGB8, OPIX_RGB12_PLANAR, OPIX_RGB16_PLANAR};
  for (int i = 0; i < 3; ++i)
    ASSERT_EQ(opixImportFromHostCreate(&importers[i], formats[i], w, h, &sources[i]), OPIX_OK);
  const opixSurfaceFormat_t every[] = {OPIX_I8,
                                       OPIX_I16,
                                       OPIX_RGB8,
                                       OPIX_BGR8,
                                       OPIX_RGB12,
                                       OPIX_RGB16,
                                       OPIX_BGRX8,
                                       OPIX_RGB32,
                                       OPIX_RGB12_PLANAR,
                                       OPIX_RGB16_PLANAR,
                                       static_cast<opixSurfaceFormat_t>(99)};
  for (int i = 0; i < 3; ++i) {
    for (opixSurfaceFormat_t f : every) {
      const bool taken = f == own[i] || f == deliveredLayout(formats[i]);
      opixDebayerHandle_t debayer = nullptr;
      opixDeviceSurfaceBufferHandle_t d = nullptr;
      const opixStatus_t s =
          opixDebayerCreateWithDestinationFormat(&debayer, OPIX_HQLI, w, h, nullptr, f, sources[i], &d);
      EXPECT_EQ(s, taken ? OPIX_OK : OPIX_UNSUPPORTED_SURFACE) << formats[i] << " to " << f;
      EXPECT_EQ(debayer != nullptr, taken);
      if (taken) {
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(d->surfaceFormat, f);
      }
      opixDebayerDestroy(debayer);
    }
  }
  // The checks of the other Creates still apply.
  opixDebayerHandle_t debayer = nullptr;
  opixDeviceSurfaceBufferHandle_t d = nullptr;
  const opixWhiteBalance_t wb{1.0f, 1.0f, 1.0f, 1.0f, OPIX_BAYER_RGGB};
  opixDebayerPreOperations_t pre{};
  pre.whiteBalance = &wb;
  EXPECT_EQ(opixDebayerCreateWithDestinationFormat(&debayer, OPIX_BINNING_2x2, w, h, &pre, OPIX_RGB16, sources[2], &d),
            OPIX_UNSUPPORTED_FORMAT);
  EXPECT_EQ(opixDebayerCreateWithDestinationFormat(&debayer, OPIX_L7, w, h, nullptr, OPIX_BGR8, sources[0], &d),
            OPIX_UNSUPPORTED_FORMAT);
  EXPECT_EQ(opixDebayerCreateWithDestinationFormat(&debayer, OPIX_HQLI, w, h, nullptr, OPIX_BGR8, nullptr, &d),
            OPIX_INVALID_VALUE);
  EXPECT_EQ(opixDebayerCreateWithDestinationFormat(&debayer, OPIX_HQLI, w, h, nullptr, OPIX_BGR8, sources[0], nullptr),
            OPIX_INVALID_VALUE);
  EXPECT_EQ(debayer, nullptr);
  for (opixImportFromHostHandle_t i : importers) opixImportFromHostDestroy(i);
}

TEST(DebayerDestinations, TraceNamesTheCallAndTheFormat) {
  test::TraceCapture trace;
  opixImportFromHostHandle_t importer = nullptr;
  opixDeviceSurfaceBufferHandle_t b = nullptr;
  opixDebayerHandle_t debayer = nullptr;
  ASSERT_EQ(opixImportFromHostCreate(&importer, OPIX_I8, 64, 64, &b), OPIX_OK);
  ASSERT_EQ(opixDebayerCreateWithDestinationFormat(&debayer, OPIX_DFPD, 64, 64, nullptr, OPIX_BGR8, b, &b), OPIX_OK);
  opixDebayerDestroy(debayer);
  opixImportFromHostDestroy(importer);
  const std::string log = trace.finish();
  EXPECT_NE(log.find("Debayer. Create with destination format"), std::string::npos) << log;
  EXPECT_NE(log.find("\topixDebayerPreOperations_t: NULL\n"), std::string::npos) << log;
  EXPECT_NE(log.find("destination surface format: BGR8"), std::string::npos) << log;
  EXPECT_EQ(log.find("destination surface format: RGB8"), std::string::npos) << log;
}

}  // namespace
