// The image filters: dispatch, the common initialise and transform, SAM,
// white balance, Bayer black shift and base colour correction.
#include <cstring>

#include "ImageFilters.h"
#include "TestSupport.h"

using namespace opix;
using namespace opix::test;

namespace {

// A filter on an external source surface holding 16-bit or 8-bit samples.
struct FilterRun {
  FilterRun(opixImageFilterType_t type, const void* params, uint32_t w, uint32_t h, opixSurfaceFormat_t f,
            uint32_t maxW = 0, uint32_t maxH = 0)
      : source(w, h, f), format(f) {
    status = opixImageFilterCreate(&handle, type, params, maxW ? maxW : w, maxH ? maxH : h, source.buffer.get(),
                                   &destination);
  }
  ~FilterRun() {
    if (handle) {
      EXPECT_EQ(opixImageFilterDestroy(handle), OPIX_OK);
    }
  }
  // Uploads samples (row-major, `channels` interleaved for RGB8, planes for planar).
  opixStatus_t transform(const std::vector<int>& samples, const void* params = nullptr) {
    const opixDeviceSurfaceBuffer_t& b = *source.buffer;
    std::vector<uint8_t> bytes(opixImageSize(b.surfaceFormat, b.maxWidth, b.maxHeight));
    const uint32_t perRow = format == OPIX_RGB8 ? 3 * b.width : b.width;
    const int planes = format == OPIX_RGB12_PLANAR || format == OPIX_RGB16_PLANAR ? 3 : 1;
    const size_t plane = size_t(b.maxPitch) * b.maxHeight;
    for (int c = 0; c < planes; ++c)
      for (uint32_t y = 0; y < b.height; ++y)
        for (uint32_t x = 0; x < perRow; ++x) {
          const int v = samples[(size_t(c) * b.height + y) * perRow + x];
          if (b.bytesPerElement == 1)
            bytes[c * plane + y * b.pitch + x] = uint8_t(v);
          else
            std::memcpy(&bytes[c * plane + y * b.pitch + 2 * x], &v, 2);
        }
    source.block.upload(bytes);
    const opixStatus_t s = opixImageFilterTransform(handle, params, b.width, b.height);
    out.clear();
    if (s != OPIX_OK) return s;
    std::vector<uint8_t> raw(opixImageSize(destination->surfaceFormat, destination->maxWidth, destination->maxHeight));
    EXPECT_EQ(device::streamSynchronize(), device::kSuccess);
    EXPECT_EQ(device::memcpy(raw.data(), deviceAddress(*destination), raw.size(), device::CopyKind::DeviceToHost), 0);
    for (int c = 0; c < planes; ++c)
      for (uint32_t y = 0; y < b.height; ++y)
        for (uint32_t x = 0; x < perRow; ++x) {
          const size_t at = c * plane + y * destination->pitch;
          if (b.bytesPerElement == 1) {
            out.push_back(raw[at + x]);
          } else {
            uint16_t v;
            std::memcpy(&v, &raw[at + 2 * x], 2);
            out.push_back(v);
          }
        }
    return s;
  }
  ExternalSurface source;
  opixSurfaceFormat_t format;
  opixImageFilterHandle_t handle = nullptr;
  opixDeviceSurfaceBufferHandle_t destination = nullptr;
  opixStatus_t status;
  std::vector<int> out;
};

}  // namespace

TEST(ImageFilter, DispatchAndCommonChecks) {
  const opixSam_t sam{nullptr, nullptr};
  EXPECT_EQ(FilterRun(opixImageFilterType_t(0), &sam, 64, 64, OPIX_I8).status, OPIX_INVALID_VALUE);
  EXPECT_EQ(FilterRun(opixImageFilterType_t(45), &sam, 64, 64, OPIX_I8).status, OPIX_INVALID_VALUE);
  EXPECT_EQ(FilterRun(OPIX_SAM, &sam, 64, 64, OPIX_RGB8).status, OPIX_UNSUPPORTED_SURFACE);
  EXPECT_EQ(FilterRun(OPIX_SAM, &sam, 64, 64, OPIX_I12).status, OPIX_OK);
  EXPECT_EQ(FilterRun(OPIX_SAM16, &sam, 64, 64, OPIX_I8).status, OPIX_UNSUPPORTED_SURFACE);
  EXPECT_EQ(FilterRun(OPIX_WHITE_BALANCE, nullptr, 8, 8, OPIX_RGB8).status, OPIX_UNSUPPORTED_SURFACE);
  // Types whose filters this build does not have, after the format check.
  EXPECT_EQ(FilterRun(OPIX_LUT_8_8, nullptr, 8, 8, OPIX_I8).status, OPIX_INVALID_VALUE);
  EXPECT_EQ(FilterRun(OPIX_LUT_8_8, nullptr, 8, 8, OPIX_I16).status, OPIX_UNSUPPORTED_SURFACE);
  EXPECT_EQ(FilterRun(OPIX_MEDIAN, nullptr, 8, 8, OPIX_I16).status, OPIX_INVALID_VALUE);
  // Larger than the source is fine, smaller is not; 65536 is too large.
  EXPECT_EQ(FilterRun(OPIX_SAM, &sam, 64, 64, OPIX_I8, 100, 70).status, OPIX_OK);
  EXPECT_EQ(FilterRun(OPIX_SAM, &sam, 64, 64, OPIX_I8, 63, 64).status, OPIX_INVALID_VALUE);
  EXPECT_EQ(FilterRun(OPIX_SAM, &sam, 64, 64, OPIX_I8, 65536, 64).status, OPIX_INVALID_SIZE);

  FilterRun f(OPIX_WHITE_BALANCE, nullptr, 8, 2, OPIX_I8);
  ASSERT_EQ(f.status, OPIX_OK);
  TraceCapture trace;
  EXPECT_EQ(f.transform(std::vector<int>(16, 1)), OPIX_INVALID_VALUE);
  EXPECT_EQ(opixImageFilterTransform(f.handle, nullptr, 7, 2), OPIX_INVALID_SIZE);
  EXPECT_NE(trace.finish().find("\nWhite Balance filter is not initialized\n\tStatus: OPIX_INVALID_VALUE\n"),
            std::string::npos);
}

TEST(Sam, ExamplesAndSaturation) {
  // I8: p 100 with shift -5 gives 105; a saturated 255 is never shifted: 255 x 0.5 rounds to 128.
  std::vector<int8_t> shift(8 * 2, 0);
  std::vector<float> gain(8 * 2, 1.0f);
  shift[0] = -5;
  shift[1] = 10;
  gain[1] = 0.5f;
  shift[2] = 20;  // 10 - 20 clamps to 0
  gain[3] = 3.0f;  // 100 x 3 clamps to 255
  const opixSam_t both{shift.data(), gain.data()};
  FilterRun f(OPIX_SAM, &both, 8, 2, OPIX_I8);
  ASSERT_EQ(f.status, OPIX_OK);
  std::vector<int> in(16, 7);
  in[0] = 100, in[1] = 255, in[2] = 10, in[3] = 100;
  ASSERT_EQ(f.transform(in), OPIX_OK);
  EXPECT_EQ(std::vector<int>(f.out.begin(), f.out.begin() + 5), (std::vector<int>{105, 128, 0, 255, 7}));

  // A record with both matrices null copies the image; a null record never initialises.
  const opixSam_t none{nullptr, nullptr};
  FilterRun copy(OPIX_SAM, &none, 5, 3, OPIX_I12);
  std::vector<int> ramp(15);
  for (int i = 0; i < 15; ++i) ramp[i] = i * 273;
  ASSERT_EQ(copy.transform(ramp), OPIX_OK);
  EXPECT_EQ(copy.out, ramp);
  FilterRun empty(OPIX_SAM16, nullptr, 5, 3, OPIX_I12);
  TraceCapture trace;
  EXPECT_EQ(empty.transform(ramp), OPIX_INVALID_VALUE);
  EXPECT_NE(trace.finish().find("MAD 16 filter is not initialized\n"), std::string::npos);
  // A record given at Transform replaces the matrices and initialises the filter.
  std::vector<int16_t> s16(6 * 3, -1000);  // rows of 5 values padded to 6
  std::vector<float> g(5 * 3, 1.1f);
  const opixSam16_t rec{s16.data(), g.data()};
  ramp[0] = 4000;
  ASSERT_EQ(empty.transform(ramp, &rec), OPIX_OK);
  EXPECT_EQ(empty.out[0], 4095);              // (4000 + 1000) x 1.1 clamps to 4095
  EXPECT_EQ(empty.out[1], int((273 + 1000) * 1.1f + 0.5f));
  ASSERT_EQ(empty.transform(ramp), OPIX_OK);  // null keeps the record's matrices
  EXPECT_EQ(empty.out[1], int((273 + 1000) * 1.1f + 0.5f));
}

TEST(Sam, MatrixRowsAtOddWidthsReachTheLastRow) {
  // SAM on 16-bit data with width 5 (remainder 1 modulo 4): rows of 8 shift bytes.
  const uint32_t w = 5, h = 7;
  const uint64_t stride = ImageFilterMad::shiftStride(OPIX_SAM, w);
  ASSERT_EQ(stride, 8u);
  std::vector<int8_t> shift(stride * h, 0);
  std::vector<float> gain(w * h, 1.0f);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) {
      shift[y * stride + x] = int8_t(y * 10 + x);
      gain[y * w + x] = 1.0f + 0.25f * float(x == y);
    }
  const opixSam_t sam{shift.data(), gain.data()};
  FilterRun f(OPIX_SAM, &sam, w, h, OPIX_I16);
  ASSERT_EQ(f.status, OPIX_OK);
  std::vector<int> in(w * h, 1000);
  ASSERT_EQ(f.transform(in), OPIX_OK);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x)
      EXPECT_EQ(f.out[y * w + x], int(float(1000 - int(y * 10 + x)) * (1.0f + 0.25f * float(x == y)) + 0.5f))
          << x << "," << y;
  uint64_t bytes = 0;
  ASSERT_EQ(opixImageFilterGetAllocatedGpuMemorySize(f.handle, &bytes), OPIX_OK);
  EXPECT_EQ(bytes, 128u + 256u + 128u);  // destination 70 bytes, 35 floats, 56 shift bytes
}

TEST(WhiteBalance, SitesOfEveryPatternAndClamping) {
  const opixWhiteBalance_t rggb{2.0f, 1.0f, 1.0f, 0.5f, OPIX_BAYER_RGGB};
  FilterRun f(OPIX_WHITE_BALANCE, &rggb, 2, 2, OPIX_I8);
  ASSERT_EQ(f.transform({100, 50, 60, 201}), OPIX_OK);
  EXPECT_EQ(f.out, (std::vector<int>{200, 50, 60, 101}));
  // Distinct gains show which site each sample is: R 2, G1 3, G2 4, B 5.
  const struct {
    opixBayerPattern_t p;
    std::vector<int> cell;
  } cases[] = {{OPIX_BAYER_RGGB, {20, 30, 40, 50}},
               {OPIX_BAYER_BGGR, {50, 30, 40, 20}},
               {OPIX_BAYER_GBRG, {30, 50, 20, 40}},
               {OPIX_BAYER_GRBG, {30, 20, 50, 40}}};
  for (const auto& c : cases) {
    const opixWhiteBalance_t wb{2.0f, 3.0f, 4.0f, 5.0f, c.p};
    FilterRun g(OPIX_WHITE_BALANCE, &wb, 4, 2, OPIX_I12);
    ASSERT_EQ(g.transform(std::vector<int>(8, 10)), OPIX_OK);
    EXPECT_EQ((std::vector<int>{g.out[0], g.out[1], g.out[4], g.out[5]}), c.cell) << opixBayerPatternName(c.p);
  }
  const opixWhiteBalance_t twice{2.0f, 2.0f, 2.0f, 2.0f, OPIX_BAYER_RGGB};
  FilterRun h(OPIX_WHITE_BALANCE, &twice, 2, 2, OPIX_I12);
  ASSERT_EQ(h.transform({3000, 1, 2047, 2048}), OPIX_OK);
  EXPECT_EQ(h.out, (std::vector<int>{4095, 2, 4094, 4095}));
  const opixWhiteBalance_t bad{1, 1, 1, 1, OPIX_BAYER_NONE};
  FilterRun b(OPIX_WHITE_BALANCE, &bad, 2, 2, OPIX_I8);
  EXPECT_EQ(b.transform({1, 2, 3, 4}), OPIX_INVALID_VALUE);
}

TEST(BayerBlackShiftAndColorCorrection, Examples) {
  const opixBayerBlackShift_t levels{{64, 32, 16}, OPIX_BAYER_RGGB};
  FilterRun s(OPIX_BAYER_BLACK_SHIFT, &levels, 2, 2, OPIX_I12);
  ASSERT_EQ(s.transform({60, 100, 40, 200}), OPIX_OK);
  EXPECT_EQ(s.out, (std::vector<int>{0, 68, 8, 184}));
  const opixBayerBlackShift_t bad{{1, 1, 1}, opixBayerPattern_t(9)};
  FilterRun b(OPIX_BAYER_BLACK_SHIFT, &bad, 2, 2, OPIX_I16);
  EXPECT_EQ(b.transform({1, 2, 3, 4}), OPIX_INVALID_FORMAT);

  const opixBaseColorCorrection_t identity{{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0}, {128, 255, 255}};
  FilterRun c(OPIX_BASE_COLOR_CORRECTION, &identity, 1, 1, OPIX_RGB8);
  ASSERT_EQ(c.transform({200, 100, 50}), OPIX_OK);
  EXPECT_EQ(c.out, (std::vector<int>{128, 100, 50}));
  const opixBaseColorCorrection_t mix{{0.5f, 0.5f, 0, 10, 0, 0, 2, 0, 1, 1, 1, -1}, {4095, 4095, 4095}};
  FilterRun p(OPIX_BASE_COLOR_CORRECTION, &mix, 1, 1, OPIX_RGB12_PLANAR);
  ASSERT_EQ(p.transform({1000, 2001, 3000}), OPIX_OK);  // planes R, G, B
  EXPECT_EQ(p.out, (std::vector<int>{1491, 4095, 4095}));
  const opixBaseColorCorrection_t gray{{1.5f, 0, 0, 100, 0, 0, 0, 0, 0, 0, 0, 0}, {0, 0, 0}};
  FilterRun g(OPIX_BASE_COLOR_CORRECTION, &gray, 2, 1, OPIX_I12);
  ASSERT_EQ(g.transform({1000, 10}), OPIX_OK);
  EXPECT_EQ(g.out, (std::vector<int>{1400, 0}));
}

TEST(ImageFilter, RecordTraces) {
  TraceCapture trace;
  const opixWhiteBalance_t wb{1.25f, 1.0f, 1.0f, 0.333333f, OPIX_BAYER_GBRG};
  FilterRun f(OPIX_WHITE_BALANCE, &wb, 2, 2, OPIX_I8);
  const opixSam_t sam{nullptr, nullptr};
  FilterRun s(OPIX_SAM, &sam, 2, 2, OPIX_I8);
  const std::string log = trace.finish();
  EXPECT_NE(log.find("Image filter. Create\n\tfilter type: white balance\n\tfilter parameters: 0x"), std::string::npos);
  EXPECT_NE(log.find("\topixWhiteBalance_t:\n\t\tR: 1.25\n\t\tG1: 1\n\t\tG2: 1\n\t\tB: 0.333\n\t\t\tbayer pattern: GBRG\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("\topixSam_t:\n\t\tblack shift matrix pointer: 0x0\n\t\tcorrection matrix pointer: 0x0\n"),
            std::string::npos)
      << log;
}
