// Packed machine-vision frames: import from host unpacks each layout on the
// device into the gray surface of its depth. The expected samples come from a
// byte-level packer written here from the layouts' byte diagrams, not from
// the SDK's unpack maths.
#include <random>

#include "DeviceSurfaceBuffer.h"
#include "TransferSupport.h"

namespace opix::test {
namespace {

struct Layout {
  opixPacking_t packing;
  opixSurfaceFormat_t format;
  uint32_t bits;  // depth of the samples
  const char* name;
};

const Layout kLayouts[] = {
    {OPIX_PACKING_10P, OPIX_I10, 10, "10p"},
    {OPIX_PACKING_12P, OPIX_I12, 12, "12p"},
    {OPIX_PACKING_12_PACKED, OPIX_I12, 12, "12Packed"},
    {OPIX_PACKING_16_LOW, OPIX_I10, 10, "Mono10"},
    {OPIX_PACKING_16_LOW, OPIX_I12, 12, "Mono12"},
    {OPIX_PACKING_16_LOW, OPIX_I14, 14, "Mono14"},
    {OPIX_PACKING_16_LOW, OPIX_I16, 16, "Mono16"},
    {OPIX_PACKING_16_HIGH, OPIX_I10, 10, "Mono10 msb"},
    {OPIX_PACKING_16_HIGH, OPIX_I12, 12, "Mono12 msb"},
    {OPIX_PACKING_16_HIGH, OPIX_I14, 14, "Mono14 msb"},
};

// Appends samples to a byte string in one layout. Groups that a row or frame
// ends inside are completed with zero samples and cut to the bytes that
// carry the real ones.
class Packer {
 public:
  explicit Packer(const Layout& l) : l_(l) {}

  // Packs `s` as one run: the whole frame (bit stream) or one row.
  std::vector<uint8_t> pack(const std::vector<uint32_t>& s) const {
    std::vector<uint8_t> out;
    const size_t n = s.size();
    auto at = [&](size_t i) { return i < n ? s[i] : 0u; };
    switch (l_.packing) {
      case OPIX_PACKING_10P:
        // 4 pixels in 5 bytes, a bit stream lowest bit first: p0 in bits
        // 0-9, p1 in bits 10-19, ...: p0[7:0] | p1[5:0] p0[9:8] |
        // p2[3:0] p1[9:6] | p3[1:0] p2[9:4] | p3[9:2].
        for (size_t i = 0; i < n; i += 4) {
          uint64_t v = 0;
          for (int k = 0; k < 4; ++k) v |= uint64_t{at(i + k)} << (10 * k);
          for (int b = 0; b < 5; ++b) out.push_back(static_cast<uint8_t>(v >> (8 * b)));
        }
        out.resize((n * 10 + 7) / 8);
        break;
      case OPIX_PACKING_12P:
        // 2 pixels in 3 bytes: p0[7:0] | p1[3:0] p0[11:8] | p1[11:4].
        for (size_t i = 0; i < n; i += 2) {
          const uint32_t a = at(i), b = at(i + 1);
          out.push_back(static_cast<uint8_t>(a & 0xFF));
          out.push_back(static_cast<uint8_t>((a >> 8) | ((b & 0xF) << 4)));
          out.push_back(static_cast<uint8_t>(b >> 4));
        }
        out.resize((n * 12 + 7) / 8);
        break;
      case OPIX_PACKING_12_PACKED:
        // 2 pixels in 3 bytes: p0[11:4] | p1[3:0] p0[3:0] | p1[11:4].
        for (size_t i = 0; i < n; i += 2) {
          const uint32_t a = at(i), b = at(i + 1);
          out.push_back(static_cast<uint8_t>(a >> 4));
          out.push_back(static_cast<uint8_t>((a & 0xF) | ((b & 0xF) << 4)));
          out.push_back(static_cast<uint8_t>(b >> 4));
        }
        out.resize((n * 12 + 7) / 8);
        break;
      default: {
        const uint32_t shift = l_.packing == OPIX_PACKING_16_HIGH ? 16 - l_.bits : 0;
        for (size_t i = 0; i < n; ++i) {
          // Low-aligned words get noise above the depth, which must be
          // cleared; high-aligned ones noise below it, which must be dropped.
          const uint32_t noise = (i * 7919u) & 0xFFFFu;
          uint32_t w = s[i] << shift;
          w |= l_.packing == OPIX_PACKING_16_HIGH ? noise & ((1u << shift) - 1) : (noise << l_.bits) & 0xFFFFu;
          out.push_back(static_cast<uint8_t>(w));
          out.push_back(static_cast<uint8_t>(w >> 8));
        }
      }
    }
    return out;
  }

 private:
  Layout l_;
};

struct PackedImporter {
  opixImportFromHostHandle_t handle = nullptr;
  opixDeviceSurfaceBufferHandle_t buffer = nullptr;
  PackedImporter(const Layout& l, uint32_t maxWidth, uint32_t maxHeight) {
    EXPECT_EQ(opixImportFromHostCreatePacked(&handle, l.packing, l.format, maxWidth, maxHeight, &buffer), OPIX_OK);
  }
  ~PackedImporter() {
    if (handle) {
      EXPECT_EQ(opixImportFromHostDestroy(handle), OPIX_OK);
    }
  }
};

std::vector<uint32_t> randomSamples(size_t n, uint32_t bits, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint32_t> s(n);
  for (auto& v : s) v = rng() & ((1u << bits) - 1);
  if (n) s[0] = (1u << bits) - 1;
  if (n > 1) s[n - 1] = 0;
  return s;
}

// The device samples of the importer's current image, padding words
// included: padding samples must be 0.
void expectSamples(const PackedImporter& in, const std::vector<uint32_t>& s, uint32_t w, uint32_t h) {
  const opixDeviceSurfaceBuffer_t& b = *in.buffer;
  ASSERT_EQ(b.width, w);
  ASSERT_EQ(b.height, h);
  const std::vector<uint8_t> mem = readDevice(deviceAddress(b), size_t{b.pitch} * h);
  int wrong = 0;
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < b.pitch / 2; ++x) {
      const uint32_t got = mem[size_t{y} * b.pitch + 2 * x] | uint32_t{mem[size_t{y} * b.pitch + 2 * x + 1]} << 8;
      const uint32_t want = x < w ? s[size_t{y} * w + x] : 0u;
      if (got != want && ++wrong <= 5) ADD_FAILURE() << "(" << x << ", " << y << "): " << got << " != " << want;
    }
  EXPECT_EQ(wrong, 0);
}

const uint32_t kWidths[] = {1, 2, 3, 5, 7, 8, 9, 31, 33, 63, 64, 65, 67, 130};
const uint32_t kHeights[] = {1, 2, 9, 65, 67};

// Every layout, as one bit stream (pitch 0) and with byte rows padded by a
// few bytes, at widths that end inside a byte and inside a group, and heights
// around the CUDA driver's 64-row blocks.
TEST(PackedFrames, EveryLayoutUnpacksExactly) {
  for (const Layout& l : kLayouts) {
    PackedImporter in(l, 130, 67);
    ASSERT_NE(in.buffer, nullptr);
    EXPECT_EQ(in.buffer->surfaceFormat, l.format);
    const Packer p(l);
    for (uint32_t w : kWidths)
      for (uint32_t h : kHeights) {
        SCOPED_TRACE(std::string(l.name) + " " + std::to_string(w) + "x" + std::to_string(h));
        const std::vector<uint32_t> s = randomSamples(size_t{w} * h, l.bits, w * 131 + h + l.bits);
        const std::vector<uint8_t> stream = p.pack(s);
        ASSERT_EQ(opixImportFromHostCopy(in.handle, stream.data(), w, 0, h), OPIX_OK);
        expectSamples(in, s, w, h);

        const uint32_t rowBytes = static_cast<uint32_t>(p.pack(std::vector<uint32_t>(w, 0)).size());
        const uint32_t pitch = rowBytes + 3;
        std::vector<uint8_t> rows(size_t{pitch} * h, 0xEE);
        for (uint32_t y = 0; y < h; ++y) {
          const std::vector<uint8_t> r =
              p.pack(std::vector<uint32_t>(s.begin() + size_t{y} * w, s.begin() + size_t{y + 1} * w));
          std::copy(r.begin(), r.end(), rows.begin() + size_t{y} * pitch);
        }
        ASSERT_EQ(opixImportFromHostCopy(in.handle, rows.data(), w, pitch, h), OPIX_OK);
        expectSamples(in, s, w, h);
      }
  }
}

// One group of each layout worked out by hand from its byte diagram.
TEST(PackedFrames, ByteDiagramExamples) {
  struct Example {
    Layout l;
    std::vector<uint8_t> bytes;
    std::vector<uint32_t> samples;
  };
  const Example examples[] = {
      {kLayouts[0], {0x01, 0x08, 0x34, 0x20, 0xC1}, {0x001, 0x102, 0x203, 0x304}},
      {kLayouts[1], {0x23, 0x51, 0xAB}, {0x123, 0xAB5}},
      {kLayouts[2], {0x12, 0x53, 0xAB}, {0x123, 0xAB5}},
      {kLayouts[4], {0x23, 0xF1}, {0x123}},
      {kLayouts[8], {0x3F, 0x12}, {0x123}},
  };
  for (const Example& e : examples) {
    SCOPED_TRACE(e.l.name);
    const uint32_t w = static_cast<uint32_t>(e.samples.size());
    PackedImporter in(e.l, w, 1);
    ASSERT_EQ(opixImportFromHostCopy(in.handle, e.bytes.data(), w, 0, 1), OPIX_OK);
    expectSamples(in, e.samples, w, 1);
  }
}

// A 12p frame crosses to the device at 1.5 bytes a pixel; the trace says how
// many bytes the copy moved, and the import holds no unpacked staging copy.
TEST(PackedFrames, TwelveBitPackedFrameCrossesAtItsPackedSize) {
  TraceCapture trace;
  {
    PackedImporter in(kLayouts[1], 640, 480);
    std::vector<uint8_t> frame(640 * 480 * 3 / 2);
    ASSERT_EQ(opixImportFromHostCopy(in.handle, frame.data(), 640, 0, 480), OPIX_OK);
    uint64_t bytes = 0;
    ASSERT_EQ(opixImportFromHostGetAllocatedGpuMemorySize(in.handle, &bytes), OPIX_OK);
    // The packed frame and the 16-bit destination, each in 128-byte slots.
    EXPECT_EQ(bytes, 640u * 480 * 3 / 2 + 640u * 480 * 2);
  }
  const std::string text = trace.finish();
  EXPECT_NE(text.find("packed frame bytes"), std::string::npos) << text;
  EXPECT_NE(text.find("460800"), std::string::npos) << text;
}

TEST(PackedFrames, RefusesWhatItCannotUnpack) {
  opixImportFromHostHandle_t h = nullptr;
  opixDeviceSurfaceBufferHandle_t b = nullptr;
  // A depth the layout does not carry, or a colour surface.
  EXPECT_EQ(opixImportFromHostCreatePacked(&h, OPIX_PACKING_12P, OPIX_I16, 64, 64, &b), OPIX_UNSUPPORTED_SURFACE);
  EXPECT_EQ(opixImportFromHostCreatePacked(&h, OPIX_PACKING_10P, OPIX_I8, 64, 64, &b), OPIX_UNSUPPORTED_SURFACE);
  EXPECT_EQ(opixImportFromHostCreatePacked(&h, OPIX_PACKING_16_LOW, OPIX_RGB16, 64, 64, &b), OPIX_UNSUPPORTED_SURFACE);
  EXPECT_EQ(opixImportFromHostCreatePacked(&h, static_cast<opixPacking_t>(99), OPIX_I12, 64, 64, &b),
            OPIX_UNSUPPORTED_SURFACE);
  EXPECT_EQ(h, nullptr);
  // Packing none is the plain import.
  ASSERT_EQ(opixImportFromHostCreatePacked(&h, OPIX_PACKING_NONE, OPIX_I8, 64, 64, &b), OPIX_OK);
  EXPECT_EQ(opixImportFromHostDestroy(h), OPIX_OK);

  PackedImporter in(kLayouts[1], 64, 64);
  std::vector<uint8_t> frame(96 * 64);
  // A row gap shorter than a packed row, and a size above the maximum.
  EXPECT_EQ(opixImportFromHostCopy(in.handle, frame.data(), 64, 95, 64), OPIX_INVALID_VALUE);
  EXPECT_EQ(opixImportFromHostCopy(in.handle, frame.data(), 65, 0, 64), OPIX_INVALID_SIZE);
  EXPECT_EQ(opixImportFromHostCopy(in.handle, frame.data(), 64, 96, 64), OPIX_OK);
}

}  // namespace
}  // namespace opix::test
