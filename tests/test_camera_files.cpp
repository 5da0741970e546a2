// Camera files on the host: DNG files written here from known mosaics come
// back through LibRaw with their mosaic, pattern, levels and white balance;
// machine-vision frames are read as they lie, and sizes that do not match are
// refused. Bad camera files fail with a reason, never a crash: LibRaw runs in
// a decoder process, and a decoder that crashes, hangs or answers nonsense
// costs one file, never the reader.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <mutex>
#include <random>
#include <thread>

#include "CameraFiles.h"
#include "CameraRawProtocol.h"
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

// ------------------------------------------------------- the decoder process

class CameraDecoder : public CameraRaw {
 protected:
  void TearDown() override {
    setCameraRawDecoder("", 0);
    CameraRaw::TearDown();
  }
  // A decoder program of a few shell lines in place of the real one.
  std::string fakeDecoder(const std::string& name, const std::string& body) const {
    const std::string p = put(name, "#!/bin/sh\n" + body + "\n");
    chmod(p.c_str(), 0755);
    return p;
  }
  void expectGoodFileReads() const {
    const std::vector<uint8_t> good = dngBytes(testImage(kPatterns[1], 14, 5));
    DecodedImage img;
    CameraRawInfo info;
    std::string why;
    EXPECT_TRUE(readCameraRawBuffer(good.data(), good.size(), img, info, why)) << why;
    EXPECT_EQ(info.pattern, OPIX_BAYER_BGGR);
  }
};

TEST_F(CameraDecoder, FilesThatCrashLibRawFailAndTheNextFileReads) {
  if (!cameraRawAvailable()) GTEST_SKIP() << "built without LibRaw";
  // Fuzzer finds: an overflow LibRaw's model parser makes glibc abort on,
  // and a wild read in its IFD parser (a crash where memory lies so).
  for (const char* name : {"libraw_crash_model.dng", "libraw_crash_ifd.dng"}) {
    SCOPED_TRACE(name);
    DecodedImage img;
    CameraRawInfo info;
    std::string why;
    EXPECT_FALSE(readCameraRawFile(std::string(OPIX_TEST_DATA_DIR) + "/" + name, img, info, why));
    EXPECT_FALSE(why.empty());
    expectGoodFileReads();
  }
  DecodedImage img;
  CameraRawInfo info;
  std::string why;
  EXPECT_FALSE(readCameraRawFile(std::string(OPIX_TEST_DATA_DIR) + "/libraw_crash_model.dng", img, info, why));
  EXPECT_EQ(why.rfind("truncated or corrupt file (the camera raw decoder ", 0), 0u) << why;
}

TEST_F(CameraDecoder, ADecoderThatHangsDiesOrBabblesCostsOneFile) {
  if (!cameraRawAvailable()) GTEST_SKIP() << "built without LibRaw";
  const std::vector<uint8_t> good = dngBytes(testImage(kPatterns[0], 12, 1));
  struct Case {
    const char* body;
    const char* why;
  } cases[] = {
      {"exec sleep 60",
       "truncated or corrupt file (the camera raw decoder took more than 0.5 s on it and was stopped)"},
      {"exit 7", "truncated or corrupt file (the camera raw decoder ended on it with status 7)"},
      {"kill -SEGV $$", "truncated or corrupt file (the camera raw decoder crashed on it: segmentation fault)"},
      // 200 bytes that are no reply, then silence.
      {"head -c 200 /dev/zero >&3; exec sleep 60",
       "the camera raw decoder answered out of protocol (reply of another protocol)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    setCameraRawDecoder(fakeDecoder("decoder.sh", c.body), 0.5);
    DecodedImage img;
    CameraRawInfo info;
    std::string why;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(readCameraRawBuffer(good.data(), good.size(), img, info, why));
    EXPECT_EQ(why, c.why);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  }
  setCameraRawDecoder(path("no_such_decoder"), 0);
  DecodedImage img;
  CameraRawInfo info;
  std::string why;
  EXPECT_FALSE(readCameraRawBuffer(good.data(), good.size(), img, info, why));
  EXPECT_EQ(why, "cannot start the camera raw decoder " + path("no_such_decoder") + ": No such file or directory");
  setCameraRawDecoder("", 0);
  expectGoodFileReads();
}

TEST_F(CameraDecoder, ThreadsReadAtOnceAndRelativePathsFollowTheWorkingFolder) {
  if (!cameraRawAvailable()) GTEST_SKIP() << "built without LibRaw";
  const DngImage d = testImage(kPatterns[2], 16, 11);
  ASSERT_TRUE(writeDng(scratch("shot.dng"), d));
  // A decoder started in another folder must still find "shot.dng" here.
  expectGoodFileReads();
  char before[4096];
  ASSERT_NE(getcwd(before, sizeof before), nullptr);
  ASSERT_EQ(chdir(dir_.c_str()), 0);
  int failures = 0;
  std::mutex m;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 5; ++i) {
        DecodedImage img;
        CameraRawInfo info;
        std::string why;
        const bool ok = readCameraRawFile("shot.dng", img, info, why) && info.pattern == OPIX_BAYER_GBRG &&
                        sampleAt(img, 3, 4) == std::min<uint16_t>(d.samples[size_t{6} * d.width + 5], d.white);
        std::lock_guard<std::mutex> lock(m);
        failures += !ok;
      }
    });
  for (auto& t : threads) t.join();
  ASSERT_EQ(chdir(before), 0);
  EXPECT_EQ(failures, 0);
}

template <typename T>
void append(std::vector<uint8_t>& b, const T* p, size_t n) {
  const auto* u = reinterpret_cast<const uint8_t*>(p);
  b.insert(b.end(), u, u + n * sizeof(T));
}

// A sound reply of a 3 x 2 GRBG mosaic of 14 bits.
camera_raw::ReplyHeader soundHeader() {
  camera_raw::ReplyHeader h;
  h.decoded = 1;
  h.makeBytes = 4, h.modelBytes = 1;
  h.width = 3, h.height = 2, h.pitch = 8, h.imageBits = 16;
  h.bits = 14, h.pattern = OPIX_BAYER_GRBG, h.white = 16000;
  h.blackRows = 2, h.blackCols = 2;
  for (float& v : h.colourBlack) v = 512;
  for (float& v : h.asShot) v = 1.5f;
  for (int i = 0; i < 9; ++i) h.cameraToSrgb[i] = i % 4 == 0 ? 1.0f : 0.0f;
  h.imageBytes = 16;
  return h;
}

std::vector<uint8_t> replyBytes(const camera_raw::ReplyHeader& h, float black = 512) {
  std::vector<uint8_t> b;
  append(b, &h, 1);
  append(b, "Opixm", 5);
  // (A header that lies about the table gets no more than 16 of it.)
  const std::vector<float> table(std::min<uint64_t>(uint64_t{h.blackRows} * h.blackCols, 16), black);
  append(b, table.data(), table.size());
  const uint16_t rows[8] = {1, 2, 3, 0xEEEE, 4, 5, 6, 0xEEEE};  // padding that must not survive
  append(b, rows, 8);
  return b;
}

TEST_F(CameraDecoder, RepliesAreCheckedBeforeAnythingIsTrusted) {
  using camera_raw::Reply;
  DecodedImage img;
  CameraRawInfo info;
  std::string why;
  camera_raw::MemorySource sound(replyBytes(soundHeader()));
  ASSERT_EQ(camera_raw::readReply(sound, img, info, why), Reply::kDecoded) << why;
  EXPECT_EQ(info.make, "Opix");
  EXPECT_EQ(info.model, "m");
  EXPECT_EQ(info.pattern, OPIX_BAYER_GRBG);
  EXPECT_EQ(info.black.size(), 4u);
  EXPECT_EQ(sampleAt(img, 2, 1), 6);
  uint16_t padding;
  std::memcpy(&padding, img.data.get() + 6, 2);
  EXPECT_EQ(padding, 0);

  const std::vector<std::pair<const char*, void (*)(camera_raw::ReplyHeader&)>> lies = {
      {"mosaic bytes", [](camera_raw::ReplyHeader& h) { h.imageBytes = 4; }},
      {"mosaic bytes", [](camera_raw::ReplyHeader& h) { h.pitch = 6; }},
      {"mosaic size", [](camera_raw::ReplyHeader& h) { h.width = 0; }},
      {"mosaic size", [](camera_raw::ReplyHeader& h) { h.height = 70000; }},
      {"text sizes", [](camera_raw::ReplyHeader& h) { h.makeBytes = 1u << 30; }},
      {"white level and depth", [](camera_raw::ReplyHeader& h) { h.bits = 12; }},
      {"white level and depth", [](camera_raw::ReplyHeader& h) { h.white = 0; }},
      {"pattern", [](camera_raw::ReplyHeader& h) { h.pattern = 9; }},
      {"black table", [](camera_raw::ReplyHeader& h) { h.blackRows = 3; }},
      {"black table", [](camera_raw::ReplyHeader& h) { h.blackRows = h.blackCols = 1u << 16; }},
      {"black table", [](camera_raw::ReplyHeader& h) { h.blackRows = 4; }},  // 4 x 2 but one level a colour
      {"white balance", [](camera_raw::ReplyHeader& h) { h.asShot[2] = std::nanf(""); }},
      {"colour matrix", [](camera_raw::ReplyHeader& h) { h.cameraToSrgb[4] = INFINITY; }},
      {"black levels", [](camera_raw::ReplyHeader& h) { h.colourBlack[1] = -1; }},
  };
  for (const auto& lie : lies) {
    SCOPED_TRACE(lie.first);
    camera_raw::ReplyHeader h = soundHeader();
    lie.second(h);
    camera_raw::MemorySource forged(replyBytes(h));
    EXPECT_EQ(camera_raw::readReply(forged, img, info, why), Reply::kBroken);
    EXPECT_EQ(why, std::string("header: ") + lie.first);
    EXPECT_EQ(info.make, "Opix");  // untouched
  }
  // Cut anywhere: never more read than received.
  const std::vector<uint8_t> whole = replyBytes(soundHeader());
  for (size_t keep : {size_t{0}, size_t{20}, sizeof(camera_raw::ReplyHeader) + 2, whole.size() - 1}) {
    camera_raw::MemorySource cut(std::vector<uint8_t>(whole.begin(), whole.begin() + keep));
    EXPECT_EQ(camera_raw::readReply(cut, img, info, why), Reply::kBroken) << keep;
    EXPECT_EQ(why, "reply cut short");
  }
  camera_raw::MemorySource nonsense(replyBytes(soundHeader(), NAN));
  EXPECT_EQ(camera_raw::readReply(nonsense, img, info, why), Reply::kBroken);
  camera_raw::MemorySource aboveWhite(replyBytes(soundHeader(), 16001));
  EXPECT_EQ(camera_raw::readReply(aboveWhite, img, info, why), Reply::kRefused);
  EXPECT_EQ(why, "black level above the white level");

  // A refusal's reason comes through with its control characters masked.
  camera_raw::ReplyHeader r;
  r.whyBytes = 6;
  std::vector<uint8_t> refusal;
  append(refusal, &r, 1);
  append(refusal, "bad\x1b[m", 6);
  camera_raw::MemorySource refused(refusal);
  EXPECT_EQ(camera_raw::readReply(refused, img, info, why), Reply::kRefused);
  EXPECT_EQ(why, "bad?[m");
  r.whyBytes = 0;
  camera_raw::MemorySource silent(
      std::vector<uint8_t>(reinterpret_cast<uint8_t*>(&r), reinterpret_cast<uint8_t*>(&r + 1)));
  EXPECT_EQ(camera_raw::readReply(silent, img, info, why), Reply::kBroken);
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
