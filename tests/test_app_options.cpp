// The command line: option matching, defaults and keyword tables; batch
// masks and output names.
#include <sys/stat.h>

#include <fstream>

#include "Batch.h"
#include "Options.h"
#include "TestSupport.h"

using namespace opix::app;

namespace {

// Parses a command line given as words (the program name added).
struct Parsed {
  explicit Parsed(std::vector<std::string> words) : storage(std::move(words)) {
    storage.insert(storage.begin(), "opix_debayer");
    for (auto& w : storage) argv.push_back(w.data());
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    ok = options.parse(int(argv.size()), argv.data());
    out = ::testing::internal::GetCapturedStdout();
    err = ::testing::internal::GetCapturedStderr();
  }
  std::vector<std::string> storage;
  std::vector<char*> argv;
  DebayerSampleOptions options;
  bool ok;
  std::string out, err;
};

}  // namespace

TEST(Options, RepeatCountRange) {
  for (const char* value : {"-1", "100001", "5000000000", "-4294967295"}) {
    Parsed p({"-i", "a.pgm", "-o", "b.bmp", "-repeat", value});
    EXPECT_FALSE(p.ok) << value;
    EXPECT_EQ(p.err, "The specified repeat count is invalid. It should be from 1 to 100000.\n") << value;
  }
  for (const char* value : {"100000", "0", "x"}) {
    Parsed p({"-i", "a.pgm", "-o", "b.bmp", "-repeat", value});
    EXPECT_TRUE(p.ok) << value;
    EXPECT_EQ(p.options.repeat, value[0] == '1' ? 100000u : 1u) << value;
  }
}

TEST(Options, MatchingRules) {
  for (const char* word : {"--INFO", "-info", "info=1", "info"}) {
    Parsed p({"-i", "a.pgm", "-o", "b.bmp", word});
    EXPECT_TRUE(p.ok);
    EXPECT_TRUE(p.options.info) << word;
  }
  Parsed eq({"-i", "a.pgm", "-o", "b.bmp", "-w=100", "7"});
  EXPECT_EQ(eq.options.rawWidth, 0u);
  // A value spelled like an option is taken as the value and as the option.
  Parsed value({"-i", "a.pgm", "-o", "-info"});
  ASSERT_TRUE(value.ok);
  EXPECT_STREQ(value.options.outputPath, "-info");
  EXPECT_TRUE(value.options.info);
  // The first match wins; trailing white space of a value is removed.
  Parsed first({"-i", "a.pgm ", "-i", "b.pgm", "-o", "c.ppm"});
  EXPECT_STREQ(first.options.inputPath, "a.pgm");
  EXPECT_FALSE(first.options.outputNeedsBgr);
  Parsed bgr({"-i", "a.pgm", "-o", "c.BMP"});
  EXPECT_TRUE(bgr.options.outputNeedsBgr);
}

TEST(Options, DefaultsAndNumbers) {
  Parsed p({"-i", "a.pgm", "-o", "b.bmp"});
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.options.repeat, 1u);
  EXPECT_EQ(p.options.bits, 8u);
  EXPECT_EQ(p.options.debayerType, OPIX_DFPD);
  EXPECT_EQ(p.options.bayerPattern, OPIX_BAYER_RGGB);
  EXPECT_FALSE(p.options.isWhiteBalance);
  EXPECT_EQ(p.options.queueSize, 16u);
  EXPECT_EQ(p.options.inputSurfaceFormat, OPIX_I8);

  Parsed n({"-i", "a.pgm16", "-o", "b", "-repeat", "0", "-bits", "11", "-w", "2000", "-maxWidth", "1000", "-h", "2000",
            "-maxHeight", "3000", "-d", "-3", "-cpu"});
  EXPECT_EQ(n.options.repeat, 1u);
  EXPECT_EQ(n.options.bits, 8u);
  EXPECT_EQ(n.options.maxWidth, 2000u);
  EXPECT_EQ(n.options.maxHeight, 3000u);
  EXPECT_EQ(n.options.deviceId, -3);
  EXPECT_TRUE(n.options.cpu);
  EXPECT_EQ(n.options.inputSurfaceFormat, OPIX_I16);
  for (const char* bits : {"10", "12", "14", "16", "32"}) {
    Parsed b({"-i", "a", "-o", "b", "-bits", bits});
    EXPECT_EQ(b.options.bits, uint32_t(std::stoi(bits)));
  }
  Parsed bits24({"-i", "a", "-o", "b", "-bits", "24"});
  EXPECT_EQ(bits24.options.bits, 8u);

  Parsed batch({"-i", "a", "-o", "b", "-b", "0"});
  EXPECT_EQ(batch.out, "The specified batch size is invalid. Setting it to default.\n");
  EXPECT_EQ(batch.options.batchSize, 1u);
}

TEST(Options, WhiteBalanceRealNumbers) {
  Parsed p({"-i", "a", "-o", "b", "-wb_r", ".5", "-wb_g1", ".0", "-wb_g2", "0", "-wb_b", "abc"});
  EXPECT_FLOAT_EQ(p.options.whiteBalance[0], 0.5f);
  EXPECT_FLOAT_EQ(p.options.whiteBalance[1], 1.0f);  // atof gives 0 and the text does not begin with '0'
  EXPECT_FLOAT_EQ(p.options.whiteBalance[2], 0.0f);
  EXPECT_FLOAT_EQ(p.options.whiteBalance[3], 1.0f);
  EXPECT_TRUE(p.options.isWhiteBalance);
  Parsed ones({"-i", "a", "-o", "b", "-wb_r", "1.0", "-wb_b", "1"});
  EXPECT_FALSE(ones.options.isWhiteBalance);
  Parsed tiny({"-i", "a", "-o", "b", "-wb_g2", "1.0001"});
  EXPECT_TRUE(tiny.options.isWhiteBalance);
}

TEST(Options, KeywordsAndFailures) {
  Parsed t({"-i", "a", "-o", "b", "-type", "BINNING_2X2", "-pattern", "rggb"});
  EXPECT_TRUE(t.ok);
  EXPECT_EQ(t.options.debayerType, OPIX_DFPD);
  EXPECT_EQ(t.options.bayerPattern, OPIX_BAYER_RGGB);
  EXPECT_EQ(t.err,
            "Pattern BINNING_2X2 was not recognized.\nSet to DFPD\nPattern rggb was not recognized.\nSet to RGGB\n");
  Parsed k({"-i", "a", "-o", "b", "-type", "binning_4x4", "-pattern", "GBRG", "-matrixA", "m.pfm"});
  EXPECT_EQ(k.options.debayerType, OPIX_BINNING_4x4);
  EXPECT_EQ(k.options.bayerPattern, OPIX_BAYER_GBRG);
  EXPECT_STREQ(k.options.matrixAPath, "m.pfm");

  Parsed noInput({"-o", "b"});
  EXPECT_FALSE(noInput.ok);
  EXPECT_EQ(noInput.err, "Input path parameter is not found\n");
  Parsed noOutput({"-i", "a"});
  EXPECT_FALSE(noOutput.ok);
  EXPECT_EQ(noOutput.err, "Output file parameter is not found\n");
  Parsed batch({"-if", "*.pgm", "-o", "*.bmp", "-maxWidth", "100"});
  EXPECT_FALSE(batch.ok);
  EXPECT_EQ(batch.err, "maxWidth or maxHeight option was not set\n");
  Parsed help({"-help"});
  EXPECT_TRUE(help.ok);
  EXPECT_TRUE(help.options.help);
  Parsed none({});
  EXPECT_TRUE(none.options.help);
}

TEST(Batch, MasksAndOutputNames) {
  char dirTemplate[] = "/tmp/opix_batch_XXXXXX";
  const std::string dir = mkdtemp(dirTemplate);
  for (const char* name : {"b.pgm", "a.pgm", ".hidden.pgm", "a.pgm.txt", "ab.pgm", "c.ppm"})
    std::ofstream(dir + "/" + name) << "x";
  mkdir((dir + "/x.pgm").c_str(), 0755);
  const auto files = findFiles(dir + "\\*.pgm");
  EXPECT_EQ(files, (std::vector<std::string>{dir + "/a.pgm", dir + "/ab.pgm", dir + "/b.pgm"}));
  EXPECT_TRUE(findFiles(dir + "/*.tif").empty());
  // Only '*' and '?' are wild; the extension matches in any case, the rest
  // case for case.
  for (const char* name : {"img[1].pgm", "img1.PGM", "Img2.pgm", "a.b.Pgm"}) std::ofstream(dir + "/" + name) << "x";
  EXPECT_EQ(findFiles(dir + "/img[1].pgm"), (std::vector<std::string>{dir + "/img[1].pgm"}));
  EXPECT_EQ(findFiles(dir + "/img?.pgm"), (std::vector<std::string>{dir + "/img1.PGM"}));
  EXPECT_EQ(findFiles(dir + "/*[*.PGM"), (std::vector<std::string>{dir + "/img[1].pgm"}));
  EXPECT_EQ(findFiles(dir + "/a.*.pgm"), (std::vector<std::string>{dir + "/a.b.Pgm"}));
  EXPECT_EQ(findFiles(dir + "/i*g*"), (std::vector<std::string>{dir + "/img1.PGM", dir + "/img[1].pgm"}));
  EXPECT_EQ(outputName("out/*.bmp", 0), "out/0.bmp");
  EXPECT_EQ(outputName("out/*_*.bmp", 12), "out/12_*.bmp");
  EXPECT_EQ(outputName("same.bmp", 3), "same.bmp");
  std::system(("rm -rf " + dir).c_str());
}

TEST(Options, GainAliasesAndBlackShift) {
  // The short gain names keep their case: -b is the batch size.
  Parsed a({"-i", "a", "-o", "out", "-R", "2", "-b", "3", "-wb_G", "0.5", "-G2", "0.25"});
  EXPECT_FLOAT_EQ(a.options.whiteBalance[0], 2.0f);
  EXPECT_FLOAT_EQ(a.options.whiteBalance[1], 0.5f);
  EXPECT_FLOAT_EQ(a.options.whiteBalance[2], 0.25f);
  EXPECT_FLOAT_EQ(a.options.whiteBalance[3], 1.0f);
  EXPECT_EQ(a.options.batchSize, 3u);
  Parsed both({"-i", "a", "-o", "b", "-wb_r", "0.5", "-R", "2"});
  EXPECT_FLOAT_EQ(both.options.whiteBalance[0], 0.5f);  // the long name wins

  Parsed shift({"-i", "a", "-o", "b", "-black_shift", "0.0"});
  EXPECT_TRUE(shift.ok);
  EXPECT_EQ(shift.options.blackShift, 0.0f);
  for (const char* bad : {"-1", "abc", "12x", "70000"}) {
    Parsed p({"-i", "a", "-o", "b", "-black_shift", bad});
    EXPECT_FALSE(p.ok) << bad;
    EXPECT_EQ(p.err, "The specified black shift is invalid. It should be a number from 0 to 65535.\n") << bad;
  }
}
