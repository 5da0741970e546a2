// Device surface buffers, sub-buffer placement and the component life cycle.
#include <functional>

#include "Components.h"
#include "DeviceSurfaceBuffer.h"
#include "TestSupport.h"
#include "TraceFile.h"

using namespace opix;

TEST(SurfaceBuffer, CreationAndCurrentSize) {
  auto b = createSurfaceBuffer(100, 30, OPIX_I8);
  EXPECT_EQ(b->maxPitch, 100u);
  EXPECT_EQ(b->pitch, 100u);
  EXPECT_EQ(b->pitchAlignment, 4u);
  EXPECT_EQ(b->width, 100u);
  EXPECT_EQ(b->height, 30u);
  EXPECT_EQ(b->external, 0);
  EXPECT_EQ(b->memorySpaceBase, nullptr);
  EXPECT_EQ(b->channels, 1u);
  EXPECT_EQ(b->bytesPerElement, 1.0f);

  setCurrentSize(*b, 50, 30);
  EXPECT_EQ(b->pitch, 52u);
  EXPECT_EQ(b->maxPitch, 100u);
  setCurrentSize(*b, 100, 30);
  test::expectStatus(OPIX_INVALID_SIZE, [&] { setCurrentSize(*b, 101, 30); });
  test::expectStatus(OPIX_INVALID_SIZE, [&] { setCurrentSize(*b, 100, 31); });
  EXPECT_EQ(b->width, 100u);

  auto rgb = createSurfaceBuffer(7, 3, OPIX_RGB16);
  EXPECT_EQ(rgb->pitch, 44u);
  EXPECT_EQ(maxElementCount(*rgb), 3u * 22);
  setCurrentSize(*rgb, 2, 1);
  EXPECT_EQ(currentElementCount(*rgb), 6u);
}

TEST(SurfaceBuffer, UnplacedBufferHasNoAddress) {
  auto b = createSurfaceBuffer(64, 64, OPIX_I8);
  test::expectStatus(OPIX_INTERNAL_ERROR, [&] { deviceAddress(*b); });
  b->external = 1;
  b->directPointer = reinterpret_cast<void*>(0x1000);
  EXPECT_EQ(deviceAddress(*b), reinterpret_cast<unsigned char*>(0x1000));
}

TEST(SurfaceBuffer, PlanarPlanesUse64BitOffsets) {
  // Three planes of 80000 x 40000 bytes: the third starts beyond 2^32.
  auto b = createSurfaceBuffer(40000, 40000, OPIX_RGB16_PLANAR);
  void* fakeBase = reinterpret_cast<void*>(uintptr_t{1} << 40);
  b->memorySpaceBase = &fakeBase;
  b->offset = 256;
  setCurrentSize(*b, 1000, 10);  // planes stay max pitch x max height apart
  const SurfaceView v = surfaceView(*b);
  const auto base = reinterpret_cast<uintptr_t>(fakeBase) + 256;
  EXPECT_EQ(reinterpret_cast<uintptr_t>(v.plane[0]), base);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(v.plane[1]), base + 3200000000ull);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(v.plane[2]), base + 6400000000ull);
  EXPECT_EQ(v.pitch, 2000u);
  b = createSurfaceBuffer(64, 64, OPIX_I16);
  b->memorySpaceBase = &fakeBase;
  EXPECT_EQ(surfaceView(*b).plane[1], nullptr);
}

namespace {

// A component with two sub-buffers of chosen sizes.
class TwoBuffers : public BaseComponent {
 public:
  TwoBuffers(uint64_t a, uint64_t b) : a_(a), b_(b) {}
  void ComputeMemorySize() override {
    offsetA = memSpace_.reserve(a_);
    offsetB = memSpace_.reserve(b_);
  }
  void OnAllocated() override { base = memSpace_.pointer(); }
  uint64_t offsetA = 0, offsetB = 0;
  void* base = nullptr;

 private:
  uint64_t a_, b_;
};

class Attacher : public AttachableComponent {
 public:
  explicit Attacher(opixDeviceSurfaceBufferHandle_t s) { source_ = s; }
  opixDeviceSurfaceBufferHandle_t source() const { return source_; }
};

}  // namespace

TEST(Components, SubBuffersStartAt128ByteMultiples) {
  TwoBuffers c(1000, 3000);
  c.Allocate();
  EXPECT_EQ(c.offsetA, 0u);
  EXPECT_EQ(c.offsetB, 1024u);
  uint64_t bytes = 0;
  c.GetAllocatedGpuMemorySize(&bytes);
  EXPECT_EQ(bytes, 4096u);
  ASSERT_NE(c.base, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(c.base) % 128, 0u);

  // Buffers placed by a component follow its block.
  MemSpace space;
  auto b1 = createSurfaceBuffer(65, 3, OPIX_I8);
  auto b2 = createSurfaceBuffer(5, 5, OPIX_RGB8);
  reserveSurfaceBuffer(*b1, space);
  reserveSurfaceBuffer(*b2, space);
  EXPECT_EQ(b1->offset, 0u);
  EXPECT_EQ(b1->size, 204u);
  EXPECT_EQ(b2->offset, 256u);
  space.allocate();
  EXPECT_EQ(deviceAddress(*b2), static_cast<unsigned char*>(space.pointer()) + 256);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(deviceAddress(*b2)) % 128, 0u);
}

TEST(Components, AllocatingTwiceIsAnInternalError) {
  TwoBuffers c(10, 10);
  c.Allocate();
  test::expectStatus(OPIX_INTERNAL_ERROR, [&] { c.Allocate(); });
}

TEST(Components, AttachNeedsTheSameGeometryAndFormat) {
  auto original = createSurfaceBuffer(64, 64, OPIX_I8);
  Attacher c(original.get());
  auto wider = createSurfaceBuffer(65, 64, OPIX_I8);
  auto taller = createSurfaceBuffer(64, 65, OPIX_I8);
  auto other = createSurfaceBuffer(64, 64, OPIX_I16);
  auto same = createSurfaceBuffer(64, 64, OPIX_I8);
  test::TraceCapture trace;
  test::expectStatus(OPIX_INVALID_SIZE, [&] { c.Attach(wider.get()); });
  test::expectStatus(OPIX_INVALID_SIZE, [&] { c.Attach(taller.get()); });
  test::expectStatus(OPIX_UNSUPPORTED_SURFACE, [&] { c.Attach(other.get()); });
  auto misaligned = createSurfaceBuffer(64, 64, OPIX_I8);
  misaligned->external = 1;
  misaligned->directPointer = reinterpret_cast<void*>(0x1001);
  test::expectStatus(OPIX_UNALIGNED_DATA, [&] { c.Attach(misaligned.get()); });
  EXPECT_EQ(c.source(), original.get());
  c.Attach(same.get());
  EXPECT_EQ(c.source(), same.get());
  trace::boundary();
  const std::string log = trace.finish();
  EXPECT_NE(log.find("Input width does not match surface width\n"
                     "Input height does not match surface height\n"
                     "\tUnsupported surface format: I8\n"),
            std::string::npos)
      << log;
}

namespace {

// One kind of component that reads an external source: Create on it, use it
// (Transform or Copy) and Destroy, each returning the interface's status.
struct SourceReader {
  const char* name;
  std::function<opixStatus_t(opixDeviceSurfaceBufferHandle_t)> create;
  std::function<opixStatus_t()> use;
  std::function<opixStatus_t()> destroy;
};

}  // namespace

TEST(ExternalSources, PointerAndPitchMustBeWordAligned) {
  constexpr uint32_t kSide = 64;
  opixDebayerHandle_t debayer = nullptr;
  opixImageFilterHandle_t filter = nullptr;
  opixSurfaceConverterHandle_t converter = nullptr;
  opixExportToHostHandle_t exporter = nullptr;
  opixDeviceSurfaceBufferHandle_t out = nullptr;
  opixSurfaceFormat_t delivered = OPIX_I8;
  const opixWhiteBalance_t gains{1, 1, 1, 1, OPIX_BAYER_RGGB};
  const opixBitDepthConverter_t to16{0, false, 16};
  std::vector<uint8_t> host(kSide * kSide);
  auto debayerOf = [&](const char* name, opixDebayerType_t type) {
    return SourceReader{name,
                        [&, type](opixDeviceSurfaceBufferHandle_t s) {
                          return opixDebayerCreate(&debayer, type, kSide, kSide, s, &out);
                        },
                        [&] { return opixDebayerTransform(debayer, OPIX_BAYER_RGGB, kSide, kSide); },
                        [&] { return opixDebayerDestroy(debayer); }};
  };
  const SourceReader readers[] = {
      debayerOf("debayer", OPIX_HQLI),
      debayerOf("binning debayer", OPIX_BINNING_2x2),
      {"image filter",
       [&](opixDeviceSurfaceBufferHandle_t s) {
         return opixImageFilterCreate(&filter, OPIX_WHITE_BALANCE, &gains, kSide, kSide, s, &out);
       },
       [&] { return opixImageFilterTransform(filter, nullptr, kSide, kSide); },
       [&] { return opixImageFilterDestroy(filter); }},
      {"surface converter",
       [&](opixDeviceSurfaceBufferHandle_t s) {
         return opixSurfaceConverterCreate(&converter, OPIX_BIT_DEPTH_CONVERTER, &to16, kSide, kSide, s, &out);
       },
       [&] { return opixSurfaceConverterTransform(converter, nullptr, kSide, kSide); },
       [&] { return opixSurfaceConverterDestroy(converter); }},
      {"export", [&](opixDeviceSurfaceBufferHandle_t s) { return opixExportToHostCreate(&exporter, &delivered, s); },
       [&] { return opixExportToHostCopy(exporter, host.data(), kSide, kSide, kSide, nullptr); },
       [&] { return opixExportToHostDestroy(exporter); }},
  };

  // Room for rows of a wider pitch, so a refusal that did not happen reads
  // nothing outside the block.
  test::DeviceBlock block(2 * kSide * kSide + 8);
  block.upload(std::vector<uint8_t>(2 * kSide * kSide + 8, 0));
  auto source = createSurfaceBuffer(kSide, kSide, OPIX_I8);
  source->external = 1;
  for (const SourceReader& r : readers) {
    SCOPED_TRACE(r.name);
    source->directPointer = block.get() + 2;
    EXPECT_EQ(r.create(source.get()), OPIX_UNALIGNED_DATA);
    source->directPointer = block.get();
    source->pitch = kSide + 2;
    EXPECT_EQ(r.create(source.get()), OPIX_UNALIGNED_DATA);
    source->pitch = kSide;

    ASSERT_EQ(r.create(source.get()), OPIX_OK);
    EXPECT_EQ(r.use(), OPIX_OK);
    // The owner may move the pixels between calls: each use checks again.
    source->directPointer = block.get() + 1;
    EXPECT_EQ(r.use(), OPIX_UNALIGNED_DATA);
    source->directPointer = block.get() + 4;
    EXPECT_EQ(r.use(), OPIX_OK);
    source->pitch = kSide + 6;
    EXPECT_EQ(r.use(), OPIX_UNALIGNED_DATA);
    source->pitch = kSide + 4;
    EXPECT_EQ(r.use(), OPIX_OK);
    source->directPointer = block.get();
    source->pitch = kSide;
    EXPECT_EQ(r.destroy(), OPIX_OK);
  }
}

namespace {

// A reader of a caller-owned source of one format, made and used through the
// interface.
struct FormatReader {
  const char* name;
  opixSurfaceFormat_t format;
  std::function<opixStatus_t(opixDeviceSurfaceBufferHandle_t)> create;
  std::function<opixStatus_t()> use;
  std::function<opixStatus_t()> destroy;
};

}  // namespace

// The record of a caller-owned buffer is all the SDK knows of its pixels: a
// record that does not describe readable rows is refused when a component
// takes it and at every use, before anything is read. Without the checks a
// NULL pointer crashed the Gaussian and white balance filters and let the
// debayer return OK on the stale work image, and a pitch below the row was
// read past the caller's rows (median, the 8-bit debayer's work copy).
TEST(ExternalSources, RecordMustDescribeReadableRows) {
  constexpr uint32_t kSide = 64;
  opixDebayerHandle_t debayer = nullptr;
  opixImageFilterHandle_t filter = nullptr;
  opixSurfaceConverterHandle_t converter = nullptr;
  opixExportToHostHandle_t exporter = nullptr;
  opixDeviceSurfaceBufferHandle_t out = nullptr;
  opixSurfaceFormat_t delivered = OPIX_I8;
  const opixWhiteBalance_t gains{1.5f, 1, 1, 0.5f, OPIX_BAYER_RGGB};
  const opixGaussianFilter_t sigma{0.8f};
  const opixColumnFilter_t column{5};
  const opixBitDepthConverter_t to16{0, false, 16};
  std::vector<uint8_t> host(6 * kSide * kSide);
  auto debayerOf = [&](const char* name, opixSurfaceFormat_t f, opixDebayerType_t type) {
    return FormatReader{name, f,
                        [&, type](opixDeviceSurfaceBufferHandle_t s) {
                          return opixDebayerCreate(&debayer, type, kSide, kSide, s, &out);
                        },
                        [&] { return opixDebayerTransform(debayer, OPIX_BAYER_GRBG, kSide, kSide); },
                        [&] { return opixDebayerDestroy(debayer); }};
  };
  auto filterOf = [&](const char* name, opixSurfaceFormat_t f, opixImageFilterType_t type, const void* atCreate,
                      const void* atTransform) {
    return FormatReader{name, f,
                        [&, type, atCreate](opixDeviceSurfaceBufferHandle_t s) {
                          return opixImageFilterCreate(&filter, type, atCreate, kSide, kSide, s, &out);
                        },
                        [&, atTransform] { return opixImageFilterTransform(filter, atTransform, kSide, kSide); },
                        [&] { return opixImageFilterDestroy(filter); }};
  };
  const FormatReader readers[] = {
      debayerOf("8-bit debayer", OPIX_I8, OPIX_HQLI),
      debayerOf("16-bit debayer", OPIX_I16, OPIX_DFPD),
      debayerOf("binning debayer", OPIX_I16, OPIX_BINNING_2x2),
      filterOf("median", OPIX_I16, OPIX_MEDIAN, nullptr, nullptr),
      filterOf("planar median", OPIX_RGB16_PLANAR, OPIX_MEDIAN, nullptr, nullptr),
      filterOf("Gaussian", OPIX_I16, OPIX_GAUSSIAN_BLUR, nullptr, &sigma),
      filterOf("8-bit Gaussian", OPIX_I8, OPIX_GAUSSIAN_SHARPEN, nullptr, &sigma),
      filterOf("white balance", OPIX_I8, OPIX_WHITE_BALANCE, &gains, nullptr),
      filterOf("column filter", OPIX_I12, OPIX_COLUMN_FILTER, &column, nullptr),
      {"surface converter", OPIX_I8,
       [&](opixDeviceSurfaceBufferHandle_t s) {
         return opixSurfaceConverterCreate(&converter, OPIX_BIT_DEPTH_CONVERTER, &to16, kSide, kSide, s, &out);
       },
       [&] { return opixSurfaceConverterTransform(converter, nullptr, kSide, kSide); },
       [&] { return opixSurfaceConverterDestroy(converter); }},
      {"export", OPIX_RGB8,
       [&](opixDeviceSurfaceBufferHandle_t s) { return opixExportToHostCreate(&exporter, &delivered, s); },
       [&] { return opixExportToHostCopy(exporter, host.data(), kSide, 3 * kSide, kSide, nullptr); },
       [&] { return opixExportToHostDestroy(exporter); }},
  };

  for (const FormatReader& r : readers) {
    SCOPED_TRACE(r.name);
    const uint32_t row = opixRowBytes(r.format, kSide);
    const bool planar = r.format == OPIX_RGB16_PLANAR;
    // Exactly the rows the record describes at the widest pitch used below,
    // so a read past them is a read outside the block.
    const uint32_t wide = row + 8;
    test::DeviceBlock block(size_t{wide} * kSide * (planar ? 3 : 1));
    block.upload(test::randomBytes(size_t{wide} * kSide * (planar ? 3 : 1), 7));
    auto source = createSurfaceBuffer(kSide, kSide, r.format);
    source->external = 1;
    source->maxPitch = wide;
    source->directPointer = nullptr;
    EXPECT_EQ(r.create(source.get()), OPIX_INVALID_VALUE);
    source->directPointer = block.get();
    for (uint32_t pitch : {0u, row - 4}) {
      source->pitch = pitch;
      EXPECT_EQ(r.create(source.get()), OPIX_INVALID_VALUE) << "pitch " << pitch;
    }
    source->pitch = row;
    source->width = kSide + 1;
    EXPECT_EQ(r.create(source.get()), OPIX_INVALID_SIZE);
    source->width = kSide;

    ASSERT_EQ(r.create(source.get()), OPIX_OK);
    EXPECT_EQ(r.use(), OPIX_OK);
    // The owner may change the record between calls: each use checks again,
    // and a refused use leaves the component usable.
    source->directPointer = nullptr;
    EXPECT_EQ(r.use(), OPIX_INVALID_VALUE);
    source->directPointer = block.get();
    source->pitch = row - 4;
    EXPECT_EQ(r.use(), OPIX_INVALID_VALUE);
    source->pitch = 0;
    EXPECT_EQ(r.use(), OPIX_INVALID_VALUE);
    source->pitch = wide;
    EXPECT_EQ(r.use(), OPIX_OK);
    if (planar) {
      // A plane's rows must end before the next plane begins.
      source->maxPitch = row;
      EXPECT_EQ(r.use(), OPIX_INVALID_VALUE);
      source->maxPitch = wide;
    }
    source->pitch = row;
    EXPECT_EQ(r.use(), OPIX_OK);
    EXPECT_EQ(r.destroy(), OPIX_OK);
  }
}
