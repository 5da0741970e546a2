// Import from host and export to host on the backend in use.
#include "DeviceSurfaceBuffer.h"
#include "KernelLaunch.h"
#include "TransferHandles.h"
#include "TransferSupport.h"

namespace opix::test {
namespace {

const uint32_t kWidths[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 63, 65, 129, 131};

struct Case {
  opixSurfaceFormat_t host;
  opixSurfaceFormat_t device;
  // Channel of the host image that device channel c holds.
  uint32_t from[3];
  // Export parameters that deliver the host image back.
  opixConvertType_t back;
};

const Case kCases[] = {
    {OPIX_I8, OPIX_I8, {0}, OPIX_CONVERT_NONE},
    {OPIX_I10, OPIX_I10, {0}, OPIX_CONVERT_NONE},
    {OPIX_I12, OPIX_I12, {0}, OPIX_CONVERT_NONE},
    {OPIX_I14, OPIX_I14, {0}, OPIX_CONVERT_NONE},
    {OPIX_I16, OPIX_I16, {0}, OPIX_CONVERT_NONE},
    {OPIX_RGB8, OPIX_RGB8, {0, 1, 2}, OPIX_CONVERT_NONE},
    {OPIX_BGR8, OPIX_RGB8, {2, 1, 0}, OPIX_CONVERT_BGR},
    {OPIX_BGRX8, OPIX_RGB8, {2, 1, 0}, OPIX_CONVERT_BGR},
    {OPIX_RGB12, OPIX_RGB12_PLANAR, {0, 1, 2}, OPIX_CONVERT_NONE},
    {OPIX_RGB16, OPIX_RGB16_PLANAR, {0, 1, 2}, OPIX_CONVERT_NONE},
};

// Device samples of a buffer's current image, channel c of pixel (x, y).
uint32_t deviceSample(const opixDeviceSurfaceBuffer_t& b, const std::vector<uint8_t>& mem, uint32_t x, uint32_t y,
                      uint32_t c) {
  const uint32_t bytes = static_cast<uint32_t>(b.bytesPerElement);
  size_t at = size_t{y} * b.pitch;
  if (isPlanar(b.surfaceFormat))
    at += c * planeStride(b) + size_t{x} * 2;
  else
    at += (size_t{x} * b.channels + c) * bytes;
  return bytes == 1 ? mem[at] : uint32_t{mem[at]} | uint32_t{mem[at + 1]} << 8;
}

// Every host format at awkward widths: the device buffer holds the samples in
// its own layout, and export delivers the host image back.
TEST(DataTransfer, EveryFormatRoundTripsAtAwkwardWidths) {
  for (const Case& k : kCases) {
    Importer in(k.host, 140, 5);
    ASSERT_NE(in.buffer, nullptr);
    EXPECT_EQ(in.buffer->surfaceFormat, k.device);
    Exporter out(in.buffer);
    for (uint32_t w : kWidths) {
      SCOPED_TRACE(std::string(opixSurfaceFormatName(k.host)) + " width " + std::to_string(w));
      HostImage img(k.host, w, 5, 12);
      img.randomise(w * 31 + k.host);
      ASSERT_EQ(in.copy(img), OPIX_OK);
      const opixDeviceSurfaceBuffer_t& b = *in.buffer;
      EXPECT_EQ(b.width, w);
      EXPECT_EQ(b.height, 5u);
      EXPECT_EQ(b.pitch, opixRowBytes(k.device, w));
      const auto mem = readDevice(deviceAddress(b), b.size);
      for (uint32_t y = 0; y < img.height; ++y)
        for (uint32_t x = 0; x < w; ++x)
          for (uint32_t c = 0; c < b.channels; ++c)
            ASSERT_EQ(deviceSample(b, mem, x, y, c), img.sample(x, y, k.from[c])) << x << "," << y << "," << c;

      const opixExportParameters_t p{k.back};
      const HostImage back = out.copy(w, img.height, &p);
      for (uint32_t y = 0; y < img.height; ++y)
        for (uint32_t x = 0; x < w; ++x)
          for (uint32_t c = 0; c < HostImage::channels(back.format); ++c)
            ASSERT_EQ(back.sample(x, y, c), img.sample(x, y, c)) << x << "," << y << "," << c;
    }
  }
}

TEST(DataTransfer, ExportDeliversTheDeviceLayoutAsAHostFormat) {
  const std::pair<opixSurfaceFormat_t, opixSurfaceFormat_t> delivered[] = {
      {OPIX_I8, OPIX_I8},     {OPIX_I16, OPIX_I16},     {OPIX_RGB8, OPIX_RGB8},  {OPIX_BGRX8, OPIX_RGB8},
      {OPIX_BGR8, OPIX_RGB8}, {OPIX_RGB12, OPIX_RGB12}, {OPIX_RGB16, OPIX_RGB16}};
  for (auto [host, expected] : delivered) {
    Importer in(host, 8, 8);
    Exporter out(in.buffer);
    EXPECT_EQ(out.format, expected) << opixSurfaceFormatName(host);
  }
}

// A smaller image shrinks the current size and pitch, the larger one grows
// them back; the buffer's bytes past the current image are never written.
TEST(DataTransfer, CurrentSizeFollowsEachCopy) {
  for (opixSurfaceFormat_t f : {OPIX_I8, OPIX_BGR8, OPIX_BGRX8, OPIX_RGB16}) {
    SCOPED_TRACE(opixSurfaceFormatName(f));
    Importer in(f, 200, 40);
    Exporter out(in.buffer);
    HostImage big(f, 200, 40);
    big.randomise(1);
    ASSERT_EQ(in.copy(big), OPIX_OK);
    const opixDeviceSurfaceBuffer_t& b = *in.buffer;
    const auto before = readDevice(deviceAddress(b), b.size);

    HostImage small(f, 131, 17, 3);
    small.randomise(2);
    ASSERT_EQ(in.copy(small), OPIX_OK);
    EXPECT_EQ(b.width, 131u);
    EXPECT_EQ(b.height, 17u);
    EXPECT_EQ(b.pitch, opixRowBytes(b.surfaceFormat, 131));
    const auto after = readDevice(deviceAddress(b), b.size);
    const size_t planeBytes = isPlanar(b.surfaceFormat) ? planeStride(b) : b.size;
    for (size_t plane = 0; plane < b.size; plane += planeBytes)
      for (size_t i = plane + size_t{b.pitch} * b.height; i < plane + planeBytes; ++i)
        ASSERT_EQ(after[i], before[i]) << "byte " << i << " past the image";
    const opixExportParameters_t bgr{OPIX_CONVERT_BGR};
    const bool swapped = f == OPIX_BGR8 || f == OPIX_BGRX8;
    const HostImage s = out.copy(131, 17, swapped ? &bgr : nullptr);
    for (uint32_t x : {0u, 64u, 130u}) EXPECT_EQ(s.sample(x, 16, 0), small.sample(x, 16, 0));

    ASSERT_EQ(in.copy(big), OPIX_OK);
    EXPECT_EQ(b.width, 200u);
    EXPECT_EQ(b.pitch, b.maxPitch);
    const HostImage l = out.copy(200, 40, swapped ? &bgr : nullptr);
    EXPECT_EQ(l.sample(199, 39, 0), big.sample(199, 39, 0));
  }
}

TEST(DataTransfer, LargestComponentWidth) {
  Importer in(OPIX_BGRX8, 65535, 2);
  Exporter out(in.buffer);
  HostImage img(OPIX_BGRX8, 65535, 2);
  img.randomise(7);
  ASSERT_EQ(in.copy(img), OPIX_OK);
  const opixExportParameters_t bgr{OPIX_CONVERT_BGR};
  const HostImage back = out.copy(65535, 2, &bgr);
  for (uint32_t x = 0; x < 65535; ++x)
    for (uint32_t c = 0; c < 3; ++c) ASSERT_EQ(back.sample(x, 1, c), img.sample(x, 1, c));
  opixImportFromHostHandle_t h = nullptr;
  opixDeviceSurfaceBufferHandle_t b = nullptr;
  EXPECT_EQ(opixImportFromHostCreate(&h, OPIX_I8, 65536, 2, &b), OPIX_INVALID_SIZE);
  EXPECT_EQ(opixImportFromHostCreate(&h, OPIX_I8, 2, 65536, &b), OPIX_INVALID_SIZE);
  EXPECT_EQ(h, nullptr);
}

// One allocation: staging then destination, each rounded up to 128 bytes.
TEST(DataTransfer, AllocatedMemory) {
  uint64_t bytes = 0;
  Importer bgrx(OPIX_BGRX8, 33, 10);  // staging 132 x 10, destination 100 x 10
  EXPECT_EQ(opixImportFromHostGetAllocatedGpuMemorySize(bgrx.handle, &bytes), OPIX_OK);
  EXPECT_EQ(bytes, 1408u + 1024u);
  Importer gray(OPIX_I8, 100, 10);
  EXPECT_EQ(opixImportFromHostGetAllocatedGpuMemorySize(gray.handle, &bytes), OPIX_OK);
  EXPECT_EQ(bytes, 1024u);
  Importer rgb16(OPIX_RGB16, 3, 5);  // staging 20 x 5, destination 3 planes of 8 x 5
  EXPECT_EQ(opixImportFromHostGetAllocatedGpuMemorySize(rgb16.handle, &bytes), OPIX_OK);
  EXPECT_EQ(bytes, 128u + 128u);
  // The CUDA drivers interleave into an RGB16 buffer of 20 x 5 before the
  // copy; the host drivers interleave as they copy, into the host image.
  Exporter out(rgb16.buffer);
  EXPECT_EQ(opixExportToHostGetAllocatedGpuMemorySize(out.handle, &bytes), OPIX_OK);
  EXPECT_EQ(bytes, cudaDrivers() ? 128u : 0u);
  Exporter grayOut(gray.buffer);  // a plain copy
  EXPECT_EQ(opixExportToHostGetAllocatedGpuMemorySize(grayOut.handle, &bytes), OPIX_OK);
  EXPECT_EQ(bytes, 0u);
  EXPECT_EQ(opixExportToHostGetAllocatedGpuMemorySize(out.handle, nullptr), OPIX_INVALID_VALUE);
}

TEST(DataTransfer, RefusedFormatsLeaveNoHandle) {
  for (int f :
       {int(OPIX_CrCbY), int(OPIX_YCbCr), int(OPIX_RGB32), int(OPIX_RGB12_PLANAR), int(OPIX_RGB16_PLANAR), 15}) {
    opixImportFromHostHandle_t h = nullptr;
    opixDeviceSurfaceBufferHandle_t b = nullptr;
    EXPECT_EQ(opixImportFromHostCreate(&h, static_cast<opixSurfaceFormat_t>(f), 8, 8, &b), OPIX_UNSUPPORTED_SURFACE)
        << f;
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(b, nullptr);
  }
  for (opixSurfaceFormat_t f : {OPIX_BGRX8, OPIX_CrCbY, OPIX_YCbCr, OPIX_RGB32}) {
    auto source = createSurfaceBuffer(8, 8, f);
    opixExportToHostHandle_t h = nullptr;
    opixSurfaceFormat_t delivered = OPIX_I8;
    EXPECT_EQ(opixExportToHostCreate(&h, &delivered, source.get()), OPIX_UNSUPPORTED_SURFACE);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(delivered, OPIX_I8);
  }
  opixExportToHostHandle_t h = nullptr;
  opixSurfaceFormat_t delivered = OPIX_I8;
  EXPECT_EQ(opixExportToHostCreate(&h, &delivered, nullptr), OPIX_INVALID_VALUE);
  auto wide = createSurfaceBuffer(65536, 8, OPIX_I8);
  EXPECT_EQ(opixExportToHostCreate(&h, &delivered, wide.get()), OPIX_INVALID_SIZE);
}

TEST(DataTransfer, FailedCopiesLeaveTheComponentUsable) {
  Importer in(OPIX_RGB16, 16, 4);
  HostImage img(OPIX_RGB16, 16, 4);
  img.randomise(3);
  ASSERT_EQ(in.copy(img), OPIX_OK);
  HostImage tall(OPIX_RGB16, 16, 5);
  EXPECT_EQ(in.copy(tall), OPIX_INVALID_SIZE);
  HostImage wide(OPIX_RGB16, 17, 4);
  EXPECT_EQ(in.copy(wide), OPIX_INVALID_SIZE);
  EXPECT_EQ(in.buffer->width, 16u);
  EXPECT_EQ(in.buffer->height, 4u);
  // A host pitch below the row size fails in the device copy.
  EXPECT_EQ(opixImportFromHostCopy(in.handle, img.data.data(), 16, 90, 4), OPIX_EXECUTION_FAILURE);
  EXPECT_EQ(opixImportFromHostCopy(in.handle, nullptr, 16, img.pitch, 4), OPIX_EXECUTION_FAILURE);

  Exporter out(in.buffer);
  std::vector<uint8_t> host(16 * 6 * 4);
  EXPECT_EQ(opixExportToHostCopy(out.handle, host.data(), 15, 96, 4, nullptr), OPIX_INVALID_SIZE);
  EXPECT_EQ(opixExportToHostCopy(out.handle, host.data(), 16, 96, 3, nullptr), OPIX_INVALID_SIZE);
  EXPECT_EQ(opixExportToHostCopy(out.handle, host.data(), 16, 90, 4, nullptr), OPIX_EXECUTION_FAILURE);
  EXPECT_EQ(opixExportToHostCopy(out.handle, nullptr, 16, 96, 4, nullptr), OPIX_EXECUTION_FAILURE);
  // The same for a blue-green-red delivery, which also converts on the way.
  {
    Importer rgb(OPIX_RGB8, 16, 4);
    HostImage frame(OPIX_RGB8, 16, 4);
    ASSERT_EQ(rgb.copy(frame), OPIX_OK);
    Exporter rgbOut(rgb.buffer);
    const opixExportParameters_t bgr{OPIX_CONVERT_BGR};
    std::vector<uint8_t> small(16 * 3 * 4, 0x5A);
    EXPECT_EQ(opixExportToHostCopy(rgbOut.handle, small.data(), 16, 47, 4, &bgr), OPIX_EXECUTION_FAILURE);
    EXPECT_EQ(opixExportToHostCopy(rgbOut.handle, nullptr, 16, 48, 4, &bgr), OPIX_EXECUTION_FAILURE);
    EXPECT_EQ(small, std::vector<uint8_t>(16 * 3 * 4, 0x5A));
  }

  ASSERT_EQ(in.copy(img), OPIX_OK);
  const HostImage back = out.copy(16, 4);
  EXPECT_EQ(back.data[5], img.data[5]);
  EXPECT_EQ(back.sample(15, 3, 2), img.sample(15, 3, 2));
}

TEST(DataTransfer, CorruptedSignatureAndNullHandlesAreRefused) {
  EXPECT_EQ(opixImportFromHostCopy(nullptr, nullptr, 1, 4, 1), OPIX_INVALID_HANDLE);
  EXPECT_EQ(opixImportFromHostDestroy(nullptr), OPIX_INVALID_HANDLE);
  EXPECT_EQ(opixExportToHostCopy(nullptr, nullptr, 1, 4, 1, nullptr), OPIX_INVALID_HANDLE);
  EXPECT_EQ(opixExportToHostDestroy(nullptr), OPIX_INVALID_HANDLE);
  uint64_t bytes = 0;
  EXPECT_EQ(opixImportFromHostGetAllocatedGpuMemorySize(nullptr, &bytes), OPIX_INVALID_HANDLE);
  Importer in(OPIX_I8, 8, 8);
  const uint32_t live = in.handle->signature;
  in.handle->signature = 0x12345678;
  HostImage img(OPIX_I8, 8, 8);
  EXPECT_EQ(in.copy(img), OPIX_INVALID_HANDLE);
  EXPECT_EQ(opixImportFromHostDestroy(in.handle), OPIX_INVALID_HANDLE);
  in.handle->signature = live;
}

// Exporting RGB8 in blue-green-red order never touches the source buffer, so
// every export of the same image delivers the same bytes.
TEST(DataTransfer, BlueGreenRedExportKeepsTheSource) {
  Importer in(OPIX_RGB8, 5, 2);
  HostImage img(OPIX_RGB8, 5, 2);
  img.setSample(0, 0, 0, 10);
  img.setSample(0, 0, 1, 20);
  img.setSample(0, 0, 2, 30);
  ASSERT_EQ(in.copy(img), OPIX_OK);
  Exporter out(in.buffer);
  const opixExportParameters_t bgr{OPIX_CONVERT_BGR};
  for (int i = 0; i < 2; ++i) {
    const HostImage b = out.copy(5, 2, &bgr);
    EXPECT_EQ(b.sample(0, 0, 0), 30u);
    EXPECT_EQ(b.sample(0, 0, 2), 10u);
  }
  const HostImage plain = out.copy(5, 2);
  EXPECT_EQ(plain.sample(0, 0, 0), 10u);
  EXPECT_EQ(plain.sample(0, 0, 2), 30u);

  // On any other format the conversion has no effect.
  Importer gray(OPIX_I16, 5, 2);
  HostImage g(OPIX_I16, 5, 2);
  g.randomise(9);
  ASSERT_EQ(gray.copy(g), OPIX_OK);
  Exporter grayOut(gray.buffer);
  EXPECT_EQ(grayOut.copy(5, 2, &bgr).sample(4, 1, 0), g.sample(4, 1, 0));
}

TEST(DataTransfer, TraceLines) {
  TraceCapture capture;
  opixImportFromHostHandle_t h = nullptr;
  opixDeviceSurfaceBufferHandle_t b = nullptr;
  EXPECT_EQ(opixImportFromHostCreate(&h, OPIX_CrCbY, 8, 8, &b), OPIX_UNSUPPORTED_SURFACE);
  ASSERT_EQ(opixImportFromHostCreate(&h, OPIX_RGB16, 3, 2, &b), OPIX_OK);
  HostImage img(OPIX_RGB16, 3, 2);
  ASSERT_EQ(opixImportFromHostCopy(h, img.data.data(), 3, img.pitch, 2), OPIX_OK);
  opixExportToHostHandle_t e = nullptr;
  opixSurfaceFormat_t f = OPIX_I8;
  ASSERT_EQ(opixExportToHostCreate(&e, &f, b), OPIX_OK);
  std::vector<uint8_t> host(36);
  const opixExportParameters_t bgr{OPIX_CONVERT_BGR};
  ASSERT_EQ(opixExportToHostCopy(e, host.data(), 3, 18, 2, nullptr), OPIX_OK);
  ASSERT_EQ(opixExportToHostCopy(e, host.data(), 3, 18, 2, &bgr), OPIX_OK);
  EXPECT_EQ(opixExportToHostCopy(e, host.data(), 2, 18, 2, nullptr), OPIX_INVALID_SIZE);
  ASSERT_EQ(opixExportToHostDestroy(e), OPIX_OK);
  ASSERT_EQ(opixImportFromHostDestroy(h), OPIX_OK);
  const std::string t = capture.finish();
  for (const char* expected : {"Import from host. Create\n\tsurface format: CrCbY\n\tmax width: 8\n\tmax height: 8\n",
                               "Unsupported surface format: CrCbY\n\tStatus: OPIX_UNSUPPORTED_SURFACE\n",
                               "cudaMalloc. Requested size, KB: 0.25\n",
                               "\tcudaMalloc: SUCCESS\n",
                               "\tdestination buffer:\n",
                               "\t\tcurrent size: width = 3, height = 2, pitch = 8\n",
                               "Import from host. Copy\n\thandle: 0x",
                               "\tsource pointer: 0x",
                               "\twidth: 3\n\theight: 2\n\tpitch: 18\n\tStatus: OPIX_OK\n",
                               "Export to host. Create\n\tsource buffer:\n",
                               "\tsurface format: RGB16\n",
                               "Export to host. Copy\n",
                               "\tdestination pointer: 0x",
                               "\texport parameters: 0x0\n",
                               "\topixExportParameters_t: NULL\n",
                               "\topixExportParameters_t:\n\t\t\tconvert: BGR\n",
                               "Input width does not match surface width\n",
                               "Export to host. Destroyed.\n",
                               "Import from host. Destroy\n",
                               "Import from host. Destroyed.\n"})
    EXPECT_NE(t.find(expected), std::string::npos) << expected << "\n---\n" << t;
}

}  // namespace
}  // namespace opix::test
