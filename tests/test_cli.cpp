// The opix_debayer program end to end: it runs on files made here, and its
// standard output, standard error, exit status and output files are compared
// with what the program must give. Timing figures vary and are matched by
// pattern, everything else exactly.
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

#include "DebayerSupport.h"

using namespace opix;
using namespace opix::test;

namespace {

struct Result {
  std::string out, err;
  int status = -1;
};

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

// The PPM a colour result must be written as: its header and rows.
std::string ppm(const DebayerRun& run) {
  const opixDeviceSurfaceBuffer_t& d = *run.destination;
  std::string s = "P6\n" + std::to_string(d.width) + "\n" + std::to_string(d.height) + "\n255\n";
  for (uint32_t y = 0; y < d.height; ++y)
    for (uint32_t x = 0; x < d.width; ++x)
      for (int c : run.pixel(x, y)) s.push_back(char(c));
  return s;
}

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/opix_cli_XXXXXX";
    dir_ = mkdtemp(tmpl);
  }
  void TearDown() override { std::system(("rm -rf " + dir_).c_str()); }

  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  // Runs the program in the test folder; the host backend unless the suite
  // runs on CUDA.
  Result run(std::vector<std::string> args, bool chooseBackend = true) {
    if (chooseBackend && g_backend != Backend::Cuda) args.push_back("-cpu");
    std::vector<char*> argv;
    std::string program = OPIX_DEBAYER_PATH;
    argv.push_back(program.data());
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string outPath = path(".stdout"), errPath = path(".stderr");
    const pid_t pid = fork();
    if (pid == 0) {
      if (chdir(dir_.c_str()) != 0) _exit(127);
      const int o = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int e = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(o, 1);
      dup2(e, 2);
      execv(argv[0], argv.data());
      _exit(127);
    }
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    Result r;
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    r.out = readFile(outPath);
    r.err = readFile(errPath);
    return r;
  }

  // An 8-bit (or 16-bit, maxval 4095) binary PGM of a random mosaic.
  Mosaic writePgm(const std::string& name, uint32_t w, uint32_t h, bool twelveBit, uint32_t seed) {
    const Mosaic m = randomMosaic(w, h, twelveBit ? OPIX_I12 : OPIX_I8, seed);
    std::ofstream out(path(name), std::ios::binary);
    out << "P5\n" << w << " " << h << "\n" << (twelveBit ? 4095 : 255) << "\n";
    for (int v : m.samples) {
      if (twelveBit) out.put(char(v >> 8));
      out.put(char(v & 0xFF));
    }
    return m;
  }

  // The file `name` holds what the SDK's debayer `sdk` makes of `m`.
  void expectSdkResult(DebayerRun& sdk, const Mosaic& m, opixBayerPattern_t pattern, const std::string& name) {
    ASSERT_EQ(sdk.run(m, pattern), OPIX_OK);
    EXPECT_EQ(readFile(path(name)), ppm(sdk)) << name;
  }

  std::string dir_;
};

// The lines before the per-image part of a run on the host backend.
const char* kHead =
    "SDK version: 0\\.18\\.1\\.0 \\(build date: \\d{4}-\\d{2}-\\d{2}\\)\n"
    "Processing unit: .+ \\(device id = -?\\d+\\)\n"
    "Available GPU memory size: \\d+\\.\\d\\d GB\n"
    "(TCC driver mode enabled\n)?"
    "PCI-Express bandwidth test \\(host to device\\): \\d+ MByte/s\n\n";

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
  EXPECT_EQ(failed.status, 0);
  EXPECT_EQ(failed.err, "Input path parameter is not found\n");
  EXPECT_EQ(failed.out, none.out);
}

TEST_F(Cli, ExtensionOutcomes) {
  struct Case {
    const char* in;
    const char* out;
    const char* message;
  };
  const Case cases[] = {
      {"a.ppm", "b.ppm", "Input file has unappropriate format.\nShould be pgm.\n"},
      {"a.pgm", "b.pgm", "Output file has unappropriate format.\nShould be ppm/bmp/tiff.\n"},
      {"a.pgm", "b.ppm16", "Output file has unappropriate format.\nShould be ppm/bmp/tiff.\n"},
      {"a.txt", "b.txt",
       "Input and output file has unappropriate format.\nInput should be pgm, output should be "
       "ppm/bmp/tiff.\n"},
  };
  for (const Case& c : cases) {
    const Result r = run({"-i", c.in, "-o", c.out});
    EXPECT_EQ(r.status, 255) << c.in;
    EXPECT_TRUE(std::regex_search(r.err, std::regex(quote(c.message) + "$"))) << r.err;
    EXPECT_TRUE(std::regex_match(r.out, std::regex(kHead))) << r.out;
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
  EXPECT_EQ(r.err, "Unsupported image size\n");
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
  EXPECT_EQ(noMax.status, 0);
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

// The chain is built for the format of a batch's first image; an image of
// another bit depth or channel count is named and skipped, and the run fails.
TEST_F(Cli, BatchImagesOfAnotherFormatAreSkipped) {
  const Mosaic a = writePgm("a.pgm", 64, 64, false, 18);
  writePgm("b.pgm", 64, 64, true, 19);
  std::ofstream(path("c.pgm"), std::ios::binary) << "P6\n64 64\n255\n" << std::string(64 * 64 * 3, '\x40');
  const Result r = run({"-if", "*.pgm", "-o", "out_*.ppm", "-maxWidth", "64", "-maxHeight", "64", "-type", "HQLI"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err,
            "b.pgm: Image format differs from the first image\nc.pgm: Image format differs from the first image\n");
  EXPECT_TRUE(std::regex_search(r.out, std::regex("Output surface format: RGB8\n[\\s\\S]*"
                                                  "Input image: b\\.pgm\nImage size: 64x64 pixels, 12 bits\n\n"
                                                  "Input image: c\\.pgm\nImage size: 64x64 pixels, 8 bits\n\n"
                                                  "Processing time on GPU for 3 images")))
      << r.out;
  EXPECT_FALSE(exists(path("out_1.ppm")));
  EXPECT_FALSE(exists(path("out_2.ppm")));
  DebayerRun sdk(OPIX_HQLI, 64, 64, OPIX_I8);
  expectSdkResult(sdk, a, OPIX_BAYER_RGGB, "out_0.ppm");
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
  EXPECT_EQ(r.status, 0);  // like every option failure: the usage text follows
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
  EXPECT_EQ(odd.err, "Unsupported image size\nInvalid image dimensions\n");
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
    EXPECT_EQ(r.err, "Unsupported image size\nInvalid image dimensions\n");
    EXPECT_FALSE(exists(path(c.out)));
  }
  writePgm("big.pgm", 64, 64, false, 21);
  const Result batch =
      run({"-if", "*.pgm", "-o", "out_*.ppm", "-maxWidth", "64", "-maxHeight", "64", "-type", "binning_4x4"});
  EXPECT_EQ(batch.status, 255);
  EXPECT_EQ(batch.err, "Unsupported image size\n");
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
  EXPECT_EQ(mg.err, "Unsupported image size\nInvalid image dimensions\n");
}

TEST_F(Cli, MgConversionMessageAndUnknownWords) {
  writePgm("in.pgm", 64, 64, false, 7);
  const Result mg = run({"-i", "in.pgm", "-o", "out.ppm", "-type", "MG"});
  EXPECT_EQ(mg.status, 255);
  EXPECT_NE(mg.out.find("Debayer algorithm: MG\nDebayer MG does not support 8 bits image. Image has been converted "
                        "to 16 bits."),
            std::string::npos)
      << mg.out;
  EXPECT_EQ(mg.err, "File format is unsupported by the current version\n");
  const Result word = run({"-i", "in.pgm", "-o", "out.ppm", "-type", "hqli", "-pattern", "XYZW"});
  EXPECT_EQ(word.status, 0);
  EXPECT_EQ(word.err, "Pattern hqli was not recognized.\nSet to DFPD\nPattern XYZW was not recognized.\nSet to RGGB\n");
}

TEST_F(Cli, SixteenBitResultToBmpIsRefusedAndTraceIsWritten) {
  writePgm("in.pgm", 64, 64, true, 8);
  const Result r = run({"-i", "in.pgm", "-o", "out.bmp", "-type", "HQLI", "-log", "trace.txt"});
  EXPECT_EQ(r.status, 255);
  EXPECT_TRUE(std::regex_search(r.err, std::regex("Could not save to file\n[\\s\\S]*$"))) << r.err;
  EXPECT_FALSE(exists(path("out.bmp")));
  const std::string trace = readFile(path("trace.txt"));
  EXPECT_EQ(trace.rfind("Product Name: ", 0), 0u);
  EXPECT_NE(trace.find("Debayer. Create\n\tdebayer type: HQLI\n"), std::string::npos);
  EXPECT_NE(trace.find("Debayer. Transform\n"), std::string::npos);
  const Result twelve = run({"-i", "in.pgm", "-o", "out.tif", "-type", "HQLI"});
  EXPECT_EQ(twelve.status, 0) << twelve.err;
  EXPECT_NE(twelve.out.find("Output surface format: RGB12\n"), std::string::npos);
  EXPECT_TRUE(exists(path("out.tif")));
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
                        "-wb_r", "1.5", "-wb_b", "0.5", "-info"});
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

  // A matrix A of another size is dropped and the run goes on with matrix B;
  // white balance factors of exactly 1 create no filter.
  const std::string shiftOnly = reference(correct(m, &shifts, nullptr, 1.0, 1.0), "ref_b.ppm");
  const Result mismatch = run({"-i", "in.pgm", "-o", "out_b.ppm", "-type", "HQLI", "-matrixA", "small.mat", "-matrixB",
                               "b.pgm", "-wb_r", "1.0", "-info"});
  ASSERT_EQ(mismatch.status, 0) << mismatch.err;
  EXPECT_EQ(mismatch.err,
            "Input and matrix A file parameters mismatch\nMatrix A file reading error. Ignore parameters\n");
  EXPECT_NE(mismatch.out.find("MAD time"), std::string::npos);
  EXPECT_EQ(mismatch.out.find("Color correction time"), std::string::npos);
  EXPECT_TRUE(readFile(path("out_b.ppm")) == shiftOnly) << "out_b.ppm differs";

  // A colour matrix B is dropped; a missing matrix A ends the run.
  std::ofstream(path("colour.ppm"), std::ios::binary) << "P6\n"
                                                      << w << " " << h << "\n255\n"
                                                      << std::string(size_t{w} * h * 3, '\0');
  const Result colour = run({"-i", "in.pgm", "-o", "out_c.ppm", "-type", "HQLI", "-matrixB", "colour.ppm"});
  ASSERT_EQ(colour.status, 0) << colour.err;
  EXPECT_EQ(colour.err, "Matrix B file must not be color\nMatrix B file reading error. Ignore parameters\n");
  EXPECT_EQ(colour.out.find("MAD time"), std::string::npos);
  const Result missing = run({"-i", "in.pgm", "-o", "out_m.ppm", "-matrixA", "none.mat"});
  EXPECT_EQ(missing.status, 255);
  EXPECT_EQ(missing.err, "Failed to open/access file\n");
  EXPECT_FALSE(exists(path("out_m.ppm")));
}

// A matrix B of 16-bit samples holds 16-bit black shifts: it corrects a
// 12-bit mosaic with its values as stored, and an 8-bit mosaic cannot take it.
// Below the debayer's minimum size the matrices are laid out for the larger
// chain; each pixel still gets its own gain and shift.
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

  const Mosaic eight = writePgm("in8.pgm", w, h, false, 15);
  const Result narrow = run({"-i", "in8.pgm", "-o", "out8.ppm", "-type", "HQLI", "-matrixB", "b16.pgm"});
  ASSERT_EQ(narrow.status, 0) << narrow.err;
  EXPECT_EQ(narrow.err,
            "Input and matrix B file parameters mismatch\nMatrix B file reading error. Ignore parameters\n");
  DebayerRun sdk(OPIX_HQLI, w, h, OPIX_I8);
  ASSERT_EQ(sdk.run(eight, OPIX_BAYER_RGGB), OPIX_OK);
  EXPECT_TRUE(readFile(path("out8.ppm")) == ppm(sdk)) << "out8.ppm differs";
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
