// PNG files: test images are made and our output is read back with libpng
// itself, so that the reader and the writer are each checked against the
// library rather than against each other.
#include <png.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>

#include "ImageFilesTestSupport.h"

namespace opix::test {
namespace {

class PngFiles : public ImageFilesTest {};

void abortOnError(png_structp, png_const_charp message) {
  std::fprintf(stderr, "libpng: %s\n", message);
  std::abort();
}

void append(png_structp png, png_bytep data, size_t n) {
  auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + n);
}
void noFlush(png_structp) {}

struct PngLayout {
  uint32_t width, height;
  int colorType;
  int depth;
  bool interlaced = false;
  int significantBits = 0;  // sBIT of every channel, 0 for none
};

// A PNG of `samples` (row after row, every channel of a pixel in turn).
Bytes makePng(const PngLayout& s, const std::vector<uint16_t>& samples) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, abortOnError, nullptr);
  png_infop info = png_create_info_struct(png);
  Bytes out;
  png_set_write_fn(png, &out, append, noFlush);
  png_set_IHDR(png, info, s.width, s.height, s.depth, s.colorType,
               s.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (s.colorType == PNG_COLOR_TYPE_PALETTE) {
    png_color palette[2] = {{10, 20, 30}, {40, 50, 60}};
    png_set_PLTE(png, info, palette, 2);
  }
  if (s.significantBits) {
    png_color_8 sig{};
    sig.red = sig.green = sig.blue = sig.gray = sig.alpha = static_cast<png_byte>(s.significantBits);
    png_set_sBIT(png, info, &sig);
  }
  png_write_info(png, info);
  const uint32_t perRow = static_cast<uint32_t>(samples.size() / s.height);
  // Packed rows as the file stores them: big-endian 16-bit, or bits packed
  // from the most significant end.
  std::vector<Bytes> rows(s.height);
  std::vector<png_bytep> pointers(s.height);
  for (uint32_t y = 0; y < s.height; ++y) {
    Bytes& r = rows[y];
    r.assign((uint64_t{perRow} * s.depth + 7) / 8, 0);
    for (uint32_t i = 0; i < perRow; ++i) {
      const uint16_t v = samples[uint64_t{y} * perRow + i];
      if (s.depth == 16) {
        r[2 * i] = static_cast<uint8_t>(v >> 8);
        r[2 * i + 1] = static_cast<uint8_t>(v);
      } else {
        const uint32_t bit = i * s.depth;
        r[bit / 8] = static_cast<uint8_t>(r[bit / 8] | v << (8 - s.depth - bit % 8));
      }
    }
    pointers[y] = r.data();
  }
  png_write_image(png, pointers.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

struct Decoded {
  uint32_t width = 0, height = 0;
  int colorType = 0, depth = 0;
  bool hasSignificantBits = false;
  png_color_8 significant{};
  std::vector<uint16_t> samples;
};

// Reads a file as libpng gives it, without transformations.
Decoded decodePng(const std::string& path) {
  Decoded d;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return d;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, abortOnError, nullptr);
  png_infop info = png_create_info_struct(png);
  png_init_io(png, f);
  png_read_info(png, info);
  d.width = png_get_image_width(png, info);
  d.height = png_get_image_height(png, info);
  d.colorType = png_get_color_type(png, info);
  d.depth = png_get_bit_depth(png, info);
  png_color_8p sig = nullptr;
  if (png_get_sBIT(png, info, &sig) && sig) {
    d.hasSignificantBits = true;
    d.significant = *sig;
  }
  const size_t rowBytes = png_get_rowbytes(png, info);
  std::vector<Bytes> rows(d.height, Bytes(rowBytes));
  std::vector<png_bytep> pointers;
  for (Bytes& r : rows) pointers.push_back(r.data());
  png_read_image(png, pointers.data());
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(f);
  for (const Bytes& r : rows)
    for (size_t i = 0; i < rowBytes; i += d.depth / 8)
      d.samples.push_back(d.depth == 16 ? static_cast<uint16_t>(r[i] << 8 | r[i + 1]) : r[i]);
  return d;
}

// Host rows of `width` x `channels` 16-bit samples at `pitch` bytes.
Bytes hostRows16(const std::vector<uint16_t>& samples, uint32_t perRow, uint32_t pitch) {
  const size_t height = samples.size() / perRow;
  Bytes b(pitch * height, 0xEE);
  for (size_t y = 0; y < height; ++y) std::memcpy(b.data() + y * pitch, samples.data() + y * perRow, 2 * perRow);
  return b;
}

TEST_F(PngFiles, EightBitColourIsWrittenAsItIs) {
  // 3 x 2 RGB with a padded pitch: the padding never reaches the file.
  const Bytes host = {1,  2,  3,  4,  5,  6,  7,  8,  9,   0xEE, 0xEE, 0xEE,
                      10, 11, 12, 13, 14, 15, 16, 17, 255, 0xEE, 0xEE, 0xEE};
  std::string out = path("rgb.png");
  ASSERT_EQ(writeImage(out, host.data(), OPIX_RGB8, 2, 3, 12), OPIX_OK);
  const Decoded d = decodePng(out);
  EXPECT_EQ(d.width, 3u);
  EXPECT_EQ(d.height, 2u);
  EXPECT_EQ(d.colorType, PNG_COLOR_TYPE_RGB);
  EXPECT_EQ(d.depth, 8);
  EXPECT_FALSE(d.hasSignificantBits);
  EXPECT_EQ(d.samples, (std::vector<uint16_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 255}));
  EXPECT_EQ(listing(), std::vector<std::string>{"rgb.png"});
}

TEST_F(PngFiles, DeeperResultsFillTheSixteenBitRangeAndKeepTheirDepth) {
  // Twelve bits: 0, 1, 0x800, 0xABC, 4095 and a value beyond the depth,
  // which is limited to it.
  const std::vector<uint16_t> twelve = {0, 1, 0x800, 0xABC, 4095, 5000};
  const Bytes host = hostRows16(twelve, 6, 16);
  std::string out = path("deep.png");
  ASSERT_EQ(writeImage(out, host.data(), OPIX_RGB12, 1, 2, 16), OPIX_OK);
  Decoded d = decodePng(out);
  EXPECT_EQ(d.depth, 16);
  EXPECT_EQ(d.colorType, PNG_COLOR_TYPE_RGB);
  ASSERT_TRUE(d.hasSignificantBits);
  EXPECT_EQ(d.significant.red, 12);
  EXPECT_EQ(d.significant.green, 12);
  EXPECT_EQ(d.significant.blue, 12);
  EXPECT_EQ(d.samples, (std::vector<uint16_t>{0, 0x0010, 0x8008, 0xABCA, 0xFFFF, 0xFFFF}));

  // Our reader gives the samples back at their depth.
  DecodedImage back;
  ASSERT_TRUE(readPng(out, back));
  EXPECT_EQ(back.bits, 12u);
  EXPECT_EQ(back.channels, 3u);
  std::vector<uint16_t> samples(6);
  std::memcpy(samples.data(), back.data.get(), 12);
  EXPECT_EQ(samples, (std::vector<uint16_t>{0, 1, 0x800, 0xABC, 4095, 4095}));

  // Sixteen bits go out unchanged, with their depth named too.
  const std::vector<uint16_t> sixteen = {0, 1, 0x1234, 0xFFFF, 0x8000, 7};
  const Bytes host16 = hostRows16(sixteen, 3, 8);
  out = path("sixteen.png");
  ASSERT_EQ(writeImage(out, host16.data(), OPIX_RGB16, 2, 1, 8), OPIX_OK);
  d = decodePng(out);
  EXPECT_EQ(d.depth, 16);
  ASSERT_TRUE(d.hasSignificantBits);
  EXPECT_EQ(d.significant.red, 16);
  EXPECT_EQ(d.samples, sixteen);
}

TEST_F(PngFiles, GreyMosaicsAreReadAtTheirDepth) {
  // 5 x 2 of 8 bits: rows padded to 8 bytes, the padding zero.
  const std::vector<uint16_t> eight = {0, 1, 2, 3, 4, 250, 251, 252, 253, 255};
  HostImage img;
  ASSERT_EQ(readCaptured(put("g8.png", makePng({5, 2, PNG_COLOR_TYPE_GRAY, 8}, eight)), img).status, OPIX_OK);
  EXPECT_EQ(img.surfaceFormat, OPIX_I8);
  EXPECT_EQ(img.pitch, 8u);
  EXPECT_EQ(Bytes(img.data.get(), img.data.get() + 16),
            (Bytes{0, 1, 2, 3, 4, 0, 0, 0, 250, 251, 252, 253, 255, 0, 0, 0}));

  // 16 bits, interlaced.
  std::vector<uint16_t> sixteen(9 * 7);
  for (size_t i = 0; i < sixteen.size(); ++i) sixteen[i] = static_cast<uint16_t>(i * 1021 + 3);
  PngLayout layout{9, 7, PNG_COLOR_TYPE_GRAY, 16};
  layout.interlaced = true;
  ASSERT_EQ(readCaptured(put("g16.png", makePng(layout, sixteen)), img).status, OPIX_OK);
  EXPECT_EQ(img.surfaceFormat, OPIX_I16);
  EXPECT_EQ(img.width, 9u);
  EXPECT_EQ(sample16(img, 0, 0), 3);
  EXPECT_EQ(sample16(img, 8, 6), sixteen[62]);
  EXPECT_EQ(sample16(img, 4, 3), sixteen[3 * 9 + 4]);

  // 16 bits holding 12 significant ones, scaled up as our writer does: read
  // as a 12-bit mosaic of the original samples.
  layout = {4, 1, PNG_COLOR_TYPE_GRAY, 16};
  layout.significantBits = 12;
  ASSERT_EQ(readCaptured(put("g12.png", makePng(layout, {0x0010, 0x8008, 0xABCA, 0xFFFF})), img).status, OPIX_OK);
  EXPECT_EQ(img.surfaceFormat, OPIX_I12);
  EXPECT_EQ(img.bitsPerChannel, 12u);
  EXPECT_EQ(sample16(img, 0, 0), 1);
  EXPECT_EQ(sample16(img, 1, 0), 0x800);
  EXPECT_EQ(sample16(img, 2, 0), 0xABC);
  EXPECT_EQ(sample16(img, 3, 0), 4095);

  // 4-bit grey expands to 8 bits; grey with alpha loses the alpha.
  ASSERT_EQ(readCaptured(put("g4.png", makePng({3, 1, PNG_COLOR_TYPE_GRAY, 4}, {0, 15, 8})), img).status, OPIX_OK);
  EXPECT_EQ(img.surfaceFormat, OPIX_I8);
  EXPECT_EQ(Bytes(img.data.get(), img.data.get() + 3), (Bytes{0, 255, 136}));
  ASSERT_EQ(readCaptured(put("ga.png", makePng({2, 1, PNG_COLOR_TYPE_GRAY_ALPHA, 8}, {7, 255, 9, 0})), img).status,
            OPIX_OK);
  EXPECT_EQ(img.surfaceFormat, OPIX_I8);
  EXPECT_EQ(Bytes(img.data.get(), img.data.get() + 2), (Bytes{7, 9}));
}

TEST_F(PngFiles, ColourFilesDecodeAsColour) {
  HostImage img;
  ASSERT_EQ(readCaptured(put("rgb.png", makePng({1, 1, PNG_COLOR_TYPE_RGB, 8}, {1, 2, 3})), img).status, OPIX_OK);
  EXPECT_EQ(img.surfaceFormat, OPIX_RGB8);
  ASSERT_EQ(readCaptured(put("pal.png", makePng({2, 1, PNG_COLOR_TYPE_PALETTE, 8}, {1, 0})), img).status, OPIX_OK);
  EXPECT_EQ(img.surfaceFormat, OPIX_RGB8);
  EXPECT_EQ(Bytes(img.data.get(), img.data.get() + 6), (Bytes{40, 50, 60, 10, 20, 30}));
}

TEST_F(PngFiles, MalformedFilesAreRefused) {
  std::vector<uint16_t> samples(64 * 64);
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<uint16_t>(i * 7 % 251);
  const Bytes good = makePng({64, 64, PNG_COLOR_TYPE_GRAY, 8}, samples);
  HostImage img;

  Bytes truncated(good.begin(), good.begin() + static_cast<long>(good.size() / 2));
  ReadResult r = readCaptured(put("cut.png", truncated), img);
  EXPECT_EQ(r.status, OPIX_IO_ERROR);
  EXPECT_EQ(r.err, "Input file has unappropriate format\n");
  EXPECT_EQ(img.data, nullptr);

  Bytes badCrc = good;
  badCrc[29] ^= 0xFF;  // the header chunk's CRC
  EXPECT_EQ(readCaptured(put("crc.png", badCrc), img).status, OPIX_IO_ERROR);

  EXPECT_EQ(readCaptured(put("text.png", std::string("P5\n1 1\n255\n\x01")), img).status, OPIX_IO_ERROR);

  // A header asking for 60000 x 60000 pixels in a file of a few bytes is
  // refused before the image buffer is allocated.
  Bytes huge = makePng({1, 1, PNG_COLOR_TYPE_GRAY, 8}, {0});
  const uint32_t side = 60000;
  for (int i = 0; i < 4; ++i) {
    huge[16 + i] = static_cast<uint8_t>(side >> (24 - 8 * i));
    huge[20 + i] = static_cast<uint8_t>(side >> (24 - 8 * i));
  }
  const uint32_t crc = static_cast<uint32_t>(crc32(crc32(0, nullptr, 0), huge.data() + 12, 17));
  for (int i = 0; i < 4; ++i) huge[29 + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
  EXPECT_EQ(readCaptured(put("huge.png", huge), img).status, OPIX_IO_ERROR);
  EXPECT_EQ(img.data, nullptr);
}

TEST_F(PngFiles, AFailedWriteKeepsThePreviousFile) {
  const Bytes previous = {'o', 'l', 'd'};
  std::string out = put("keep.png", previous);
  const Bytes host(12, 7);
  // A pitch shorter than a row is refused before the file is touched.
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(writeImage(out, host.data(), OPIX_RGB8, 1, 4, 8), OPIX_IO_ERROR);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Could not save to file\n");
  EXPECT_EQ(load(out), previous);
  EXPECT_EQ(listing(), std::vector<std::string>{"keep.png"});
  std::string missing = path("no/such/folder.png");
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(writeImage(missing, host.data(), OPIX_RGB8, 1, 4, 12), OPIX_IO_ERROR);
  ::testing::internal::GetCapturedStderr();
}

TEST_F(PngFiles, ExtensionRules) {
  EXPECT_TRUE(isFileType("in.PNG", kFileGrayInput));
  EXPECT_TRUE(isFileType("out.png", kFileColorOutput));
  EXPECT_TRUE(isFileType("any.png", kFileAnyImage));
}

}  // namespace
}  // namespace opix::test
