// File-type rules, the image reader and writer dispatch, safe replacement of
// output files, host image copies and matrix A files.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cstring>

#include "ImageFilesTestSupport.h"
#include "TestSupport.h"

namespace opix::test {
namespace {

class Dispatch : public ImageFilesTest {};
class MatrixFiles : public ImageFilesTest {};

TEST(FileNames, ExtensionTestComparesFromTheLastDot) {
  EXPECT_TRUE(hasExtension("IMAGE.PGM", ".pgm"));
  EXPECT_TRUE(hasExtension("a.b/c.Tiff", ".tiff"));
  EXPECT_FALSE(hasExtension("x.pgm16", ".pgm"));
  EXPECT_FALSE(hasExtension("x.pgm", ".pgm16"));
  EXPECT_FALSE(hasExtension("pgm", ".pgm"));
  EXPECT_FALSE(hasExtension("x.yv12", ".YV12"));

  EXPECT_TRUE(isFileType("in.raw", kFileGrayInput));
  EXPECT_TRUE(isFileType("in.pgm16", kFileGrayInput));
  EXPECT_FALSE(isFileType("in.ppm", kFileGrayInput));
  EXPECT_FALSE(isFileType("out.ppm16", kFileColorOutput));
  EXPECT_FALSE(isFileType("out.pgm", kFileColorOutput));
  EXPECT_TRUE(isFileType("a.tif", kFileAnyImage2));
  EXPECT_FALSE(isFileType("a.raw", kFileAnyImage));
  EXPECT_TRUE(isFileType("v.JFIF", kFileJpeg));
  EXPECT_TRUE(isFileType("v.yv12", kFileYv12));
  EXPECT_FALSE(isFileType("a.bmp", 12));
  EXPECT_FALSE(isFileType("a.bmp", -1));
}

TEST_F(Dispatch, ReaderRefusesUnreadableAndUnknownFiles) {
  HostImage img;
  ReadResult r = readCaptured(path("missing.pgm"), img);
  EXPECT_EQ(r.status, OPIX_IO_ERROR);
  EXPECT_EQ(r.err, "Can not open input file\n");

  r = readCaptured(put("x.jpg", "not an image"), img);
  EXPECT_EQ(r.status, OPIX_UNSUPPORTED_FORMAT);
  EXPECT_EQ(r.err, "Input file has inappropriate extension\n");

  // A failed read leaves the record as it was.
  ASSERT_EQ(readCaptured(put("good.pgm", concat("P5 2 1 255\n", {4, 5})), img).status, OPIX_OK);
  EXPECT_EQ(readCaptured(put("bad.pgm", "P5 2 1 255\n"), img).status, OPIX_IO_ERROR);
  EXPECT_EQ(img.inputFileName, path("good.pgm"));
  EXPECT_EQ(img.width, 2u);
  EXPECT_EQ(img.data[1], 5);
}

TEST_F(Dispatch, WriterAdaptsNamesAndRefusesWhatItCannotWrite) {
  const Bytes rgb = randomBytes(12 * 2, 1);
  std::string name = path("OUT.PGM");
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(writeImage(name, rgb.data(), OPIX_RGB8, 2, 4, 12), OPIX_OK);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Unappropriate output file format. Set to PPM\n");
  EXPECT_EQ(name, path("OUT.PPM"));

  name = path("g.ppm");
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(writeImage(name, rgb.data(), OPIX_I8, 2, 4, 4), OPIX_OK);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Unappropriate output file format. Set to PGM\n");
  EXPECT_EQ(name, path("g.pgm"));
  EXPECT_EQ(load(name).size(), std::string("P5\n4\n2\n255\n").size() + 8);

  const struct {
    const char* name;
    opixSurfaceFormat_t format;
    opixStatus_t status;
    const char* err;
  } refused[] = {
      {"a.bmp", OPIX_I16, OPIX_UNSUPPORTED_FORMAT, "BMP file is not support two byte per channel format.\n"},
      {"a.bmp", OPIX_BGRX8, OPIX_IO_ERROR, "Could not save to file\n"},
      {"a.tif", OPIX_RGB16_PLANAR, OPIX_IO_ERROR, "Could not save to file\n"},
      {"a.jpg", OPIX_RGB8, OPIX_UNSUPPORTED_FORMAT, "Input file has inappropriate extension\n"},
      {"no/such/dir.bmp", OPIX_RGB8, OPIX_IO_ERROR, "Could not save to file\n"},
  };
  for (const auto& c : refused) {
    std::string n = path(c.name);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(writeImage(n, rgb.data(), c.format, 1, 2, 16), c.status) << c.name;
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.err) << c.name;
  }
  EXPECT_EQ(listing(), (std::vector<std::string>{"OUT.PPM", "g.pgm"}));
}

// A write that fails part-way (the file size limit here, a full disk in the
// field) keeps the previous file and leaves no temporary behind.
TEST_F(Dispatch, FailedWriteKeepsThePreviousFile) {
  const Bytes old = randomBytes(300, 9);
  put("keep.tif", old);
  chmod(path("keep.tif").c_str(), 0640);
  const Bytes big(64 * 64, 3);

  rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit small = saved;
  small.rlim_cur = 1000;
  auto oldHandler = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool written = writeTiff(path("keep.tif"), big.data(), 64, 64, 64, 1, 1);
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, oldHandler);

  EXPECT_FALSE(written);
  EXPECT_EQ(load(path("keep.tif")), old);
  EXPECT_EQ(listing(), std::vector<std::string>{"keep.tif"});

  // A successful replacement keeps the file's permissions.
  ASSERT_TRUE(writeTiff(path("keep.tif"), big.data(), 64, 64, 64, 1, 1));
  EXPECT_EQ(load(path("keep.tif")).size(), 8u + 64 * 64 + 102);
  struct stat st;
  ASSERT_EQ(stat(path("keep.tif").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(listing(), std::vector<std::string>{"keep.tif"});
}

TEST_F(Dispatch, ImageCopiesOwnTheirPixels) {
  HostImage img;
  ASSERT_EQ(readCaptured(put("a.pgm", concat("P5 3 2 255\n", {1, 2, 3, 4, 5, 6})), img).status, OPIX_OK);
  std::vector<HostImage> list;
  ASSERT_EQ(appendImageCopy(list, img), OPIX_OK);
  ASSERT_EQ(list.size(), 1u);
  const HostImage& copy = list[0];
  EXPECT_NE(copy.data.get(), img.data.get());
  EXPECT_EQ(std::memcmp(copy.data.get(), img.data.get(), 8), 0);
  EXPECT_EQ(copy.pitch, 4u);
  EXPECT_EQ(copy.outputFileName, img.outputFileName);
  img.data[0] = 99;
  EXPECT_EQ(copy.data[0], 1);
}

Bytes matrixFile(uint32_t w, uint32_t h, uint32_t c, size_t floats) {
  Bytes b = {'P', '7'};
  for (uint32_t v : {w, h, c})
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
  for (size_t i = 0; i < floats; ++i) {
    const float f = 0.25f * static_cast<float>(i);
    uint8_t raw[4];
    std::memcpy(raw, &f, 4);
    b.insert(b.end(), raw, raw + 4);
  }
  return b;
}

TEST_F(MatrixFiles, ReadsHeaderAndFloats) {
  const Bytes file = matrixFile(4, 2, 1, 8);
  ASSERT_EQ(file.size(), 14u + 32);
  HostImage m;
  uint32_t w = 0, pitch = 0, h = 0, c = 0;
  ASSERT_EQ(readMatrixA(put("a.bin", file), m, w, pitch, 4, h, c), OPIX_OK);
  EXPECT_EQ(w, 4u);
  EXPECT_EQ(h, 2u);
  EXPECT_EQ(c, 1u);
  EXPECT_EQ(pitch, 4u);
  EXPECT_EQ(m.pitch, 4u);
  EXPECT_EQ(m.bitsPerChannel, 8u);
  const float* f = reinterpret_cast<const float*>(m.data.get());
  EXPECT_EQ(f[0], 0.0f);
  EXPECT_EQ(f[7], 1.75f);

  ASSERT_EQ(readMatrixA(put("c.bin", matrixFile(2, 1, 3, 6)), m, w, pitch, 4, h, c), OPIX_OK);
  EXPECT_EQ(c, 3u);
  EXPECT_EQ(pitch, 6u);
}

TEST_F(MatrixFiles, MalformedFilesAreRefusedAndTheHolderKept) {
  HostImage m;
  uint32_t w = 0, pitch = 0, h = 0, c = 0;
  ASSERT_EQ(readMatrixA(put("a.bin", matrixFile(4, 2, 1, 8)), m, w, pitch, 4, h, c), OPIX_OK);
  const unsigned char* kept = m.data.get();

  Bytes p6 = matrixFile(4, 2, 1, 8);
  p6[1] = '6';
  Bytes partRow = matrixFile(4, 2, 1, 8);
  partRow.resize(partRow.size() - 4);
  const struct {
    const char* what;
    Bytes file;
  } cases[] = {
      {"P6 magic", p6},
      {"row missing", matrixFile(4, 2, 1, 4)},
      {"row partly present", partRow},
      {"width 0", matrixFile(0, 2, 1, 8)},
      {"height 0", matrixFile(4, 0, 1, 8)},
      {"channels 0", matrixFile(4, 2, 0, 8)},
      {"past 4 GiB", matrixFile(65536, 16385, 1, 8)},
      {"header cut", Bytes(p6.begin(), p6.begin() + 9)},
      {"empty", Bytes{}},
  };
  for (const auto& k : cases) {
    EXPECT_EQ(readMatrixA(put("m.bin", k.file), m, w, pitch, 4, h, c), OPIX_IO_ERROR) << k.what;
    EXPECT_EQ(m.data.get(), kept) << k.what;
  }
  EXPECT_EQ(readMatrixA(path("none.bin"), m, w, pitch, 4, h, c), OPIX_IO_ERROR);
}

}  // namespace
}  // namespace opix::test
