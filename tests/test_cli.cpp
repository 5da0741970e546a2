// The opix_debayer program end to end: it runs on files made here, and its
// standard output, standard error, exit status and output files are compared
// with what the program must give. Timing figures vary and are matched by
// pattern, everything else exactly.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <random>
#include <regex>

#include "CliSupport.h"
#include "TiffTestSupport.h"
#include "device/Device.h"

using namespace opix;
using namespace opix::test;

namespace {

// The lines before the per-image part of a run on the host backend.
const char* kHead =
    "SDK version: 0\\.18\\.1\\.0 \\(build date: \\d{4}-\\d{2}-\\d{2}\\)\n"
    "Processing unit: .+ \\(device id = -?\\d+\\)\n"
    "Available (GPU|host) memory size: \\d+\\.\\d\\d GB\n"
    "(TCC driver mode enabled\n)?"
    "PCI-Express bandwidth test \\(host to device\\): (\\d+ MByte/s|skipped on the host backend)\n\n";

std::string quote(const std::string& s) {
  return std::regex_replace(s, std::regex(R"([.()\[\]*+?^$|{}\\])"), R"(\$&)");
}

}  // namespace

TEST_F(Cli, UsageOnNoArgumentsAndOnAFailedParse) {
  const Result none = run({}, false);
  EXPECT_EQ(none.status, 0);
  EXPECT_EQ(none.err, "");
  EXPECT_EQ(none.out.rfind("Image debayer", 0), 0u);
  EXPECT_NE(none.out.find("\nCompiled for Linux"), std::string::npos);
  EXPECT_NE(none.out.find("The opix_debayer demonstrates demosaic functionality.\n\nSupported parameters\n"),
            std::string::npos);
  const Result failed = run({"-o", "x.ppm"}, false);
  EXPECT_EQ(failed.status, 2);
  EXPECT_EQ(failed.err, "Input path parameter is not found\n");
  EXPECT_EQ(failed.out, none.out);
}

TEST_F(Cli, ExtensionOutcomes) {
  struct Case {
    const char* in;
    const char* out;
    const char* message;
  };
  // Each message names the extensions that are taken and the path that is
  // not one of them.
  const Case cases[] = {
      {"a.ppm", "b.ppm",
       "Input file has unappropriate format.\nShould be bmp/pgm/pgm16/raw/tif/tiff/png, not a.ppm.\n"},
      {"a.pgm", "b.pgm", "Output file has unappropriate format.\nShould be bmp/ppm/tif/tiff/png, not b.pgm.\n"},
      {"a.pgm", "b.ppm16", "Output file has unappropriate format.\nShould be bmp/ppm/tif/tiff/png, not b.ppm16.\n"},
      {"a.txt", "b.txt",
       "Input and output file has unappropriate format.\nInput should be bmp/pgm/pgm16/raw/tif/tiff/png, output "
       "should be bmp/ppm/tif/tiff/png.\n"},
  };
  for (const char* name : {"a.ppm", "a.pgm", "a.txt"}) std::ofstream(path(name)) << "x";
  for (const Case& c : cases) {
    const Result r = run({"-i", c.in, "-o", c.out});
    EXPECT_EQ(r.status, 255) << c.in;
    EXPECT_TRUE(std::regex_search(r.err, std::regex(quote(c.message) + "$"))) << r.err;
    EXPECT_TRUE(std::regex_match(r.out, std::regex(kHead))) << r.out;
  }
  // A missing file is named as missing whatever its extension, a camera
  // raw file's included.
  for (const char* name : {"none.pgm", "DSC_0001.NEF"}) {
    const Result r = run({"-i", name, "-o", "b.ppm"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, std::string("Can not open input file ") + name + ": No such file or directory\n");
  }
}

TEST_F(Cli, OneImageHqliToPpm) {
  const Mosaic m = writePgm("in.pgm", 67, 65, false, 3);
  const Result r = run({"-i", "in.pgm", "-o", "out.ppm", "-type", "HQLI", "-pattern", "GBRG"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string expected = std::string(kHead) +
                               "Input surface format: grayscale\nPattern: GBRG\nOutput surface format: RGB8\n"
                               "Debayer algorithm: HQLI\n\nRequested GPU memory space: \\d+\\.\\d\\d MB\n\n"
                               "Input image: in\\.pgm\nImage size: 67x65 pixels, 8 bits\n\n"
                               "Output image: out\\.ppm\n\n"
                               "Processing time on GPU for 1 images excluding host-to-device and device-to-host "
                               "transfers = \\d+\\.\\d\\d ms; \\d+ MPixel/s;  \\d+ FPS\n";
  EXPECT_TRUE(std::regex_match(r.out, std::regex(expected))) << r.out;
  EXPECT_EQ(r.err, "");
  DebayerRun sdk(OPIX_HQLI, 67, 65, OPIX_I8);
  expectSdkResult(sdk, m, OPIX_BAYER_GBRG, "out.ppm");
}

TEST_F(Cli, BatchMasksOrderHiddenFilesAndOversizeImages) {
  const Mosaic b = writePgm("b.pgm", 64, 64, false, 1);
  const Mosaic a = writePgm("a.pgm", 66, 64, false, 2);
  writePgm(".hidden.pgm", 64, 64, false, 3);
  writePgm("c.pgm", 80, 64, false, 4);  // wider than the maximum: skipped
  mkdir(path("x.pgm").c_str(), 0755);
  const Result r =
      run({"-if", "*.pgm", "-o", "out_*.ppm", "-maxWidth", "70", "-maxHeight", "64", "-type", "HQLI", "-repeat", "2"});
  EXPECT_EQ(r.status, 255);  // a skipped image fails the batch
  EXPECT_EQ(r.err, "c.pgm: Unsupported image size\n");
  const std::regex order(
      "Input image: a\\.pgm\n[\\s\\S]*Output image: out_0\\.ppm\n\nInput image: b\\.pgm\n[\\s\\S]*"
      "Output image: out_1\\.ppm\n\nInput image: c\\.pgm\nImage size: 80x64 pixels, 8 bits\n\n"
      "Processing time on GPU for 6 images excluding");
  EXPECT_TRUE(std::regex_search(r.out, order)) << r.out;
  EXPECT_FALSE(exists(path("out_2.ppm")));
  DebayerRun sdk(OPIX_HQLI, 70, 64, OPIX_I8);
  expectSdkResult(sdk, a, OPIX_BAYER_RGGB, "out_0.ppm");
  expectSdkResult(sdk, b, OPIX_BAYER_RGGB, "out_1.ppm");

  const Result none = run({"-if", "*.raw", "-o", "*.ppm", "-w", "64", "-h", "64"});
  EXPECT_EQ(none.status, 255);
  EXPECT_EQ(none.err, "No input files found\nFailed to open/access file\n");
  const Result noMax = run({"-if", "*.pgm", "-o", "*.ppm"});
  EXPECT_EQ(noMax.status, 2);
  EXPECT_EQ(noMax.err, "maxWidth or maxHeight option was not set\n");
}

// A mask's brackets are plain characters, and its extension matches in any
// case.
TEST_F(Cli, BatchMasksTakeOnlyStarAndQuestionMark) {
  const Mosaic bracket = writePgm("img[1].pgm", 64, 64, false, 26);
  const Mosaic upper = writePgm("img2.PGM", 64, 64, false, 27);
  writePgm("img1.pgm", 64, 64, false, 28);
  const Result one = run({"-if", "img[1].pgm", "-o", "one.ppm", "-maxWidth", "64", "-maxHeight", "64"});
  ASSERT_EQ(one.status, 0) << one.err;
  EXPECT_NE(one.out.find("Input image: img[1].pgm\n"), std::string::npos) << one.out;
  DebayerRun sdk(OPIX_DFPD, 64, 64, OPIX_I8);
  expectSdkResult(sdk, bracket, OPIX_BAYER_RGGB, "one.ppm");
  const Result any = run({"-if", "img?.pgm", "-o", "out_*.ppm", "-maxWidth", "64", "-maxHeight", "64"});
  ASSERT_EQ(any.status, 0) << any.err;
  EXPECT_TRUE(std::regex_search(any.out, std::regex("Input image: img1\\.pgm\n[\\s\\S]*Input image: img2\\.PGM\n")))
      << any.out;
  expectSdkResult(sdk, upper, OPIX_BAYER_RGGB, "out_1.ppm");
  EXPECT_FALSE(exists(path("out_2.ppm")));
}

// A file of a batch that cannot be read is named with its message; every
// other image is still processed under its own output number, and the run
// fails at the end.
TEST_F(Cli, UnreadableBatchFileIsNamedAndTheOthersProcessed) {
  const Mosaic a = writePgm("a.pgm", 64, 64, false, 16);
  const Mosaic c = writePgm("c.pgm", 64, 64, false, 17);
  const std::string whole = readFile(path("a.pgm"));
  std::ofstream(path("b.pgm"), std::ios::binary) << whole.substr(0, whole.size() / 2);  // truncated
  const Result r = run({"-if", "*.pgm", "-o", "out_*.ppm", "-maxWidth", "64", "-maxHeight", "64", "-type", "HQLI"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, "Input file has unappropriate format\nb.pgm: Failed to open/access file\n");
  EXPECT_TRUE(std::regex_search(r.out, std::regex("Input image: a\\.pgm\n[\\s\\S]*Output image: out_0\\.ppm\n\n"
                                                  "Input image: c\\.pgm\n[\\s\\S]*Output image: out_2\\.ppm\n\n"
                                                  "Processing time on GPU for 2 images")))
      << r.out;
  EXPECT_FALSE(exists(path("out_1.ppm")));
  DebayerRun sdk(OPIX_HQLI, 64, 64, OPIX_I8);
  expectSdkResult(sdk, a, OPIX_BAYER_RGGB, "out_0.ppm");
  expectSdkResult(sdk, c, OPIX_BAYER_RGGB, "out_2.ppm");

  const Result none = run({"-if", "b*.pgm", "-o", "only_*.ppm", "-maxWidth", "64", "-maxHeight", "64"});
  EXPECT_EQ(none.status, 255);
  EXPECT_EQ(none.err, "Input file has unappropriate format\nb.pgm: Failed to open/access file\n");
  EXPECT_EQ(none.out.find("Processing time"), std::string::npos);
  EXPECT_FALSE(exists(path("only_0.ppm")));
}

// An image of another bit depth than the batch's first gets a chain of its
// own; a colour image is named and skipped, and the run fails.
TEST_F(Cli, BatchImagesOfAnotherDepthGetTheirOwnChain) {
  const Mosaic a = writePgm("a.pgm", 64, 64, false, 18);
  writePgm("b.pgm", 64, 64, true, 19);
  std::ofstream(path("c.pgm"), std::ios::binary) << "P6\n64 64\n255\n" << std::string(64 * 64 * 3, '\x40');
  const Mosaic d = writePgm("d.pgm", 64, 64, false, 20);
  const Result r = run({"-if", "*.pgm", "-o", "out_*.ppm", "-maxWidth", "64", "-maxHeight", "64", "-type", "HQLI"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, "c.pgm: Input file must not be color\n");
  EXPECT_TRUE(std::regex_search(r.out, std::regex("Output surface format: RGB8\n[\\s\\S]*"
                                                  "Input image: b\\.pgm\nImage size: 64x64 pixels, 12 bits\n\n"
                                                  "Output image: out_1\\.ppm\n\n"
                                                  "Input image: c\\.pgm\nImage size: 64x64 pixels, 8 bits\n\n"
                                                  "Input image: d\\.pgm\n[\\s\\S]*"
                                                  "Processing time on GPU for 4 images")))
      << r.out;
  EXPECT_EQ(readFile(path("out_1.ppm")).substr(0, 14), "P6\n64\n64\n4095\n");
  // The same bytes as the 12-bit image's run on its own.
  ASSERT_EQ(run({"-i", "b.pgm", "-o", "alone.ppm", "-type", "HQLI"}).status, 0);
  EXPECT_TRUE(readFile(path("out_1.ppm")) == readFile(path("alone.ppm")));
  EXPECT_FALSE(exists(path("out_2.ppm")));
  DebayerRun sdk(OPIX_HQLI, 64, 64, OPIX_I8);
  expectSdkResult(sdk, a, OPIX_BAYER_RGGB, "out_0.ppm");
  expectSdkResult(sdk, d, OPIX_BAYER_RGGB, "out_3.ppm");
}

// A single image that does not fit its -w/-h is skipped: nothing is
// written, no rate is made up from zero pixels and the run fails.
TEST_F(Cli, SingleImageSkippedForItsSizeFails) {
  writePgm("in.pgm", 96, 64, false, 9);
  const Result r = run({"-i", "in.pgm", "-o", "out.ppm", "-w", "64", "-h", "64", "-type", "HQLI"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, "Unsupported image size\n");
  EXPECT_TRUE(std::regex_search(r.out, std::regex("Input image: in\\.pgm\nImage size: 96x64 pixels, 8 bits\n\n$")))
      << r.out;
  EXPECT_FALSE(exists(path("out.ppm")));

  const Result narrow = run({"-i", "in.pgm", "-o", "out.ppm", "-maxWidth", "64", "-type", "HQLI"});
  EXPECT_EQ(narrow.status, 255);
  EXPECT_EQ(narrow.err, "Unsupported image size\n");
  EXPECT_FALSE(exists(path("out.ppm")));
}

// A device that cannot be started ends the run with its message and a
// failure status. The host backend refuses the CUDA drivers on the CPU when
// the build lacks them.
TEST_F(Cli, DeviceStartUpFailureFails) {
  if (g_backend != Backend::Host) GTEST_SKIP() << "chooses the drivers itself";
  if (device::cudaDriversOnCpuCompiledIn()) GTEST_SKIP() << "this build starts the CUDA drivers on the CPU";
  writePgm("in.pgm", 64, 64, false, 10);
  setenv("OPIX_CUDA_ON_CPU", "1", 1);
  const Result r = run({"-i", "in.pgm", "-o", "out.ppm"});
  unsetenv("OPIX_CUDA_ON_CPU");
  EXPECT_EQ(r.status, 255);
  EXPECT_NE(r.err, "");
  EXPECT_FALSE(exists(path("out.ppm")));
}

// A result never replaces an input file, and several inputs never share
// one output name.
TEST_F(Cli, OutputNamesThatWouldLoseData) {
  writePgm("a.pgm", 64, 64, false, 22);
  std::ofstream(path("in.tif"), std::ios::binary) << "not read";
  const std::string original = readFile(path("in.tif"));
  for (const char* out : {"in.tif", "./in.tif"}) {
    const Result r = run({"-i", "in.tif", "-o", out});
    EXPECT_EQ(r.status, 255) << out;
    EXPECT_EQ(r.err, "Output file must not be the input file\n") << out;
    EXPECT_TRUE(std::regex_match(r.out, std::regex(kHead))) << r.out;
  }
  EXPECT_EQ(readFile(path("in.tif")), original);

  writePgm("b.pgm", 64, 64, false, 23);
  const Result shared = run({"-if", "*.pgm", "-o", "out.ppm", "-maxWidth", "64", "-maxHeight", "64"});
  EXPECT_EQ(shared.status, 255);
  EXPECT_EQ(shared.err, "Output mask must contain '*' for more than one input file\n");
  EXPECT_FALSE(exists(path("out.ppm")));
  // One match needs no number.
  const Result one = run({"-if", "a*.pgm", "-o", "out.ppm", "-maxWidth", "64", "-maxHeight", "64"});
  EXPECT_EQ(one.status, 0) << one.err;
  EXPECT_TRUE(exists(path("out.ppm")));
  // A numbered result that is one of the inputs.
  std::rename(path("a.pgm").c_str(), path("0.tif").c_str());
  const Result numbered = run({"-if", "*.tif", "-o", "*.tif", "-maxWidth", "64", "-maxHeight", "64"});
  EXPECT_EQ(numbered.status, 255);
  EXPECT_EQ(numbered.err, "Output file must not be the input file\n");
}

TEST_F(Cli, RepeatsAndStageLines) {
  writePgm("in.pgm", 64, 64, false, 5);
  const Result once = run({"-i", "in.pgm", "-o", "out.bmp", "-type", "HQLI", "-info"});
  ASSERT_EQ(once.status, 0) << once.err;
  const std::string stage =
      "Host-to-device transfer = \\d+\\.\\d\\d ms\n"
      "Effective debayer performance = [\\d.inf]+ Gpixel/s \\(\\d+\\.\\d\\d ms\\)\n";
  EXPECT_TRUE(std::regex_search(once.out, std::regex("pixels, 8 bits\n\n" + stage +
                                                     "Device-to-host transfer = \\d+\\.\\d\\d ms\n"
                                                     "Output image: out\\.bmp\n\n"
                                                     "Processing time on GPU for 1 images including all transfers = "
                                                     "\\d+\\.\\d\\d ms; \\d+ MPixel/s;  \\d+ FPS\n"
                                                     "Processing time on GPU for 1 images excluding host-to-device "
                                                     "and device-to-host transfers: average = \\d+\\.\\d{3} ms "
                                                     "\\(\\d+ MPixel/s;  \\d+ FPS\\), min = \\d+\\.\\d{3} ms, max = "
                                                     "\\d+\\.\\d{3} ms\n$")))
      << once.out;
  const Result twice = run({"-i", "in.pgm", "-o", "out.bmp", "-type", "HQLI", "-info", "-repeat", "2"});
  ASSERT_EQ(twice.status, 0);
  EXPECT_TRUE(std::regex_search(twice.out, std::regex("pixels, 8 bits\n\n" + stage + stage + "Output image")))
      << twice.out;
  EXPECT_NE(twice.out.find("for 2 images including"), std::string::npos);
}

TEST_F(Cli, RepeatOutOfRangeIsRefused) {
  writePgm("in.pgm", 64, 64, false, 25);
  const Result r = run({"-i", "in.pgm", "-o", "out.ppm", "-repeat", "-1"});
  EXPECT_EQ(r.status, 2);  // like every option failure: the usage text follows
  EXPECT_EQ(r.err, "The specified repeat count is invalid. It should be from 1 to 100000.\n");
  EXPECT_EQ(r.out.rfind("Image debayer", 0), 0u);
  EXPECT_FALSE(exists(path("out.ppm")));
}

// A RAW file has no header to give its size.
TEST_F(Cli, RawInputNeedsWidthAndHeight) {
  std::ofstream(path("in.raw"), std::ios::binary) << std::string(64 * 64, '\x20');
  for (const std::vector<std::string>& size : {std::vector<std::string>{}, {"-w", "64"}, {"-h", "64"}}) {
    std::vector<std::string> args = {"-i", "in.raw", "-o", "out.ppm"};
    args.insert(args.end(), size.begin(), size.end());
    const Result r = run(args);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "RAW input needs the -w and -h options\n");
    EXPECT_FALSE(exists(path("out.ppm")));
  }
  const Result batch = run({"-if", "*.RAW", "-o", "out_*.ppm", "-maxWidth", "64", "-maxHeight", "64"});
  EXPECT_EQ(batch.status, 255);
  EXPECT_EQ(batch.err, "RAW input needs the -w and -h options\n");
  const Result sized = run({"-i", "in.raw", "-o", "out.ppm", "-w", "64", "-h", "64"});
  EXPECT_EQ(sized.status, 0) << sized.err;
  EXPECT_TRUE(exists(path("out.ppm")));
}

TEST_F(Cli, BinningHalvesTheImage) {
  const Mosaic m = writePgm("in.pgm", 66, 64, false, 6);
  const Result r = run({"-i", "in.pgm", "-o", "out.ppm", "-type", "binning_2x2", "-pattern", "BGGR"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Debayer algorithm: Other\n"), std::string::npos);
  DebayerRun sdk(OPIX_BINNING_2x2, 66, 64, OPIX_I8);
  expectSdkResult(sdk, m, OPIX_BAYER_BGGR, "out.ppm");
  const Result odd = run({"-i", "in.pgm", "-o", "out.ppm", "-type", "binning_2x2", "-maxWidth", "67"});
  EXPECT_EQ(odd.status, 255);
  EXPECT_EQ(odd.err,
            "Unsupported image size\nbinning_2x2 needs an even width; the input is 67 pixels wide\nInvalid image "
            "dimensions\n");
}

// A binned image holds at least one block each way: a smaller one is
// refused, alone or in a batch.
TEST_F(Cli, BinningRefusesAnImageSmallerThanItsBlock) {
  struct Case {
    uint32_t w, h;
    const char* type;
    const char* out;
  };
  const Case cases[] = {
      {2, 1, "binning_2x2", "out.bmp"}, {4, 4, "binning_8x8", "out.ppm"}, {8, 2, "binning_4x4", "out.tif"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    writePgm("tiny.pgm", c.w, c.h, false, 20);
    const Result r = run({"-i", "tiny.pgm", "-o", c.out, "-type", c.type});
    EXPECT_EQ(r.status, 255);
    const std::string block = c.type + std::string(c.type).size() - 3;  // "2x2"
    EXPECT_EQ(r.err, "Unsupported image size\n" + std::string(c.type) + " needs at least " + block.substr(0, 1) +
                         " x " + block.substr(2) + " pixels; the input is " + std::to_string(c.w) + "x" +
                         std::to_string(c.h) + "\nInvalid image dimensions\n");
    EXPECT_FALSE(exists(path(c.out)));
  }
  writePgm("big.pgm", 64, 64, false, 21);
  const Result batch =
      run({"-if", "*.pgm", "-o", "out_*.ppm", "-maxWidth", "64", "-maxHeight", "64", "-type", "binning_4x4"});
  EXPECT_EQ(batch.status, 255);
  EXPECT_EQ(batch.err, "tiny.pgm: Unsupported image size\n");
  EXPECT_TRUE(exists(path("out_0.ppm")));
  EXPECT_FALSE(exists(path("out_1.ppm")));
}

// An image below the debayer's minimum of 64 pixels each way is processed
// in a chain of that minimum, alone as in a batch; MG keeps its refusal of
// an odd width.
TEST_F(Cli, ImagesSmallerThanTheComponentMinimum) {
  struct Case {
    uint32_t w, h;
    const char* type;
    opixDebayerType_t value;
  };
  const Case cases[] = {
      {1, 1, "HQLI", OPIX_HQLI}, {2, 3, "DFPD", OPIX_DFPD}, {63, 40, "DFPD", OPIX_DFPD}, {5, 70, "HQLI", OPIX_HQLI}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + " " + c.type);
    const Mosaic m = writePgm("small.pgm", c.w, c.h, false, 24);
    const Result r = run({"-i", "small.pgm", "-o", "out.ppm", "-type", c.type});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    DebayerRun sdk(c.value, std::max(c.w, 64u), std::max(c.h, 64u), OPIX_I8);
    expectSdkResult(sdk, m, OPIX_BAYER_RGGB, "out.ppm");
  }
  const Result mg = run({"-i", "small.pgm", "-o", "out.ppm", "-type", "MG"});
  EXPECT_EQ(mg.status, 255);
  EXPECT_EQ(mg.err,
            "Unsupported image size\nMG needs an even width; the input is 5 pixels wide\nInvalid image "
            "dimensions\n");
  // In a batch the odd image is named and skipped, the others processed.
  writePgm("wide.pgm", 64, 64, false, 25);
  const Result batch = run({"-if", "*.pgm", "-o", "b_*.ppm", "-maxWidth", "64", "-maxHeight", "70", "-type", "MG"});
  EXPECT_EQ(batch.status, 255);
  EXPECT_EQ(batch.err, "small.pgm: Unsupported image size\nMG needs an even width; small.pgm is 5 pixels wide\n");
  EXPECT_FALSE(exists(path("b_0.ppm")));
  EXPECT_TRUE(exists(path("b_1.ppm")));
}

// MG runs its own 8-bit kernels on an 8-bit mosaic; MG2 and MG_V2 name it
// too.
TEST_F(Cli, MgOnEightBitDataAndUnknownWords) {
  const Mosaic m = writePgm("in.pgm", 64, 66, false, 7);
  DebayerRun sdk(OPIX_MG, 64, 66, OPIX_I8);
  for (const char* name : {"MG", "MG2", "MG_V2"}) {
    SCOPED_TRACE(name);
    const Result mg = run({"-i", "in.pgm", "-o", "out.ppm", "-type", name, "-p", "GBRG"});
    ASSERT_EQ(mg.status, 0) << mg.err;
    EXPECT_EQ(mg.err, "");
    EXPECT_NE(mg.out.find("Output surface format: RGB8\nDebayer algorithm: MG\n\nRequested"), std::string::npos)
        << mg.out;
    expectSdkResult(sdk, m, OPIX_BAYER_GBRG, "out.ppm");
  }
  const Result word = run({"-i", "in.pgm", "-o", "out.ppm", "-type", "hqli", "-pattern", "XYZW"});
  EXPECT_EQ(word.status, 2);
  EXPECT_EQ(word.err, "Pattern XYZW was not recognized.\nIt should be RGGB, BGGR, GBRG or GRBG.\n");
}

// A .bmp holds 8-bit samples: a 12-bit result is narrowed to them (the usage
// text's own 12-bit example writes a .bmp), the same samples as the 12-bit
// .tif shifted right by 4.
TEST_F(Cli, TwelveBitResultToBmpIsNarrowedAndTraceIsWritten) {
  writePgm("in.pgm", 66, 64, true, 8);
  const Result r = run({"-i", "in.pgm", "-o", "out.bmp", "-type", "HQLI", "-log", "trace.txt"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_NE(r.out.find("Output surface format: RGB8\n"), std::string::npos);
  const std::string trace = readFile(path("trace.txt"));
  EXPECT_EQ(trace.rfind("Product Name: ", 0), 0u);
  EXPECT_NE(trace.find("Debayer. Create\n\tdebayer type: HQLI\n"), std::string::npos);
  EXPECT_NE(trace.find("Debayer. Transform\n"), std::string::npos);
  const Result twelve = run({"-i", "in.pgm", "-o", "out.tif", "-type", "HQLI"});
  ASSERT_EQ(twelve.status, 0) << twelve.err;
  EXPECT_NE(twelve.out.find("Output surface format: RGB12\n"), std::string::npos);

  const std::string tif = readFile(path("out.tif")), bmp = readFile(path("out.bmp"));
  const uint32_t w = 66, h = 64, bmpRow = (3 * w + 3) / 4 * 4;
  ASSERT_GE(tif.size(), 8 + size_t{w} * h * 6);
  ASSERT_EQ(bmp.size(), 54 + size_t{bmpRow} * h);
  size_t differences = 0;
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x)
      for (uint32_t c = 0; c < 3; ++c) {
        const size_t t = 8 + (size_t{y} * w + x) * 6 + 2 * c;
        const int sample = uint8_t(tif[t]) | uint8_t(tif[t + 1]) << 8;
        const int narrowed = uint8_t(bmp[54 + size_t{h - 1 - y} * bmpRow + 3 * x + (2 - c)]);
        differences += narrowed != sample >> 4;
      }
  EXPECT_EQ(differences, 0u);
}

namespace {

// The per-pixel stages ahead of the debayer, from their definitions: black
// shift (never on a saturated sample), gain, rounding half up; then white
// balance by RGGB site. The factors are multiples of 1/8, so every product
// is exact and the reference needs no float subtleties.
Mosaic correct(const Mosaic& in, const std::vector<int>* shifts, const std::vector<double>* gains, double wbR,
               double wbB) {
  const int hi = in.format == OPIX_I8 ? 255 : 4095;
  Mosaic out = in;
  for (uint32_t y = 0; y < in.height; ++y)
    for (uint32_t x = 0; x < in.width; ++x) {
      const size_t i = size_t(y) * in.width + x;
      double v = in.samples[i];
      if (shifts && in.samples[i] != hi) v -= (*shifts)[i];
      if (gains) v *= (*gains)[i];
      int p = std::clamp(int(std::floor(v + 0.5)), 0, hi);
      const double k = (x % 2 == 0 && y % 2 == 0) ? wbR : (x % 2 == 1 && y % 2 == 1) ? wbB : 1.0;
      out.samples[i] = std::clamp(int(std::floor(p * k + 0.5)), 0, hi);
    }
  return out;
}

}  // namespace

TEST_F(Cli, MatricesAndWhiteBalanceCorrectTheMosaic) {
  const uint32_t w = 66, h = 64;  // rows of 66 bytes: padded in a PGM, not in a RAW file
  const Mosaic m = writePgm("in.pgm", w, h, false, 11);
  std::mt19937 rng(12);
  std::vector<double> gains(size_t{w} * h);
  std::vector<int> shifts(size_t{w} * h);
  for (double& g : gains) g = double(6 + rng() % 5) / 8;  // 0.75 ... 1.25
  for (int& s : shifts) s = int(rng() % 19) - 6;          // -6 ... 12
  {
    std::ofstream a(path("a.mat"), std::ios::binary);
    const uint32_t header[3] = {w, h, 1};
    a.write("P7", 2).write(reinterpret_cast<const char*>(header), sizeof header);
    for (double g : gains) {
      const float f = float(g);
      a.write(reinterpret_cast<const char*>(&f), 4);
    }
    std::ofstream b(path("b.pgm"), std::ios::binary), raw(path("b.raw"), std::ios::binary);
    b << "P5\n" << w << " " << h << "\n255\n";
    for (int s : shifts) b.put(char(s)), raw.put(char(s));
    std::ofstream small(path("small.mat"), std::ios::binary);
    const uint32_t smallHeader[3] = {w / 2, h, 1};
    small.write("P7", 2).write(reinterpret_cast<const char*>(smallHeader), sizeof smallHeader);
    small << std::string(size_t{w / 2} * h * 4, '\0');
  }
  auto reference = [&](const Mosaic& corrected, const std::string& name) {
    std::ofstream out(path("ref.pgm"), std::ios::binary);
    out << "P5\n" << w << " " << h << "\n255\n";
    for (int v : corrected.samples) out.put(char(v));
    out.close();
    const Result r = run({"-i", "ref.pgm", "-o", name, "-type", "HQLI"});
    EXPECT_EQ(r.status, 0) << r.err;
    return readFile(path(name));
  };

  const std::string all = reference(correct(m, &shifts, &gains, 1.5, 0.5), "ref_all.ppm");
  const Result r = run({"-i", "in.pgm", "-o", "out.ppm", "-type", "HQLI", "-matrixA", "a.mat", "-matrixB", "b.pgm",
                        "-wb_r", "1.5", "-wb_b", "0.5", "-info", "-nofuse"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(std::regex_search(r.out, std::regex("Debayer algorithm: HQLI\n\nMatrix A: a\\.mat\n\nMatrix B: b\\.pgm\n"
                                                  "\nRequested GPU memory space")))
      << r.out;
  EXPECT_TRUE(
      std::regex_search(r.out, std::regex("Host-to-device transfer = \\d+\\.\\d\\d ms\nMAD time = \\d+\\.\\d\\d ms\n"
                                          "Color correction time = \\d+\\.\\d\\d ms\nEffective debayer")))
      << r.out;
  EXPECT_TRUE(readFile(path("out.ppm")) == all) << "out.ppm differs";

  // The same black shifts from an 8-bit RAW file of maxWidth x maxHeight bytes.
  const Result raw = run({"-i", "in.pgm", "-o", "out_raw.ppm", "-type", "HQLI", "-matrixA", "a.mat", "-matrixB",
                          "b.raw", "-wb_r", "1.5", "-wb_b", "0.5"});
  ASSERT_EQ(raw.status, 0) << raw.err;
  EXPECT_TRUE(readFile(path("out_raw.ppm")) == all) << "out_raw.ppm differs";

  // A matrix of another size, or a colour one, is refused: the run does not
  // go on uncorrected, and nothing is written. White balance factors of
  // exactly 1 create no filter.
  const std::string shiftOnly = reference(correct(m, &shifts, nullptr, 1.0, 1.0), "ref_b.ppm");
  const Result onlyB = run(
      {"-i", "in.pgm", "-o", "out_b.ppm", "-type", "HQLI", "-matrixB", "b.pgm", "-wb_r", "1.0", "-info", "-nofuse"});
  ASSERT_EQ(onlyB.status, 0) << onlyB.err;
  EXPECT_NE(onlyB.out.find("MAD time"), std::string::npos);
  EXPECT_EQ(onlyB.out.find("Color correction time"), std::string::npos);
  EXPECT_TRUE(readFile(path("out_b.ppm")) == shiftOnly) << "out_b.ppm differs";
  const Result mismatch =
      run({"-i", "in.pgm", "-o", "out_s.ppm", "-type", "HQLI", "-matrixA", "small.mat", "-matrixB", "b.pgm"});
  EXPECT_EQ(mismatch.status, 255);
  EXPECT_EQ(mismatch.err,
            "Input and matrix A file parameters mismatch\nMatrix A is 33x64, the input 66x64\nInvalid image "
            "dimensions\n");
  EXPECT_FALSE(exists(path("out_s.ppm")));
  std::ofstream(path("colour.ppm"), std::ios::binary) << "P6\n"
                                                      << w << " " << h << "\n255\n"
                                                      << std::string(size_t{w} * h * 3, '\0');
  const Result colour = run({"-i", "in.pgm", "-o", "out_c.ppm", "-type", "HQLI", "-matrixB", "colour.ppm"});
  EXPECT_EQ(colour.status, 255);
  EXPECT_EQ(colour.err, "Matrix B file must not be color\nInvalid file format\n");
  EXPECT_FALSE(exists(path("out_c.ppm")));
  std::ofstream(path("tall.pgm"), std::ios::binary) << "P5\n"
                                                    << w << " " << h + 2 << "\n255\n"
                                                    << std::string(size_t{w} * (h + 2), '\0');
  const Result tall = run({"-i", "in.pgm", "-o", "out_t.ppm", "-matrixB", "tall.pgm"});
  EXPECT_EQ(tall.status, 255);
  EXPECT_EQ(tall.err,
            "Input and matrix B file parameters mismatch\nMatrix B is 66x66, the input 66x64\nInvalid image "
            "dimensions\n");
  // A missing matrix A ends the run.
  const Result missing = run({"-i", "in.pgm", "-o", "out_m.ppm", "-matrixA", "none.mat"});
  EXPECT_EQ(missing.status, 255);
  EXPECT_EQ(missing.err, "Failed to open/access file\n");
  EXPECT_FALSE(exists(path("out_m.ppm")));
}

// A matrix B of 16-bit samples holds 16-bit black shifts: it corrects a
// 12-bit mosaic with its values as stored, and an 8-bit mosaic cannot take it.
// Below the debayer's minimum size the matrices are laid out for the larger
// chain; each pixel still gets its own gain and shift.
// The corrections run inside the debayer's read of the mosaic unless
// -nofuse asks for their filters: the files are the same, and -info prints
// the lines of the stages that ran (fused ones are in the debayer's line).
TEST_F(Cli, FusedCorrectionsWriteTheFilesOfTheFilters) {
  const uint32_t w = 67, h = 65;
  writePgm("in8.pgm", w, h, false, 70);
  writePgm("in12.pgm", w, h, true, 71);
  writePgm("in12e.pgm", w - 1, h, true, 73);  // MG takes even widths
  std::mt19937 rng(72);
  {
    std::ofstream a(path("a.mat"), std::ios::binary);
    const uint32_t header[3] = {w, h, 1};
    a.write("P7", 2).write(reinterpret_cast<const char*>(header), sizeof header);
    for (uint32_t i = 0; i < w * h; ++i) {
      const float f = float(6 + rng() % 5) / 8;
      a.write(reinterpret_cast<const char*>(&f), 4);
    }
    std::ofstream b(path("b.pgm"), std::ios::binary);
    b << "P5\n" << w << " " << h << "\n255\n";
    for (uint32_t i = 0; i < w * h; ++i) b.put(char(rng() % 19));
  }
  struct Case {
    const char* input;
    const char* output;
    std::vector<std::string> options;
  };
  const std::vector<Case> cases = {
      {"in8.pgm", "hqli.bmp", {"-type", "HQLI", "-wb_R", "1.6", "-wb_B", "0.7", "-p", "GBRG"}},
      {"in8.pgm",
       "dfpd.ppm",
       {"-type", "DFPD", "-wb_R", "1.6", "-wb_B", "1.9", "-matrixA", "a.mat", "-matrixB", "b.pgm"}},
      {"in12.pgm", "dfpd12.tif", {"-type", "DFPD", "-wb_R", "2.2", "-black_shift", "100", "-p", "BGGR"}},
      {"in12.pgm", "l7.bmp", {"-type", "L7", "-wb_G", "1.3", "-matrixB", "b.pgm", "-black_shift", "30"}},
      {"in12e.pgm", "mg.ppm", {"-type", "MG", "-wb_B", "1.4", "-black_shift", "50", "-p", "GRBG"}},
      {"in8.pgm",
       "dfpd8.bmp",
       {"-type", "DFPD", "-wb_R", "1.2", "-black_shift", "9"}},  // an 8-bit black stays a filter
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.output);
    std::vector<std::string> fused = {"-i", c.input, "-o", std::string("f_") + c.output, "-info"};
    std::vector<std::string> apart = {"-i", c.input, "-o", std::string("s_") + c.output, "-info", "-nofuse"};
    fused.insert(fused.end(), c.options.begin(), c.options.end());
    apart.insert(apart.end(), c.options.begin(), c.options.end());
    const Result f = run(fused), s = run(apart);
    ASSERT_EQ(f.status, 0) << f.err;
    ASSERT_EQ(s.status, 0) << s.err;
    EXPECT_TRUE(readFile(path(std::string("f_") + c.output)) == readFile(path(std::string("s_") + c.output)));
    EXPECT_NE(s.out.find("Color correction time"), std::string::npos);
    EXPECT_EQ(f.out.find("Color correction time"), std::string::npos) << f.out;
    EXPECT_EQ(f.out.find("MAD time"), std::string::npos) << f.out;
    EXPECT_NE(f.out.find("Effective debayer performance"), std::string::npos);
  }
}

// By default the debayer writes the layout the export delivers (blue-green-red
// for BMP, interleaved 12-bit pixels); with -nofuse it writes its own and the
// export converts: the host drivers as they copy, the CUDA drivers in a pass
// of their own. Every output type at 8 and 12 bits, on an odd size, gets the
// same file bytes from the host drivers and from the CUDA drivers either way.
TEST_F(Cli, ExportConvertingAsItCopiesWritesTheSameFiles) {
  if (!device::cudaDriversOnCpuCompiledIn()) GTEST_SKIP() << "no CUDA drivers for the CPU in this build";
  writePgm("in8.pgm", 67, 65, false, 81);
  writePgm("in12.pgm", 67, 65, true, 82);
  const std::pair<const char*, const char*> cases[] = {
      {"in8.pgm", "a.bmp"},  {"in8.pgm", "a.ppm"},  {"in8.pgm", "a.tif"},
      {"in8.pgm", "a.png"},  {"in12.pgm", "b.bmp"}, {"in12.pgm", "b.ppm"},
      {"in12.pgm", "b.tif"}, {"in12.pgm", "b.png"}, {"in12.pgm", "c.tiff"},
  };
  for (const auto& [input, output] : cases) {
    SCOPED_TRACE(output);
    const std::vector<std::string> options = {"-i",  input,   "-type", "DFPD", "-wb_R",
                                              "1.4", "-wb_B", "1.2",   "-p",   "GBRG"};
    std::vector<std::string> host = options, kernels = options, apart = options;
    host.insert(host.end(), {"-o", std::string("h_") + output});
    kernels.insert(kernels.end(), {"-o", std::string("k_") + output});
    apart.insert(apart.end(), {"-o", std::string("s_") + output, "-nofuse"});
    const Result h = finish(start(host, true, -1, [] { unsetenv("OPIX_CUDA_ON_CPU"); }));
    const Result k = finish(start(kernels, true, -1, [] { setenv("OPIX_CUDA_ON_CPU", "1", 1); }));
    const Result s = finish(start(apart, true, -1, [] { setenv("OPIX_CUDA_ON_CPU", "1", 1); }));
    ASSERT_EQ(h.status, 0) << h.err;
    ASSERT_EQ(k.status, 0) << k.err;
    ASSERT_EQ(s.status, 0) << s.err;
    const std::string a = readFile(path(std::string("h_") + output));
    EXPECT_GT(a.size(), 67u * 65 * 3);
    EXPECT_TRUE(a == readFile(path(std::string("k_") + output))) << "the CUDA drivers' fused file differs";
    EXPECT_TRUE(a == readFile(path(std::string("s_") + output))) << "the CUDA drivers' -nofuse file differs";
  }
}

TEST_F(Cli, MatricesOnAnImageBelowTheComponentMinimum) {
  const uint32_t w = 11, h = 9;
  const Mosaic m = writePgm("in.pgm", w, h, false, 29);
  std::mt19937 rng(30);
  std::vector<double> gains(size_t{w} * h);
  std::vector<int> shifts(size_t{w} * h);
  for (double& g : gains) g = double(6 + rng() % 5) / 8;
  for (int& s : shifts) s = int(rng() % 19) - 6;
  {
    std::ofstream a(path("a.mat"), std::ios::binary);
    const uint32_t header[3] = {w, h, 1};
    a.write("P7", 2).write(reinterpret_cast<const char*>(header), sizeof header);
    for (double g : gains) {
      const float f = float(g);
      a.write(reinterpret_cast<const char*>(&f), 4);
    }
    std::ofstream b(path("b.pgm"), std::ios::binary);
    b << "P5\n" << w << " " << h << "\n255\n";
    for (int s : shifts) b.put(char(s));
    std::ofstream ref(path("ref.pgm"), std::ios::binary);
    ref << "P5\n" << w << " " << h << "\n255\n";
    for (int v : correct(m, &shifts, &gains, 1.0, 1.0).samples) ref.put(char(v));
  }
  const Result expected = run({"-i", "ref.pgm", "-o", "ref.ppm"});
  ASSERT_EQ(expected.status, 0) << expected.err;
  const Result r = run({"-i", "in.pgm", "-o", "out.ppm", "-matrixA", "a.mat", "-matrixB", "b.pgm"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(readFile(path("out.ppm")) == readFile(path("ref.ppm"))) << "out.ppm differs";
}

TEST_F(Cli, SixteenBitBlackShiftMatrix) {
  const uint32_t w = 66, h = 64;
  const Mosaic m = writePgm("in12.pgm", w, h, true, 13);
  std::mt19937 rng(14);
  std::vector<int> shifts(size_t{w} * h);
  for (int& s : shifts) s = int(rng() % 601) - 300;  // beyond what 8 bits hold
  {
    std::ofstream b(path("b16.pgm"), std::ios::binary);
    b << "P5\n" << w << " " << h << "\n65535\n";
    for (int s : shifts) b.put(char((s >> 8) & 0xFF)).put(char(s & 0xFF));
    const Mosaic corrected = correct(m, &shifts, nullptr, 1.0, 1.0);
    std::ofstream ref(path("ref12.pgm"), std::ios::binary);
    ref << "P5\n" << w << " " << h << "\n4095\n";
    for (int v : corrected.samples) ref.put(char(v >> 8)).put(char(v & 0xFF));
  }
  const Result ref = run({"-i", "ref12.pgm", "-o", "ref.tif", "-type", "HQLI"});
  ASSERT_EQ(ref.status, 0) << ref.err;
  const Result r = run({"-i", "in12.pgm", "-o", "out.tif", "-type", "HQLI", "-matrixB", "b16.pgm"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(readFile(path("out.tif")) == readFile(path("ref.tif"))) << "out.tif differs";

  // An 8-bit mosaic cannot take 16-bit shifts: refused, nothing written.
  writePgm("in8.pgm", w, h, false, 15);
  const Result narrow = run({"-i", "in8.pgm", "-o", "out8.ppm", "-type", "HQLI", "-matrixB", "b16.pgm"});
  EXPECT_EQ(narrow.status, 255);
  EXPECT_EQ(narrow.err,
            "Input and matrix B file parameters mismatch\nA 16-bit matrix B cannot correct an 8-bit mosaic\nInvalid "
            "file format\n");
  EXPECT_FALSE(exists(path("out8.ppm")));
}

// The developer aid: OPIX_CUDA_ON_CPU=1 runs the program's kernels through
// the CUDA drivers built for the CPU, and the files must not change by a byte.
TEST_F(Cli, CudaDriversOnTheCpuWriteTheSameFiles) {
  if (g_backend != Backend::Host) GTEST_SKIP() << "chooses the drivers itself";
  if (!device::cudaDriversOnCpuCompiledIn()) GTEST_SKIP() << "this build has no CUDA drivers for the CPU";
  const std::string samples = OPIX_SAMPLES_DIR;
  struct Case {
    std::vector<std::string> input;
    const char* type;
    const char* extension;
  };
  const std::vector<std::string> eight = {"-i", samples + "/astronaut_rggb.pgm"};
  const std::vector<std::string> twelve = {
      "-i", samples + "/astronaut_rggb_12bit.raw", "-w", "512", "-h", "512", "-bits", "12"};
  const Case cases[] = {{eight, "HQLI", "bmp"},        {eight, "DFPD", "ppm"},        {eight, "binning_2x2", "ppm"},
                        {eight, "binning_4x4", "bmp"}, {eight, "binning_8x8", "ppm"}, {twelve, "HQLI", "tif"},
                        {twelve, "DFPD", "tif"},       {twelve, "L7", "tif"},         {twelve, "binning_2x2", "tif"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input[1] + " " + c.type);
    std::string files[2];
    for (int onCpu = 0; onCpu < 2; ++onCpu) {
      if (onCpu)
        setenv("OPIX_CUDA_ON_CPU", "1", 1);
      else
        unsetenv("OPIX_CUDA_ON_CPU");
      std::vector<std::string> args = c.input;
      const std::string out = std::string("out") + char('0' + onCpu) + "." + c.extension;
      for (const char* a : {"-o", out.c_str(), "-type", c.type}) args.push_back(a);
      const Result r = run(args);
      EXPECT_EQ(r.status, 0) << r.err;
      files[onCpu] = readFile(path(out));
    }
    unsetenv("OPIX_CUDA_ON_CPU");
    EXPECT_GT(files[0].size(), 1000u);
    EXPECT_TRUE(files[0] == files[1]) << "the files differ";
  }
}

namespace {

// A binary PGM of `samples` at maxval 2^bits - 1 (16-bit words above 8 bits).
void writeGray(const std::string& name, uint32_t w, uint32_t h, uint32_t bits, const std::vector<int>& samples) {
  std::ofstream out(name, std::ios::binary);
  out << "P5\n" << w << " " << h << "\n" << ((1u << bits) - 1) << "\n";
  for (int v : samples) {
    if (bits > 8) out.put(char(v >> 8));
    out.put(char(v & 0xFF));
  }
}

// A little-endian 16-bit RAW file of `samples`.
void writeRaw16(const std::string& name, const std::vector<int>& samples) {
  std::ofstream out(name, std::ios::binary);
  for (int v : samples) out.put(char(v & 0xFF)).put(char(v >> 8));
}

struct Depth {
  uint32_t bits;
  opixSurfaceFormat_t format;
  const char* out;  // a file type that holds the result's depth
};
const Depth kDepths[] = {{8, OPIX_I8, "ppm"}, {12, OPIX_I12, "tif"}, {16, OPIX_I16, "tif"}};
const char* const kAlgorithms[] = {"HQLI", "DFPD", "L7", "binning_2x2", "binning_4x4", "binning_8x8"};

}  // namespace

// A black shift, per pixel (matrix B) or uniform (-black_shift), means the
// same for every algorithm and depth: the result equals that of the input
// with the shift subtracted first, also where the chain widens a 12-bit
// mosaic to 16 bits for binning.
TEST_F(Cli, BlackShiftsEqualSubtractingFromTheInputFirst) {
  const uint32_t w = 72, h = 64;
  for (const Depth& d : kDepths) {
    SCOPED_TRACE(std::to_string(d.bits) + " bits");
    const int hi = (1 << d.bits) - 1;
    const Mosaic m = randomMosaic(w, h, d.format, 40 + d.bits);
    std::mt19937 rng(d.bits);
    std::vector<int> shifts(m.samples.size()), perPixel = m.samples, uniform = m.samples;
    const int level = d.bits == 8 ? 9 : 300;
    for (size_t i = 0; i < shifts.size(); ++i) {
      shifts[i] = int(rng() % 41) - 10;
      // The per-pixel shift leaves a saturated sample alone; the uniform
      // one does not.
      if (m.samples[i] != hi) perPixel[i] = std::clamp(m.samples[i] - shifts[i], 0, hi);
      uniform[i] = std::max(m.samples[i] - level, 0);
    }
    writeGray(path("in.pgm"), w, h, d.bits, m.samples);
    writeGray(path("b.pgm"), w, h, d.bits == 8 ? 8 : 16, shifts);
    writeGray(path("ref_b.pgm"), w, h, d.bits, perPixel);
    writeGray(path("ref_u.pgm"), w, h, d.bits, uniform);
    for (const char* type : kAlgorithms) {
      if (d.bits == 8 && std::string(type) == "L7") continue;  // L7 has no 8-bit kernel
      SCOPED_TRACE(type);
      const std::string o = std::string(".") + d.out;
      const Result rb = run({"-i", "ref_b.pgm", "-o", "ref_b" + o, "-type", type, "-p", "GRBG"});
      const Result ru = run({"-i", "ref_u.pgm", "-o", "ref_u" + o, "-type", type, "-p", "GRBG"});
      const Result b = run({"-i", "in.pgm", "-o", "b" + o, "-type", type, "-p", "GRBG", "-matrixB", "b.pgm"});
      const Result u =
          run({"-i", "in.pgm", "-o", "u" + o, "-type", type, "-p", "GRBG", "-black_shift", std::to_string(level)});
      for (const Result* r : {&rb, &ru, &b, &u}) ASSERT_EQ(r->status, 0) << r->err;
      EXPECT_EQ(b.err + u.err, "");
      EXPECT_TRUE(readFile(path("b" + o)) == readFile(path("ref_b" + o))) << "matrix B";
      EXPECT_TRUE(readFile(path("u" + o)) == readFile(path("ref_u" + o))) << "black_shift";
    }
  }
  writeGray(path("in8.pgm"), w, h, 8, randomMosaic(w, h, OPIX_I8, 3).samples);
  const Result beyond = run({"-i", "in8.pgm", "-o", "x.ppm", "-black_shift", "256"});
  EXPECT_EQ(beyond.status, 255);
  EXPECT_EQ(beyond.err, "The black shift 256 is beyond the 8-bit input's range\nInvalid API enum value\n");
  EXPECT_FALSE(exists(path("x.ppm")));
}

// 10- and 14-bit mosaics are processed as 12- and 16-bit ones with the same
// full scale: the result equals that of the samples shifted left by 2.
TEST_F(Cli, TenAndFourteenBitInputs) {
  const uint32_t w = 64, h = 66;
  for (uint32_t bits : {10u, 14u}) {
    SCOPED_TRACE(std::to_string(bits) + " bits");
    Mosaic m = randomMosaic(w, h, OPIX_I16, bits);
    for (int& v : m.samples) v >>= 16 - bits;
    std::vector<int> widened = m.samples;
    for (int& v : widened) v <<= 2;
    writeGray(path("in.pgm"), w, h, bits, m.samples);
    writeRaw16(path("in.raw"), m.samples);
    writeGray(path("ref.pgm"), w, h, bits + 2, widened);
    for (const char* type : {"DFPD", "binning_2x2"}) {
      SCOPED_TRACE(type);
      const Result ref = run({"-i", "ref.pgm", "-o", "ref.tif", "-type", type});
      ASSERT_EQ(ref.status, 0) << ref.err;
      const Result pgm = run({"-i", "in.pgm", "-o", "pgm.tif", "-type", type});
      ASSERT_EQ(pgm.status, 0) << pgm.err;
      EXPECT_EQ(pgm.err, "");
      EXPECT_NE(pgm.out.find("Image size: 64x66 pixels, " + std::to_string(bits) + " bits\n"), std::string::npos);
      const Result raw =
          run({"-i", "in.raw", "-w", "64", "-h", "66", "-bits", std::to_string(bits), "-o", "raw.tif", "-type", type});
      ASSERT_EQ(raw.status, 0) << raw.err;
      EXPECT_TRUE(readFile(path("pgm.tif")) == readFile(path("ref.tif")));
      EXPECT_TRUE(readFile(path("raw.tif")) == readFile(path("ref.tif")));
    }
  }
}

// Samples above the declared depth are refused, naming the depth: alone the
// run fails with nothing written, in a batch the other images go on.
TEST_F(Cli, SamplesAboveTheDeclaredDepthAreRefused) {
  const uint32_t w = 64, h = 64;
  std::vector<int> samples = randomMosaic(w, h, OPIX_I12, 50).samples;
  writeRaw16(path("fits.raw"), samples);
  samples[w * 7 + 9] = 4096;
  writeRaw16(path("over.raw"), samples);
  const Result raw = run({"-i", "over.raw", "-w", "64", "-h", "64", "-bits", "12", "-o", "out.tif"});
  EXPECT_EQ(raw.status, 255);
  EXPECT_EQ(raw.err, "Input file has sample values above 12 bits\nInvalid file format\n");
  EXPECT_FALSE(exists(path("out.tif")));
  const Result sixteen = run({"-i", "over.raw", "-w", "64", "-h", "64", "-bits", "16", "-o", "out16.tif"});
  EXPECT_EQ(sixteen.status, 0) << sixteen.err;

  const Result batch = run(
      {"-if", "*.raw", "-w", "64", "-h", "64", "-bits", "12", "-o", "b_*.tif", "-maxWidth", "64", "-maxHeight", "64"});
  EXPECT_EQ(batch.status, 255);
  EXPECT_EQ(batch.err, "Input file has sample values above 12 bits\nover.raw: Invalid file format\n");
  EXPECT_TRUE(exists(path("b_0.tif")));

  std::string pgm = "P5\n2 2\n1023\n";
  pgm += std::string("\x00\x10\x03\xff\x00\x00\x04\x00", 8);  // 16, 1023, 0, 1024
  std::ofstream(path("over.pgm"), std::ios::binary) << pgm;
  const Result p = run({"-i", "over.pgm", "-o", "p.ppm"});
  EXPECT_EQ(p.status, 255);
  EXPECT_EQ(p.err, "Input file has sample values above 10 bits\nInvalid file format\n");
}

// The usage text's option names: -R -G1 -G2 -B and -wb_G for the gains, -p
// for the pattern; each gives the file its long form gives.
TEST_F(Cli, UsageTextOptionNames) {
  writePgm("in.pgm", 64, 64, false, 60);
  const Result longForm = run({"-i", "in.pgm", "-o", "long.ppm", "-pattern", "GBRG", "-wb_r", "1.5", "-wb_g1", "0.75",
                               "-wb_g2", "0.75", "-wb_b", "0.5"});
  const Result shortForm =
      run({"-i", "in.pgm", "-o", "short.ppm", "-p", "GBRG", "-R", "1.5", "-G1", "0.75", "-G2", "0.75", "-B", "0.5"});
  const Result greens =
      run({"-i", "in.pgm", "-o", "greens.ppm", "-p", "GBRG", "-wb_R", "1.5", "-wb_G", "0.75", "-wb_B", "0.5"});
  for (const Result* r : {&longForm, &shortForm, &greens}) {
    ASSERT_EQ(r->status, 0) << r->err;
    EXPECT_NE(r->out.find("Pattern: GBRG\n"), std::string::npos);
  }
  const std::string expected = readFile(path("long.ppm"));
  EXPECT_TRUE(readFile(path("short.ppm")) == expected);
  EXPECT_TRUE(readFile(path("greens.ppm")) == expected);
  const Result plain = run({"-i", "in.pgm", "-o", "plain.ppm", "-p", "GBRG"});
  ASSERT_EQ(plain.status, 0);
  EXPECT_FALSE(readFile(path("plain.ppm")) == expected);
}

// A killed run leaves its temporary behind; the next run that writes into
// that folder removes it (whatever its target), and leaves those of live
// processes and files that only look alike.
TEST_F(Cli, StaleTemporariesAreRemovedByTheNextWrite) {
  writePgm("in.pgm", 64, 64, false, 71);
  const pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);
  const std::string stale = ".out.ppm.opix-" + std::to_string(gone) + "-0.tmp";
  const std::string live = ".out.ppm.opix-" + std::to_string(getpid()) + "-0.tmp";
  const std::string other = ".other.ppm.opix-" + std::to_string(gone) + "-0.tmp";
  const std::string alike = ".out.ppm.opix-" + std::to_string(gone) + "-0.tmp.keep";
  for (const std::string& n : {stale, live, other, alike}) std::ofstream(path(n)) << std::string(4096, 'x');
  const Result r = run({"-i", "in.pgm", "-o", "out.ppm"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(exists(path(stale)));
  EXPECT_FALSE(exists(path(other)));
  EXPECT_TRUE(exists(path(live)));
  EXPECT_TRUE(exists(path(alike)));
}

// -thread N feeds N chains from N host threads: the files are those of one
// thread, each image's lines stay together, and the host time is reported.
TEST_F(Cli, ThreadsWriteTheFilesOfOneThread) {
  for (int i = 0; i < 7; ++i) writePgm("img" + std::to_string(i) + ".pgm", 64 + 2 * i, 64, false, 80 + i);
  const std::vector<std::string> common = {"-if", "img*.pgm", "-maxWidth", "80", "-maxHeight", "64", "-type", "HQLI"};
  std::vector<std::string> one = common, three = common;
  one.insert(one.end(), {"-o", "one_*.ppm"});
  three.insert(three.end(), {"-o", "three_*.ppm", "-thread", "3", "-info"});
  const Result a = run(one), b = run(three);
  ASSERT_EQ(a.status, 0) << a.err;
  ASSERT_EQ(b.status, 0) << b.err;
  EXPECT_EQ(b.err, "");
  EXPECT_EQ(a.out.find("Processing time on CPU"), std::string::npos);
  EXPECT_TRUE(std::regex_search(b.out, std::regex("Processing time on CPU for 7 images with 3 threads including all "
                                                  "transfers = \\d+\\.\\d\\d ms; \\d+ MPixel/s;  \\d+ FPS\n$")))
      << b.out;
  for (int i = 0; i < 7; ++i) {
    const std::string k = std::to_string(i);
    EXPECT_TRUE(readFile(path("three_" + k + ".ppm")) == readFile(path("one_" + k + ".ppm"))) << i;
    // The image's block: its input line, its stage lines, its output line.
    EXPECT_TRUE(std::regex_search(b.out, std::regex("Input image: img" + k +
                                                    "\\.pgm\nImage size: [^\n]*\n\n(Host-to-device|Effective|"
                                                    "Device-to-host)[^\n]*\n([A-Z][^\n]*ms\\)?\n)*Output image: "
                                                    "three_" +
                                                    k + "\\.ppm\n")))
        << i;
  }
  const Result bad = run({"-i", "img0.pgm", "-o", "x.ppm", "-thread", "-2"});
  EXPECT_EQ(bad.err, "The specified thread count is invalid. It should be from 1 to 64.\n");
  EXPECT_FALSE(exists(path("x.ppm")));
}

// Without -info a batch runs on two chains that take turns on streams of
// their own; -info runs one chain stage after stage. Both write the same
// bytes, in the same order of lines, repetitions, white balance, images of
// another depth and a skipped image included.
TEST_F(Cli, DoubleBufferedBatchWritesTheBytesOfTheSingleChain) {
  for (int i = 0; i < 20; ++i) writePgm("f" + std::to_string(100 + i) + ".pgm", 96 - 2 * (i % 3), 64, i == 7, 300 + i);
  writePgm("f120.pgm", 130, 64, false, 400);  // wider than -maxWidth: skipped in its turn
  for (const char* repeat : {"1", "3"}) {
    const std::vector<std::string> common = {"-if",  "f*.pgm", "-maxWidth", "96",    "-maxHeight", "64",      "-type",
                                             "DFPD", "-wb_R",  "1.4",       "-wb_B", "1.8",        "-repeat", repeat};
    std::vector<std::string> overlapped = common, single = common;
    overlapped.insert(overlapped.end(), {"-o", "a_*.bmp"});
    single.insert(single.end(), {"-o", "b_*.bmp", "-info"});
    const Result a = run(overlapped), b = run(single);
    EXPECT_EQ(a.status, 255) << a.err;  // the skipped image leaves the run incomplete
    EXPECT_EQ(a.err, "f120.pgm: Unsupported image size\n");
    EXPECT_EQ(b.err, a.err);
    for (int i = 0; i < 20; ++i) {
      const std::string k = std::to_string(i);
      ASSERT_TRUE(exists(path("a_" + k + ".bmp"))) << i;
      EXPECT_TRUE(readFile(path("a_" + k + ".bmp")) == readFile(path("b_" + k + ".bmp"))) << repeat << " " << i;
    }
    EXPECT_FALSE(exists(path("a_20.bmp")));
    // The images' lines in their order, each block whole.
    std::string expected;
    for (int i = 0; i <= 20; ++i) {
      const bool deep = i == 7, wide = i == 20;
      expected += "Input image: f" + std::to_string(100 + i) +
                  ".pgm\nImage size: " + std::to_string(wide ? 130 : 96 - 2 * (i % 3)) + "x64 pixels, " +
                  (deep ? "12" : "8") + " bits\n\n";
      if (!wide) expected += "Output image: a_" + std::to_string(i) + ".bmp\n\n";
    }
    const size_t from = a.out.find("Input image: f100.pgm");
    ASSERT_NE(from, std::string::npos) << a.out;
    EXPECT_EQ(a.out.substr(from, expected.size()), expected);
    EXPECT_NE(a.out.find("Processing time on GPU for " + std::to_string(21 * std::stoi(repeat)) +
                         " images excluding host-to-device and device-to-host transfers = "),
              std::string::npos)
        << a.out;
  }
}

// The README's option reference names every option the usage text shows.
TEST_F(Cli, ReadmeOptionReferenceCoversTheUsageText) {
  const Result usage = run({}, false);
  EXPECT_NE(usage.out.find("\nMore parameters\n -if <mask>"), std::string::npos);
  const std::string readme = readFile(std::string(OPIX_SAMPLES_DIR) + "/../README.md");
  const size_t section = readme.find("## Options of opix_debayer");
  ASSERT_NE(section, std::string::npos);
  const std::string reference = readme.substr(section, readme.find("\n## ", section + 1) - section);
  const std::regex option("(^|[\\s\\t.])-([A-Za-z][A-Za-z0-9_]*)");
  size_t checked = 0;
  for (std::sregex_iterator i(usage.out.begin(), usage.out.end(), option), end; i != end; ++i) {
    const std::string name = (*i)[2];
    if (name == "exe") continue;  // in "opix_debayer.exe -i"
    ++checked;
    EXPECT_TRUE(std::regex_search(reference, std::regex("[` ]-" + name + "[` ,]"))) << "-" << name;
  }
  EXPECT_GT(checked, 30u);
}
// TIFF input as other software writes it: each codec, byte order and BigTIFF,
// strips or tiles, and gray palettes give the result of the samples they hold.
TEST_F(Cli, TiffInputOfAnyCodecLayoutOrGrayPalette) {
  const uint32_t w = 48, h = 32;
  struct Variant {
    const char* mode;
    uint32_t tile, rowsPerStrip;
  };
  const Variant variants[] = {{"w", 0, 3}, {"wb", 0, h}, {"w8", 16, 0}};
  for (bool sixteen : {false, true}) {
    const Mosaic m = randomMosaic(w, h, sixteen ? OPIX_I12 : OPIX_I8, sixteen ? 31 : 32);
    std::vector<uint8_t> px;
    for (int v : m.samples) {
      px.push_back(uint8_t(v & 0xFF));
      if (sixteen) px.push_back(uint8_t(v >> 8));
    }
    const char* out = sixteen ? "out.tif" : "out.ppm";
    // The 8-bit mosaic as a PGM; the 16-bit one as a plain little-endian TIFF.
    TiffLayout plain;
    plain.bps = sixteen ? 16 : 8;
    if (sixteen)
      ASSERT_TRUE(writeTiffFile(path("ref.tif"), w, h, plain, px));
    else
      writePgm("ref.pgm", w, h, false, 32);
    const Result ref = run({"-i", sixteen ? "ref.tif" : "ref.pgm", "-o", out});
    ASSERT_EQ(ref.status, 0) << ref.err;
    const std::string expected = readFile(path(out));
    const std::vector<TiffCodec> codecs = losslessTiffCodecs();
    for (size_t c = 0; c < codecs.size(); ++c)
      for (const Variant& v : variants) {
        // Every layout for 8 bits, one of them in turn for 16.
        if (sixteen && &v != &variants[c % 3]) continue;
        const TiffCodec& codec = codecs[c];
        SCOPED_TRACE(std::string(codec.name) + " " + v.mode + (sixteen ? " 16 bits" : " 8 bits"));
        TiffLayout l = plain;
        l.mode = v.mode;
        l.compression = codec.compression;
        l.tile = v.tile;
        l.rowsPerStrip = v.rowsPerStrip;
        ASSERT_TRUE(writeTiffFile(path("in.tif"), w, h, l, px));
        std::remove(path(out).c_str());
        const Result r = run({"-i", "in.tif", "-o", out});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_TRUE(readFile(path(out)) == expected) << "the results differ";
      }
    if (sixteen) continue;

    // Palette indices 255 - v through a palette of inverted levels.
    TiffLayout palette = plain;
    palette.photometric = PHOTOMETRIC_PALETTE;
    for (int c = 0; c < 3; ++c)
      for (int i = 0; i < 256; ++i) palette.colormap.push_back(uint16_t((255 - i) * 257));
    std::vector<uint8_t> indices;
    for (uint8_t v : px) indices.push_back(uint8_t(255 - v));
    ASSERT_TRUE(writeTiffFile(path("palette.tif"), w, h, palette, indices));
    const Result p = run({"-i", "palette.tif", "-o", "palette.ppm"});
    EXPECT_EQ(p.status, 0) << p.err;
    EXPECT_TRUE(readFile(path("palette.ppm")) == expected) << "the palette result differs";

    // JPEG is lossy: the result is that of the samples libtiff decodes.
    if (!TIFFIsCODECConfigured(COMPRESSION_JPEG)) continue;
    TiffLayout jpeg = plain;
    jpeg.compression = COMPRESSION_JPEG;
    jpeg.rowsPerStrip = 16;
    ASSERT_TRUE(writeTiffFile(path("jpeg.tif"), w, h, jpeg, px));
    TIFF* tif = TIFFOpen(path("jpeg.tif").c_str(), "r");
    ASSERT_NE(tif, nullptr);
    std::vector<uint32_t> rgba(size_t{w} * h);
    ASSERT_EQ(TIFFReadRGBAImageOriented(tif, w, h, rgba.data(), ORIENTATION_TOPLEFT, 0), 1);
    TIFFClose(tif);
    std::vector<uint8_t> decoded;
    for (uint32_t v : rgba) decoded.push_back(uint8_t(TIFFGetR(v)));
    ASSERT_TRUE(writeTiffFile(path("decoded.tif"), w, h, plain, decoded));
    const Result j = run({"-i", "jpeg.tif", "-o", "jpeg.ppm"});
    const Result d = run({"-i", "decoded.tif", "-o", "decoded.ppm"});
    EXPECT_EQ(j.status, 0) << j.err;
    EXPECT_EQ(d.status, 0) << d.err;
    EXPECT_TRUE(readFile(path("jpeg.ppm")) == readFile(path("decoded.ppm"))) << "the JPEG result differs";
  }
}

// Each TIFF that cannot be used is refused with one message and the status
// of its kind: colour data, a layout the program does not take, or a file
// whose pixels cannot be read.
TEST_F(Cli, TiffInputThatCannotBeUsed) {
  const std::string colour = "Input file must not be color\nFailed to open/access file\n";
  const std::string unsupported =
      "Input file has unappropriate format\nFile format is unsupported by the current version\n";
  const std::string unreadable = "Input file has unappropriate format\nFailed to open/access file\n";
  TiffLayout colourPalette;
  colourPalette.photometric = PHOTOMETRIC_PALETTE;
  for (int c = 0; c < 3; ++c)
    for (int i = 0; i < 256; ++i) colourPalette.colormap.push_back(uint16_t(c == 2 ? 0 : i * 257));
  TiffLayout rgb, cmyk, floats, whiteIsZero, pages, packed, lzw;
  rgb.spp = 3;
  rgb.photometric = PHOTOMETRIC_RGB;
  cmyk.spp = 4;
  cmyk.photometric = PHOTOMETRIC_SEPARATED;
  floats.bps = 32;
  floats.sampleFormat = SAMPLEFORMAT_IEEEFP;
  whiteIsZero.photometric = PHOTOMETRIC_MINISWHITE;
  pages.pages = 2;
  packed.bps = 12;
  lzw.compression = COMPRESSION_LZW;
  lzw.rowsPerStrip = 64;
  const struct {
    const char* name;
    const TiffLayout* layout;
    std::string err;
  } cases[] = {
      {"palette.tif", &colourPalette, colour},
      {"rgb.tif", &rgb, colour},
      {"cmyk.tif", &cmyk, colour},
      {"float.tif", &floats, unsupported},
      {"white.tif", &whiteIsZero, unsupported},
      {"packed.tif", &packed, unsupported},
      {"pages.tif", &pages, "Number of directories more than 1 (2)\n" + unsupported},
      {"corrupt.tif", &lzw, unreadable},
      {"claim.tif", nullptr, unreadable},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.layout) {
      const TiffLayout& l = *c.layout;
      std::mt19937 rng(7);
      std::vector<uint8_t> px(64 * 64 * size_t{l.spp} * l.bps / 8);
      for (uint8_t& b : px) b = uint8_t(rng());
      ASSERT_TRUE(writeTiffFile(path(c.name), 64, 64, l, px));
    } else {
      // 146 bytes that claim a 4 GiB image.
      const std::vector<uint8_t> b = claimingTiff(65535, 65535, 36);
      ASSERT_EQ(b.size(), 146u);
      std::ofstream(path(c.name), std::ios::binary).write(reinterpret_cast<const char*>(b.data()), b.size());
    }
    if (std::string(c.name) == "corrupt.tif") {
      std::string bytes = readFile(path(c.name));
      TIFF* tif = TIFFOpen(path(c.name).c_str(), "r");
      ASSERT_NE(tif, nullptr);
      const uint64_t end = TIFFGetStrileOffset(tif, 0) + TIFFGetStrileByteCount(tif, 0);
      TIFFClose(tif);
      // The strip's last codes overwritten with codes past the LZW table.
      for (uint64_t i = end - 200; i < end; ++i) bytes[i] = char(0xFF);
      std::ofstream(path(c.name), std::ios::binary) << bytes;
    }
    const Result r = run({"-i", c.name, "-o", "out.ppm"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, c.err);
    EXPECT_FALSE(exists(path("out.ppm")));
  }
}

// ------------------------------------------------------------- -lut files

namespace {

// The PPM of a colour result with every channel through its table.
std::string ppmThrough(const DebayerRun& run, const std::vector<std::vector<int>>& tables) {
  const opixDeviceSurfaceBuffer_t& d = *run.destination;
  std::string s = "P6\n" + std::to_string(d.width) + "\n" + std::to_string(d.height) + "\n255\n";
  for (uint32_t y = 0; y < d.height; ++y)
    for (uint32_t x = 0; x < d.width; ++x) {
      const auto p = run.pixel(x, y);
      for (int c = 0; c < 3; ++c) s.push_back(char(tables[tables.size() == 3 ? c : 0][p[c]]));
    }
  return s;
}

}  // namespace

TEST_F(Cli, LutGammaOnAnEightBitColourOutput) {
  const Mosaic m = writePgm("in.pgm", 67, 65, false, 21);
  std::vector<int> gamma(256);
  {
    std::ofstream lut(path("gamma.txt"));
    lut << "# gamma 1/2.2\n\n";
    for (int i = 0; i < 256; ++i) {
      gamma[i] = int(std::lround(255.0 * std::pow(i / 255.0, 1 / 2.2)));
      lut << gamma[i] << (i == 7 ? "   # a comment after an entry" : "") << "\n";
    }
  }
  const Result r = run({"-i", "in.pgm", "-o", "out.ppm", "-type", "HQLI", "-lut", "gamma.txt"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  DebayerRun sdk(OPIX_HQLI, 67, 65, OPIX_I8);
  ASSERT_EQ(sdk.run(m, OPIX_BAYER_RGGB), OPIX_OK);
  EXPECT_EQ(readFile(path("out.ppm")), ppmThrough(sdk, {gamma}));

  // Three columns: a table per channel.
  std::vector<std::vector<int>> rgb(3, std::vector<int>(256));
  {
    std::ofstream lut(path("rgb.txt"));
    for (int i = 0; i < 256; ++i) {
      rgb[0][i] = 255 - i;
      rgb[1][i] = i / 2;
      rgb[2][i] = gamma[i];
      lut << rgb[0][i] << " " << rgb[1][i] << "\t" << rgb[2][i] << "\n";
    }
  }
  const Result three = run({"-i", "in.pgm", "-o", "rgb.ppm", "-type", "HQLI", "-lut", "rgb.txt"});
  ASSERT_EQ(three.status, 0) << three.err;
  EXPECT_EQ(readFile(path("rgb.ppm")), ppmThrough(sdk, rgb));
}

TEST_F(Cli, LutTwelveBitInputToEightBitOutput) {
  const Mosaic m = writePgm("in.pgm", 64, 66, true, 22);
  std::vector<int> table(4096);
  {
    std::ofstream lut(path("to8.txt"));
    for (int i = 0; i < 4096; ++i) lut << (table[i] = i / 16) << "\n";
  }
  // An 8-bit result may go to BMP, which takes no 12-bit image.
  const Result r = run({"-i", "in.pgm", "-o", "out.ppm", "-type", "DFPD", "-lut", "to8.txt"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Output surface format: RGB8\n"), std::string::npos) << r.out;
  DebayerRun sdk(OPIX_DFPD, 64, 66, OPIX_I12);
  ASSERT_EQ(sdk.run(m, OPIX_BAYER_RGGB), OPIX_OK);
  EXPECT_EQ(readFile(path("out.ppm")), ppmThrough(sdk, {table}));
  const Result bmp = run({"-i", "in.pgm", "-o", "out.bmp", "-type", "DFPD", "-lut", "to8.txt"});
  EXPECT_EQ(bmp.status, 0) << bmp.err;
  EXPECT_TRUE(exists(path("out.bmp")));
}

TEST_F(Cli, MalformedLutFilesAreNamedAndNothingIsWritten) {
  writePgm("in.pgm", 64, 64, false, 23);
  auto table = [](int n, const std::string& at100) {
    std::string s;
    for (int i = 0; i < n; ++i) s += (i == 100 ? at100 : std::to_string(i % 256)) + "\n";
    return s;
  };
  struct Case {
    const char* name;
    std::string text;
    const char* message;
  };
  const Case cases[] = {
      {"word.txt", table(256, "12a"), "LUT file word.txt, line 101: '12a' is not a number\n"},
      {"negative.txt", table(256, "-4"), "LUT file negative.txt, line 101: negative value -4\n"},
      {"large.txt", table(256, "65536"), "LUT file large.txt, line 101: value 65536 above 65535\n"},
      {"mixed.txt", table(256, "1 2 3"), "LUT file mixed.txt, line 101: 3 values after lines of 1\n"},
      {"two.txt", table(256, "1 2"),
       "LUT file two.txt, line 101: 2 values; a line holds 1 value, or 3 for red, green and blue\n"},
      {"count.txt", table(255, "7"), "LUT file count.txt: 255 entries; a table has 256, 4096, 16384 or 65536\n"},
      {"empty.txt", "# nothing\n\n", "LUT file empty.txt: 0 entries; a table has 256, 4096, 16384 or 65536\n"},
      {"depth.txt", table(4096, "7"),
       "LUT file depth.txt: 4096 entries do not fit the 8-bit colour output, which needs 256\n"},
  };
  for (const Case& c : cases) {
    std::ofstream(path(c.name)) << c.text;
    const Result r = run({"-i", "in.pgm", "-o", "out.ppm", "-lut", c.name});
    EXPECT_EQ(r.status, 255) << c.name;
    EXPECT_EQ(r.err.rfind(c.message, 0), 0u) << r.err;
    EXPECT_FALSE(exists(path("out.ppm"))) << c.name;
  }
  const Result missing = run({"-i", "in.pgm", "-o", "out.ppm", "-lut", "none.txt"});
  EXPECT_EQ(missing.status, 255);
  EXPECT_EQ(missing.err.rfind("LUT file none.txt: cannot be opened\n", 0), 0u) << missing.err;
  EXPECT_FALSE(exists(path("out.ppm")));
}

TEST_F(Cli, BundledGammaSample) {
  const Result r = run({"-i", std::string(OPIX_SAMPLES_DIR) + "/astronaut_rggb.pgm", "-o", "out.ppm", "-lut",
                        std::string(OPIX_SAMPLES_DIR) + "/gamma_8bit.txt"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(exists(path("out.ppm")));
}

// A table whose output is deeper than 8 bits still gives a .bmp: the result
// is narrowed after the table, as without one.
TEST_F(Cli, DeepTableToEightBitFile) {
  writePgm("in.pgm", 64, 64, true, 90);
  {
    std::ofstream t(path("identity12.txt"));
    for (int i = 0; i < 4096; ++i) t << i << "\n";
  }
  const Result plain = run({"-i", "in.pgm", "-o", "plain.bmp"});
  const Result table = run({"-i", "in.pgm", "-o", "table.bmp", "-lut", "identity12.txt"});
  ASSERT_EQ(plain.status, 0) << plain.err;
  ASSERT_EQ(table.status, 0) << table.err;
  EXPECT_NE(table.out.find("Output surface format: RGB8\n"), std::string::npos);
  EXPECT_TRUE(readFile(path("table.bmp")) == readFile(path("plain.bmp")));
}

// Help is a success; every refused option or value exits with the usage
// status 2 after its own message and the usage text, and writes nothing.
TEST_F(Cli, RefusedOptionsExitWithTheUsageStatus) {
  writePgm("in.pgm", 64, 64, false, 70);
  for (const char* word : {"-help", "--HELP"}) {
    const Result help = run({"-i", "in.pgm", "-o", "out.ppm", word});
    EXPECT_EQ(help.status, 0) << word;
    EXPECT_EQ(help.err, "");
    EXPECT_EQ(help.out.rfind("Image debayer", 0), 0u);
  }
  const struct {
    std::vector<std::string> words;
    const char* err;
  } cases[] = {
      {{"-repeat", "-1"}, "The specified repeat count is invalid. It should be from 1 to 100000.\n"},
      {{"-thread", "65"}, "The specified thread count is invalid. It should be from 1 to 64.\n"},
      {{"-tpye", "MG"}, "Unknown option -tpye\n"},
      {{"-foo"}, "Unknown option -foo\n"},
      {{"-type", "XXX"},
       "Demosaic type XXX was not recognized.\nIt should be DFPD, HQLI, L7, MG, binning_2x2, binning_4x4 or "
       "binning_8x8.\n"},
      {{"-pattern", "XXXX"}, "Pattern XXXX was not recognized.\nIt should be RGGB, BGGR, GBRG or GRBG.\n"},
      {{"-bits", "11"}, "The specified bits count 11 is invalid. It should be 8, 10, 12, 14 or 16.\n"},
      {{"-black_shift", "-3"}, "The specified black shift is invalid. It should be a number from 0 to 65535.\n"},
      {{"-wb_r", "x"}, "The white balance gain x of -wb_r is invalid. It should be a number of 0 or more.\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"-i", "in.pgm", "-o", "out.ppm"};
    args.insert(args.end(), c.words.begin(), c.words.end());
    const Result r = run(args);
    EXPECT_EQ(r.status, 2) << c.words[0];
    EXPECT_EQ(r.err, c.err) << c.words[0];
    EXPECT_EQ(r.out.rfind("Image debayer", 0), 0u) << c.words[0];
    EXPECT_FALSE(exists(path("out.ppm"))) << c.words[0];
  }
  const Result noInput = run({"-o", "out.ppm"});
  EXPECT_EQ(noInput.status, 2);
  EXPECT_EQ(noInput.err, "Input path parameter is not found\n");
  const Result noOutput = run({"-i", "in.pgm"});
  EXPECT_EQ(noOutput.status, 2);
  EXPECT_EQ(noOutput.err, "Output file parameter is not found\n");
  // Keywords in any case select what their upper-case spelling does.
  const Result lower = run({"-i", "in.pgm", "-o", "lower.ppm", "-type", "hqli", "-p", "gbrg"});
  const Result upper = run({"-i", "in.pgm", "-o", "upper.ppm", "-type", "HQLI", "-p", "GBRG"});
  ASSERT_EQ(lower.status, 0) << lower.err;
  ASSERT_EQ(upper.status, 0) << upper.err;
  EXPECT_NE(lower.out.find("Pattern: GBRG\nOutput surface format: RGB8\nDebayer algorithm: HQLI\n"), std::string::npos);
  EXPECT_TRUE(readFile(path("lower.ppm")) == readFile(path("upper.ppm")));
}

// The host backend has no GPU memory and no bus: its start-up lines say so
// and run no bandwidth test; -quiet leaves the start-up lines out.
TEST_F(Cli, HostBackendStartUpLinesAndQuiet) {
  if (g_backend == Backend::Cuda) GTEST_SKIP() << "the CUDA backend times its bus";
  writePgm("in.pgm", 64, 64, false, 71);
  const Result r = run({"-i", "in.pgm", "-o", "out.ppm"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(std::regex_search(r.out, std::regex("^SDK version: [^\n]+\nProcessing unit: .+ \\(device id = -1\\)\n"
                                                  "Available host memory size: \\d+\\.\\d\\d GB\n"
                                                  "PCI-Express bandwidth test \\(host to device\\): skipped on the "
                                                  "host backend\n\nInput surface format: grayscale\n")))
      << r.out;
  const Result quiet = run({"-i", "in.pgm", "-o", "quiet.ppm", "-quiet"});
  ASSERT_EQ(quiet.status, 0) << quiet.err;
  EXPECT_EQ(quiet.out.rfind("Input surface format: grayscale\n", 0), 0u) << quiet.out;
  EXPECT_EQ(quiet.out.find("SDK version"), std::string::npos);
  EXPECT_EQ(quiet.out.find("Processing unit"), std::string::npos);
  EXPECT_NE(quiet.out.find("Output image: quiet.ppm\n"), std::string::npos);
  EXPECT_TRUE(readFile(path("quiet.ppm")) == readFile(path("out.ppm")));
}

// A RAW file carries no header: a size other than one frame of -w x -h
// samples at -bits (one byte up to 8 bits, two above) is refused with both
// byte counts, alone and in a batch.
TEST_F(Cli, RawFileOfAnotherSizeIsRefused) {
  const std::vector<int> samples = randomMosaic(64, 64, OPIX_I12, 72).samples;
  writeRaw16(path("a16.raw"), samples);  // 8192 bytes
  const Result eight = run({"-i", "a16.raw", "-w", "64", "-h", "64", "-o", "out.ppm"});
  EXPECT_EQ(eight.status, 255);
  EXPECT_EQ(eight.err,
            "RAW file a16.raw: expected 4096 bytes (64 x 64 samples of 8 bits, 1 byte each), got 8192\n"
            "Invalid image dimensions\n");
  EXPECT_FALSE(exists(path("out.ppm")));
  const Result wide = run({"-i", "a16.raw", "-w", "64", "-h", "60", "-bits", "12", "-o", "out.tif"});
  EXPECT_EQ(wide.status, 255);
  EXPECT_EQ(wide.err.rfind("RAW file a16.raw: expected 7680 bytes (64 x 60 samples of 12 bits, 2 bytes each), got "
                           "8192\n",
                           0),
            0u)
      << wide.err;
  const Result fits = run({"-i", "a16.raw", "-w", "64", "-h", "64", "-bits", "12", "-o", "out.tif"});
  EXPECT_EQ(fits.status, 0) << fits.err;
  std::ofstream(path("b8.raw"), std::ios::binary) << std::string(64 * 64, '\x10');
  const Result batch = run(
      {"-if", "*.raw", "-w", "64", "-h", "64", "-bits", "12", "-o", "b_*.tif", "-maxWidth", "64", "-maxHeight", "64"});
  EXPECT_EQ(batch.status, 255);
  EXPECT_EQ(batch.err,
            "RAW file b8.raw: expected 8192 bytes (64 x 64 samples of 12 bits, 2 bytes each), got 4096\n"
            "b8.raw: Invalid image dimensions\n");
  EXPECT_TRUE(exists(path("b_0.tif")));
  EXPECT_FALSE(exists(path("b_1.tif")));
}

namespace {

// The SMaxSampleValue entries of a TIFF file, one per sample, or none.
std::vector<double> maxSampleValues(const std::string& name) {
  TIFFSetWarningHandler(nullptr);
  TIFF* tif = TIFFOpen(name.c_str(), "r");
  if (!tif) return {};
  uint16_t spp = 0;
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
  std::vector<double> values;
  double* perSample = nullptr;
  double one = 0;
  // libtiff gives one value, or with TIFFTAG_PERSAMPLE set, one per sample.
  TIFFSetField(tif, TIFFTAG_PERSAMPLE, PERSAMPLE_MULTI);
  if (TIFFGetField(tif, TIFFTAG_SMAXSAMPLEVALUE, &perSample) == 1 && perSample)
    values.assign(perSample, perSample + spp);
  TIFFSetField(tif, TIFFTAG_PERSAMPLE, PERSAMPLE_MERGED);
  if (values.empty() && TIFFGetField(tif, TIFFTAG_SMAXSAMPLEVALUE, &one) == 1) values.assign(1, one);
  TIFFClose(tif);
  return values;
}

}  // namespace

// -bits also names the depth of the samples that a 16-bit PGM, PNG or TIFF
// holds in its words: 12-bit data in 16-bit files gives the 12-bit result
// of the same data in a 12-bit file. Samples above the depth, and a depth
// that an 8-bit file cannot have, are refused.
TEST_F(Cli, BitsNameTheDepthOfSixteenBitFiles) {
  const uint32_t w = 64, h = 64;
  const std::vector<int> samples = randomMosaic(w, h, OPIX_I12, 73).samples;
  writeGray(path("ref.pgm"), w, h, 12, samples);   // maxval 4095
  writeGray(path("in16.pgm"), w, h, 16, samples);  // maxval 65535, the same words
  std::vector<uint8_t> words(size_t{w} * h * 2);
  std::memcpy(words.data(), std::vector<uint16_t>(samples.begin(), samples.end()).data(), words.size());
  TiffLayout layout;
  layout.bps = 16;
  ASSERT_TRUE(writeTiffFile(path("in16.tif"), w, h, layout, words));
  const Result ref = run({"-i", "ref.pgm", "-o", "ref.tif"});
  ASSERT_EQ(ref.status, 0) << ref.err;
  for (const char* in : {"in16.pgm", "in16.tif"}) {
    SCOPED_TRACE(in);
    const Result plain = run({"-i", in, "-o", "plain.tif"});
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_NE(plain.out.find("Output surface format: RGB16\n"), std::string::npos);
    const Result r = run({"-i", in, "-o", "out.tif", "-bits", "12"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Output surface format: RGB12\n"), std::string::npos);
    EXPECT_NE(r.out.find("Image size: 64x64 pixels, 12 bits\n"), std::string::npos);
    EXPECT_TRUE(readFile(path("out.tif")) == readFile(path("ref.tif")));
    const Result ten = run({"-i", in, "-o", "ten.tif", "-bits", "10"});
    EXPECT_EQ(ten.status, 255);
    EXPECT_EQ(ten.err, "Input file has sample values above 10 bits\nInvalid file format\n");
  }
  // A 12-bit TIFF result names its largest sample value; a 16-bit one needs
  // none.
  EXPECT_EQ(maxSampleValues(path("ref.tif")), (std::vector<double>{4095, 4095, 4095}));
  writePgm("in8.pgm", w, h, false, 74);
  const Result eight = run({"-i", "in8.pgm", "-o", "out8.tif", "-bits", "12"});
  EXPECT_EQ(eight.status, 255);
  EXPECT_EQ(eight.err, "in8.pgm holds 8-bit samples: -bits 12 does not apply to it\nInvalid file format\n");
  EXPECT_FALSE(exists(path("out8.tif")));
}

// L7 has no 8-bit kernels: an 8-bit mosaic is refused with that reason.
TEST_F(Cli, L7OnAnEightBitMosaicSaysWhy) {
  writePgm("in.pgm", 64, 64, false, 75);
  const Result r = run({"-i", "in.pgm", "-o", "out.ppm", "-type", "L7"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err,
            "L7 takes 12- and 16-bit mosaics; the input has 8 bits\nFile format is unsupported by the current "
            "version\n");
  EXPECT_FALSE(exists(path("out.ppm")));
}

// A result that cannot be written is reported once by the writer, then
// named with its status.
TEST_F(Cli, AFailedWriteIsReportedOnce) {
  writePgm("in.pgm", 64, 64, false, 76);
  ASSERT_EQ(mkfifo(path("fifo.ppm").c_str(), 0644), 0);
  const Result r = run({"-i", "in.pgm", "-o", "fifo.ppm"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, "fifo.ppm is not a regular file\nCould not save to file\nfifo.ppm: Failed to open/access file\n");
}
