// Memory spaces, typed arrays, page-locked host memory and the device layer's
// copies, arrays and textures; the device information of the programs.
#include <algorithm>
#include <cstring>

#include "DeviceContext.h"
#include "MemSpace.h"
#include "TestSupport.h"
#include "opix_internal/opix_program.h"

using namespace opix;

TEST(MemSpace, EmptySpaceAllocatesNothing) {
  MemSpace space;
  space.allocate();
  EXPECT_EQ(space.pointer(), nullptr);
  EXPECT_EQ(space.allocatedSize(), 0u);
  test::expectStatus(OPIX_INTERNAL_ERROR, [&] { sliceAddress(space.pointerField(), 0); });
  test::expectStatus(OPIX_INTERNAL_ERROR, [&] { sliceAddress(nullptr, 0); });
}

TEST(MemSpace, DoubleAllocationAndRelease) {
  MemSpace space;
  EXPECT_EQ(space.reserve(1), 0u);
  EXPECT_EQ(space.reserve(129), 128u);
  EXPECT_EQ(space.reserve(0), 384u);
  EXPECT_EQ(space.requestedSize(), 384u);
  space.allocate();
  EXPECT_EQ(space.allocatedSize(), 384u);
  test::expectStatus(OPIX_INTERNAL_ERROR, [&] { space.allocate(); });
  space.release();
  EXPECT_EQ(space.pointer(), nullptr);
  space.release();  // releasing an empty space is harmless
}

TEST(MemSpace, HugeRequestFailsCleanly) {
  MemSpace space;
  space.reserve(uint64_t{1} << 62);
  test::expectStatus(OPIX_INSUFFICIENT_DEVICE_MEMORY, [&] { space.allocate(); });
  EXPECT_EQ(space.pointer(), nullptr);
}

TEST(TypedArray, UploadUpToCapacityAndNoFurther) {
  MemSpace space;
  TypedArray<uint16_t> before, table;
  before.place(space, 3);
  table.place(space, 100);
  test::expectStatus(OPIX_INTERNAL_ERROR, [&] { table.data(); });  // not yet allocated
  space.allocate();
  EXPECT_EQ(reinterpret_cast<uintptr_t>(table.data()) - reinterpret_cast<uintptr_t>(before.data()), 128u);

  std::vector<uint16_t> values(101);
  for (size_t i = 0; i < values.size(); ++i) values[i] = static_cast<uint16_t>(i * 650);
  table.upload(values.data(), 100);
  std::vector<uint16_t> back(100);
  ASSERT_EQ(device::streamSynchronize(), 0);
  ASSERT_EQ(device::memcpy(back.data(), table.data(), 200, device::CopyKind::DeviceToHost), 0);
  EXPECT_TRUE(std::equal(back.begin(), back.end(), values.begin()));

  // One element too many is refused before anything is copied.
  std::vector<uint16_t> other(101, 7);
  test::expectStatus(OPIX_INTERNAL_ERROR, [&] { table.upload(other.data(), 101); });
  ASSERT_EQ(device::memcpy(back.data(), table.data(), 200, device::CopyKind::DeviceToHost), 0);
  EXPECT_EQ(back[0], 0);
}

TEST(TypedArray, CopyFromAPageLockedArray) {
  MemSpace host(MemSpace::Kind::PinnedHost), dev;
  TypedArray<uint32_t> staged, table, shorter;
  staged.place(host, 64);
  table.place(dev, 64);
  shorter.place(dev, 63);
  host.allocate();
  dev.allocate();
  for (uint32_t i = 0; i < 64; ++i) staged.data()[i] = i * 0x01010101u;
  table.copyFrom(staged);
  staged.data()[0] = 99;  // the copy has finished when copyFrom returns
  std::vector<uint32_t> back(64);
  ASSERT_EQ(device::memcpy(back.data(), table.data(), 256, device::CopyKind::DeviceToHost), 0);
  for (uint32_t i = 0; i < 64; ++i) ASSERT_EQ(back[i], i * 0x01010101u);
  test::expectStatus(OPIX_INTERNAL_ERROR, [&] { shorter.copyFrom(staged); });
}

TEST(HostMemory, PageLockedAllocator) {
  void* p = nullptr;
  ASSERT_EQ(opixHostMalloc(&p, 1000), OPIX_OK);
  ASSERT_NE(p, nullptr);
  std::memset(p, 0xAB, 1000);
  EXPECT_EQ(opixHostFree(p), OPIX_OK);
  EXPECT_EQ(opixHostMalloc(nullptr, 10), OPIX_INVALID_VALUE);
  EXPECT_EQ(opixHostMalloc(&p, ~size_t{0} - 16), OPIX_INSUFFICIENT_HOST_MEMORY);

  OpixAllocator allocator;
  BaseAllocator& base = allocator;
  void* q = base.allocate(4096);
  ASSERT_NE(q, nullptr);
  base.release(q);
  EXPECT_THROW(base.allocate(~size_t{0} - 16), std::bad_alloc);
}

TEST(HostMemory, HostToDeviceBandwidth) {
  float mbps = -1;
  const char* error = "untouched";
  ASSERT_EQ(deviceinfo::hostToDeviceBandwidth(1 << 20, &mbps, &error), OPIX_OK);
  EXPECT_GT(mbps, 0.0f);
  EXPECT_EQ(error, nullptr);
  // A page-locked block that cannot be had is no runtime failure: no text.
  mbps = -1;
  error = "untouched";
  EXPECT_EQ(deviceinfo::hostToDeviceBandwidth(~size_t{0} - 16, &mbps, &error), OPIX_INSUFFICIENT_HOST_MEMORY);
  EXPECT_EQ(mbps, -1.0f);
  EXPECT_EQ(error, nullptr);
}

TEST(DeviceInfo, CudaDevicesAndFreeMemory) {
  // A device that does not exist is refused with the runtime's text, with or
  // without a GPU, a driver or the CUDA backend.
  deviceinfo::Gpu gpu{};
  const char* error = nullptr;
  EXPECT_FALSE(deviceinfo::cudaDeviceProperties(-1, &gpu, &error));
  ASSERT_NE(error, nullptr);
  EXPECT_STRNE(error, "");

  uint64_t free = 0;
  ASSERT_TRUE(deviceinfo::runtimeFreeMemory(&free));
  EXPECT_GT(free, 0u);
  if (test::g_backend != test::Backend::Cuda) return;
  int count = 0;
  ASSERT_TRUE(deviceinfo::cudaDeviceCount(&count));
  EXPECT_GE(count, 1);
  ASSERT_TRUE(deviceinfo::cudaDeviceProperties(0, &gpu, &error));
  EXPECT_NE(gpu.name[0], '\0');
  EXPECT_TRUE(computeCapabilitySupported(gpu.major, gpu.minor));  // the suite runs on it
  const deviceinfo::NvmlFreeMemory nvml = deviceinfo::nvmlFreeMemory(0);
  if (nvml.outcome == deviceinfo::NvmlFreeMemory::Found) {
    EXPECT_GT(nvml.freeBytes, 0u);
    EXPECT_LE(nvml.freeBytes, uint64_t{1} << 40);
  } else if (nvml.outcome != deviceinfo::NvmlFreeMemory::NotFound) {
    EXPECT_NE(nvml.errorText, nullptr);
  }
}

TEST(DeviceLayer, PitchedCopies) {
  const auto src = test::randomBytes(10 * 16, 3);
  test::DeviceBlock a(10 * 16), b(10 * 24);
  a.upload(src);
  copy2D(b.get() + 2, 24, a.get(), 16, 13, 10, device::CopyKind::DeviceToDevice);
  const auto out = b.download();
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 13; ++x) ASSERT_EQ(out[y * 24 + 2 + x], src[y * 16 + x]);
  // A row longer than a pitch is refused with the runtime's status.
  try {
    copy2D(b.get(), 24, a.get(), 16, 17, 2, device::CopyKind::DeviceToDevice);
    ADD_FAILURE() << "no exception";
  } catch (const opixException& e) {
    EXPECT_EQ(e.status(), OPIX_EXECUTION_FAILURE);
    EXPECT_EQ(e.cudaError(), device::kErrorInvalidPitchValue);
    EXPECT_STREQ(e.cudaCall(), "cudaMemcpy2DAsync");
  }
}

// Copies of a frame's size, which the host backend spreads over its cores,
// move every byte once, whatever their length and pitches; copies whose
// areas overlap keep the order of one copy (the host backend's memmove).
TEST(DeviceLayer, LargeCopies) {
  const size_t n = (size_t{3} << 20) + 77;
  const auto src = test::randomBytes(n, 11);
  test::DeviceBlock a(n), b(n + 64);
  a.upload(src);
  ASSERT_EQ(device::memcpy(b.get() + 3, a.get(), n, device::CopyKind::DeviceToDevice), device::kSuccess);
  auto out = b.download();
  EXPECT_TRUE(std::equal(src.begin(), src.end(), out.begin() + 3));
  // 2001 bytes in each of 700 rows, the pitches wider and odd.
  const size_t w = 2001, h = 700, sp = 2048, dp = 2113;
  test::DeviceBlock c(sp * h), d(dp * h);
  const auto rows = test::randomBytes(sp * h, 12);
  c.upload(rows);
  ASSERT_EQ(device::memcpy2DAsync(d.get(), dp, c.get(), sp, w, h, device::CopyKind::DeviceToDevice), device::kSuccess);
  out = d.download();
  for (size_t y = 0; y < h; ++y)
    ASSERT_TRUE(std::equal(rows.begin() + y * sp, rows.begin() + y * sp + w, out.begin() + y * dp)) << "row " << y;
  if (test::g_backend == test::Backend::Cuda) return;  // overlap is undefined there
  std::vector<uint8_t> expected = src;
  std::memmove(expected.data() + 5, expected.data(), n - 5);
  ASSERT_EQ(device::memcpy(a.get() + 5, a.get(), n - 5, device::CopyKind::DeviceToDevice), device::kSuccess);
  EXPECT_TRUE(a.download() == expected);
}

TEST(DeviceLayer, ArraysAnd3DCopies) {
  // A 5 x 3 x 2 array of 4-byte elements, filled from pitched memory and read back.
  const device::ChannelFormat fmt{8, 8, 8, 8, device::ChannelKind::Unsigned};
  device::Array array = nullptr;
  ASSERT_EQ(device::malloc3DArray(&array, fmt, {5, 3, 2}), 0);
  const size_t pitch = 32;
  auto src = test::randomBytes(pitch * 3 * 2, 4);
  test::DeviceBlock in(src.size()), out(src.size());
  in.upload(src);
  device::Memcpy3DParms up;
  up.srcPtr = {in.get(), pitch, 5, 3};
  up.dstArray = array;
  up.extent = {5, 3, 2};
  up.kind = device::CopyKind::DeviceToDevice;
  ASSERT_EQ(device::memcpy3D(up), 0);
  device::Memcpy3DParms down;
  down.srcArray = array;
  down.dstPtr = {out.get(), pitch, 5, 3};
  down.extent = {5, 3, 2};
  down.kind = device::CopyKind::DeviceToDevice;
  ASSERT_EQ(device::memcpy3D(down), 0);
  const auto back = out.download();
  for (size_t z = 0; z < 2; ++z)
    for (size_t y = 0; y < 3; ++y)
      for (size_t x = 0; x < 20; ++x) ASSERT_EQ(back[(z * 3 + y) * pitch + x], src[(z * 3 + y) * pitch + x]);

  device::Memcpy3DParms outside = up;
  outside.extent = {6, 3, 2};  // wider than the array
  EXPECT_NE(device::memcpy3D(outside), 0);

  device::TextureObject tex = 0;
  device::TextureDesc desc;
  desc.filterMode = device::FilterMode::Linear;
  desc.readMode = device::ReadMode::NormalizedFloat;
  ASSERT_EQ(device::createTextureObject(&tex, array, desc), 0);
  EXPECT_NE(tex, 0u);
  if (test::g_backend != test::Backend::Cuda) {
    const device::HostTexture* t = device::hostTexture(tex);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->array->elementBytes, 4u);
    EXPECT_EQ(t->desc.filterMode, device::FilterMode::Linear);
  }
  EXPECT_EQ(device::destroyTextureObject(tex), 0);
  EXPECT_EQ(device::freeArray(array), 0);
}

TEST(DeviceLayer, LinearFilteringNeedsValuesReadAsFloats) {
  using device::ChannelKind;
  using device::FilterMode;
  using device::ReadMode;
  struct Case {
    device::ChannelFormat format;
    FilterMode filter;
    ReadMode read;
    device::Error expected;
  };
  const Case cases[] = {
      {{32, 0, 0, 0, ChannelKind::Float}, FilterMode::Linear, ReadMode::ElementType, device::kSuccess},
      {{16, 0, 0, 0, ChannelKind::Unsigned}, FilterMode::Point, ReadMode::ElementType, device::kSuccess},
      {{16, 0, 0, 0, ChannelKind::Unsigned}, FilterMode::Linear, ReadMode::NormalizedFloat, device::kSuccess},
      {{8, 8, 8, 8, ChannelKind::Signed}, FilterMode::Linear, ReadMode::NormalizedFloat, device::kSuccess},
      {{16, 0, 0, 0, ChannelKind::Unsigned}, FilterMode::Linear, ReadMode::ElementType, device::kErrorInvalidValue},
      {{8, 8, 8, 8, ChannelKind::Signed}, FilterMode::Linear, ReadMode::ElementType, device::kErrorInvalidValue},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "bits " << c.format.x << " kind " << static_cast<int>(c.format.kind)
                                    << " filter " << static_cast<int>(c.filter) << " read "
                                    << static_cast<int>(c.read));
    device::Array array = nullptr;
    ASSERT_EQ(device::malloc3DArray(&array, c.format, {16, 4, 0}), 0);
    device::TextureDesc desc;
    desc.filterMode = c.filter;
    desc.readMode = c.read;
    device::TextureObject tex = 0;
    EXPECT_EQ(device::createTextureObject(&tex, array, desc), c.expected);
    if (c.expected == device::kSuccess) {
      EXPECT_EQ(device::destroyTextureObject(tex), 0);
    }
    EXPECT_EQ(device::freeArray(array), 0);
  }
}
