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
  // A word that is no number is refused too, not taken as 1.
  for (const char* value : {"x", "12x", ""}) {
    Parsed p({"-i", "a.pgm", "-o", "b.bmp", "-repeat", value});
    EXPECT_FALSE(p.ok) << value;
    EXPECT_EQ(p.err, "The specified repeat count is invalid. It should be from 1 to 100000.\n") << value;
  }
  for (const char* value : {"100000", "0"}) {
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
  // A value joined with '=' is refused: it would be ignored.
  Parsed eq({"-i", "a.pgm", "-o", "b.bmp", "-w=100"});
  EXPECT_FALSE(eq.ok);
  EXPECT_EQ(eq.err, "Option -w=100 takes its value as the next word: -w 100\n");
  // A value spelled like an option is the value only.
  Parsed value({"-i", "a.pgm", "-o", "-info"});
  ASSERT_TRUE(value.ok);
  EXPECT_STREQ(value.options.outputPath, "-info");
  EXPECT_FALSE(value.options.info);
  Parsed named({"-i", "d", "-o", "b", "-type", "HQLI"});
  ASSERT_TRUE(named.ok) << named.err;
  EXPECT_STREQ(named.options.inputPath, "d");
  EXPECT_EQ(named.options.deviceId, 0);
  EXPECT_EQ(named.options.batchSize, 1u);
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

  EXPECT_FALSE(p.options.bitsGiven);
  Parsed n({"-i", "a.pgm16", "-o", "b", "-repeat", "0", "-bits", "12", "-w", "2000", "-maxWidth", "1000", "-h", "2000",
            "-maxHeight", "3000", "-d", "-3", "-cpu"});
  EXPECT_EQ(n.options.repeat, 1u);
  EXPECT_EQ(n.options.bits, 12u);
  EXPECT_TRUE(n.options.bitsGiven);
  EXPECT_EQ(n.options.maxWidth, 2000u);
  EXPECT_EQ(n.options.maxHeight, 3000u);
  EXPECT_EQ(n.options.deviceId, -3);
  EXPECT_TRUE(n.options.cpu);
  EXPECT_EQ(n.options.inputSurfaceFormat, OPIX_I16);
  for (const char* bits : {"8", "10", "12", "14", "16"}) {
    Parsed b({"-i", "a", "-o", "b", "-bits", bits});
    EXPECT_EQ(b.options.bits, uint32_t(std::stoi(bits)));
  }
  // Depths no mosaic has are refused, not read as 8 bits.
  for (const char* bits : {"11", "24", "32", "0", "12x", "012"}) {
    Parsed b({"-i", "a", "-o", "b", "-bits", bits});
    EXPECT_FALSE(b.ok) << bits;
    EXPECT_EQ(b.err,
              std::string("The specified bits count ") + bits + " is invalid. It should be 8, 10, 12, 14 or 16.\n");
  }

  Parsed batch({"-i", "a", "-o", "b", "-b", "0"});
  EXPECT_EQ(batch.out, "The specified batch size is invalid. Setting it to default.\n");
  EXPECT_EQ(batch.options.batchSize, 1u);
}

TEST(Options, WhiteBalanceRealNumbers) {
  Parsed p({"-i", "a", "-o", "b", "-wb_r", ".5", "-wb_g1", ".0", "-wb_g2", "0", "-wb_b", "2e0"});
  ASSERT_TRUE(p.ok) << p.err;
  EXPECT_FLOAT_EQ(p.options.whiteBalance[0], 0.5f);
  EXPECT_FLOAT_EQ(p.options.whiteBalance[1], 0.0f);  // .0 is zero, as written
  EXPECT_FLOAT_EQ(p.options.whiteBalance[2], 0.0f);
  EXPECT_FLOAT_EQ(p.options.whiteBalance[3], 2.0f);
  EXPECT_TRUE(p.options.isWhiteBalance);
  // A gain that is no number, negative or not finite is refused by name.
  for (const char* bad : {"abc", "-0.5", "nan", "inf", "1e39", "1.5x"}) {
    Parsed g({"-i", "a", "-o", "b", "-wb_b", bad});
    EXPECT_FALSE(g.ok) << bad;
    EXPECT_EQ(g.err, std::string("The white balance gain ") + bad +
                         " of -wb_b is invalid. It should be a number of 0 or more.\n");
  }
  Parsed shortName({"-i", "a", "-o", "b", "-G1", "-1"});
  EXPECT_EQ(shortName.err, "The white balance gain -1 of -G1 is invalid. It should be a number of 0 or more.\n");
  Parsed ones({"-i", "a", "-o", "b", "-wb_r", "1.0", "-wb_b", "1"});
  EXPECT_FALSE(ones.options.isWhiteBalance);
  Parsed tiny({"-i", "a", "-o", "b", "-wb_g2", "1.0001"});
  EXPECT_TRUE(tiny.options.isWhiteBalance);
}

TEST(Options, KeywordsAndFailures) {
  // Keywords match in any case.
  Parsed t({"-i", "a", "-o", "b", "-type", "BINNING_2X2", "-pattern", "bggr"});
  EXPECT_TRUE(t.ok);
  EXPECT_EQ(t.options.debayerType, OPIX_BINNING_2x2);
  EXPECT_EQ(t.options.bayerPattern, OPIX_BAYER_BGGR);
  EXPECT_EQ(t.err, "");
  Parsed lower({"-i", "a", "-o", "b", "-type", "dfpd", "-p", "GbRg"});
  EXPECT_EQ(lower.options.debayerType, OPIX_DFPD);
  EXPECT_EQ(lower.options.bayerPattern, OPIX_BAYER_GBRG);
  // An unknown keyword is refused with its word, never replaced by the
  // default.
  Parsed type({"-i", "a", "-o", "b", "-type", "XXX"});
  EXPECT_FALSE(type.ok);
  EXPECT_EQ(type.err,
            "Demosaic type XXX was not recognized.\nIt should be DFPD, HQLI, L7, MG, binning_2x2, binning_4x4 or "
            "binning_8x8.\n");
  Parsed pattern({"-i", "a", "-o", "b", "-p", "XXXX"});
  EXPECT_FALSE(pattern.ok);
  EXPECT_EQ(pattern.err, "Pattern XXXX was not recognized.\nIt should be RGGB, BGGR, GBRG or GRBG.\n");
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

// Every word is an option the program knows or the value of one; anything
// else is refused by its word.
TEST(Options, UnknownWordsAndMissingValues) {
  const struct {
    std::vector<std::string> words;
    const char* err;
  } cases[] = {
      {{"-tpye", "MG"}, "Unknown option -tpye\n"},
      {{"-foo"}, "Unknown option -foo\n"},
      {{"--g1", "2"}, "Unknown option --g1\n"},  // the short gain names keep their case
      {{"extra.pgm"}, "Unexpected argument extra.pgm: options begin with '-'\n"},
      {{"-type"}, "Option -type needs a value\n"},
      {{"-pattern=RGGB"}, "Option -pattern=RGGB takes its value as the next word: -pattern RGGB\n"},
      {{"-w", "-64"}, "The value -64 of option -w is invalid. It should be a whole number from 0 to 2147483647.\n"},
      {{"-maxHeight", "1e3"},
       "The value 1e3 of option -maxHeight is invalid. It should be a whole number from 0 to 2147483647.\n"},
      {{"-d", "one"},
       "The value one of option -d is invalid. It should be a whole number from -2147483648 to 2147483647.\n"},
      {{"-thread", "65"}, "The specified thread count is invalid. It should be from 1 to 64.\n"},
      {{"-thread", "two"}, "The specified thread count is invalid. It should be from 1 to 64.\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> words = {"-i", "a.pgm", "-o", "b.ppm"};
    words.insert(words.end(), c.words.begin(), c.words.end());
    Parsed p(words);
    EXPECT_FALSE(p.ok) << c.words[0];
    EXPECT_EQ(p.err, c.err) << c.words[0];
  }
  // Flags may carry '=', values may look like options, every option may be
  // written with any case and number of dashes; -B is the blue gain and
  // leaves the batch size alone.
  Parsed ok({"-i", "a.pgm", "--O", "-info", "QUIET=1", "--Type", "hqli", "-B", "0.5", "-d", "-1", "-cpu"});
  ASSERT_TRUE(ok.ok) << ok.err;
  EXPECT_STREQ(ok.options.outputPath, "-info");
  EXPECT_FALSE(ok.options.info);
  EXPECT_TRUE(ok.options.quiet);
  EXPECT_EQ(ok.options.debayerType, OPIX_HQLI);
  EXPECT_FLOAT_EQ(ok.options.whiteBalance[3], 0.5f);
  EXPECT_EQ(ok.options.batchSize, 1u);
  EXPECT_EQ(ok.out, "");
  EXPECT_EQ(ok.options.deviceId, -1);
  // Help wins over every other word.
  Parsed help({"-foo", "--HELP"});
  EXPECT_TRUE(help.ok);
  EXPECT_TRUE(help.options.help);
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
