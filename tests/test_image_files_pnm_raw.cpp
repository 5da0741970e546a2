// PGM, PPM and RAW files: reading, writing and refusing malformed files.
#include <cstring>

#include "ImageFilesTestSupport.h"
#include "TestSupport.h"

namespace opix::test {
namespace {

class PnmFiles : public ImageFilesTest {};
class RawFiles : public ImageFilesTest {};

// A decoder written from the PNM definition: header words separated by white
// space, one separator byte, then big-endian samples.
struct Pnm {
  std::string magic;
  uint32_t width = 0, height = 0, maxval = 0;
  std::vector<uint32_t> samples;
};
Pnm decodePnm(const Bytes& b) {
  Pnm p;
  size_t i = 0;
  auto word = [&] {
    while (i < b.size() && std::isspace(b[i])) ++i;
    std::string w;
    while (i < b.size() && !std::isspace(b[i])) w += static_cast<char>(b[i++]);
    return w;
  };
  p.magic = word();
  p.width = std::stoul(word());
  p.height = std::stoul(word());
  p.maxval = std::stoul(word());
  ++i;
  const size_t n = size_t{p.width} * p.height * (p.magic == "P6" ? 3 : 1);
  const size_t bytes = p.maxval > 255 ? 2 : 1;
  EXPECT_EQ(b.size(), i + n * bytes);
  for (size_t k = 0; k < n && i + bytes <= b.size(); ++k, i += bytes)
    p.samples.push_back(bytes == 2 ? (b[i] << 8 | b[i + 1]) : b[i]);
  return p;
}

TEST_F(PnmFiles, SixteenBitByteOrderFollowsTheMagic) {
  HostImage be, le;
  EXPECT_EQ(readCaptured(put("be.pgm", concat("P5\n1 1\n65535\n", {0x12, 0x34})), be).status, OPIX_OK);
  EXPECT_EQ(readCaptured(put("le.pgm16", concat("P15\n1 1\n65535\n", {0x12, 0x34})), le).status, OPIX_OK);
  EXPECT_EQ(sample16(be, 0, 0), 0x1234);
  EXPECT_EQ(sample16(le, 0, 0), 0x3412);
  EXPECT_EQ(be.surfaceFormat, OPIX_I16);
  EXPECT_EQ(be.bitsPerChannel, 16u);

  HostImage rgb;
  ASSERT_EQ(readCaptured(put("c.ppm", concat("P6 1 1 4095\n", {0, 1, 0x0f, 0xff, 0x08, 0})), rgb).status, OPIX_OK);
  EXPECT_EQ(rgb.surfaceFormat, OPIX_RGB12);
  EXPECT_EQ(rgb.pitch, 8u);
  EXPECT_EQ(sample16(rgb, 0, 0), 1);
  EXPECT_EQ(sample16(rgb, 1, 0), 0x0fff);
  EXPECT_EQ(sample16(rgb, 2, 0), 0x0800);
}

// A frame of several hundred kilobytes is read in runs of rows: every sample
// of every run, the last one partial, is swapped exactly once.
TEST_F(PnmFiles, LargeSixteenBitFramesAreSwappedInEveryRun) {
  const uint32_t w = 300, h = 1001;
  Bytes px(size_t{w} * h * 2);
  for (size_t i = 0; i < px.size() / 2; ++i) {
    px[2 * i] = static_cast<uint8_t>(i >> 8);
    px[2 * i + 1] = static_cast<uint8_t>(i);
  }
  const Bytes file = concat("P5\n300 1001\n65535\n", px);
  HostImage img;
  ASSERT_EQ(readCaptured(put("big.pgm", file), img).status, OPIX_OK);
  ASSERT_EQ(img.pitch, 2 * w);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) ASSERT_EQ(sample16(img, x, y), static_cast<uint16_t>(y * w + x)) << x << "," << y;

  HostImage cut;
  EXPECT_EQ(readCaptured(put("cut.pgm", Bytes(file.begin(), file.end() - 1)), cut).status, OPIX_IO_ERROR);
  EXPECT_EQ(cut.data, nullptr);
}

TEST_F(PnmFiles, RowsArePaddedToFourBytesAndACommentIsSkipped) {
  const Bytes px = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  HostImage img;
  ASSERT_EQ(readCaptured(put("a.pgm", concat("P5\n# made by hand\n5 2\n255\n", px)), img).status, OPIX_OK);
  EXPECT_EQ(img.width, 5u);
  EXPECT_EQ(img.height, 2u);
  EXPECT_EQ(img.pitch, 8u);
  EXPECT_EQ(img.surfaceFormat, OPIX_I8);
  const Bytes expected = {1, 2, 3, 4, 5, 0, 0, 0, 6, 7, 8, 9, 10, 0, 0, 0};
  EXPECT_EQ(Bytes(img.data.get(), img.data.get() + 16), expected);
  EXPECT_EQ(img.inputFileName, path("a.pgm"));
}

TEST_F(PnmFiles, AsciiGrayTakesDecimalWordsUpToMaxval) {
  HostImage img;
  ASSERT_EQ(readCaptured(put("a.pgm", "P2\n3 1\n300\n0 299\n\t300\n"), img).status, OPIX_OK);
  // 300 needs 9 bits: a 10-bit gray image.
  EXPECT_EQ(img.surfaceFormat, OPIX_I10);
  EXPECT_EQ(img.bitsPerChannel, 10u);
  EXPECT_EQ(sample16(img, 1, 0), 299);
  EXPECT_EQ(sample16(img, 2, 0), 300);

  for (const char* body : {"P2\n2 1\n255\n1 256\n", "P2\n2 1\n255\n1 -2\n", "P2\n2 1\n255\n1 2x\n", "P2\n2 1\n255\n1\n",
                           "P2\n2 1\n255\n99999999999 1\n"}) {
    HostImage bad;
    EXPECT_EQ(readCaptured(put("b.pgm", body), bad).status, OPIX_IO_ERROR) << body;
    EXPECT_EQ(bad.data, nullptr);
  }
}

TEST_F(PnmFiles, MalformedHeadersAreRefused) {
  HostImage img;
  ReadResult r = readCaptured(put("p3.ppm", "P3\n1 1\n255\n1 2 3\n"), img);
  EXPECT_EQ(r.status, OPIX_IO_ERROR);
  EXPECT_EQ(r.out, "Not supported format\n");
  EXPECT_EQ(r.err, "Input file has unappropriate format\n");

  const std::string header = "P5\n4 2\n255\n";
  const Bytes px(8, 7);
  // Cut inside or right after every header field, and one byte short of the samples.
  for (size_t cut = 0; cut < header.size() + px.size(); ++cut) {
    Bytes whole = concat(header, px);
    whole.resize(cut);
    r = readCaptured(put("cut.pgm", whole), img);
    EXPECT_EQ(r.status, OPIX_IO_ERROR) << "cut at " << cut;
    EXPECT_EQ(r.err, "Input file has unappropriate format\n");
  }
  for (const char* h : {"P5\n0 2\n255\n", "P5\n4 0\n255\n", "P5\n4 2\n0\n", "P5\n4 2\n65536\n", "P5\n-4 2\n255\n",
                        "P5\n4 2\n# late comment\n255\n", "P5\n4294967296 1\n255\n",
                        // 65536 x 32768 two-byte samples: 4 GiB, one row past the limit.
                        "P5\n65536 32769\n65535\n"}) {
    EXPECT_EQ(readCaptured(put("h.pgm", concat(h, Bytes(64, 0))), img).status, OPIX_IO_ERROR) << h;
  }
  EXPECT_EQ(img.data, nullptr);
}

TEST_F(PnmFiles, WriterGoldenBytes) {
  const Bytes rgb = {1, 2, 3, 4, 5, 6, 0xee, 0xee};  // 2 pixels and row padding
  ASSERT_TRUE(writePnm(path("c.ppm"), rgb.data(), 2, 8, 1, 8, 3));
  EXPECT_EQ(load(path("c.ppm")), concat("P6\n2\n1\n255\n", {1, 2, 3, 4, 5, 6}));

  const uint16_t gray[] = {0x0123, 0x0fff, 0xdead, 0xbeef};  // second row unused: pitch 4, width 2
  ASSERT_TRUE(writePnm(path("g.pgm"), gray, 2, 4, 2, 12, 1));
  EXPECT_EQ(load(path("g.pgm")), concat("P5\n2\n2\n4095\n", {0x01, 0x23, 0x0f, 0xff, 0xde, 0xad, 0xbe, 0xef}));

  EXPECT_FALSE(writePnm(path("x.pgm"), gray, 1, 4, 1, 8, 2));
  EXPECT_FALSE(writePnm(path("x.pgm"), gray, 1, 4, 1, 32, 1));
  EXPECT_EQ(listing(), (std::vector<std::string>{"c.ppm", "g.pgm"}));
}

TEST_F(PnmFiles, RoundTripThroughWriterAndIndependentDecoder) {
  for (opixSurfaceFormat_t format : {OPIX_I8, OPIX_I12, OPIX_I16, OPIX_RGB8, OPIX_RGB16}) {
    const uint32_t w = 7, h = 5, pitch = opixRowBytes(format, w);
    Bytes src = randomBytes(size_t{pitch} * h, 40 + format);
    if (format == OPIX_I12)
      for (size_t i = 1; i < src.size(); i += 2) src[i] &= 0x0F;  // 12-bit samples
    std::string name = path(opixFormatChannels(format) == 1 ? "r.pgm" : "r.ppm");
    ASSERT_EQ(writeImage(name, src.data(), format, h, w, pitch), OPIX_OK);
    const Pnm p = decodePnm(load(name));
    const uint32_t c = opixFormatChannels(format), bits = opixFormatBits(format);
    EXPECT_EQ(p.maxval, (1u << bits) - 1);
    HostImage img;
    ASSERT_EQ(readCaptured(name, img).status, OPIX_OK);
    EXPECT_EQ(img.surfaceFormat, format == OPIX_RGB12 ? OPIX_RGB12 : format);
    ASSERT_EQ(img.pitch, pitch);
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t i = 0; i < w * c; ++i) {
        const uint8_t* s = src.data() + y * pitch;
        const uint32_t expected = bits > 8 ? (s[2 * i] | s[2 * i + 1] << 8) : s[i];
        ASSERT_EQ(p.samples[y * w * c + i], expected);
        const uint32_t got = bits > 8 ? sample16(img, i, y) : img.data[y * pitch + i];
        ASSERT_EQ(got, expected);
      }
  }
}

TEST_F(RawFiles, EightBitNeedsWidthTimesHeightBytes) {
  HostImage img;
  const Bytes px = {1, 2, 3, 4, 5, 6, 7, 8};
  ASSERT_EQ(readCaptured(put("a.raw", px), img, 2, 4, 8).status, OPIX_OK);
  EXPECT_EQ(img.pitch, 4u);
  EXPECT_EQ(img.surfaceFormat, OPIX_I8);
  EXPECT_EQ(Bytes(img.data.get(), img.data.get() + 8), px);

  // A file of another size than one frame is refused with both sizes.
  for (const Bytes& other : {Bytes(px.begin(), px.end() - 1), Bytes(16, 1)}) {
    HostImage wrong;
    const ReadResult r = readCaptured(put("s.raw", other), wrong, 2, 4, 8);
    EXPECT_EQ(r.status, OPIX_INVALID_SIZE);
    EXPECT_EQ(r.err, "RAW file " + path("s.raw") + ": expected 8 bytes (4 x 2 samples of 8 bits, 1 byte each), got " +
                         std::to_string(other.size()) + "\n");
    EXPECT_EQ(wrong.data.get(), nullptr);
  }
}

TEST_F(RawFiles, DeeperSamplesAreLittleEndianWords) {
  // The 12-bit 1920 x 1080 frame of the usage example.
  Bytes px = randomBytes(2 * 1920 * 1080, 12);
  for (size_t i = 1; i < px.size(); i += 2) px[i] &= 0x0F;
  HostImage img;
  ASSERT_EQ(readCaptured(put("f.raw", px), img, 1080, 1920, 12).status, OPIX_OK);
  EXPECT_EQ(img.pitch, 3840u);
  EXPECT_EQ(img.surfaceFormat, OPIX_I12);
  EXPECT_EQ(img.bitsPerChannel, 12u);
  EXPECT_EQ(sample16(img, 1919, 1079), px[px.size() - 2] | px[px.size() - 1] << 8);
  EXPECT_EQ(std::memcmp(img.data.get(), px.data(), px.size()), 0);

  for (uint32_t bits : {9u, 10u, 14u, 16u}) {
    HostImage d;
    ASSERT_EQ(readCaptured(put("d.raw", Bytes(8, 1)), d, 2, 2, bits).status, OPIX_OK);
    EXPECT_EQ(d.surfaceFormat, formatFromBits(bits, 1));
  }
  for (auto [w, h, bits] : {std::tuple{0u, 2u, 8u}, {2u, 0u, 8u}, {2u, 2u, 0u}, {2u, 2u, 17u}, {65536u, 32769u, 16u}}) {
    HostImage bad;
    EXPECT_EQ(readCaptured(put("b.raw", Bytes(64, 1)), bad, h, w, bits).status, OPIX_IO_ERROR) << w << " " << bits;
  }
}

TEST_F(RawFiles, BlackShiftVariantReadsEightBits) {
  HostImage img;
  put("m.raw", Bytes{9, 8, 7, 6});
  ASSERT_EQ(readImage(path("m.raw"), "", img, 2, 2), OPIX_OK);
  EXPECT_EQ(img.pitch, 2u);
  EXPECT_EQ(img.surfaceFormat, OPIX_I8);
}

}  // namespace
}  // namespace opix::test
