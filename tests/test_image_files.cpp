// Host image files: writers checked byte by byte (TIFF through libtiff's own
// reader), readers round-tripped, malformed files refused, by format.
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

#include "ImageFiles.h"
#include "TestSupport.h"

using namespace opix;

namespace {

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void spill(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

class Files : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/opix_files_XXXXXX";
    dir_ = mkdtemp(tmpl);
  }
  void TearDown() override { std::system(("rm -rf " + dir_).c_str()); }
  std::string path(const std::string& n) const { return dir_ + "/" + n; }
  // Reads a file through the image reader with stderr captured.
  opixStatus_t read(const std::string& name, HostImage& image, uint32_t w = 0, uint32_t h = 0, uint32_t bits = 8) {
    ::testing::internal::CaptureStderr();
    const opixStatus_t s = readImage(path(name), "out.ppm", image, h, w, bits);
    err = ::testing::internal::GetCapturedStderr();
    return s;
  }
  std::string dir_, err;
};

}  // namespace

TEST_F(Files, PnmWriterBytesAndRoundTrip) {
  // 3 x 2 gray, 8 bits, pitch 4: no row padding in the file.
  const uint8_t gray[8] = {1, 2, 3, 0xEE, 4, 5, 6, 0xEE};
  ASSERT_TRUE(writePnm(path("g.pgm"), gray, 3, 4, 2, 8, 1));
  EXPECT_EQ(slurp(path("g.pgm")), std::string("P5\n3\n2\n255\n\1\2\3\4\5\6", 17));
  // 2 x 1 colour at 12 bits: maxval 4095, most significant byte first.
  const uint16_t rgb[3 * 2] = {0x0123, 0x0456, 0x0789, 0x0ABC, 0x0DEF, 0x0FFF};
  ASSERT_TRUE(writePnm(path("c.ppm"), rgb, 2, 12, 1, 12, 3));
  EXPECT_EQ(slurp(path("c.ppm")),
            std::string("P6\n2\n1\n4095\n\x01\x23\x04\x56\x07\x89\x0A\xBC\x0D\xEF\x0F\xFF", 24));

  HostImage image;
  ASSERT_EQ(read("g.pgm", image), OPIX_OK);
  EXPECT_EQ(image.surfaceFormat, OPIX_I8);
  EXPECT_EQ(image.width, 3u);
  EXPECT_EQ(image.height, 2u);
  EXPECT_EQ(image.pitch, 4u);
  EXPECT_EQ(std::memcmp(image.data.get(), "\1\2\3", 3), 0);
  EXPECT_EQ(std::memcmp(image.data.get() + 4, "\4\5\6", 3), 0);
  HostImage colour;
  ASSERT_EQ(read("c.ppm", colour), OPIX_OK);
  EXPECT_EQ(colour.surfaceFormat, OPIX_RGB12);
  EXPECT_EQ(colour.bitsPerChannel, 12u);
  EXPECT_EQ(std::memcmp(colour.data.get(), rgb, sizeof rgb), 0);
}

TEST_F(Files, PnmRejections) {
  const char* bad[] = {
      "P7\n3 2\n255\n123456",          // bad magic
      "P5\n0 2\n255\n",                // zero width
      "P5\n3 0\n255\n",                // zero height
      "P5\n3 2\n255\n12345",           // one byte short
      "P5\n3",                         // truncated in the header
      "P5\n100000 100000\n65535\n",    // a pixel buffer beyond 4 GiB
      "P5\n3 2\n0\n123456",            // maxval below 1
  };
  for (const char* file : bad) {
    spill(path("bad.pgm"), file);
    HostImage image;
    EXPECT_EQ(read("bad.pgm", image), OPIX_IO_ERROR) << file;
    EXPECT_EQ(err, "Input file has unappropriate format\n") << file;
    EXPECT_FALSE(image.data);
  }
  HostImage image;
  EXPECT_EQ(read("missing.pgm", image), OPIX_IO_ERROR);
}

TEST_F(Files, RawSamplesOfEightAndTwelveBits) {
  spill(path("a.raw"), std::string("\x10\x20\x30\x40\x50\x60", 6));
  HostImage eight;
  ASSERT_EQ(read("a.raw", eight, 3, 2, 8), OPIX_OK);
  EXPECT_EQ(eight.surfaceFormat, OPIX_I8);
  EXPECT_EQ(eight.data[4], 0x50);
  // 12-bit samples in 16-bit little-endian containers, as the import expects.
  spill(path("b.raw"), std::string("\x23\x01\xFF\x0F\x00\x08\x01\x00", 8));
  HostImage twelve;
  ASSERT_EQ(read("b.raw", twelve, 2, 2, 12), OPIX_OK);
  EXPECT_EQ(twelve.surfaceFormat, OPIX_I12);
  EXPECT_EQ(twelve.pitch, 4u);
  uint16_t v[4];
  std::memcpy(v, twelve.data.get(), 8);
  EXPECT_EQ(v[0], 0x0123);
  EXPECT_EQ(v[1], 0x0FFF);
  EXPECT_EQ(v[3], 1);
  HostImage shortFile;
  EXPECT_EQ(read("b.raw", shortFile, 2, 3, 12), OPIX_IO_ERROR);  // two bytes per sample, one row missing
  HostImage zero;
  EXPECT_EQ(read("b.raw", zero, 0, 2, 12), OPIX_IO_ERROR);
}

TEST_F(Files, BmpWriterLayoutAndReader) {
  // 2 x 2 BGR, bottom-up rows of 6 bytes padded to 8.
  const uint8_t bgr[2 * 8] = {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0};
  ASSERT_TRUE(writeBmp(path("c.bmp"), bgr, 3, 2, 2, 8));
  const std::string f = slurp(path("c.bmp"));
  ASSERT_EQ(f.size(), 54u + 16u);
  EXPECT_EQ(f.substr(0, 2), "BM");
  auto u32 = [&](size_t at) {
    uint32_t v;
    std::memcpy(&v, f.data() + at, 4);
    return v;
  };
  auto u16 = [&](size_t at) {
    uint16_t v;
    std::memcpy(&v, f.data() + at, 2);
    return v;
  };
  EXPECT_EQ(u32(2), 70u);   // file size
  EXPECT_EQ(u32(10), 54u);  // pixel data offset
  EXPECT_EQ(u32(18), 2u);   // width
  EXPECT_EQ(u32(22), 2u);   // height: positive, bottom-up
  EXPECT_EQ(u16(28), 24u);  // bits per pixel
  EXPECT_EQ(u32(30), 0u);   // no compression
  EXPECT_EQ(f.substr(54, 6), std::string("\7\10\11\12\13\14", 6));  // last row first
  HostImage image;
  ASSERT_EQ(read("c.bmp", image), OPIX_OK);
  EXPECT_EQ(image.surfaceFormat, OPIX_BGR8);
  EXPECT_EQ(std::memcmp(image.data.get(), bgr, 6), 0);

  // A compressed file is unsupported; a damaged magic is invalid.
  std::string compressed = f;
  compressed[30] = 1;
  spill(path("z.bmp"), compressed);
  HostImage z;
  EXPECT_EQ(read("z.bmp", z), OPIX_UNSUPPORTED_FORMAT);
  std::string magic = f;
  magic[0] = 'X';
  spill(path("m.bmp"), magic);
  EXPECT_EQ(read("m.bmp", z), OPIX_INVALID_FORMAT);
  spill(path("t.bmp"), f.substr(0, 60));  // shorter than its header promises
  EXPECT_NE(read("t.bmp", z), OPIX_OK);
}

TEST_F(Files, TiffWriterReadByLibtiff) {
  const uint16_t rgb[2 * 3 * 2] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 4095};
  ASSERT_TRUE(writeTiff(path("c.tif"), rgb, 2, 12, 2, 2, 3));
  TIFFSetWarningHandler(nullptr);
  TIFF* t = TIFFOpen(path("c.tif").c_str(), "r");
  ASSERT_NE(t, nullptr);
  uint32_t w = 0, h = 0;
  uint16_t bits = 0, spp = 0, photometric = 0;
  TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
  TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
  TIFFGetField(t, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetField(t, TIFFTAG_SAMPLESPERPIXEL, &spp);
  TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric);
  EXPECT_EQ(w, 2u);
  EXPECT_EQ(h, 2u);
  EXPECT_EQ(bits, 16);
  EXPECT_EQ(spp, 3);
  EXPECT_EQ(photometric, PHOTOMETRIC_RGB);
  std::vector<uint16_t> row(6);
  ASSERT_EQ(TIFFReadScanline(t, row.data(), 1, 0), 1);
  EXPECT_EQ(row, (std::vector<uint16_t>{7, 8, 9, 10, 11, 4095}));
  TIFFClose(t);

  HostImage image;
  ASSERT_EQ(read("c.tif", image), OPIX_OK);
  EXPECT_EQ(image.surfaceFormat, OPIX_RGB16);
  EXPECT_EQ(std::memcmp(image.data.get(), rgb, 12), 0);
}

TEST_F(Files, WriterDispatchAndNames) {
  const uint8_t rgb[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  std::string name = path("x.pgm");  // a colour image named .pgm is written as .ppm
  ASSERT_EQ(writeImage(name, rgb, OPIX_RGB8, 1, 4, 12), OPIX_OK);
  EXPECT_EQ(name, path("x.ppm"));
  EXPECT_EQ(slurp(path("x.ppm")).substr(0, 11), "P6\n4\n1\n255\n");
  struct stat st {};
  EXPECT_NE(stat(path("x.pgm").c_str(), &st), 0);
  // A 16-bit result cannot go to BMP; nothing is left behind.
  const uint16_t wide[3] = {1, 2, 3};
  std::string bmp = path("w.bmp");
  ::testing::internal::CaptureStderr();
  EXPECT_NE(writeImage(bmp, wide, OPIX_RGB16, 1, 1, 8), OPIX_OK);
  ::testing::internal::GetCapturedStderr();
  EXPECT_NE(stat(bmp.c_str(), &st), 0);
  // A folder that does not exist fails cleanly.
  std::string missing = path("no/such/dir.ppm");
  ::testing::internal::CaptureStderr();
  EXPECT_NE(writeImage(missing, rgb, OPIX_RGB8, 1, 4, 12), OPIX_OK);
  ::testing::internal::GetCapturedStderr();
  // Only the finished files remain in the folder: no temporary names.
  EXPECT_EQ(std::system(("test $(ls -A " + dir_ + " | wc -l) -eq 1").c_str()), 0);
}

TEST_F(Files, MatrixA) {
  auto header = [](uint32_t w, uint32_t h, uint32_t c) {
    std::string s = "P7";
    for (uint32_t v : {w, h, c}) s.append(reinterpret_cast<const char*>(&v), 4);
    return s;
  };
  const float values[6] = {1.0f, 1.5f, 2.0f, 0.5f, 0.25f, 3.0f};
  spill(path("a.pfm"), header(3, 2, 1) + std::string(reinterpret_cast<const char*>(values), 24));
  HostImage holder;
  uint32_t w = 0, pitch = 0, h = 0, channels = 0;
  ASSERT_EQ(readMatrixA(path("a.pfm"), holder, w, pitch, 4, h, channels), OPIX_OK);
  EXPECT_EQ(w, 3u);
  EXPECT_EQ(h, 2u);
  EXPECT_EQ(channels, 1u);
  EXPECT_EQ(std::memcmp(holder.data.get(), values, 24), 0);
  // A row only partly present is refused, as is a bad magic.
  spill(path("p.pfm"), header(3, 2, 1) + std::string(reinterpret_cast<const char*>(values), 20));
  HostImage partial;
  EXPECT_EQ(readMatrixA(path("p.pfm"), partial, w, pitch, 4, h, channels), OPIX_IO_ERROR);
  spill(path("m.pfm"), "P6" + header(3, 2, 1).substr(2));
  EXPECT_EQ(readMatrixA(path("m.pfm"), partial, w, pitch, 4, h, channels), OPIX_IO_ERROR);
}
