// BMP and TIFF files: reading, writing and refusing malformed files. TIFF
// output is read back with libtiff itself, BMP output with a decoder written
// here from the format's definition.
#include <sys/resource.h>
#include <sys/wait.h>
#include <tiffio.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>

#include "ImageFilesTestSupport.h"
#include "TestSupport.h"
#include "TiffTestSupport.h"

namespace opix::test {
namespace {

// Sanitizers reserve more address space than the limit of one test allows.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define OPIX_TEST_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define OPIX_TEST_SANITIZED 1
#endif
#endif
#ifndef OPIX_TEST_SANITIZED
#define OPIX_TEST_SANITIZED 0
#endif

class BmpFiles : public ImageFilesTest {};
class TiffFiles : public ImageFilesTest {};

void le16(Bytes& b, size_t at, uint32_t v) {
  b[at] = v & 0xff;
  b[at + 1] = (v >> 8) & 0xff;
}
void le32(Bytes& b, size_t at, uint32_t v) {
  le16(b, at, v & 0xffff);
  le16(b, at + 2, v >> 16);
}
uint32_t get32(const Bytes& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24;
}
uint32_t get16(const Bytes& b, size_t at) { return b[at] | b[at + 1] << 8; }

// A BMP with the given info header size and palette; rows as stored.
Bytes makeBmp(int32_t width, int32_t height, uint16_t bits, const Bytes& palette, const Bytes& rows,
              uint32_t infoSize = 40) {
  Bytes b(14 + infoSize, 0);
  b[0] = 'B';
  b[1] = 'M';
  const uint32_t offset = 14 + infoSize + static_cast<uint32_t>(palette.size());
  le32(b, 2, offset + static_cast<uint32_t>(rows.size()));
  le32(b, 10, offset);
  le32(b, 14, infoSize);
  le32(b, 18, static_cast<uint32_t>(width));
  le32(b, 22, static_cast<uint32_t>(height));
  le16(b, 26, 1);
  le16(b, 28, bits);
  le32(b, 46, static_cast<uint32_t>(palette.size() / 4));
  b.insert(b.end(), palette.begin(), palette.end());
  b.insert(b.end(), rows.begin(), rows.end());
  return b;
}
Bytes grayPalette(bool inverted) {
  Bytes p;
  for (int i = 0; i < 256; ++i) {
    const uint8_t v = static_cast<uint8_t>(inverted ? 255 - i : i);
    p.insert(p.end(), {v, v, v, 0});
  }
  return p;
}

TEST_F(BmpFiles, RowOrderFollowsTheSignOfTheHeight) {
  // 3 pixels of 24 bits: 9 bytes and 3 of padding per stored row.
  const Bytes rows = {1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0, 11, 12, 13, 14, 15, 16, 17, 18, 19, 0, 0, 0};
  HostImage up, down;
  ASSERT_EQ(readCaptured(put("up.bmp", makeBmp(3, 2, 24, {}, rows)), up).status, OPIX_OK);
  ASSERT_EQ(readCaptured(put("down.dib", makeBmp(3, -2, 24, {}, rows)), down).status, OPIX_OK);
  EXPECT_EQ(up.surfaceFormat, OPIX_BGR8);
  EXPECT_EQ(up.pitch, 12u);
  EXPECT_EQ(up.height, 2u);
  EXPECT_EQ(up.data[0], 11);  // the last stored row is the top row
  EXPECT_EQ(up.data[12], 1);
  EXPECT_EQ(down.data[0], 1);
  EXPECT_EQ(down.data[12], 11);
}

TEST_F(BmpFiles, GrayPalettesMapSamples) {
  const Bytes rows = {0, 1, 254, 255};
  HostImage img;
  ASSERT_EQ(readCaptured(put("inv.bmp", makeBmp(4, 1, 8, grayPalette(true), rows)), img).status, OPIX_OK);
  EXPECT_EQ(img.surfaceFormat, OPIX_I8);
  EXPECT_EQ(Bytes(img.data.get(), img.data.get() + 4), (Bytes{255, 254, 1, 0}));

  // A version 5 info header (124 bytes) puts the palette after it.
  ASSERT_EQ(readCaptured(put("v5.bmp", makeBmp(4, 1, 8, grayPalette(true), rows, 124)), img).status, OPIX_OK);
  EXPECT_EQ(Bytes(img.data.get(), img.data.get() + 4), (Bytes{255, 254, 1, 0}));

  // A short palette: indices past its end name no colour.
  const Bytes four = {0, 0, 0, 0, 9, 9, 9, 0, 20, 20, 20, 0, 30, 30, 30, 0};
  ASSERT_EQ(readCaptured(put("p4.bmp", makeBmp(4, 1, 8, four, {3, 2, 1, 0})), img).status, OPIX_OK);
  EXPECT_EQ(Bytes(img.data.get(), img.data.get() + 4), (Bytes{30, 20, 9, 0}));
  EXPECT_EQ(readCaptured(put("p4b.bmp", makeBmp(4, 1, 8, four, {3, 2, 1, 4})), img).status, OPIX_INVALID_FORMAT);
}

TEST_F(BmpFiles, MalformedFilesGetTheirCodes) {
  const Bytes rows(8, 0);
  const Bytes good = makeBmp(4, 2, 8, grayPalette(false), rows);
  auto variant = [&](size_t at, uint32_t v, bool wide = true) {
    Bytes b = good;
    wide ? le32(b, at, v) : le16(b, at, v);
    return b;
  };
  Bytes colored = good;
  colored[54 + 4 * 7 + 2] = 1;  // entry 7: red differs
  Bytes notBm = good;
  notBm[1] = 'A';
  const struct {
    const char* what;
    Bytes file;
    opixStatus_t status;
  } cases[] = {
      {"not BM", notBm, OPIX_INVALID_FORMAT},
      {"height 0", variant(22, 0), OPIX_INVALID_FORMAT},
      {"257 colours", variant(46, 257), OPIX_INVALID_FORMAT},
      {"image size too small", variant(34, 7), OPIX_INVALID_FORMAT},
      {"data offset inside palette", variant(10, 1000), OPIX_INVALID_FORMAT},
      {"file size too small", variant(2, 1000), OPIX_INVALID_FORMAT},
      {"32 bits", variant(28, 32, false), OPIX_UNSUPPORTED_FORMAT},
      {"RLE", variant(30, 1), OPIX_UNSUPPORTED_FORMAT},
      {"width 0", variant(18, 0), OPIX_UNSUPPORTED_FORMAT},
      {"OS/2 header", variant(14, 12), OPIX_UNSUPPORTED_FORMAT},
      {"coloured palette", colored, OPIX_UNSUPPORTED_FORMAT},
      // 4 GiB of pixels cannot be announced within the 32-bit file size.
      {"pixels past 4 GiB", makeBmp(65536, 65537, 8, grayPalette(false), rows), OPIX_INVALID_FORMAT},
  };
  for (const auto& c : cases) {
    HostImage img;
    const ReadResult r = readCaptured(put("m.bmp", c.file), img);
    EXPECT_EQ(r.status, c.status) << c.what;
    EXPECT_EQ(r.err, "Input file has unappropriate format\n") << c.what;
    EXPECT_EQ(img.data, nullptr);
  }
  for (size_t cut : {0, 1, 2, 6, 10, 13, 14, 18, 22, 26, 28, 30, 34, 38, 46, 50, 53, 54, 500, 1077, 1078, 1085}) {
    HostImage img;
    EXPECT_EQ(readCaptured(put("cut.bmp", Bytes(good.begin(), good.begin() + cut)), img).status, OPIX_IO_ERROR)
        << "cut at " << cut;
  }
}

// Decodes a BMP written by us from the format's definition: bottom-up rows
// of 4-byte multiples, palette indices looked up.
std::vector<uint8_t> decodeBmp(const Bytes& b, uint32_t& w, uint32_t& h, uint32_t& c) {
  w = get32(b, 18);
  h = get32(b, 22);
  c = get16(b, 28) / 8;
  const uint32_t row = (get16(b, 28) * w + 31) / 32 * 4;
  std::vector<uint8_t> px;
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t i = 0; i < w * c; ++i) {
      const uint8_t v = b[get32(b, 10) + (h - 1 - y) * row + i];
      px.push_back(c == 1 ? b[54 + 4 * v] : v);
    }
  return px;
}

TEST_F(BmpFiles, WriterGoldenBytesAndRoundTrip) {
  const Bytes gray = {1, 2, 3, 4, 5, 0xaa, 0xaa, 0xaa, 6, 7, 8, 9, 10, 0xaa, 0xaa, 0xaa};
  ASSERT_TRUE(writeBmp(path("g.bmp"), gray.data(), 1, 2, 5, 8));
  const Bytes g = load(path("g.bmp"));
  ASSERT_EQ(g.size(), 1078u + 2 * 8);
  Bytes head(54, 0);
  head[0] = 'B';
  head[1] = 'M';
  le32(head, 2, 1094);
  le32(head, 10, 1078);
  le32(head, 14, 40);
  le32(head, 18, 5);
  le32(head, 22, 2);
  le16(head, 26, 1);
  le16(head, 28, 8);
  le32(head, 34, 16);
  le32(head, 46, 256);
  le32(head, 50, 256);
  EXPECT_EQ(Bytes(g.begin(), g.begin() + 54), head);
  EXPECT_EQ(Bytes(g.begin() + 54, g.begin() + 1078), grayPalette(false));
  EXPECT_EQ(Bytes(g.begin() + 1078, g.end()), (Bytes{6, 7, 8, 9, 10, 0, 0, 0, 1, 2, 3, 4, 5, 0, 0, 0}));

  for (opixSurfaceFormat_t format : {OPIX_I8, OPIX_BGR8}) {
    const uint32_t w = 13, h = 6, pitch = opixRowBytes(format, w), c = opixFormatChannels(format);
    const Bytes src = randomBytes(size_t{pitch} * h, 7 + format);
    std::string name = path("r.bmp");
    ASSERT_EQ(writeImage(name, src.data(), format, h, w, pitch), OPIX_OK);
    uint32_t dw, dh, dc;
    const std::vector<uint8_t> px = decodeBmp(load(name), dw, dh, dc);
    HostImage img;
    ASSERT_EQ(readCaptured(name, img).status, OPIX_OK);
    ASSERT_EQ(img.surfaceFormat, format);
    ASSERT_EQ(img.pitch, pitch);
    ASSERT_EQ(dc, c);
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t i = 0; i < w * c; ++i) {
        ASSERT_EQ(px[y * w * c + i], src[y * pitch + i]);
        ASSERT_EQ(img.data[y * pitch + i], src[y * pitch + i]);
      }
  }
}

TEST_F(TiffFiles, WriterGoldenBytesReadBackByLibtiff) {
  const uint16_t rgb[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};  // 2 x 2 RGB16, pitch 12
  ASSERT_TRUE(writeTiff(path("c.tif"), rgb, 2, 12, 2, 2, 3));
  const Bytes t = load(path("c.tif"));
  ASSERT_EQ(t.size(), 8u + 24 + 2 + 8 * 12 + 4);
  EXPECT_EQ(Bytes(t.begin(), t.begin() + 8), (Bytes{'I', 'I', 42, 0, 32, 0, 0, 0}));
  EXPECT_EQ(std::memcmp(t.data() + 8, rgb, 24), 0);
  EXPECT_EQ(get16(t, 32), 8u);
  const uint32_t expected[8][3] = {{256, 4, 2}, {257, 4, 2}, {258, 3, 16}, {262, 3, 2},
                                   {273, 4, 8}, {277, 3, 3}, {278, 4, 2},  {279, 4, 24}};
  for (int i = 0; i < 8; ++i) {
    const size_t e = 34 + 12 * i;
    EXPECT_EQ(get16(t, e), expected[i][0]);
    EXPECT_EQ(get16(t, e + 2), expected[i][1]);
    EXPECT_EQ(get32(t, e + 4), 1u);
    EXPECT_EQ(get32(t, e + 8), expected[i][2]);
  }
  EXPECT_EQ(get32(t, t.size() - 4), 0u);

  // An odd-sized 8-bit gray image through libtiff's own API.
  const uint32_t w = 5, h = 3, pitch = 8;
  const Bytes gray = randomBytes(pitch * h, 3);
  std::string name = path("g.tiff");
  ASSERT_EQ(writeImage(name, gray.data(), OPIX_I8, h, w, pitch), OPIX_OK);
  TIFF* tif = TIFFOpen(name.c_str(), "r");
  ASSERT_NE(tif, nullptr);
  uint32_t tw = 0, th = 0;
  uint16_t spp = 0, bps = 0, photometric = 0;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &tw);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &th);
  TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
  TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &bps);
  TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
  EXPECT_EQ(tw, w);
  EXPECT_EQ(th, h);
  EXPECT_EQ(spp, 1);
  EXPECT_EQ(bps, 8);
  EXPECT_EQ(photometric, 32803);
  std::vector<uint8_t> line(TIFFScanlineSize(tif));
  for (uint32_t y = 0; y < h; ++y) {
    ASSERT_EQ(TIFFReadScanline(tif, line.data(), y, 0), 1);
    EXPECT_EQ(std::memcmp(line.data(), gray.data() + y * pitch, w), 0) << "row " << y;
  }
  TIFFClose(tif);
}

// The samples of a gray or RGB image as host rows of `row` bytes.
void expectRows(const HostImage& img, const Bytes& px, size_t row, uint32_t h, const std::string& what) {
  ASSERT_EQ(img.pitch, (row + 3) / 4 * 4) << what;
  for (uint32_t y = 0; y < h; ++y)
    ASSERT_EQ(std::memcmp(img.data.get() + y * img.pitch, px.data() + y * row, row), 0) << what << " row " << y;
}

TEST_F(TiffFiles, EveryCodecByteOrderAndBigTiffGiveTheSameSamples) {
  const uint32_t w = 37, h = 21;
  struct Variant {
    const char* mode;
    uint32_t tile, rowsPerStrip;
  };
  // Strips of 2 rows, one strip for the whole image, 16 x 16 and 32 x 32 tiles.
  const Variant variants[] = {{"w", 0, 2}, {"wb", 0, h}, {"w8", 16, 0}, {"wb8", 32, 0}, {"w", 0, 5}};
  for (uint16_t bps : {8, 16})
    for (uint16_t spp : {1, 3})
      for (const TiffCodec& codec : losslessTiffCodecs())
        for (const Variant& v : variants) {
          const size_t row = size_t{w} * spp * bps / 8;
          const Bytes px = randomBytes(row * h, bps + spp + codec.compression);
          TiffLayout l;
          l.mode = v.mode;
          l.spp = spp;
          l.bps = bps;
          l.photometric = spp == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
          l.compression = codec.compression;
          l.tile = v.tile;
          l.rowsPerStrip = v.rowsPerStrip;
          const std::string what = std::string(codec.name) + " " + v.mode + " tile " + std::to_string(v.tile) +
                                   " bits " + std::to_string(bps) + " spp " + std::to_string(spp);
          ASSERT_TRUE(writeTiffFile(path("s.tif"), w, h, l, px)) << what;
          HostImage img;
          ASSERT_EQ(readCaptured(path("s.tif"), img).status, OPIX_OK) << what;
          EXPECT_EQ(img.surfaceFormat,
                    spp == 3 ? (bps == 8 ? OPIX_RGB8 : OPIX_RGB16) : (bps == 8 ? OPIX_I8 : OPIX_I16));
          expectRows(img, px, row, h, what);
        }
}

TEST_F(TiffFiles, JpegStripsAndTilesDecodeAsLibtiffDecodesThem) {
  if (!TIFFIsCODECConfigured(COMPRESSION_JPEG)) GTEST_SKIP() << "libtiff without JPEG";
  const uint32_t w = 40, h = 35;
  for (uint32_t tile : {0u, 16u}) {
    Bytes px(size_t{w} * h);
    for (uint32_t i = 0; i < px.size(); ++i) px[i] = static_cast<uint8_t>((i % w) * 5 + (i / w) * 3);
    TiffLayout l;
    l.compression = COMPRESSION_JPEG;
    l.rowsPerStrip = 16;
    l.tile = tile;
    ASSERT_TRUE(writeTiffFile(path("j.tif"), w, h, l, px));
    // libtiff's RGBA interface decodes the same file by another path.
    TIFF* tif = TIFFOpen(path("j.tif").c_str(), "r");
    ASSERT_NE(tif, nullptr);
    std::vector<uint32_t> rgba(size_t{w} * h);
    ASSERT_EQ(TIFFReadRGBAImageOriented(tif, w, h, rgba.data(), ORIENTATION_TOPLEFT, 0), 1);
    TIFFClose(tif);
    HostImage img;
    ASSERT_EQ(readCaptured(path("j.tif"), img).status, OPIX_OK) << tile;
    ASSERT_EQ(img.surfaceFormat, OPIX_I8);
    int worst = 0;
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x) {
        ASSERT_EQ(img.data[y * img.pitch + x], TIFFGetR(rgba[y * w + x])) << x << "," << y << " tile " << tile;
        worst = std::max(worst, std::abs(int{img.data[y * img.pitch + x]} - px[y * w + x]));
      }
    EXPECT_LE(worst, 4) << tile;
  }
}

TEST_F(TiffFiles, GrayPalettesAreReadThroughTheirLevels) {
  const uint32_t w = 9, h = 4;
  const Bytes px = randomBytes(size_t{w} * h, 11);
  for (bool eightBitEntries : {false, true}) {
    TiffLayout l;
    l.photometric = PHOTOMETRIC_PALETTE;
    for (int c = 0; c < 3; ++c)
      for (int i = 0; i < 256; ++i)
        l.colormap.push_back(static_cast<uint16_t>((255 - i) * (eightBitEntries ? 1 : 257)));
    ASSERT_TRUE(writeTiffFile(path("p.tif"), w, h, l, px));
    HostImage img;
    ASSERT_EQ(readCaptured(path("p.tif"), img).status, OPIX_OK) << eightBitEntries;
    ASSERT_EQ(img.surfaceFormat, OPIX_I8);
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x) ASSERT_EQ(img.data[y * img.pitch + x], 255 - px[y * w + x]) << x << "," << y;
    EXPECT_EQ(img.data[w], 0) << "row padding";
  }
}

// Where strip `strip`'s byte count lies in a little-endian classic TIFF of
// several strips, and whether it is a SHORT.
size_t stripByteCountAt(const Bytes& b, uint32_t strip, bool& isShort) {
  const uint32_t ifd = get32(b, 4);
  for (uint32_t i = 0; i < get16(b, ifd); ++i) {
    const size_t e = ifd + 2 + 12 * i;
    if (get16(b, e) != 279) continue;
    isShort = get16(b, e + 2) == 3;
    const size_t size = isShort ? 2 : 4;
    return (get32(b, e + 4) * size <= 4 ? e + 8 : get32(b, e + 8)) + size * strip;
  }
  ADD_FAILURE() << "no StripByteCounts";
  return 0;
}
uint32_t stripByteCount(const Bytes& b, uint32_t strip) {
  bool isShort;
  const size_t at = stripByteCountAt(b, strip, isShort);
  return isShort ? get16(b, at) : get32(b, at);
}
void setStripByteCount(Bytes& b, uint32_t strip, uint32_t count) {
  bool isShort;
  const size_t at = stripByteCountAt(b, strip, isShort);
  isShort ? le16(b, at, count) : le32(b, at, count);
}

TiffLayout layout(uint16_t spp, uint16_t bps, uint16_t photometric, uint16_t sampleFormat = SAMPLEFORMAT_UINT,
                  uint16_t planar = PLANARCONFIG_CONTIG, std::vector<uint16_t> colormap = {}) {
  TiffLayout l;
  l.spp = spp;
  l.bps = bps;
  l.photometric = photometric;
  l.sampleFormat = sampleFormat;
  l.planar = planar;
  l.colormap = std::move(colormap);
  return l;
}

TEST_F(TiffFiles, ColourUnsupportedAndDamagedFilesGetTheirStatus) {
  HostImage img;
  TiffLayout pages;
  pages.pages = 2;
  ASSERT_TRUE(writeTiffFile(path("pages.tif"), 4, 4, pages, Bytes(16, 1)));
  ReadResult r = readCaptured(path("pages.tif"), img);
  EXPECT_EQ(r.status, OPIX_UNSUPPORTED_FORMAT);
  EXPECT_EQ(r.err, "Number of directories more than 1 (2)\nInput file has unappropriate format\n");

  std::vector<uint16_t> coloured;
  for (int c = 0; c < 3; ++c)
    for (int i = 0; i < 256; ++i) coloured.push_back(static_cast<uint16_t>(c == 1 && i == 7 ? 0 : i * 257));
  std::vector<uint16_t> gray4;
  for (int c = 0; c < 3; ++c)
    for (int i = 0; i < 16; ++i) gray4.push_back(static_cast<uint16_t>(i * 4369));
  const struct {
    const char* name;
    TiffLayout layout;
    uint32_t w;
    opixStatus_t status;
    const char* err;
  } cases[] = {
      {"palette.tif", layout(1, 8, PHOTOMETRIC_PALETTE, SAMPLEFORMAT_UINT, PLANARCONFIG_CONTIG, coloured), 4,
       OPIX_IO_ERROR, nullptr},
      {"rgba.tif", layout(4, 8, PHOTOMETRIC_RGB), 4, OPIX_IO_ERROR, nullptr},
      {"rgbplanes.tif", layout(3, 8, PHOTOMETRIC_RGB, SAMPLEFORMAT_UINT, PLANARCONFIG_SEPARATE), 4, OPIX_IO_ERROR,
       nullptr},
      {"cmyk.tif", layout(4, 8, PHOTOMETRIC_SEPARATED), 4, OPIX_IO_ERROR, nullptr},
      {"ycbcr.tif", layout(3, 8, PHOTOMETRIC_YCBCR), 4, OPIX_IO_ERROR, nullptr},
      {"lab.tif", layout(3, 8, PHOTOMETRIC_CIELAB), 4, OPIX_IO_ERROR, nullptr},
      {"signed.tif", layout(1, 16, PHOTOMETRIC_MINISBLACK, SAMPLEFORMAT_INT), 4, OPIX_UNSUPPORTED_FORMAT, ""},
      {"float.tif", layout(1, 32, PHOTOMETRIC_MINISBLACK, SAMPLEFORMAT_IEEEFP), 4, OPIX_UNSUPPORTED_FORMAT, ""},
      {"bits1.tif", layout(1, 1, PHOTOMETRIC_MINISBLACK), 16, OPIX_UNSUPPORTED_FORMAT, ""},
      {"bits12.tif", layout(1, 12, PHOTOMETRIC_MINISBLACK), 8, OPIX_UNSUPPORTED_FORMAT, ""},
      {"gray4.tif", layout(1, 4, PHOTOMETRIC_PALETTE, SAMPLEFORMAT_UINT, PLANARCONFIG_CONTIG, gray4), 8,
       OPIX_UNSUPPORTED_FORMAT, ""},
      {"whiteis0.tif", layout(1, 8, PHOTOMETRIC_MINISWHITE), 4, OPIX_UNSUPPORTED_FORMAT, ""},
      {"grayalpha.tif", layout(2, 8, PHOTOMETRIC_MINISBLACK), 4, OPIX_UNSUPPORTED_FORMAT, ""},
  };
  for (const auto& c : cases) {
    const size_t bytes = (size_t{c.w} * c.layout.spp * c.layout.bps + 7) / 8 * 4;
    ASSERT_TRUE(writeTiffFile(path(c.name), c.w, 4, c.layout, Bytes(bytes, 1))) << c.name;
    r = readCaptured(path(c.name), img);
    EXPECT_EQ(r.status, c.status) << c.name;
    EXPECT_EQ(r.err, c.err ? "Input file has unappropriate format\n" : "Input file must not be color\n") << c.name;
    EXPECT_EQ(img.data, nullptr) << c.name;
  }

  // Our own uncompressed file cut short of its pixels or its directory.
  const Bytes px(64 * 8, 5);
  ASSERT_TRUE(writeTiff(path("whole.tif"), px.data(), 64, 64, 8, 1, 1));
  const Bytes whole = load(path("whole.tif"));
  for (size_t cut : {size_t{4}, size_t{200}, whole.size() - 20}) {
    Bytes b(whole.begin(), whole.begin() + cut);
    EXPECT_EQ(readCaptured(put("cut.tif", b), img).status, OPIX_IO_ERROR) << cut;
  }
  // The directory intact and moved up, 100 of the 512 pixel bytes before it.
  Bytes shortPixels = whole;
  shortPixels.erase(shortPixels.begin() + 108, shortPixels.end() - 102);
  le32(shortPixels, 4, 108);
  EXPECT_EQ(readCaptured(put("short.tif", shortPixels), img).status, OPIX_IO_ERROR);
  // Two LZW strips: the second of no bytes, or the first cut to half its codes.
  TiffLayout lzwLayout;
  lzwLayout.compression = COMPRESSION_LZW;
  lzwLayout.rowsPerStrip = 4;
  ASSERT_TRUE(writeTiffFile(path("lzw.tif"), 64, 8, lzwLayout, randomBytes(512, 4)));
  const Bytes lzw = load(path("lzw.tif"));
  Bytes empty = lzw;
  setStripByteCount(empty, 1, 0);
  r = readCaptured(put("empty.tif", empty), img);
  EXPECT_EQ(r.status, OPIX_IO_ERROR);
  EXPECT_EQ(r.err, "Input file has unappropriate format\n");
  Bytes cut = lzw;
  setStripByteCount(cut, 0, stripByteCount(cut, 0) / 2);
  r = readCaptured(put("badlzw.tif", cut), img);
  EXPECT_EQ(r.status, OPIX_IO_ERROR);
  EXPECT_EQ(r.err, "Input file has unappropriate format\n");
  EXPECT_EQ(img.data, nullptr);
}

TEST_F(TiffFiles, HugeClaimsAreRefusedBeforeTheImageIsAllocated) {
  HostImage img;
  EXPECT_EQ(readCaptured(put("wide.tif", claimingTiff(65536, 16, 16)), img).status, OPIX_UNSUPPORTED_FORMAT);
  EXPECT_EQ(readCaptured(put("tall.tif", claimingTiff(16, 65536, 16)), img).status, OPIX_UNSUPPORTED_FORMAT);
  // 4 GiB claimed by 16 bytes of LZW codes, which decode to 64 KiB at most.
  const std::string huge = put("huge.tif", claimingTiff(65535, 65535, 16));
  EXPECT_EQ(readCaptured(huge, img).status, OPIX_IO_ERROR);
#if !OPIX_TEST_SANITIZED
  // With 1 GiB of address space to spare an allocation of the claimed size
  // would fail as lack of memory; the refusal comes before it.
  const pid_t pid = fork();
  if (pid == 0) {
    rlimit limit{};
    getrlimit(RLIMIT_AS, &limit);
    std::ifstream status("/proc/self/statm");
    uint64_t pages = 0;
    status >> pages;
    limit.rlim_cur = pages * static_cast<uint64_t>(sysconf(_SC_PAGESIZE)) + (uint64_t{1} << 30);
    setrlimit(RLIMIT_AS, &limit);
    DecodedImage d;
    int code;
    try {
      code = readTiff(huge, d);
    } catch (const std::bad_alloc&) {
      code = 100;
    }
    _exit(code);
  }
  int wstatus = 0;
  ASSERT_EQ(waitpid(pid, &wstatus, 0), pid);
  ASSERT_TRUE(WIFEXITED(wstatus));
  EXPECT_EQ(WEXITSTATUS(wstatus), kTiffReadError);
#endif
  // The same claim with a strip that could hold it, but lies past the file's end.
  Bytes past = claimingTiff(4096, 4096, 16);
  le32(past, 10 + 12 * 7 + 8, 4096);
  EXPECT_EQ(readCaptured(put("past.tif", past), img).status, OPIX_IO_ERROR);
  EXPECT_EQ(img.data, nullptr);
}

// What `read` returns in a child process with 50 MB of address space to
// spare; 100 when an allocation fails there. Sanitizers reserve more address
// space than that: callers skip it under them.
template <class Read>
int codeWithin50MB(Read read) {
  const pid_t pid = fork();
  if (pid == 0) {
    rlimit limit{};
    getrlimit(RLIMIT_AS, &limit);
    std::ifstream status("/proc/self/statm");
    uint64_t pages = 0;
    status >> pages;
    limit.rlim_cur = pages * static_cast<uint64_t>(sysconf(_SC_PAGESIZE)) + (uint64_t{50} << 20);
    setrlimit(RLIMIT_AS, &limit);
    int code;
    try {
      code = read();
    } catch (const std::bad_alloc&) {
      code = 100;
    }
    _exit(code);
  }
  int wstatus = 0;
  if (waitpid(pid, &wstatus, 0) != pid || !WIFEXITED(wstatus)) return -1;
  return WEXITSTATUS(wstatus);
}

// A little-endian gray file of `strips` Deflate strips of `rowsPerStrip`
// rows, every one of them naming the same stored bytes: zero rows, which
// Deflate shrinks about a thousandfold.
Bytes sharedStripTiff(uint32_t width, uint32_t rowsPerStrip, uint32_t strips, uint16_t bits) {
  const Bytes zeros(size_t{width} * bits / 8 * rowsPerStrip, 0);
  uLongf packedSize = compressBound(zeros.size());
  Bytes packed(packedSize);
  EXPECT_EQ(compress2(packed.data(), &packedSize, zeros.data(), zeros.size(), 9), Z_OK);
  packed.resize(packedSize);
  constexpr uint32_t kEntries = 9;
  const uint32_t data = 8, arrays = data + static_cast<uint32_t>(packed.size());
  const uint32_t offsets = arrays, counts = arrays + 4 * strips, ifd = counts + 4 * strips;
  Bytes b(ifd + 2 + 12 * kEntries + 4, 0);
  b[0] = b[1] = 'I';
  le16(b, 2, 42);
  le32(b, 4, ifd);
  std::copy(packed.begin(), packed.end(), b.begin() + data);
  for (uint32_t i = 0; i < strips; ++i) {
    le32(b, offsets + 4 * i, data);
    le32(b, counts + 4 * i, static_cast<uint32_t>(packed.size()));
  }
  const uint32_t fields[kEntries][4] = {{256, 4, 1, width},
                                        {257, 4, 1, rowsPerStrip * strips},
                                        {258, 3, 1, bits},
                                        {259, 3, 1, COMPRESSION_ADOBE_DEFLATE},
                                        {262, 3, 1, PHOTOMETRIC_MINISBLACK},
                                        {273, 4, strips, offsets},
                                        {277, 3, 1, 1},
                                        {278, 4, 1, rowsPerStrip},
                                        {279, 4, strips, counts}};
  le16(b, ifd, kEntries);
  for (uint32_t i = 0; i < kEntries; ++i) {
    const size_t at = ifd + 2 + 12 * i;
    le16(b, at, fields[i][0]);
    le16(b, at + 2, fields[i][1]);
    le32(b, at + 4, fields[i][2]);
    le32(b, at + 8, fields[i][3]);
  }
  return b;
}

// Strips that share their bytes decode to no more than the file's bytes
// allow: a file of a few kilobytes whose 192 strips name the same 4 MB of
// Deflate zeros claims an 805 MB image, and is refused without decoding.
// The same strips, each stored once, are read.
TEST_F(TiffFiles, StripsSharingTheirBytesCannotPassForAHugeImage) {
  if (!TIFFIsCODECConfigured(COMPRESSION_ADOBE_DEFLATE)) GTEST_SKIP() << "libtiff without Deflate";
  const Bytes bomb = sharedStripTiff(16384, 128, 192, 16);
  ASSERT_LT(bomb.size(), 8000u);
  const std::string path = put("bomb.tif", bomb);
  HostImage img;
  DecodedImage d;
  const ReadResult r = readCaptured(path, img);
  EXPECT_EQ(r.status, OPIX_IO_ERROR);
  EXPECT_EQ(r.err, "Input file has unappropriate format\n");
  EXPECT_EQ(img.data, nullptr);
  // Refused within 50 MB of address space: nothing of the claimed size is
  // allocated, let alone decoded.
  if (!OPIX_TEST_SANITIZED) {
    EXPECT_EQ(codeWithin50MB([&] { return int(readTiff(path, d)); }), kTiffReadError);
  }
  // A small image of shared strips is within what its bytes can give.
  ASSERT_EQ(readTiff(put("shared.tif", sharedStripTiff(256, 16, 4, 8)), d), kTiffOk);
  EXPECT_EQ(d.height, 64u);
}

// Compressed pixels that decode to more than the caller's limit are refused
// before anything is decoded; the caller may raise the limit.
TEST_F(TiffFiles, DecodedSizeLimitCanBeRaised) {
  TiffLayout l;
  l.compression = COMPRESSION_LZW;
  l.rowsPerStrip = 64;
  ASSERT_TRUE(writeTiffFile(path("zeros.tif"), 256, 256, l, Bytes(256 * 256, 0)));
  ASSERT_LT(load(path("zeros.tif")).size(), 65536u);
  DecodedImage d;
  EXPECT_EQ(readTiff(path("zeros.tif"), d, 65535), kTiffTooLarge);
  EXPECT_EQ(d.data, nullptr);
  EXPECT_EQ(readTiff(path("zeros.tif"), d, 65536), kTiffOk);
  EXPECT_EQ(readTiff(path("zeros.tif"), d), kTiffOk);
  // Uncompressed pixels are all in the file: the limit does not apply.
  l.compression = COMPRESSION_NONE;
  ASSERT_TRUE(writeTiffFile(path("plain.tif"), 256, 256, l, Bytes(256 * 256, 7)));
  EXPECT_EQ(readTiff(path("plain.tif"), d, 1000), kTiffOk);
}

// A BMP whose pixels would begin past the end of the file holds none of them.
TEST_F(BmpFiles, PixelsPastTheEndOfTheFileAreRefusedBeforeTheImageIsAllocated) {
  Bytes b = makeBmp(16777472, 48, 24, {}, Bytes(64, 0));
  le32(b, 2, 0xFFFFFFF0u);  // a size field that claims room for them
  le32(b, 10, static_cast<uint32_t>(b.size()) + 4);
  const std::string path = put("past.bmp", b);
  HostImage img;
  EXPECT_EQ(readCaptured(path, img).status, OPIX_IO_ERROR);
  EXPECT_EQ(img.data, nullptr);
  DecodedImage d;
  if (!OPIX_TEST_SANITIZED) {
    EXPECT_EQ(codeWithin50MB([&] { return int(readBmp(path, d)); }), kBmpReadError);
  }
}

}  // namespace
}  // namespace opix::test
