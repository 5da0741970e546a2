// Before opixInit or opixInitHost nothing may run: components are refused and
// no handle is handed out. Also the rule by which opixInit accepts a GPU.
#include <gtest/gtest.h>

#include "DeviceContext.h"
#include "DeviceSurfaceBuffer.h"
#include "device/Device.h"
#include "example/Invert.h"

// One test, so that no test order or filter can initialise the process
// before the checks that need it uninitialised.
TEST(Uninitialised, NothingRunsBeforeInitialisationThenOneBackendPerProcess) {
  ASSERT_EQ(opix::device::backend(), opix::device::Backend::None);
  auto src = opix::createSurfaceBuffer(64, 64, OPIX_I8);
  opixImageFilterHandle_t h = nullptr;
  opixDeviceSurfaceBufferHandle_t dst = nullptr;
  EXPECT_EQ(exampleInvertCreate(&h, 64, 64, src.get(), &dst), OPIX_INVALID_DEVICE);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(dst, nullptr);
  EXPECT_EQ(opix::device::backend(), opix::device::Backend::None);

  // Host memory needs a backend too.
  void* p = reinterpret_cast<void*>(0x10);
  EXPECT_EQ(opixHostMalloc(&p, 16), OPIX_INVALID_DEVICE);
  EXPECT_EQ(p, reinterpret_cast<void*>(0x10));
  EXPECT_EQ(opixHostFree(nullptr), OPIX_OK);
  // So do streams.
  opixStream_t stream = reinterpret_cast<opixStream_t>(0x10);
  EXPECT_EQ(opixStreamCreate(&stream), OPIX_INVALID_DEVICE);
  EXPECT_EQ(stream, reinterpret_cast<opixStream_t>(0x10));
  EXPECT_EQ(opixStreamSynchronize(nullptr), OPIX_INVALID_DEVICE);

  EXPECT_EQ(opixInit(0, false), OPIX_INVALID_DEVICE);
  ASSERT_EQ(opixInitHost(), OPIX_OK);
  EXPECT_EQ(opixInitHost(), OPIX_OK);
  EXPECT_EQ(opixInit(1, false), OPIX_UNAPPLICABLE_OPERATION);
  EXPECT_EQ(opix::device::backend(), opix::device::Backend::Host);
}

TEST(Initialisation, GpusOlderThanTheBuildsOldestCodeAreRefused) {
  // The oldest code built in is PTX for compute capability 7.5.
  EXPECT_FALSE(opix::computeCapabilitySupported(6, 1));
  EXPECT_FALSE(opix::computeCapabilitySupported(7, 0));
  EXPECT_FALSE(opix::computeCapabilitySupported(7, 2));
  EXPECT_TRUE(opix::computeCapabilitySupported(7, 5));
  EXPECT_TRUE(opix::computeCapabilitySupported(8, 0));
  EXPECT_TRUE(opix::computeCapabilitySupported(9, 0));
}
