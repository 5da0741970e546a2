// The bit-depth converter on the backend in use: import, convert, export.
#include "BitDepthConverter.h"
#include "TransferSupport.h"

namespace opix::test {
namespace {

struct Converter {
  opixSurfaceConverterHandle_t handle = nullptr;
  opixDeviceSurfaceBufferHandle_t buffer = nullptr;
  opixStatus_t status;
  Converter(opixDeviceSurfaceBufferHandle_t source, opixBitDepthConverter_t p) {
    status = opixSurfaceConverterCreate(&handle, OPIX_BIT_DEPTH_CONVERTER, &p, source->maxWidth, source->maxHeight,
                                        source, &buffer);
  }
  ~Converter() {
    if (handle) {
      EXPECT_EQ(opixSurfaceConverterDestroy(handle), OPIX_OK);
    }
  }
  opixStatus_t transform(uint32_t w, uint32_t h, const opixBitDepthConverter_t* p = nullptr) {
    return opixSurfaceConverterTransform(handle, p, w, h);
  }
};

opixBitDepthConverter_t target(uint32_t t) { return {0, false, t}; }
opixBitDepthConverter_t overridden(uint32_t s, uint32_t t) { return {s, true, t}; }

// What a sample v of s bits becomes at t bits in a destination of `dstBytes`
// bytes per sample: shifted, the low bits of the container kept.
uint32_t expected(uint32_t v, uint32_t s, uint32_t t, uint32_t dstBytes) {
  const uint32_t shifted = t >= s ? v << (t - s) : v >> (s - t);
  return shifted & (dstBytes == 1 ? 0xFFu : 0xFFFFu);
}

// Imports a random image of `host` format, converts it and checks every
// delivered sample.
void checkConversion(opixSurfaceFormat_t host, uint32_t s, uint32_t t, bool override, opixSurfaceFormat_t wantDst,
                     uint32_t w, uint32_t h, uint32_t seed) {
  SCOPED_TRACE(std::string(opixSurfaceFormatName(host)) + " " + std::to_string(s) + "->" + std::to_string(t) +
               " width " + std::to_string(w));
  Importer in(host, w, h);
  HostImage img(host, w, h, 4);
  img.randomise(seed);
  ASSERT_EQ(in.copy(img), OPIX_OK);
  Converter conv(in.buffer, override ? overridden(s, t) : target(t));
  ASSERT_EQ(conv.status, OPIX_OK);
  ASSERT_EQ(conv.buffer->surfaceFormat, wantDst);
  ASSERT_EQ(conv.transform(w, h), OPIX_OK);
  Exporter out(conv.buffer);
  const HostImage r = out.copy(w, h);
  const uint32_t dstBytes = HostImage::sampleBytes(r.format);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x)
      for (uint32_t c = 0; c < HostImage::channels(host); ++c)
        ASSERT_EQ(r.sample(x, y, c), expected(img.sample(x, y, c), s, t, dstBytes)) << x << "," << y << "," << c;
}

// Every pair of the conversion table, at widths 1 to 9, just above a block
// width and larger.
TEST(BitDepthConverter, EveryConversionPair) {
  struct Pair {
    opixSurfaceFormat_t host;  // imported as this, converted from its device format
    uint32_t s, t;
    opixSurfaceFormat_t dst;
  };
  const Pair pairs[] = {
      {OPIX_I8, 8, 10, OPIX_I10},
      {OPIX_I8, 8, 12, OPIX_I12},
      {OPIX_I8, 8, 14, OPIX_I14},
      {OPIX_I8, 8, 16, OPIX_I16},
      {OPIX_I10, 10, 8, OPIX_I8},
      {OPIX_I12, 12, 8, OPIX_I8},
      {OPIX_I14, 14, 8, OPIX_I8},
      {OPIX_I16, 16, 8, OPIX_I8},
      {OPIX_I16, 16, 1, OPIX_I8},
      {OPIX_I10, 10, 16, OPIX_I16},
      {OPIX_I16, 16, 12, OPIX_I12},
      {OPIX_I14, 14, 13, OPIX_I14},
      {OPIX_I12, 12, 12, OPIX_I12},
      {OPIX_RGB8, 8, 12, OPIX_RGB12_PLANAR},
      {OPIX_RGB8, 8, 16, OPIX_RGB16_PLANAR},
      {OPIX_RGB12, 12, 8, OPIX_RGB8},
      {OPIX_RGB16, 16, 8, OPIX_RGB8},
      {OPIX_RGB12, 12, 16, OPIX_RGB16_PLANAR},
      {OPIX_RGB16, 16, 10, OPIX_RGB12_PLANAR},
      {OPIX_RGB16, 16, 16, OPIX_RGB16_PLANAR},
  };
  uint32_t seed = 1;
  for (const Pair& p : pairs)
    for (uint32_t w : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 65u, 129u, 300u})
      checkConversion(p.host, p.s, p.t, false, p.dst, w, w < 10 ? 3 : 37, seed++);
}

TEST(BitDepthConverter, OverriddenSourceDepth) {
  checkConversion(OPIX_I12, 16, 16, true, OPIX_I16, 33, 5, 1);  // a plain copy
  checkConversion(OPIX_I8, 4, 10, true, OPIX_I10, 33, 5, 2);
  checkConversion(OPIX_I16, 12, 8, true, OPIX_I8, 33, 5, 3);
  checkConversion(OPIX_RGB8, 6, 12, true, OPIX_RGB12_PLANAR, 33, 5, 4);
}

// Named values at the ends of the range.
TEST(BitDepthConverter, Examples) {
  struct Example {
    opixSurfaceFormat_t host;
    uint32_t t, in, out;
  };
  const Example examples[] = {
      {OPIX_I8, 12, 255, 4080}, {OPIX_I16, 12, 65535, 4095}, {OPIX_RGB12, 8, 4095, 255},
      {OPIX_RGB12, 8, 4096, 0}, {OPIX_RGB8, 16, 255, 65280}, {OPIX_I8, 16, 1, 256},
  };
  for (const Example& e : examples) {
    Importer in(e.host, 3, 1);
    HostImage img(e.host, 3, 1);
    for (uint32_t c = 0; c < HostImage::channels(e.host); ++c) img.setSample(1, 0, c, e.in);
    ASSERT_EQ(in.copy(img), OPIX_OK);
    Converter conv(in.buffer, target(e.t));
    ASSERT_EQ(conv.status, OPIX_OK);
    ASSERT_EQ(conv.transform(3, 1), OPIX_OK);
    Exporter out(conv.buffer);
    const HostImage r = out.copy(3, 1);
    for (uint32_t c = 0; c < HostImage::channels(e.host); ++c) EXPECT_EQ(r.sample(1, 0, c), e.out) << e.in;
  }
}

// The destination follows each source size: smaller after larger, and larger
// again; the stored depths stay until a record replaces them.
TEST(BitDepthConverter, SizesAndParametersAcrossTransforms) {
  Importer in(OPIX_I12, 260, 70);
  Converter conv(in.buffer, target(16));
  ASSERT_EQ(conv.status, OPIX_OK);
  Exporter out(conv.buffer);
  HostImage big(OPIX_I12, 260, 70);
  big.setSample(259, 69, 0, 0x0ABC);
  HostImage small(OPIX_I12, 7, 3);
  small.setSample(6, 2, 0, 0x0123);
  for (const HostImage* img : {&big, &small, &big}) {
    ASSERT_EQ(in.copy(*img), OPIX_OK);
    ASSERT_EQ(conv.transform(img->width, img->height), OPIX_OK);
    EXPECT_EQ(conv.buffer->width, img->width);
    EXPECT_EQ(conv.buffer->pitch, opixRowBytes(OPIX_I16, img->width));
    const HostImage r = out.copy(img->width, img->height);
    EXPECT_EQ(r.sample(img->width - 1, img->height - 1, 0), img->sample(img->width - 1, img->height - 1, 0) << 4);
  }
  // A record changes the shift from then on; a refused one changes nothing.
  const opixBitDepthConverter_t twelve = target(14);
  ASSERT_EQ(conv.transform(260, 70, &twelve), OPIX_OK);
  EXPECT_EQ(out.copy(260, 70).sample(259, 69, 0), 0x0ABCu << 2);
  const opixBitDepthConverter_t tooFar = overridden(0, 16);
  EXPECT_EQ(conv.transform(260, 70, &tooFar), OPIX_INVALID_VALUE);
  ASSERT_EQ(conv.transform(260, 70), OPIX_OK);
  EXPECT_EQ(out.copy(260, 70).sample(259, 69, 0), 0x0ABCu << 2);
  const opixBitDepthConverter_t down = overridden(16, 12);
  ASSERT_EQ(conv.transform(260, 70, &down), OPIX_OK);
  EXPECT_EQ(out.copy(260, 70).sample(259, 69, 0), 0x0ABCu >> 4);

  EXPECT_EQ(conv.transform(259, 70), OPIX_INVALID_SIZE);
  EXPECT_EQ(conv.transform(260, 69), OPIX_INVALID_SIZE);
}

// Pairs without a conversion and shifts outside 0..15 are refused at Create
// and leave no handle.
TEST(BitDepthConverter, RefusedConfigurations) {
  struct Refusal {
    opixSurfaceFormat_t host;
    opixBitDepthConverter_t p;
    opixStatus_t status;
  };
  const Refusal refusals[] = {
      {OPIX_I8, target(8), OPIX_UNSUPPORTED_SURFACE},     {OPIX_I8, target(3), OPIX_UNSUPPORTED_SURFACE},
      {OPIX_I8, target(17), OPIX_UNSUPPORTED_SURFACE},    {OPIX_RGB8, target(8), OPIX_UNSUPPORTED_SURFACE},
      {OPIX_RGB8, target(17), OPIX_UNSUPPORTED_SURFACE},  {OPIX_RGB16, target(20), OPIX_UNSUPPORTED_SURFACE},
      {OPIX_I8, overridden(12, 10), OPIX_INVALID_VALUE},  {OPIX_I8, overridden(0, 16), OPIX_INVALID_VALUE},
      {OPIX_I16, target(17), OPIX_INVALID_VALUE},         {OPIX_I10, overridden(40, 16), OPIX_INVALID_VALUE},
      {OPIX_RGB12, overridden(4, 8), OPIX_INVALID_VALUE},
  };
  for (const Refusal& r : refusals) {
    Importer in(r.host, 8, 8);
    Converter conv(in.buffer, r.p);
    EXPECT_EQ(conv.status, r.status) << opixSurfaceFormatName(r.host) << " target " << r.p.targetBitsPerChannel;
    EXPECT_EQ(conv.handle, nullptr);
    EXPECT_EQ(conv.buffer, nullptr);
  }
  // Interleaved device layouts other than RGB8 are not converter sources.
  for (opixSurfaceFormat_t f : {OPIX_BGR8, OPIX_RGB12, OPIX_RGB16, OPIX_BGRX8}) {
    auto source = createSurfaceBuffer(8, 8, f);
    Converter interleaved(source.get(), target(16));
    EXPECT_EQ(interleaved.status, OPIX_UNSUPPORTED_SURFACE);
  }

  Importer in(OPIX_I8, 64, 64);
  opixSurfaceConverterHandle_t h = nullptr;
  opixDeviceSurfaceBufferHandle_t b = nullptr;
  const opixBitDepthConverter_t p = target(12);
  EXPECT_EQ(opixSurfaceConverterCreate(&h, OPIX_BIT_DEPTH_CONVERTER, &p, 63, 64, in.buffer, &b), OPIX_INVALID_VALUE);
  EXPECT_EQ(opixSurfaceConverterCreate(&h, OPIX_BIT_DEPTH_CONVERTER, &p, 64, 65, in.buffer, &b), OPIX_INVALID_VALUE);
  EXPECT_EQ(opixSurfaceConverterCreate(&h, OPIX_BIT_DEPTH_CONVERTER, &p, 65536, 64, in.buffer, &b), OPIX_INVALID_SIZE);
  EXPECT_EQ(opixSurfaceConverterCreate(&h, OPIX_BIT_DEPTH_CONVERTER, nullptr, 64, 64, in.buffer, &b),
            OPIX_INVALID_VALUE);
  EXPECT_EQ(opixSurfaceConverterCreate(&h, OPIX_BIT_DEPTH_CONVERTER, &p, 64, 64, nullptr, &b), OPIX_INVALID_VALUE);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(opixSurfaceConverterTransform(nullptr, nullptr, 64, 64), OPIX_INVALID_HANDLE);
}

TEST(BitDepthConverter, AllocatedMemoryAndReattachment) {
  Importer in(OPIX_RGB8, 10, 3);
  Converter conv(in.buffer, target(12));
  ASSERT_EQ(conv.status, OPIX_OK);
  uint64_t bytes = 0;
  ASSERT_EQ(opixSurfaceConverterGetAllocatedGpuMemorySize(conv.handle, &bytes), OPIX_OK);
  EXPECT_EQ(bytes, 256u);  // 3 planes of 20 x 3 bytes

  BitDepthConverter component;
  opixDeviceSurfaceBufferHandle_t dst = nullptr;
  const opixBitDepthConverter_t p = target(12);
  component.Init(OPIX_BIT_DEPTH_CONVERTER, &p, 10, 3, in.buffer, &dst);
  Importer same(OPIX_RGB8, 10, 3);
  Importer other(OPIX_I8, 10, 3);
  expectStatus(OPIX_INVALID_SIZE, [&] { component.ChangeSourceBuffer(11, 3, same.buffer); });
  expectStatus(OPIX_UNSUPPORTED_SURFACE, [&] { component.ChangeSourceBuffer(10, 3, other.buffer); });
  component.ChangeSourceBuffer(10, 3, same.buffer);
  HostImage img(OPIX_RGB8, 10, 3);
  img.setSample(9, 2, 1, 200);
  ASSERT_EQ(same.copy(img), OPIX_OK);
  component.Transform(nullptr, 10, 3);
  Exporter out(dst);
  EXPECT_EQ(out.copy(10, 3).sample(9, 2, 1), 200u << 4);
}

TEST(BitDepthConverter, TraceLines) {
  Importer in(OPIX_I8, 4, 2);
  ASSERT_EQ(in.copy(HostImage(OPIX_I8, 4, 2)), OPIX_OK);
  TraceCapture capture;
  Converter conv(in.buffer, target(10));
  ASSERT_EQ(conv.status, OPIX_OK);
  const opixBitDepthConverter_t p = overridden(6, 12);
  ASSERT_EQ(conv.transform(4, 2, &p), OPIX_OK);
  EXPECT_EQ(conv.transform(3, 2), OPIX_INVALID_SIZE);
  const std::string t = capture.finish();
  for (const char* expected :
       {"SurfaceConverter. Create\n\tmax width: 4\n\tmax height: 2\n\tsurface converter type: 0\n"
        "\tstatic surface converter parameters: 0x",
        "\tsource buffer:\n", "\tdestination buffer:\n", "SurfaceConverter. Transform\n\thandle: 0x",
        "\tsurface converter parameters: 0x",
        "\topixBitDepthConverter_t:\n\t\tis override source bits per channel: true\n"
        "\t\toverride source bits per channel: 6\n\t\ttarget bits per channel: 12\n",
        "Input width does not match surface width\n\tStatus: OPIX_INVALID_SIZE\n"})
    EXPECT_NE(t.find(expected), std::string::npos) << expected << "\n---\n" << t;
}

}  // namespace
}  // namespace opix::test
