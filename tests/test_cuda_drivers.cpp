// Every CUDA driver against its host driver, bit for bit. The CUDA drivers
// built for the CPU work on the host backend's memory, so one process runs
// both drivers on the same input and compares the whole destination buffers,
// guard bytes included, over every algorithm, pattern and bit depth and over
// sizes that end just past a tile, a block or a word.
#include <algorithm>
#include <array>
#include <cstring>
#include <random>
#include <string>
#include <utility>

#include "DebayerMG.h"
#include "DebayerSupport.h"
#include "DeviceSurfaceBuffer.h"
#include "FilterSupport.h"
#include "TransferSupport.h"
#include "device/LaunchCount.h"
#include "lut/ImageFilterLut.h"

namespace opix::test {
namespace {

constexpr opixBayerPattern_t kPatterns[] = {OPIX_BAYER_RGGB, OPIX_BAYER_BGGR, OPIX_BAYER_GBRG, OPIX_BAYER_GRBG};

class CudaDrivers : public ::testing::Test {
 protected:
  void SetUp() override {
    if (g_backend != Backend::CudaOnCpu) GTEST_SKIP() << "runs where the CUDA drivers are built for the CPU";
  }
  void TearDown() override { device::setCudaDriversOnCpu(true); }
};

struct Outcome {
  opixStatus_t status;
  std::vector<uint8_t> bytes;
};

// `run` once through the host drivers, once through the CUDA drivers.
template <class Run>
void expectSameOnBothDrivers(Run&& run) {
  device::setCudaDriversOnCpu(false);
  const Outcome host = run();
  device::setCudaDriversOnCpu(true);
  const Outcome cuda = run();
  ASSERT_EQ(cuda.status, host.status) << opixStatusName(cuda.status);
  ASSERT_EQ(cuda.bytes.size(), host.bytes.size());
  const auto diff = std::mismatch(host.bytes.begin(), host.bytes.end(), cuda.bytes.begin());
  EXPECT_TRUE(diff.first == host.bytes.end())
      << "first difference at byte " << (diff.first - host.bytes.begin()) << " of " << host.bytes.size() << ": host "
      << int(*diff.first) << ", CUDA " << int(*diff.second);
}

// Current sizes below a maximum: single pixels, odd sizes, one past every
// tile width and height the drivers use, several blocks.
const std::pair<uint32_t, uint32_t> kSizes[] = {{1, 1},   {2, 2},   {3, 5},    {5, 3},   {63, 17},  {64, 64},
                                                {65, 33}, {127, 9}, {129, 70}, {130, 8}, {193, 47}, {257, 40}};
constexpr uint32_t kMaxW = 257, kMaxH = 70;

std::string name(opixDebayerType_t t, opixSurfaceFormat_t f, opixBayerPattern_t p, uint32_t w, uint32_t h) {
  return std::string(opixDebayerTypeName(t)) + " " + opixSurfaceFormatName(f) + " " + opixBayerPatternName(p) + " " +
         std::to_string(w) + "x" + std::to_string(h);
}

void compareDebayer(opixDebayerType_t type, opixSurfaceFormat_t f, uint32_t maxW, uint32_t maxH,
                    const std::vector<std::pair<uint32_t, uint32_t>>& sizes) {
  DebayerRun run(type, maxW, maxH, f);
  ASSERT_EQ(run.status, OPIX_OK) << opixDebayerTypeName(type) << " " << opixSurfaceFormatName(f);
  uint32_t seed = 0;
  for (const auto& [w, h] : sizes)
    for (opixBayerPattern_t p : kPatterns) {
      SCOPED_TRACE(name(type, f, p, w, h));
      const Mosaic m = randomMosaic(w, h, f, ++seed);
      expectSameOnBothDrivers([&] {
        const opixStatus_t s = run.run(m, p);
        return Outcome{s, run.raw};
      });
    }
}

TEST_F(CudaDrivers, DemosaicEveryAlgorithmPatternDepthAndSize) {
  const std::vector<std::pair<uint32_t, uint32_t>> sizes(std::begin(kSizes), std::end(kSizes));
  for (opixSurfaceFormat_t f : {OPIX_I8, OPIX_I12, OPIX_I16}) {
    compareDebayer(OPIX_HQLI, f, kMaxW, kMaxH, sizes);
    compareDebayer(OPIX_DFPD, f, kMaxW, kMaxH, sizes);
    if (f != OPIX_I8) compareDebayer(OPIX_L7, f, kMaxW, kMaxH, sizes);
  }
}

// Both drivers read the source itself, correcting its samples as they read
// them where there are pre-operations (here a white balance): a source of a
// wider pitch, whose padding bytes and rows below the current height hold
// noise, demosaics on both drivers to the bytes of the same mosaic in a
// tight source. Widths end inside a word, sizes past a tile.
TEST_F(CudaDrivers, DemosaicReadsOnlyTheSourcesPixels) {
  constexpr uint32_t kExtra = 12, kRows = 72;  // bytes of padding a row; rows of the source
  const opixWhiteBalance_t balance{1.7f, 0.93f, 1.06f, 2.4f, OPIX_BAYER_GRBG};
  opixDebayerPreOperations_t withBalance{};
  withBalance.whiteBalance = &balance;
  for (opixSurfaceFormat_t f : {OPIX_I8, OPIX_I16})
    for (opixDebayerType_t t : {OPIX_HQLI, OPIX_DFPD, OPIX_MG, OPIX_L7})
      for (const auto& [w, h] : {std::pair<uint32_t, uint32_t>{66, 35}, {130, 19}, {258, 71}})
        for (const opixDebayerPreOperations_t* pre :
             {static_cast<opixDebayerPreOperations_t*>(nullptr), &withBalance}) {
          if (t == OPIX_L7 && f == OPIX_I8) continue;
          const opixBayerPattern_t p = kPatterns[(w + h) % 4];
          SCOPED_TRACE(name(t, f, p, w, h) + (pre ? " balance" : ""));
          const Mosaic m = randomMosaic(w, h, f, w * h);
          DebayerRun tight(t, w, kRows, f, pre);
          ASSERT_EQ(tight.status, OPIX_OK);
          device::setCudaDriversOnCpu(false);
          ASSERT_EQ(tight.run(m, p), OPIX_OK);

          ExternalSurface padded(w, kRows, f, kExtra);
          padded.buffer->height = h;
          const uint32_t pitch = padded.buffer->pitch, bytes = f == OPIX_I8 ? 1 : 2;
          std::vector<uint8_t> source = randomBytes(size_t(pitch) * kRows, 7);
          for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x) {
              const int v = m.at(int(x), int(y));
              std::memcpy(&source[size_t(y) * pitch + bytes * x], &v, bytes);
            }
          padded.block.upload(source);
          opixDebayerHandle_t debayer = nullptr;
          opixDeviceSurfaceBufferHandle_t out = nullptr;
          ASSERT_EQ(pre ? opixDebayerCreateWithPreOperations(&debayer, t, w, kRows, pre, padded.buffer.get(), &out)
                        : opixDebayerCreate(&debayer, t, w, kRows, padded.buffer.get(), &out),
                    OPIX_OK);
          // The whole destination, its guard bytes included, as the tight run reads it.
          const size_t outBytes = opixImageSize(out->surfaceFormat, out->maxWidth, out->maxHeight);
          ASSERT_EQ(outBytes, tight.raw.size());
          uint64_t launches[2] = {};
          for (bool cuda : {false, true}) {
            device::setCudaDriversOnCpu(cuda);
            std::vector<uint8_t> got(outBytes, DebayerRun::kGuard);
            ASSERT_EQ(device::memcpy(deviceAddress(*out), got.data(), outBytes, device::CopyKind::HostToDevice),
                      device::kSuccess);
            const uint64_t before = device::launchesOnThisThread();
            ASSERT_EQ(opixDebayerTransform(debayer, p, w, h), OPIX_OK);
            launches[cuda] = device::launchesOnThisThread() - before;
            ASSERT_EQ(device::streamSynchronize(), device::kSuccess);
            ASSERT_EQ(device::memcpy(got.data(), deviceAddress(*out), outBytes, device::CopyKind::DeviceToHost),
                      device::kSuccess);
            EXPECT_TRUE(std::equal(got.begin(), got.end(), tight.raw.begin()))
                << (cuda ? "CUDA" : "host") << " drivers";
          }
          // Neither driver copies the source into a work image first, nor runs
          // the pre-operations as a pass: the CUDA drivers launch only their
          // passes (16-bit DFPD has one more).
          EXPECT_EQ(launches[1], launches[0] + (t == OPIX_DFPD && f != OPIX_I8 ? 1 : 0));
          EXPECT_EQ(opixDebayerDestroy(debayer), OPIX_OK);
        }
}

// MG keeps its intermediate results in buffers from frame to frame: each
// driver first demosaics another mosaic, so that an entry one of them fails
// to write shows the other mosaic's value. MG takes even widths; these end
// one cell past its tiles and grids (the first pass-1 grid is one block
// smaller than the slots), fill the buffers exactly (58 x 27), or are odd,
// which both must refuse alike.
void compareMg(opixSurfaceFormat_t f, uint32_t maxW, uint32_t maxH,
               const std::vector<std::pair<uint32_t, uint32_t>>& sizes) {
  DebayerRun run(OPIX_MG, maxW, maxH, f);
  ASSERT_EQ(run.status, OPIX_OK) << opixSurfaceFormatName(f);
  uint32_t seed = 500;
  for (const auto& [w, h] : sizes)
    for (opixBayerPattern_t p : kPatterns) {
      SCOPED_TRACE(name(OPIX_MG, f, p, w, h));
      const Mosaic m = randomMosaic(w, h, f, ++seed), other = randomMosaic(w, h, f, seed + 1000);
      expectSameOnBothDrivers([&] {
        EXPECT_EQ(run.run(other, p), w % 2 ? OPIX_INVALID_SIZE : OPIX_OK);
        const opixStatus_t s = run.run(m, p);
        return Outcome{s, run.raw};
      });
    }
}

TEST_F(CudaDrivers, MgEveryPatternDepthAndSize) {
  const std::vector<std::pair<uint32_t, uint32_t>> sizes = {{2, 1},    {2, 2},    {4, 3},    {6, 5},    {58, 27},
                                                            {64, 64},  {66, 33},  {122, 59}, {130, 32}, {194, 47},
                                                            {256, 70}, {250, 69}, {63, 17},  {129, 70}};
  for (opixSurfaceFormat_t f : {OPIX_I8, OPIX_I12, OPIX_I16}) compareMg(f, kMaxW, kMaxH, sizes);
  compareMg(OPIX_I16, 65534, 64, {{65534, 2}});
}

#if OPIX_WITH_CUDA_CPU
// The pass-1 kernels of devices with much shared memory and those of the
// others fill the buffers alike, on random work images; the buffers start
// alike, so an entry only one kind writes differs too. Random sources.
TEST_F(CudaDrivers, MgPassOneKernelsOfEitherSharedMemorySize) {
  std::mt19937 rng(9);
  for (opixSurfaceFormat_t f : {OPIX_I8, OPIX_I16})
    for (auto [w, h] :
         {std::pair{130u, 70u}, std::pair{58u, 27u}, std::pair{66u, 24u}, std::pair{6u, 5u}, std::pair{2u, 1u}})
      for (opixBayerPattern_t p : kPatterns) {
        SCOPED_TRACE(name(OPIX_MG, f, p, w, h));
        const uint32_t pitch = opixRowBytes(f, w);
        std::vector<uint32_t> image(size_t(pitch) * h / 4);
        for (uint32_t& v : image) v = f == OPIX_I8 ? rng() : rng() & 0xFFFF0FFFu;
        // 8-bit work images carry the pattern's shift: one column and row
        // wider.
        const int shift = f == OPIX_I8 ? int(p != OPIX_BAYER_RGGB) : 0;
        WorkView work{f, w + 24 + shift, h + 24 + shift, w, h, 12, shift, shift};
        work.source = reinterpret_cast<const unsigned char*>(image.data());
        work.sourcePitch = pitch;
        const MgGeometry g = mgGeometry(w, h);
        const size_t n = 512 * g.gx1 * g.gy1;
        std::vector<float> floats[2];
        MgBuffers buffers[2];
        for (int k = 0; k < 2; ++k) {
          floats[k].assign(kMgBufferCount * n, -1.5f);
          for (int slot = 0; slot < 2; ++slot) {
            buffers[k].weightV[slot] = floats[k].data() + slot * n;
            buffers[k].weightH[slot] = floats[k].data() + (2 + slot) * n;
            buffers[k].green[slot] = floats[k].data() + (4 + slot) * n;
          }
          buffers[k].stride = uint32_t(32 * g.gx1);
          cpu::launchMGCudaPass1(work, buffers[k], p, w, h, k == 1);
        }
        EXPECT_EQ(device::getLastError(), device::kSuccess);
        ASSERT_TRUE(floats[0] == floats[1]);
      }
}
#endif

TEST_F(CudaDrivers, DemosaicThinImagesOfTheLargestWidth) {
  for (opixSurfaceFormat_t f : {OPIX_I8, OPIX_I16}) {
    compareDebayer(OPIX_HQLI, f, 65535, 64, {{65535, 2}, {65533, 3}});
    compareDebayer(OPIX_DFPD, f, 65535, 64, {{65535, 2}, {65533, 3}});
    if (f != OPIX_I8) compareDebayer(OPIX_L7, f, 65535, 64, {{65535, 2}});
  }
}

// The debayer's pre-operations, applied by the CUDA drivers as their blocks
// load their tiles and by each host driver as it assembles its rows (the
// margins' samples one by one):
// every set of steps, with and without each SAM matrix, on every
// algorithm, depth, pattern and awkward size; the steps' patterns differ
// from the debayer's, and the levels, shifts and gains clamp samples at
// black and at white. The image starts at work
// column 2 or 3 (HQLI) and, for 8-bit MG, 12 or 13: every byte offset of a
// source sample in its word.
TEST_F(CudaDrivers, PreOperationsEveryStepSetDepthAndSize) {
  std::mt19937 rng(17);
  std::vector<int8_t> shift8(size_t(kMaxW + 3) * kMaxH);
  std::vector<int16_t> shift16(size_t(kMaxW + 1) * kMaxH);
  std::vector<float> factor(size_t(kMaxW) * kMaxH);
  for (int8_t& v : shift8) v = int8_t(int(rng() % 61) - 20);
  for (int16_t& v : shift16) v = int16_t(int(rng() % 601) - 200);
  for (float& v : factor) v = 0.5f + float(rng() % 1000) / 800.0f;
  const opixSam_t sam{shift8.data(), factor.data()}, samShift{shift8.data(), nullptr},
      samFactor{nullptr, factor.data()};
  const opixSam16_t sam16{shift16.data(), factor.data()}, sam16Shift{shift16.data(), nullptr};
  const opixBayerBlackShift_t black{{23.5f, 11.0f, 300.25f}, OPIX_BAYER_GBRG};
  const opixWhiteBalance_t balance{1.7f, 0.93f, 1.06f, 2.4f, OPIX_BAYER_BGGR};
  struct Steps {
    const opixSam_t* sam;
    const opixSam16_t* sam16;
    bool black, balance;
  };
  const Steps steps[] = {{nullptr, nullptr, false, true},     {nullptr, nullptr, true, true},
                         {&sam, nullptr, false, true},        {nullptr, &sam16, true, true},
                         {&samShift, nullptr, false, false},  {&samFactor, nullptr, true, false},
                         {nullptr, &sam16Shift, false, true}, {&sam, nullptr, true, true},
                         {nullptr, nullptr, true, false},     {nullptr, nullptr, false, false}};
  uint32_t seed = 700;
  for (opixSurfaceFormat_t f : {OPIX_I8, OPIX_I12, OPIX_I16})
    for (const Steps& st : steps)
      for (opixDebayerType_t t : {OPIX_HQLI, OPIX_MG, OPIX_DFPD, OPIX_L7}) {
        if (f == OPIX_I8 && (st.sam16 || st.black)) continue;  // 16-bit steps
        if (t == OPIX_MG && f != OPIX_I8) continue;
        if (t == OPIX_L7 && f == OPIX_I8) continue;
        opixDebayerPreOperations_t pre{};
        pre.sam = st.sam;
        pre.sam16 = st.sam16;
        pre.blackShift = st.black ? &black : nullptr;
        pre.whiteBalance = st.balance ? &balance : nullptr;
        DebayerRun run(t, kMaxW, kMaxH, f, &pre);
        ASSERT_EQ(run.status, OPIX_OK) << opixSurfaceFormatName(f);
        for (const auto& [w, h] : kSizes)
          for (opixBayerPattern_t p : kPatterns) {
            SCOPED_TRACE(name(t, f, p, w, h) +
                         (st.sam     ? " SAM"
                          : st.sam16 ? " SAM16"
                                     : "") +
                         (st.black ? " black" : "") + (st.balance ? " balance" : ""));
            const Mosaic m = randomMosaic(w, h, f, ++seed);
            expectSameOnBothDrivers([&] {
              const opixStatus_t s = run.run(m, p);
              return Outcome{s, run.raw};
            });
          }
      }
}

TEST_F(CudaDrivers, BinningEveryFactorPatternDepthAndSize) {
  for (opixDebayerType_t t : {OPIX_BINNING_2x2, OPIX_BINNING_4x4, OPIX_BINNING_8x8}) {
    const uint32_t f = t == OPIX_BINNING_2x2 ? 2 : t == OPIX_BINNING_4x4 ? 4 : 8;
    // Output widths one past the 128- and 64-pixel block widths, and odd ones.
    const std::vector<std::pair<uint32_t, uint32_t>> sizes = {{f, f},          {3 * f, 5 * f},       {129 * f, 17 * f},
                                                              {65 * f, 3 * f}, {f * (65535 / f), f}, {1000, 700}};
    for (opixSurfaceFormat_t depth : {OPIX_I8, OPIX_I16}) compareDebayer(t, depth, 65535, 700, sizes);
  }
}

void compareFilterRecord(opixImageFilterType_t type, const void* record, opixSurfaceFormat_t f) {
  FilterRun run(type, record, kMaxW, kMaxH, f);
  ASSERT_EQ(run.status, OPIX_OK) << opixImageFilterTypeName(type) << " " << opixSurfaceFormatName(f);
  uint32_t seed = 100;
  for (const auto& [w, h] : kSizes) {
    SCOPED_TRACE(std::string(opixImageFilterTypeName(type)) + " " + opixSurfaceFormatName(f) + " " + std::to_string(w) +
                 "x" + std::to_string(h));
    const Image in = randomImage(w, h, f, ++seed);
    expectSameOnBothDrivers([&] {
      const opixStatus_t s = run.run(in);
      return Outcome{s, run.raw};
    });
  }
}

template <class Record>
void compareFilter(opixImageFilterType_t type, const Record& record, opixSurfaceFormat_t f) {
  compareFilterRecord(type, &record, f);
}

TEST_F(CudaDrivers, ImageFiltersEveryFormatAndSize) {
  std::vector<int8_t> shift8(size_t(kMaxW + 3) * kMaxH);
  std::vector<int16_t> shift16(size_t(kMaxW + 1) * kMaxH);
  std::vector<float> factor(size_t(kMaxW) * kMaxH);
  std::mt19937 rng(7);
  for (auto& v : shift8) v = int8_t(rng() % 41) - 20;
  for (auto& v : shift16) v = int16_t(rng() % 801) - 400;
  for (auto& v : factor) v = 0.5f + float(rng() % 1000) / 1000.0f;
  const opixSam_t sam{shift8.data(), factor.data()};
  const opixSam16_t sam16{shift16.data(), factor.data()};
  const opixBaseColorCorrection_t cc{{1.2f, -0.1f, -0.05f, 3.5f, -0.2f, 1.3f, -0.1f, -2.0f, 0.0f, -0.3f, 1.4f, 0.25f},
                                     {60000, 3000, 200}};
  for (opixSurfaceFormat_t f : {OPIX_I8, OPIX_I10, OPIX_I12, OPIX_I14, OPIX_I16}) {
    compareFilter(OPIX_SAM, sam, f);
    if (f != OPIX_I8) compareFilter(OPIX_SAM16, sam16, f);
  }
  for (opixBayerPattern_t p : kPatterns) {
    const opixWhiteBalance_t wb{1.7f, 0.9f, 1.1f, 2.3f, p};
    for (opixSurfaceFormat_t f : {OPIX_I8, OPIX_I12, OPIX_I16}) compareFilter(OPIX_WHITE_BALANCE, wb, f);
    const opixBayerBlackShift_t bbs{{64.5f, 32, 16.25f}, p};
    for (opixSurfaceFormat_t f : {OPIX_I12, OPIX_I16}) compareFilter(OPIX_BAYER_BLACK_SHIFT, bbs, f);
  }
  for (opixSurfaceFormat_t f : {OPIX_I8, OPIX_I12, OPIX_I16, OPIX_RGB8, OPIX_RGB12_PLANAR, OPIX_RGB16_PLANAR})
    compareFilter(OPIX_BASE_COLOR_CORRECTION, cc, f);
}

// The neighbourhood filters, with a record at Create and one at every
// Transform (either may be null), on images `make` draws.
template <class Record>
void compareNeighbourhood(opixImageFilterType_t type, const Record* atCreate, const Record* atTransform,
                          opixSurfaceFormat_t f, Image (*make)(uint32_t, uint32_t, opixSurfaceFormat_t, uint32_t)) {
  FilterRun run(type, atCreate, kMaxW, kMaxH, f);
  ASSERT_EQ(run.status, OPIX_OK) << opixImageFilterTypeName(type) << " " << opixSurfaceFormatName(f);
  uint32_t seed = 300;
  for (const auto& [w, h] : kSizes) {
    SCOPED_TRACE(std::string(opixImageFilterTypeName(type)) + " " + opixSurfaceFormatName(f) + " " + std::to_string(w) +
                 "x" + std::to_string(h));
    const Image in = make(w, h, f, ++seed);
    expectSameOnBothDrivers([&] {
      const opixStatus_t s = run.run(in, atTransform);
      return Outcome{s, run.raw};
    });
  }
}

// Random samples with one in eight forced to the largest value or to 0, so
// that the bad pixel correction has work on every block.
Image spottedImage(uint32_t w, uint32_t h, opixSurfaceFormat_t f, uint32_t seed) {
  Image im = randomImage(w, h, f, seed);
  for (size_t i = 0; i < im.v.size(); ++i)
    if (im.v[i] % 8 == 0) im.v[i] = im.v[i] % 16 ? formatMax(f) : 0;
  return im;
}

TEST_F(CudaDrivers, NeighbourhoodFiltersEveryFormatAndSize) {
  for (opixSurfaceFormat_t f : {OPIX_I12, OPIX_I16, OPIX_RGB12_PLANAR, OPIX_RGB16_PLANAR})
    compareNeighbourhood<opixGaussianFilter_t>(OPIX_MEDIAN, nullptr, nullptr, f, randomImage);
  const opixGaussianFilter_t sigma{1.1f};
  for (opixImageFilterType_t type : {OPIX_GAUSSIAN_SHARPEN, OPIX_GAUSSIAN_BLUR})
    for (opixSurfaceFormat_t f :
         {OPIX_I8, OPIX_I10, OPIX_I12, OPIX_I14, OPIX_I16, OPIX_RGB8, OPIX_BGR8, OPIX_RGB12_PLANAR, OPIX_RGB16_PLANAR})
      compareNeighbourhood<opixGaussianFilter_t>(type, nullptr, &sigma, f, randomImage);
  for (opixSurfaceFormat_t f : {OPIX_I12, OPIX_I16})
    for (uint32_t factor : {2u, 3u, 4u})
      for (opixBinningMode_t mode : {OPIX_BINNING_SUM, OPIX_BINNING_AVERAGE, OPIX_BINNING_NONE}) {
        const opixBinning_t r{mode, factor, factor};
        compareNeighbourhood<opixBinning_t>(OPIX_BINNING, &r, nullptr, f, randomImage);
      }
  for (opixSurfaceFormat_t f : {OPIX_I8, OPIX_I10, OPIX_I12, OPIX_I14, OPIX_I16})
    for (opixBayerPattern_t p : {OPIX_BAYER_NONE, OPIX_BAYER_RGGB, OPIX_BAYER_BGGR, OPIX_BAYER_GBRG, OPIX_BAYER_GRBG}) {
      if (f == OPIX_I8 && p == OPIX_BAYER_NONE) continue;
      const opixBadPixelCorrection_t r{p};
      compareNeighbourhood<opixBadPixelCorrection_t>(OPIX_BAD_PIXEL_CORRECTION_5x5, &r, nullptr, f, spottedImage);
    }
  const opixDefringe_t fringe{1500.0f, 2, {300.0f, 20.0f}, {90.0f, 150.0f}, 0.75f};
  for (opixSurfaceFormat_t f : {OPIX_RGB12_PLANAR, OPIX_RGB16_PLANAR})
    compareNeighbourhood<opixDefringe_t>(OPIX_DEFRINGE, &fringe, nullptr, f, randomImage);
}

// Sources whose rows are longer than the destination's: each driver reads by
// the source's pitch and writes by the destination's.
TEST_F(CudaDrivers, MedianAndGaussianFromAWidePitchSource) {
  const opixGaussianFilter_t sigma{1.3f};
  for (opixImageFilterType_t type : {OPIX_MEDIAN, OPIX_GAUSSIAN_SHARPEN, OPIX_GAUSSIAN_BLUR})
    for (opixSurfaceFormat_t f : {OPIX_I8, OPIX_I12, OPIX_I16, OPIX_RGB8, OPIX_RGB16_PLANAR}) {
      if (type == OPIX_MEDIAN && (f == OPIX_I8 || f == OPIX_RGB8)) continue;
      FilterRun run(type, nullptr, kMaxW, kMaxH, f, 0, 0, 132);
      ASSERT_EQ(run.status, OPIX_OK) << opixImageFilterTypeName(type) << " " << opixSurfaceFormatName(f);
      uint32_t seed = 900;
      for (const auto& [w, h] : kSizes) {
        SCOPED_TRACE(std::string(opixImageFilterTypeName(type)) + " " + opixSurfaceFormatName(f) + " " +
                     std::to_string(w) + "x" + std::to_string(h));
        const Image in = randomImage(w, h, f, ++seed);
        expectSameOnBothDrivers([&] {
          const opixStatus_t s = run.run(in, type == OPIX_MEDIAN ? nullptr : &sigma);
          EXPECT_TRUE(run.onlyPixelsWritten());
          return Outcome{s, run.raw};
        });
      }
    }
}

TEST_F(CudaDrivers, NeighbourhoodFiltersAtTheLargestWidth) {
  const opixGaussianFilter_t sigma{0.7f};
  const opixBadPixelCorrection_t bayer{OPIX_BAYER_BGGR};
  const opixBinning_t bin{OPIX_BINNING_SUM, 3, 3};
  struct Case {
    opixImageFilterType_t type;
    opixSurfaceFormat_t format;
    const void* atCreate;
    const void* atTransform;
  };
  for (const Case& c :
       {Case{OPIX_MEDIAN, OPIX_I16, nullptr, nullptr}, Case{OPIX_GAUSSIAN_BLUR, OPIX_RGB8, nullptr, &sigma},
        Case{OPIX_GAUSSIAN_SHARPEN, OPIX_I12, nullptr, &sigma},
        Case{OPIX_BAD_PIXEL_CORRECTION_5x5, OPIX_I8, &bayer, nullptr}, Case{OPIX_BINNING, OPIX_I16, &bin, nullptr}}) {
    FilterRun run(c.type, c.atCreate, 65535, 3, c.format);
    ASSERT_EQ(run.status, OPIX_OK) << opixImageFilterTypeName(c.type);
    for (auto [w, h] : {std::pair{65535u, 3u}, std::pair{65533u, 2u}}) {
      SCOPED_TRACE(std::string(opixImageFilterTypeName(c.type)) + " " + std::to_string(w) + "x" + std::to_string(h));
      const Image in = spottedImage(w, h, c.format, w + h);
      expectSameOnBothDrivers([&] {
        const opixStatus_t st = run.run(in, c.atTransform);
        return Outcome{st, run.raw};
      });
    }
  }
}

TEST_F(CudaDrivers, ColumnFilterInPlace) {
  for (auto [w, h] : {std::pair{67u, 1025u}, std::pair{3u, 1u}, std::pair{256u, 512u}}) {
    const opixColumnFilter_t r{int32_t(w - 1)};
    ExternalSurface source(w, h, OPIX_I12);
    opixImageFilterHandle_t handle = nullptr;
    opixDeviceSurfaceBufferHandle_t destination = nullptr;
    ASSERT_EQ(opixImageFilterCreate(&handle, OPIX_COLUMN_FILTER, &r, w, h, source.buffer.get(), &destination), OPIX_OK);
    const std::vector<uint8_t> bytes = randomBytes(opixImageSize(OPIX_I12, w, h), w);
    expectSameOnBothDrivers([&] {
      source.block.upload(bytes);
      const opixStatus_t s = opixImageFilterTransform(handle, nullptr, w, h);
      return Outcome{s, source.block.download()};
    });
    EXPECT_EQ(opixImageFilterDestroy(handle), OPIX_OK);
  }
}

TEST_F(CudaDrivers, LookUpTablesEveryTypeAndSource) {
  const opixSurfaceFormat_t formats[] = {OPIX_I8,  OPIX_I10,  OPIX_I12,          OPIX_I14,
                                         OPIX_I16, OPIX_RGB8, OPIX_RGB12_PLANAR, OPIX_RGB16_PLANAR};
  int compared = 0;
  for (int t = OPIX_LUT_8_8; t <= OPIX_LUT_16_16_FR_BAYER; ++t) {
    const auto type = opixImageFilterType_t(t);
    const LutTraits traits = lutTraits(type);
    std::vector<uint8_t> record = randomBytes(lutRecordBytes(traits), uint32_t(t));
    for (opixBayerPattern_t p : kPatterns) {
      if (traits.bayer) std::memcpy(&record[record.size() - sizeof p], &p, sizeof p);
      for (opixSurfaceFormat_t f : formats) {
        ExternalSurface probe(kMaxW, kMaxH, f);
        opixImageFilterHandle_t h = nullptr;
        opixDeviceSurfaceBufferHandle_t d = nullptr;
        if (opixImageFilterCreate(&h, type, record.data(), kMaxW, kMaxH, probe.buffer.get(), &d) != OPIX_OK) continue;
        ASSERT_EQ(opixImageFilterDestroy(h), OPIX_OK);
        compareFilterRecord(type, record.data(), f);
        ++compared;
      }
      if (!traits.bayer) break;
    }
  }
  // 35 pairs of type and accepted source, the 6 Bayer types under 3 more patterns.
  EXPECT_EQ(compared, 35 + 6 * 3);
}

TEST_F(CudaDrivers, FlatFieldToneCurveAndColourSaturation) {
  std::mt19937 rng(11);
  std::vector<uint16_t> grid(size_t((2 * ((kMaxW + 3) / 4 + 1) + 3) / 4 * 2) * ((kMaxH + 3) / 4 + 1));
  for (auto& v : grid) v = uint16_t(500 + rng() % 1500);
  const opixFFC_t ffc{1000, grid.data()};
  for (opixSurfaceFormat_t f : {OPIX_I12, OPIX_I16}) compareFilter(OPIX_FFC, ffc, f);

  static opixToneCurve_t tone;
  uint32_t v = 0;
  for (auto& e : tone.curve) e = uint16_t(v = std::min(65535u, v + uint32_t(rng() % 140)));
  compareFilter(OPIX_TONE_CURVE, tone, OPIX_RGB16_PLANAR);

  static opixColorSaturation_t cs;
  for (int op = 0; op < 3; ++op) {
    for (int c = 0; c < 3; ++c) {
      for (int i = 0; i < 1024; ++i)
        cs.lut[c][i] = op == OPIX_OP_MULTIPLY ? 0.5f + float(rng() % 1000) / 1000.0f : float(rng() % 1000) / 1000.0f;
      cs.operation[c] = opixColorSaturationOperationType_t(op);
      cs.channel[c] = opixColorSaturationChannelType_t((c + op) % 3);
    }
    for (opixImageFilterType_t t : {OPIX_COLOR_SATURATION_HSL, OPIX_COLOR_SATURATION_HSV})
      for (opixSurfaceFormat_t f : {OPIX_RGB8, OPIX_RGB12_PLANAR, OPIX_RGB16_PLANAR}) compareFilter(t, cs, f);
  }
}

TEST_F(CudaDrivers, ThreeDimensionalLookUpTables) {
  std::mt19937 rng(13);
  auto table = [&](size_t n, float lo, float span) {
    std::vector<float> t(n);
    for (auto& v : t) v = lo + span * float(rng() % 10000) / 10000.0f;
    return t;
  };
  for (uint32_t n : {2u, 17u, 33u}) {
    const size_t nodes = size_t(n) * n * n;
    const std::vector<float> r = table(nodes, -500, 67000), g = table(nodes, 0, 65535), b = table(nodes, 0, 4096);
    const opixRGBLut_3D_t rgb{r.data(), g.data(), b.data(), n};
    for (opixSurfaceFormat_t f : {OPIX_RGB12_PLANAR, OPIX_RGB16_PLANAR}) compareFilter(OPIX_RGB_LUT_3D, rgb, f);
  }
  for (const auto& d : {std::array<uint32_t, 3>{7, 3, 5}, {9, 9, 9}, {13, 4, 1}}) {
    const size_t nodes = size_t(d[0]) * d[1] * d[2];
    const std::vector<float> h = table(nodes, -90, 180), s = table(nodes, 0.2f, 1.2f), v = table(nodes, 0.5f, 1.0f);
    const opixHsvLut3D_t hsv{d[0],     d[1],     d[2],    OPIX_OP_ADD, OPIX_OP_MULTIPLY, OPIX_OP_MULTIPLY,
                             h.data(), s.data(), v.data()};
    for (opixSurfaceFormat_t f : {OPIX_RGB12_PLANAR, OPIX_RGB16_PLANAR}) compareFilter(OPIX_HSV_LUT_3D, hsv, f);
  }
}

// The import's unpack kernel on random frames of every layout, as one bit
// stream and in rows with a gap after each, into a destination whose bytes
// all start as guards: padding words and the rows below the frame included.
TEST_F(CudaDrivers, UnpackEveryLayoutAndSize) {
  struct Layout {
    opixPacking_t packing;
    opixSurfaceFormat_t format;
    uint32_t bits;  // bits a sample takes in the frame
  };
  const Layout layouts[] = {{OPIX_PACKING_10P, OPIX_I10, 10},       {OPIX_PACKING_12P, OPIX_I12, 12},
                            {OPIX_PACKING_12_PACKED, OPIX_I12, 12}, {OPIX_PACKING_16_LOW, OPIX_I10, 16},
                            {OPIX_PACKING_16_LOW, OPIX_I14, 16},    {OPIX_PACKING_16_LOW, OPIX_I16, 16},
                            {OPIX_PACKING_16_HIGH, OPIX_I12, 16},   {OPIX_PACKING_16_HIGH, OPIX_I14, 16}};
  std::vector<std::pair<uint32_t, uint32_t>> sizes(std::begin(kSizes), std::end(kSizes));
  sizes.push_back({256, 65});  // one row past the CUDA driver's 64-row blocks
  sizes.push_back({257, 64});  // exactly one block row
  uint32_t seed = 500;
  for (const Layout& l : layouts)
    for (bool rows : {false, true}) {
      opixImportFromHostHandle_t handle = nullptr;
      opixDeviceSurfaceBufferHandle_t buffer = nullptr;
      ASSERT_EQ(opixImportFromHostCreatePacked(&handle, l.packing, l.format, kMaxW, kMaxH, &buffer), OPIX_OK);
      const opixDeviceSurfaceBuffer_t& d = *buffer;
      for (const auto& [w, h] : sizes) {
        SCOPED_TRACE(std::string(opixSurfaceFormatName(l.format)) + " packing " + std::to_string(l.packing) +
                     (rows ? " rows " : " stream ") + std::to_string(w) + "x" + std::to_string(h));
        const uint32_t rowBytes = (w * l.bits + 7) / 8, pitch = rows ? rowBytes + 3 : 0;
        const std::vector<uint8_t> frame =
            randomBytes(rows ? size_t{pitch} * h : (uint64_t{w} * h * l.bits + 7) / 8, ++seed);
        expectSameOnBothDrivers([&] {
          std::vector<uint8_t> raw(opixImageSize(d.surfaceFormat, d.maxWidth, d.maxHeight), 0x5A);
          EXPECT_EQ(device::memcpy(deviceAddress(d), raw.data(), raw.size(), device::CopyKind::HostToDevice),
                    device::kSuccess);
          const opixStatus_t s = opixImportFromHostCopy(handle, frame.data(), w, pitch, h);
          EXPECT_EQ(device::streamSynchronize(), device::kSuccess);
          EXPECT_EQ(device::memcpy(raw.data(), deviceAddress(d), raw.size(), device::CopyKind::DeviceToHost),
                    device::kSuccess);
          return Outcome{s, raw};
        });
      }
      EXPECT_EQ(opixImportFromHostDestroy(handle), OPIX_OK);
    }
  // The widest frame, where the grid is widest and a row's bit offset largest.
  for (const Layout& l : {layouts[0], layouts[2]}) {
    opixImportFromHostHandle_t handle = nullptr;
    opixDeviceSurfaceBufferHandle_t buffer = nullptr;
    ASSERT_EQ(opixImportFromHostCreatePacked(&handle, l.packing, l.format, 65535, 3, &buffer), OPIX_OK);
    const opixDeviceSurfaceBuffer_t& d = *buffer;
    const std::vector<uint8_t> frame = randomBytes((65535u * 3 * l.bits + 7) / 8, ++seed);
    expectSameOnBothDrivers([&] {
      const opixStatus_t s = opixImportFromHostCopy(handle, frame.data(), 65535, 0, 3);
      return Outcome{s, readDevice(deviceAddress(d), size_t{d.pitch} * 3)};
    });
    EXPECT_EQ(opixImportFromHostDestroy(handle), OPIX_OK);
  }
}

}  // namespace
}  // namespace opix::test
