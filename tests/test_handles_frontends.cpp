// The interface shape every frontend shares, shown on the example component:
// trace lines, handle checks, argument checks and exception mapping.
#include <regex>

#include "DeviceSurfaceBuffer.h"
#include "HandleSignature.h"
#include "TestSupport.h"
#include "example/Invert.h"

using namespace opix;
using opix::example::Invert;

namespace {

using Source = test::ExternalSurface;

struct Fixture : ::testing::Test {
  void SetUp() override {
    Invert::failOnInit = false;
    Invert::throwForeign = false;
  }
  void TearDown() override { SetUp(); }
};

using Frontend = Fixture;

}  // namespace

TEST_F(Frontend, CreateTransformDestroyRunsTheKernel) {
  Source src(67, 64, OPIX_I8);
  const auto pixels = test::randomBytes(opixImageSize(OPIX_I8, 67, 64), 1);
  src.block.upload(pixels);
  opixImageFilterHandle_t h = nullptr;
  opixDeviceSurfaceBufferHandle_t dst = nullptr;
  ASSERT_EQ(exampleInvertCreate(&h, 67, 64, src.buffer.get(), &dst), OPIX_OK);
  ASSERT_NE(h, nullptr);
  ASSERT_NE(dst, nullptr);
  uint64_t bytes = 0;
  ASSERT_EQ(exampleInvertGetAllocatedGpuMemorySize(h, &bytes), OPIX_OK);
  EXPECT_EQ(bytes, alignUp(opixImageSize(OPIX_I8, 67, 64), 128));
  ASSERT_EQ(exampleInvertTransform(h, 67, 64), OPIX_OK);
  std::vector<uint8_t> out(pixels.size());
  ASSERT_EQ(device::streamSynchronize(), device::kSuccess);
  ASSERT_EQ(device::memcpy(out.data(), deviceAddress(*dst), out.size(), device::CopyKind::DeviceToHost), 0);
  for (uint32_t y = 0; y < 64; ++y)
    for (uint32_t x = 0; x < 67; ++x) ASSERT_EQ(out[y * 68 + x], 255 - pixels[y * 68 + x]) << x << "," << y;
  EXPECT_EQ(exampleInvertDestroy(h), OPIX_OK);
}

TEST_F(Frontend, SizeChecksOfCreate) {
  struct Case {
    uint32_t w, h;
    opixStatus_t status;
    const char* message;
  };
  const Case cases[] = {
      {64, 64, OPIX_OK, nullptr},
      {63, 64, OPIX_INVALID_VALUE, "Output image width less than minimal width of component"},
      {64, 63, OPIX_INVALID_VALUE, "Output image height less than minimal height of component"},
      {65535, 64, OPIX_OK, nullptr},
      {65536, 64, OPIX_INVALID_SIZE, "MaxWidth exceeds max component width"},
      {64, 65536, OPIX_INVALID_SIZE, "MaxHeight exceeds max component height"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
    Source src(c.w, c.h, OPIX_I8);
    test::TraceCapture trace;
    opixImageFilterHandle_t h = nullptr;
    opixDeviceSurfaceBufferHandle_t dst = nullptr;
    EXPECT_EQ(exampleInvertCreate(&h, c.w, c.h, src.buffer.get(), &dst), c.status);
    const std::string log = trace.finish();
    if (c.message) {
      EXPECT_EQ(h, nullptr);
      EXPECT_EQ(dst, nullptr);
      EXPECT_NE(log.find(std::string("\n") + c.message + "\n"), std::string::npos) << log;
      EXPECT_NE(log.find(std::string("\tStatus: ") + opixStatusName(c.status) + "\n"), std::string::npos);
    } else {
      EXPECT_EQ(exampleInvertDestroy(h), OPIX_OK);
    }
  }
}

TEST_F(Frontend, TransformSizeMustMatchTheSource) {
  Source src(64, 64, OPIX_I16);
  opixImageFilterHandle_t h = nullptr;
  opixDeviceSurfaceBufferHandle_t dst = nullptr;
  ASSERT_EQ(exampleInvertCreate(&h, 64, 64, src.buffer.get(), &dst), OPIX_OK);
  EXPECT_EQ(exampleInvertTransform(h, 63, 64), OPIX_INVALID_SIZE);
  EXPECT_EQ(exampleInvertTransform(h, 64, 65), OPIX_INVALID_SIZE);
  setCurrentSize(*src.buffer, 40, 30);
  EXPECT_EQ(exampleInvertTransform(h, 40, 30), OPIX_OK);
  EXPECT_EQ(dst->width, 40u);
  EXPECT_EQ(dst->pitch, 80u);
  EXPECT_EQ(exampleInvertDestroy(h), OPIX_OK);
}

TEST_F(Frontend, SignatureChecks) {
  Source src(64, 64, OPIX_I8);
  opixImageFilterHandle_t h = nullptr;
  opixDeviceSurfaceBufferHandle_t dst = nullptr;
  ASSERT_EQ(exampleInvertCreate(&h, 64, 64, src.buffer.get(), &dst), OPIX_OK);

  const uint32_t live = h->signature;
  h->signature = live ^ 1;
  test::TraceCapture trace;
  EXPECT_EQ(exampleInvertTransform(h, 64, 64), OPIX_INVALID_HANDLE);
  uint64_t bytes = 0;
  EXPECT_EQ(exampleInvertGetAllocatedGpuMemorySize(h, &bytes), OPIX_INVALID_HANDLE);
  EXPECT_EQ(exampleInvertDestroy(h), OPIX_INVALID_HANDLE);  // frees nothing
  const std::string log = trace.finish();
  // The handle and the arguments are traced before the check fails.
  EXPECT_TRUE(std::regex_search(log, std::regex("Invert\\. Transform\n\thandle: 0x[0-9a-f]+\n\twidth: 64\n\theight: "
                                                "64\n\tStatus: OPIX_INVALID_HANDLE\nthread id: [0-9]+\n\n")))
      << log;

  h->signature = live;
  EXPECT_EQ(exampleInvertDestroy(h), OPIX_OK);

  EXPECT_EQ(exampleInvertTransform(nullptr, 64, 64), OPIX_INVALID_HANDLE);
  EXPECT_EQ(exampleInvertDestroy(nullptr), OPIX_INVALID_HANDLE);
  EXPECT_EQ(exampleInvertGetAllocatedGpuMemorySize(nullptr, &bytes), OPIX_INVALID_HANDLE);
}

TEST_F(Frontend, FailedInitDeletesTheComponentAndLeavesOutParameters) {
  Source src(64, 64, OPIX_I8);
  Invert::failOnInit = true;
  const int destroyedBefore = Invert::destroyed;
  auto* const sentinel = reinterpret_cast<opixImageFilterHandle_t>(0x1234);
  auto* const sentinelBuffer = reinterpret_cast<opixDeviceSurfaceBufferHandle_t>(0x5678);
  opixImageFilterHandle_t h = sentinel;
  opixDeviceSurfaceBufferHandle_t dst = sentinelBuffer;
  EXPECT_EQ(exampleInvertCreate(&h, 64, 64, src.buffer.get(), &dst), OPIX_INTERNAL_ERROR);
  EXPECT_EQ(h, sentinel);
  EXPECT_EQ(dst, sentinelBuffer);
  EXPECT_EQ(Invert::destroyed, destroyedBefore + 1);
}

TEST_F(Frontend, ForeignExceptionsBecomeUnrecognizedError) {
  Source src(64, 64, OPIX_I8);
  opixImageFilterHandle_t h = nullptr;
  opixDeviceSurfaceBufferHandle_t dst = nullptr;
  ASSERT_EQ(exampleInvertCreate(&h, 64, 64, src.buffer.get(), &dst), OPIX_OK);
  Invert::throwForeign = true;
  test::TraceCapture trace;
  EXPECT_EQ(exampleInvertTransform(h, 64, 64), OPIX_UNRECOGNIZED_ERROR);
  EXPECT_NE(trace.finish().find("\tStatus: OPIX_UNRECOGNIZED_ERROR\n"), std::string::npos);
  EXPECT_EQ(exampleInvertDestroy(h), OPIX_OK);
}

TEST_F(Frontend, CreateAndDestroyTraceBlocks) {
  Source src(64, 64, OPIX_I8);
  test::TraceCapture trace;
  opixImageFilterHandle_t h = nullptr;
  opixDeviceSurfaceBufferHandle_t dst = nullptr;
  ASSERT_EQ(exampleInvertCreate(&h, 64, 64, src.buffer.get(), &dst), OPIX_OK);
  ASSERT_EQ(exampleInvertDestroy(h), OPIX_OK);
  const std::string log = trace.finish();
  const std::string mem = "\tavailable memory \\(CUDA\\), KB: [0-9]+\n";
  const std::string buf =
      "\t\tpointer: 0x[0-9a-f]+\n\t\tsurface format: 0\n\t\tpitch alignment: 4\n"
      "\t\tmax size: width = 64, height = 64, pitch = 64\n"
      "\t\tcurrent size: width = 64, height = 64, pitch = 64\n";
  const std::string tid = "thread id: [0-9]+\n\n";
  const std::regex expected("Product Name: [^\n]+\nProduct Version: 0\\.18\\.1\\.0\n" + tid +
                            "Invert\\. Create\n\tmax width: 64\n\tmax height: 64\n\tsource buffer:\n" + buf + mem +
                            "\tcudaMalloc\\. Requested size, KB: 4\n" + tid +  // the allocation passes a boundary
                            "\tcudaMalloc: SUCCESS\n" + tid +                  // and another after it
                            "\thandle: 0x[0-9a-f]+\n\tdestination buffer:\n" + buf +
                            "\tallocated component memory, KB: 4\n" + mem + "\tStatus: OPIX_OK\n" + tid +
                            "Invert\\. Destroy\n\thandle: 0x[0-9a-f]+\n\tallocated component memory, KB: 4\n" + mem +
                            "Invert\\. Destroyed\\.\n" + mem + "\tStatus: OPIX_OK\n" + tid);
  EXPECT_TRUE(std::regex_match(log, expected)) << log;
}
