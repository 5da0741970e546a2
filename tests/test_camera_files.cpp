// Camera files on the host: DNG files written here from known mosaics come
// back through LibRaw with their mosaic, pattern, levels and white balance;
// machine-vision frames are read as they lie, and sizes that do not match are
// refused. Bad camera files fail with a reason, never a crash.
#include <cstring>
#include <random>

#include "CameraFiles.h"
#include "DngWriter.h"
#include "ImageFilesTestSupport.h"

namespace opix::test {
namespace {

class CameraRaw : public ImageFilesTest {
 protected:
  std::string scratch(const std::string& name) const { return path(name); }
};
using PixelFormats = CameraRaw;

struct PatternCase {
  uint8_t cfa[4];
  opixBayerPattern_t pattern;
};
const PatternCase kPatterns[] = {{{0, 1, 1, 2}, OPIX_BAYER_RGGB},
                                 {{2, 1, 1, 0}, OPIX_BAYER_BGGR},
                                 {{1, 2, 0, 1}, OPIX_BAYER_GBRG},
                                 {{1, 0, 2, 1}, OPIX_BAYER_GRBG}};

// A sensor of 2 margin rows and columns around a visible 38 x 22 area, samples
// between the black and the white level, except one hot pixel above white.
DngImage testImage(const PatternCase& p, uint32_t bits, uint32_t seed) {
  DngImage d;
  d.width = 42;
  d.height = 26;
  d.bits = bits;
  std::copy(p.cfa, p.cfa + 4, d.cfa);
  d.white = (1u << bits) - 1 - 3;
  const uint32_t base = bits == 12 ? 256 : 1024;
  for (int i = 0; i < 4; ++i) d.black[i] = base + (p.cfa[i] == 0 ? 0 : p.cfa[i] == 1 ? 8 : 16);
  // As-shot neutral 1/2, 1, 4/5: gains 2, 1, 1.25.
  d.neutral[0][0] = 1, d.neutral[0][1] = 2;
  d.neutral[2][0] = 4, d.neutral[2][1] = 5;
  d.activeArea[0] = 2, d.activeArea[1] = 2, d.activeArea[2] = 24, d.activeArea[3] = 40;
  std::mt19937 rng(seed);
  d.samples.resize(size_t{d.width} * d.height);
  for (auto& s : d.samples) s = static_cast<uint16_t>(base + rng() % (d.white - base + 1));
  return d;
}

uint16_t sampleAt(const DecodedImage& d, uint32_t x, uint32_t y) {
  uint16_t v;
  std::memcpy(&v, d.data.get() + size_t{y} * d.pitch + 2 * x, 2);
  return v;
}

TEST_F(CameraRaw, DngRoundTripsEveryPatternAndDepth) {
  if (!cameraRawAvailable()) GTEST_SKIP() << "built without LibRaw";
  for (const PatternCase& p : kPatterns)
    for (uint32_t bits : {12u, 14u, 16u}) {
      SCOPED_TRACE(std::string(opixBayerPatternName(p.pattern)) + " " + std::to_string(bits) + " bits");
      DngImage d = testImage(p, bits, bits * 7 + p.pattern);
      d.samples[size_t{5} * d.width + 7] = static_cast<uint16_t>((1u << bits) - 1);  // above white
      const std::string file = scratch("round_trip.DNG");
      ASSERT_TRUE(writeDng(file, d));
      DecodedImage img;
      CameraRawInfo info;
      std::string why;
      ASSERT_TRUE(readCameraRawFile(file, img, info, why)) << why;
      EXPECT_EQ(info.make, "Opix");
      EXPECT_EQ(info.model, "Test Camera");
      ASSERT_EQ(img.width, 38u);
      ASSERT_EQ(img.height, 22u);
      EXPECT_EQ(info.width, 38u);
      EXPECT_EQ(info.height, 22u);
      EXPECT_EQ(img.bits, bits <= 12 ? 12u : 16u);
      EXPECT_EQ(info.bits, bits);
      EXPECT_EQ(info.pattern, p.pattern);
      EXPECT_EQ(info.white, d.white);
      EXPECT_FALSE(info.perSiteBlack);
      const uint32_t base = bits == 12 ? 256 : 1024;
      EXPECT_EQ(info.colourBlack[0], float(base));
      EXPECT_EQ(info.colourBlack[1], float(base + 8));
      EXPECT_EQ(info.colourBlack[2], float(base + 16));
      EXPECT_EQ(info.asShot[0], 2.0f);
      EXPECT_EQ(info.asShot[1], 1.0f);
      EXPECT_EQ(info.asShot[2], 1.0f);
      EXPECT_EQ(info.asShot[3], 1.25f);
      int wrong = 0;
      for (uint32_t y = 0; y < img.height; ++y)
        for (uint32_t x = 0; x < img.width; ++x) {
          const uint16_t want = std::min<uint16_t>(d.samples[size_t{y + 2} * d.width + x + 2], uint16_t(d.white));
          if (sampleAt(img, x, y) != want && ++wrong < 5)
            ADD_FAILURE() << "(" << x << ", " << y << ") " << sampleAt(img, x, y) << " != " << want;
        }
      EXPECT_EQ(wrong, 0);
      // The identity XYZ-to-camera matrix gives LibRaw's sRGB-from-XYZ
      // matrix normalised to rows of sum 1: not the identity.
      for (int r = 0; r < 3; ++r)
        EXPECT_NEAR(info.cameraToSrgb[r][0] + info.cameraToSrgb[r][1] + info.cameraToSrgb[r][2], 1.0f, 1e-4);
      EXPECT_GT(info.cameraToSrgb[0][0], 1.5f);
    }
}

TEST_F(CameraRaw, GreensOfDifferentBlackAreSites) {
  if (!cameraRawAvailable()) GTEST_SKIP() << "built without LibRaw";
  DngImage d = testImage(kPatterns[0], 16, 3);
  d.black[1] = 1000;
  d.black[2] = 1040;
  ASSERT_TRUE(writeDng(scratch("sites.dng"), d));
  DecodedImage img;
  CameraRawInfo info;
  std::string why;
  ASSERT_TRUE(readCameraRawFile(scratch("sites.dng"), img, info, why)) << why;
  EXPECT_TRUE(info.perSiteBlack);
  ASSERT_EQ(info.black.size(), size_t{info.blackRows} * info.blackCols);
  EXPECT_EQ(info.black[0], 1024.0f);
  EXPECT_EQ(info.black[1], 1000.0f);
  EXPECT_EQ(info.black[info.blackCols], 1040.0f);
  EXPECT_EQ(info.black[info.blackCols + 1], 1040.0f);
}

TEST_F(CameraRaw, BadFilesFailWithAReason) {
  if (!cameraRawAvailable()) GTEST_SKIP() << "built without LibRaw";
  const std::vector<uint8_t> good = dngBytes(testImage(kPatterns[0], 16, 9));
  DecodedImage img;
  CameraRawInfo info;
  std::string why;
  // Cut inside the pixels, inside the header, and nothing at all.
  for (size_t keep : {good.size() / 2, size_t{16}, size_t{0}}) {
    why.clear();
    std::vector<uint8_t> cut(good.begin(), good.begin() + keep);
    EXPECT_FALSE(readCameraRawBuffer(cut.data(), cut.size(), img, info, why)) << keep;
    EXPECT_FALSE(why.empty());
  }
  const std::string text(8192, 'x');  // no camera file at all
  EXPECT_FALSE(readCameraRawBuffer(text.data(), text.size(), img, info, why));
  EXPECT_NE(why.find("unsupported"), std::string::npos) << why;
  // A 3 x 3 colour filter cell is no Bayer cell.
  DngImage odd = testImage(kPatterns[0], 16, 2);
  odd.cfa[0] = 1, odd.cfa[3] = 1;  // G G / G G: no red or blue site
  const std::vector<uint8_t> b = dngBytes(odd);
  EXPECT_FALSE(readCameraRawBuffer(b.data(), b.size(), img, info, why));
  EXPECT_FALSE(why.empty());
  EXPECT_FALSE(readCameraRawFile(scratch("missing.nef"), img, info, why));
}

TEST_F(CameraRaw, ExtensionsInAnyCase) {
  for (const char* n : {"a.dng", "b.CR2", "c.Cr3", "d.nef", "e.NRW", "f.arw", "g.raf", "h.orf", "i.rw2", "j.pef",
                        "k.srw", "l.kdc", "m.dcr", "n.3FR", "o.iiq", "p.x3f"})
    EXPECT_TRUE(isCameraRawName(n)) << n;
  for (const char* n : {"a.raw", "dng", "a.dng.txt", "a.tif"}) EXPECT_FALSE(isCameraRawName(n)) << n;
  EXPECT_TRUE(isFileType("shot.DNG", kFileGrayInput));
}

TEST_F(PixelFormats, NamesDepthsAndFrameSizes) {
  const PixelFormat* f = findPixelFormat("BayerRG12p", false);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->packing, OPIX_PACKING_12P);
  EXPECT_EQ(f->bits, 12u);
  EXPECT_EQ(f->pattern, OPIX_BAYER_RGGB);
  EXPECT_EQ(findPixelFormat("BayerGB10p", false)->pattern, OPIX_BAYER_GBRG);
  EXPECT_EQ(findPixelFormat("BayerGR8", false)->pattern, OPIX_BAYER_GRBG);
  EXPECT_EQ(findPixelFormat("BayerBG12Packed", false)->packing, OPIX_PACKING_12_PACKED);
  EXPECT_EQ(findPixelFormat("Mono14", false)->packing, OPIX_PACKING_16_LOW);
  EXPECT_EQ(findPixelFormat("Mono14", true)->packing, OPIX_PACKING_16_HIGH);
  EXPECT_EQ(findPixelFormat("Mono12p", true)->packing, OPIX_PACKING_12P);  // -msb concerns 16-bit words only
  EXPECT_EQ(findPixelFormat("Mono8", false)->pattern, OPIX_BAYER_NONE);
  EXPECT_EQ(findPixelFormat("bayerrg12p", false), nullptr);
  EXPECT_EQ(findPixelFormat("BayerRG11", false), nullptr);
  EXPECT_EQ(pixelFormatFrameBytes(*f, 641, 3), 2885u);  // 641 x 3 x 1.5, the last half byte completed
  EXPECT_EQ(pixelFormatFrameBytes(*findPixelFormat("Mono10p", false), 4, 1), 5u);

  std::vector<uint8_t> frame(2885, 0x5A);
  const std::string file = scratch("frame.raw");
  put("frame.raw", frame);
  DecodedImage img;
  std::string why;
  ASSERT_TRUE(readPixelFormatFrame(file, *f, 641, 3, img, why)) << why;
  EXPECT_EQ(img.pitch, 0u);
  EXPECT_EQ(img.bits, 12u);
  EXPECT_EQ(std::memcmp(img.data.get(), frame.data(), frame.size()), 0);
  // One byte more or less than the frame is another frame.
  for (size_t n : {size_t{2884}, size_t{2886}}) {
    frame.resize(n);
    put("frame.raw", frame);
    EXPECT_FALSE(readPixelFormatFrame(file, *f, 641, 3, img, why));
    EXPECT_NE(why.find("2885"), std::string::npos) << why;
  }
  EXPECT_FALSE(readPixelFormatFrame(file, *f, 0, 3, img, why));
}

}  // namespace
}  // namespace opix::test
