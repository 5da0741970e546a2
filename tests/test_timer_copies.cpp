// GPU timers, the launch check and the copy with offset and vertical apron.
#include "CopyWithApron.h"
#include "DeviceSurfaceBuffer.h"
#include "MemSpace.h"
#include "StreamGlobal.h"
#include "TestSupport.h"
#include "TraceFile.h"
#include "device/DeviceApi.h"
#include "device/Parallel.h"
#include "example/Invert.h"

using namespace opix;

TEST(GpuTimer, MeasuresAndChecksItsHandle) {
  opixGpuTimerHandle_t timer = nullptr;
  ASSERT_EQ(opixGpuTimerCreate(&timer), OPIX_OK);
  ASSERT_EQ(opixGpuTimerStart(timer), OPIX_OK);
  ASSERT_EQ(opixGpuTimerStop(timer), OPIX_OK);
  float ms = -1;
  ASSERT_EQ(opixGpuTimerGetTime(timer, &ms), OPIX_OK);
  EXPECT_GE(ms, 0.0f);
  EXPECT_LT(ms, 1000.0f);

  // A record whose signature was overwritten is refused by every call.
  auto* signature = reinterpret_cast<uint32_t*>(timer);
  const uint32_t live = *signature;
  *signature = 0x12345678;
  EXPECT_EQ(opixGpuTimerStart(timer), OPIX_INVALID_HANDLE);
  EXPECT_EQ(opixGpuTimerStop(timer), OPIX_INVALID_HANDLE);
  EXPECT_EQ(opixGpuTimerGetTime(timer, &ms), OPIX_INVALID_HANDLE);
  EXPECT_EQ(opixGpuTimerDestroy(timer), OPIX_INVALID_HANDLE);
  *signature = live;
  EXPECT_EQ(opixGpuTimerDestroy(timer), OPIX_OK);

  EXPECT_EQ(opixGpuTimerDestroy(nullptr), OPIX_OK);
  EXPECT_EQ(opixGpuTimerStart(nullptr), OPIX_INVALID_HANDLE);
  EXPECT_EQ(opixGpuTimerCreate(nullptr), OPIX_INVALID_VALUE);
}

TEST(GpuTimer, ReadingBeforeAnyStopFails) {
  opixGpuTimerHandle_t timer = nullptr;
  ASSERT_EQ(opixGpuTimerCreate(&timer), OPIX_OK);
  float ms = 0;
  EXPECT_EQ(opixGpuTimerGetTime(timer, &ms), OPIX_INTERNAL_ERROR);
  EXPECT_EQ(opixGpuTimerDestroy(timer), OPIX_OK);
}

TEST(LaunchCheck, AFailedLaunchIsTracedAndRaised) {
  if (test::g_backend == test::Backend::Cuda) GTEST_SKIP() << "a failed launch is staged on the host backend";
  test::TraceCapture capture;
  device::setHostLastError(device::kErrorLaunchFailure);
  test::expectStatus(OPIX_INTERNAL_ERROR, [] { launchCheck("SomeKernel"); });
  launchCheck("SomeKernel");  // the error was cleared by reading it
  // A host driver that fails reports through the same path.
  host::launch([] { throw std::runtime_error("driver failure"); });
  test::expectStatus(OPIX_INTERNAL_ERROR, [] { launchCheck("OtherKernel"); });
  trace::boundary();
  const std::string log = capture.finish();
  EXPECT_NE(log.find("\tSomeKernel failure: unspecified launch failure\n\n"), std::string::npos) << log;
  EXPECT_NE(log.find("\tOtherKernel failure: unspecified launch failure\n\n"), std::string::npos) << log;
}

TEST(LaunchCheck, FailuresAlreadyReportedDoNotFailTheNextKernel) {
  // Each failure below is returned to its caller; none may linger in the
  // runtime and be blamed on the next, healthy kernel by its launch check.
  test::ExternalSurface src(64, 64, OPIX_I8);
  opixImageFilterHandle_t invert = nullptr;
  opixDeviceSurfaceBufferHandle_t dst = nullptr;
  ASSERT_EQ(exampleInvertCreate(&invert, 64, 64, src.buffer.get(), &dst), OPIX_OK);
  ASSERT_EQ(exampleInvertTransform(invert, 64, 64), OPIX_OK);

  test::DeviceBlock a(64), b(64);
  test::expectStatus(OPIX_EXECUTION_FAILURE,
                     [&] { copy2D(b.get(), 16, a.get(), 16, 17, 2, device::CopyKind::DeviceToDevice); });
  EXPECT_EQ(exampleInvertTransform(invert, 64, 64), OPIX_OK) << "after a failed pitched copy";

  MemSpace huge;
  huge.reserve(uint64_t{1} << 62);
  test::expectStatus(OPIX_INSUFFICIENT_DEVICE_MEMORY, [&] { huge.allocate(); });
  EXPECT_EQ(exampleInvertTransform(invert, 64, 64), OPIX_OK) << "after a failed allocation";

  opixGpuTimerHandle_t timer = nullptr;
  ASSERT_EQ(opixGpuTimerCreate(&timer), OPIX_OK);
  float ms = 0;
  EXPECT_EQ(opixGpuTimerGetTime(timer, &ms), OPIX_INTERNAL_ERROR);  // its events were never recorded
  EXPECT_EQ(exampleInvertTransform(invert, 64, 64), OPIX_OK) << "after reading unrecorded events";

  EXPECT_EQ(opixGpuTimerDestroy(timer), OPIX_OK);
  EXPECT_EQ(exampleInvertDestroy(invert), OPIX_OK);
}

namespace {

// The copy as its definition reads: the image at (byteX, y0), then every
// margin row copied from the destination row it mirrors.
std::vector<uint8_t> reference(const std::vector<uint8_t>& src, uint32_t srcPitch, std::vector<uint8_t> dst,
                               uint32_t dstPitch, int rowBytes, int h, int byteX, int y0, int apron) {
  for (int y = 0; y < h; ++y)
    std::copy_n(&src[size_t(y) * srcPitch], rowBytes, &dst[size_t(y0 + y) * dstPitch + byteX]);
  auto copyRow = [&](int to, int from) {
    std::copy_n(&dst[size_t(from) * dstPitch + byteX], rowBytes, &dst[size_t(to) * dstPitch + byteX]);
  };
  for (int k = 0; k < y0; ++k) copyRow(y0 - 1 - k, y0 + 1 + k);
  for (int j = 0; j < apron; ++j) copyRow(y0 + h + j, y0 + h - 2 - j);
  return dst;
}

struct ApronCase {
  opixSurfaceFormat_t format;
  uint32_t width, height;
  uint32_t xOffset;
  int apron;
  uint32_t y0;
};

void runApronCase(const ApronCase& c) {
  SCOPED_TRACE(std::string(opixSurfaceFormatName(c.format)) + " " + std::to_string(c.width) + "x" +
               std::to_string(c.height) + " x" + std::to_string(c.xOffset) + " apron " + std::to_string(c.apron) +
               " y0 " + std::to_string(c.y0));
  const int bpp = c.format == OPIX_I8 ? 1 : 2;
  const uint32_t srcPitch = opixRowBytes(c.format, c.width);
  const uint32_t dstWidth = c.width + 2 * c.xOffset + 5;
  const uint32_t dstPitch = opixRowBytes(c.format, dstWidth);
  const uint32_t dstRows = c.y0 + c.height + c.apron + 1;  // one guard row below
  const auto src = test::randomBytes(size_t(srcPitch) * c.height, c.width * 31 + c.height);
  const auto guard = test::randomBytes(size_t(dstPitch) * dstRows, 99);
  test::DeviceBlock s(src.size()), d(guard.size());
  s.upload(src);
  d.upload(guard);
  const SurfaceView sv{c.format, {s.get(), nullptr, nullptr}, srcPitch, c.width, c.height};
  const SurfaceView dv{c.format, {d.get(), nullptr, nullptr}, dstPitch, dstWidth, dstRows};
  copyWithOffsetAndApron(sv, dv, c.apron, c.xOffset, c.y0);
  const auto out = d.download();
  const auto want = reference(src, srcPitch, guard, dstPitch, int(c.width) * bpp, int(c.height), int(c.xOffset) * bpp,
                              int(c.y0), c.apron);
  ASSERT_EQ(out.size(), want.size());
  for (size_t i = 0; i < out.size(); ++i)
    ASSERT_EQ(out[i], want[i]) << "row " << i / dstPitch << " byte " << i % dstPitch;
}

}  // namespace

TEST(ApronCopy, EightBitRowsWithAndWithoutOffsets) {
  for (uint32_t width : {1u, 3u, 64u, 67u, 1025u, 1030u})
    for (uint32_t x : {0u, 1u, 2u, 3u, 4u, 7u})
      for (int apron : {0, 2, 3}) {
        runApronCase({OPIX_I8, width, 9, x, apron, uint32_t(apron)});
        runApronCase({OPIX_I8, width, 9, x, apron, uint32_t(apron + 1)});
      }
}

TEST(ApronCopy, SixteenBitRowsWithAndWithoutOffsets) {
  for (opixSurfaceFormat_t f : {OPIX_I10, OPIX_I12, OPIX_I16})
    for (uint32_t width : {1u, 5u, 64u, 513u})
      for (uint32_t x : {0u, 1u, 3u})
        for (int apron : {0, 2}) runApronCase({f, width, 7, x, apron, uint32_t(apron)});
}

TEST(ApronCopy, MirrorRowsOfASixteenBitImage) {
  // Height 4, apron 2, y0 2: rows 0 and 1 come from rows 4 and 3, rows 6 and 7 from 4 and 3.
  const uint32_t w = 4, pitch = 8;
  std::vector<uint8_t> src(pitch * 4);
  for (uint32_t y = 0; y < 4; ++y)
    for (uint32_t x = 0; x < w; ++x) src[y * pitch + 2 * x] = uint8_t(10 * y + x);
  test::DeviceBlock s(src.size()), d(pitch * 8);
  s.upload(src);
  d.upload(std::vector<uint8_t>(pitch * 8, 0xEE));
  copyWithOffsetAndApron({OPIX_I16, {s.get(), nullptr, nullptr}, pitch, w, 4},
                         {OPIX_I16, {d.get(), nullptr, nullptr}, pitch, w, 8}, 2, 0, 2);
  const auto out = d.download();
  const int imageRowOf[8] = {2, 1, 0, 1, 2, 3, 2, 1};  // destination row -> image row
  for (int r = 0; r < 8; ++r)
    for (uint32_t x = 0; x < w; ++x) EXPECT_EQ(out[r * pitch + 2 * x], 10 * imageRowOf[r] + x) << r;
}

TEST(ApronCopy, OtherFormatsCopyNothingButStillCheckTheLaunch) {
  const auto guard = test::randomBytes(64 * 12, 5);
  test::DeviceBlock s(64 * 12), d(64 * 12);
  s.upload(test::randomBytes(64 * 12, 6));
  d.upload(guard);
  copyWithOffsetAndApron({OPIX_RGB8, {s.get(), nullptr, nullptr}, 192, 64, 4},
                         {OPIX_RGB8, {d.get(), nullptr, nullptr}, 192, 64, 4}, 2, 1, 2);
  EXPECT_EQ(d.download(), guard);
  if (test::g_backend != test::Backend::Cuda) {
    device::setHostLastError(device::kErrorLaunchFailure);
    test::expectStatus(OPIX_INTERNAL_ERROR, [&] {
      copyWithOffsetAndApron({OPIX_RGB8, {s.get(), nullptr, nullptr}, 192, 64, 4},
                             {OPIX_RGB8, {d.get(), nullptr, nullptr}, 192, 64, 4}, 0, 0, 0);
    });
  }
}
