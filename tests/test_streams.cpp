// Streams: the handles the interface takes, chains on streams of their own,
// and the trace of the stream calls.
#include <cstring>
#include <memory>
#include <random>
#include <sstream>
#include <vector>

#include "TestSupport.h"
#include "device/Device.h"

using namespace opix;

namespace {

constexpr uint32_t kW = 200, kH = 130;  // odd word counts and a partial block row

opixStream_t bogusStream() {
  static int somewhere;
  return &somewhere;
}

std::string hexPointer(const void* p) {
  std::ostringstream s;
  s << "0x" << std::hex << reinterpret_cast<uintptr_t>(p);
  return s.str();
}

// import (I8) -> white balance -> debayer -> export, delivering BGR.
struct Chain {
  explicit Chain(opixDebayerType_t type) {
    opixDeviceSurfaceBufferHandle_t b = nullptr;
    EXPECT_EQ(opixImportFromHostCreate(&importer, OPIX_I8, kW, kH, &b), OPIX_OK);
    const opixWhiteBalance_t wb{1.5f, 1.0f, 0.9f, 1.7f, OPIX_BAYER_GRBG};
    EXPECT_EQ(opixImageFilterCreate(&whiteBalance, OPIX_WHITE_BALANCE, &wb, kW, kH, b, &b), OPIX_OK);
    EXPECT_EQ(opixDebayerCreate(&debayer, type, kW, kH, b, &b), OPIX_OK);
    opixSurfaceFormat_t format{};
    EXPECT_EQ(opixExportToHostCreate(&exporter, &format, b), OPIX_OK);
    EXPECT_EQ(format, OPIX_RGB8);
    EXPECT_EQ(opixGpuTimerCreate(&timer), OPIX_OK);
  }
  ~Chain() {
    opixGpuTimerDestroy(timer);
    opixExportToHostDestroy(exporter);
    opixDebayerDestroy(debayer);
    opixImageFilterDestroy(whiteBalance);
    opixImportFromHostDestroy(importer);
  }
  void setStream(opixStream_t s) {
    EXPECT_EQ(opixImportFromHostSetStream(importer, s), OPIX_OK);
    EXPECT_EQ(opixImageFilterSetStream(whiteBalance, s), OPIX_OK);
    EXPECT_EQ(opixDebayerSetStream(debayer, s), OPIX_OK);
    EXPECT_EQ(opixExportToHostSetStream(exporter, s), OPIX_OK);
    EXPECT_EQ(opixGpuTimerSetStream(timer, s), OPIX_OK);
  }
  // One stage of a frame, so that two chains' stages can be interleaved.
  void stage(int k, const std::vector<uint8_t>& mosaic, std::vector<uint8_t>& rgb) {
    const opixExportParameters_t bgr{OPIX_CONVERT_BGR};
    switch (k) {
      case 0: EXPECT_EQ(opixImportFromHostCopy(importer, mosaic.data(), kW, kW, kH), OPIX_OK); break;
      case 1: EXPECT_EQ(opixImageFilterTransform(whiteBalance, nullptr, kW, kH), OPIX_OK); break;
      case 2:
        EXPECT_EQ(opixGpuTimerStart(timer), OPIX_OK);
        EXPECT_EQ(opixDebayerTransform(debayer, OPIX_BAYER_GRBG, kW, kH), OPIX_OK);
        EXPECT_EQ(opixGpuTimerStop(timer), OPIX_OK);
        break;
      default:
        rgb.assign(size_t{kW} * 3 * kH, 0);
        EXPECT_EQ(opixExportToHostCopyAsync(exporter, rgb.data(), kW, 3 * kW, kH, &bgr), OPIX_OK);
    }
  }
  static constexpr int kStages = 4;

  opixImportFromHostHandle_t importer = nullptr;
  opixImageFilterHandle_t whiteBalance = nullptr;
  opixDebayerHandle_t debayer = nullptr;
  opixExportToHostHandle_t exporter = nullptr;
  opixGpuTimerHandle_t timer = nullptr;
};

std::vector<uint8_t> randomMosaic(uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> m(size_t{kW} * kH);
  for (auto& v : m) v = static_cast<uint8_t>(rng());
  return m;
}

bool cudaBackend() { return test::g_backend == test::Backend::Cuda; }

}  // namespace

TEST(Streams, CreateSynchronizeDestroy) {
  EXPECT_EQ(opixStreamCreate(nullptr), OPIX_INVALID_VALUE);
  opixStream_t s = nullptr;
  ASSERT_EQ(opixStreamCreate(&s), OPIX_OK);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(opixStreamSynchronize(s), OPIX_OK);
  EXPECT_EQ(opixStreamSynchronize(nullptr), OPIX_OK);  // the SDK stream
  // The SDK stream and CUDA's special streams are not the caller's to destroy.
  for (uintptr_t special : {0, 1, 2})
    EXPECT_EQ(opixStreamDestroy(reinterpret_cast<opixStream_t>(special)), OPIX_INVALID_VALUE) << special;
  EXPECT_EQ(opixStreamDestroy(s), OPIX_OK);
  if (cudaBackend()) return;  // CUDA streams are taken as given
  // A stream already destroyed, or one the host never made, is refused.
  EXPECT_EQ(opixStreamDestroy(s), OPIX_INVALID_VALUE);
  EXPECT_EQ(opixStreamSynchronize(s), OPIX_INVALID_VALUE);
  EXPECT_EQ(opixStreamSynchronize(bogusStream()), OPIX_INVALID_VALUE);
  EXPECT_EQ(device::hostLiveStreams(), 0u);
}

TEST(Streams, SetStreamTakesWhatTheBackendTakes) {
  Chain chain(OPIX_HQLI);
  opixStream_t s = nullptr;
  ASSERT_EQ(opixStreamCreate(&s), OPIX_OK);
  opixSurfaceConverterHandle_t converter = nullptr;
  opixDeviceSurfaceBufferHandle_t b = nullptr, out = nullptr;
  opixImportFromHostHandle_t wide = nullptr;
  ASSERT_EQ(opixImportFromHostCreate(&wide, OPIX_I12, 64, 64, &b), OPIX_OK);
  const opixBitDepthConverter_t to16{0, false, 16};
  ASSERT_EQ(opixSurfaceConverterCreate(&converter, OPIX_BIT_DEPTH_CONVERTER, &to16, 64, 64, b, &out), OPIX_OK);

  // Every kind of handle takes the SDK stream, CUDA's special values and a
  // stream made here.
  for (opixStream_t given :
       {s, opixStream_t{nullptr}, reinterpret_cast<opixStream_t>(1), reinterpret_cast<opixStream_t>(2), s}) {
    chain.setStream(given);
    EXPECT_EQ(opixSurfaceConverterSetStream(converter, given), OPIX_OK);
  }
  // A handle that is not one is refused as such, whatever the stream.
  EXPECT_EQ(opixDebayerSetStream(nullptr, s), OPIX_INVALID_HANDLE);
  EXPECT_EQ(opixImageFilterSetStream(nullptr, nullptr), OPIX_INVALID_HANDLE);
  EXPECT_EQ(opixImportFromHostSetStream(reinterpret_cast<opixImportFromHostHandle_t>(chain.exporter), s),
            OPIX_INVALID_HANDLE);
  EXPECT_EQ(opixGpuTimerSetStream(nullptr, s), OPIX_INVALID_HANDLE);

  if (!cudaBackend()) {
    // The host backend refuses what it did not make, and leaves the stream
    // in force as it was.
    const uint64_t before = device::workQueuedOn(s);
    EXPECT_EQ(opixDebayerSetStream(chain.debayer, bogusStream()), OPIX_INVALID_VALUE);
    EXPECT_EQ(opixImportFromHostSetStream(chain.importer, bogusStream()), OPIX_INVALID_VALUE);
    EXPECT_EQ(opixImageFilterSetStream(chain.whiteBalance, bogusStream()), OPIX_INVALID_VALUE);
    EXPECT_EQ(opixExportToHostSetStream(chain.exporter, bogusStream()), OPIX_INVALID_VALUE);
    EXPECT_EQ(opixSurfaceConverterSetStream(converter, bogusStream()), OPIX_INVALID_VALUE);
    EXPECT_EQ(opixGpuTimerSetStream(chain.timer, bogusStream()), OPIX_INVALID_VALUE);
    std::vector<uint8_t> rgb;
    const std::vector<uint8_t> mosaic = randomMosaic(3);
    for (int k = 0; k < Chain::kStages; ++k) chain.stage(k, mosaic, rgb);
    EXPECT_GT(device::workQueuedOn(s), before) << "the refused stream replaced the one in force";
  }
  chain.setStream(nullptr);
  EXPECT_EQ(opixSurfaceConverterSetStream(converter, nullptr), OPIX_OK);
  EXPECT_EQ(opixStreamDestroy(s), OPIX_OK);
  if (!cudaBackend()) {
    EXPECT_EQ(opixDebayerSetStream(chain.debayer, s), OPIX_INVALID_VALUE) << "destroyed";
  }
  opixSurfaceConverterDestroy(converter);
  opixImportFromHostDestroy(wide);
}

// Two chains in one thread, each on its own stream, with their stages
// interleaved, give the bytes of one chain on the SDK stream; every piece of
// a chain's work goes to its stream and none to the SDK stream.
TEST(Streams, TwoChainsOnTwoStreamsGiveTheBytesOfOne) {
  for (opixDebayerType_t type : {OPIX_HQLI, OPIX_DFPD}) {
    const std::vector<uint8_t> frames[2] = {randomMosaic(1), randomMosaic(2)};
    std::vector<uint8_t> expected[2];
    {
      Chain one(type);
      for (int f = 0; f < 2; ++f)
        for (int k = 0; k < Chain::kStages; ++k) one.stage(k, frames[f], expected[f]);
      ASSERT_EQ(opixStreamSynchronize(nullptr), OPIX_OK);
    }
    opixStream_t streams[2] = {};
    for (opixStream_t& s : streams) ASSERT_EQ(opixStreamCreate(&s), OPIX_OK);
    {
      Chain a(type), b(type);
      Chain* chains[2] = {&a, &b};
      for (int c = 0; c < 2; ++c) chains[c]->setStream(streams[c]);
      const uint64_t onSdk = device::workQueuedOn(nullptr);
      const uint64_t onOwn[2] = {device::workQueuedOn(streams[0]), device::workQueuedOn(streams[1])};
      std::vector<uint8_t> got[2];
      for (int k = 0; k < Chain::kStages; ++k)
        for (int c = 0; c < 2; ++c) chains[c]->stage(k, frames[c], got[c]);
      // The host waits for each chain where its result is read.
      for (int c = 0; c < 2; ++c) {
        ASSERT_EQ(opixStreamSynchronize(streams[c]), OPIX_OK);
        EXPECT_EQ(got[c], expected[c]) << "frame " << c << " of " << opixDebayerTypeName(type);
        // Import, white balance, two timer events, the debayer's copy and
        // kernels, the swap and the download at the least; the HQLI and DFPD
        // host drivers read the source themselves, with no copy.
        const bool copies = test::g_backend != test::Backend::Host;
        EXPECT_GE(device::workQueuedOn(streams[c]) - onOwn[c], copies ? 7u : 6u) << c;
        float ms = -1;
        EXPECT_EQ(opixGpuTimerGetTime(chains[c]->timer, &ms), OPIX_OK);
        EXPECT_GE(ms, 0.0f);
      }
      EXPECT_EQ(device::workQueuedOn(nullptr), onSdk) << "a chain's work went to the SDK stream";
      for (Chain* c : chains) c->setStream(nullptr);
    }
    for (opixStream_t s : streams) ASSERT_EQ(opixStreamDestroy(s), OPIX_OK);
  }
}

TEST(Streams, TraceNamesTheStreamCalls) {
  Chain chain(OPIX_HQLI);
  opixStream_t s = nullptr;
  ASSERT_EQ(opixStreamCreate(&s), OPIX_OK);
  std::string log;
  {
    test::TraceCapture capture;
    chain.setStream(s);
    std::vector<uint8_t> rgb;
    const std::vector<uint8_t> mosaic = randomMosaic(4);
    for (int k = 0; k < Chain::kStages; ++k) chain.stage(k, mosaic, rgb);
    EXPECT_EQ(opixStreamSynchronize(s), OPIX_OK);
    chain.setStream(nullptr);
    log = capture.finish();
  }
  const std::string handleOf[] = {hexPointer(chain.importer), hexPointer(chain.whiteBalance), hexPointer(chain.debayer),
                                  hexPointer(chain.exporter)};
  const char* names[] = {"Import from host. Set stream", "Image filter. Set stream", "Debayer. Set stream",
                         "Export to host. Set stream"};
  for (int i = 0; i < 4; ++i) {
    const std::string block =
        std::string(names[i]) + "\n\thandle: " + handleOf[i] + "\n\tstream: " + hexPointer(s) + "\n\tStatus: ";
    EXPECT_NE(log.find(block), std::string::npos) << block << "\n---\n" << log;
    const std::string back = std::string(names[i]) + "\n\thandle: " + handleOf[i] + "\n\tstream: 0x0\n";
    EXPECT_NE(log.find(back), std::string::npos) << back;
  }
  EXPECT_NE(log.find("Export to host. Copy async\n\thandle: " + handleOf[3]), std::string::npos) << log;
  EXPECT_EQ(log.find("Export to host. Copy\n"), std::string::npos) << "the async copy traced as the waiting one";
  EXPECT_EQ(opixStreamDestroy(s), OPIX_OK);
}
