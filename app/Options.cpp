#include "Options.h"

#include "ImageFiles.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace opix::app {

namespace {

// The word without its leading dashes; a word of dashes only stays whole.
const char* stripDashes(const char* word) {
  const char* p = word;
  while (*p == '-') ++p;
  return *p ? p : word;
}

bool equalsIgnoringCase(const char* a, size_t length, const char* name) {
  if (std::strlen(name) != length) return false;
  for (size_t i = 0; i < length; ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(name[i])))
      return false;
  return true;
}

bool matches(const char* word, const char* name, bool cutAtEquals) {
  const char* rest = stripDashes(word);
  size_t length = std::strlen(rest);
  if (cutAtEquals) {
    const char* eq = std::strchr(rest, '=');
    if (eq) length = static_cast<size_t>(eq - rest);
  }
  return equalsIgnoringCase(rest, length, name);
}

constexpr uint32_t kMaxRepeat = 100000;
constexpr uint32_t kMaxThreads = 64;

uint32_t atLeastOne(int32_t v) { return v == 0 ? 1u : static_cast<uint32_t>(v); }

}  // namespace

bool BaseOptions::isPresent(const char* name) const {
  for (int i = 1; i < argc_; ++i)
    if (matches(argv_[i], name, true)) return true;
  return false;
}

namespace {

// The word after an option name, without trailing white space.
const char* optionValue(char* value) {
  size_t n = std::strlen(value);
  while (n > 0 && std::isspace(static_cast<unsigned char>(value[n - 1]))) value[--n] = '\0';
  return value;
}

}  // namespace

const char* BaseOptions::textValue(const char* name) const {
  for (int i = 1; i + 1 < argc_; ++i)
    if (matches(argv_[i], name, false)) return optionValue(argv_[i + 1]);
  return nullptr;
}

const char* BaseOptions::exactTextValue(const char* name) const {
  for (int i = 1; i + 1 < argc_; ++i)
    if (std::strcmp(stripDashes(argv_[i]), name) == 0) return optionValue(argv_[i + 1]);
  return nullptr;
}

int32_t BaseOptions::integerValue(const char* name, int32_t fallback) const {
  const char* v = textValue(name);
  return v ? std::atoi(v) : fallback;
}

namespace {

// A number, or `fallback` for a word that is none (a 0 must be written as
// one).
double realFrom(const char* v, double fallback) {
  if (!v) return fallback;
  const double d = std::atof(v);
  return (d == 0.0 && v[0] != '0') ? fallback : d;
}

}  // namespace

bool BaseOptions::parse(int argc, char** argv) {
  argc_ = argc;
  argv_ = argv;
  if (argc <= 1 || isPresent("help")) {
    help = true;
    return true;
  }
  multiprocess = isPresent("multiprocess");
  async = isPresent("async");

  if (!isInputOptional) {
    inputPath = textValue("i");
    if (!inputPath) inputPath = textValue("if");
    if (!inputPath) {
      std::fprintf(stderr, "Input path parameter is not found\n");
      return false;
    }
    const std::string in = inputPath;
    if (hasExtension(in, ".bmp") || hasExtension(in, ".dib") || hasExtension(in, ".jpg") || hasExtension(in, ".jpeg"))
      inputSurfaceFormat = OPIX_BGR8;
    else if (hasExtension(in, ".ppm"))
      inputSurfaceFormat = OPIX_RGB8;
    else if (hasExtension(in, ".ppm16"))
      inputSurfaceFormat = OPIX_RGB16;
    else if (hasExtension(in, ".pgm16"))
      inputSurfaceFormat = OPIX_I16;
    else
      inputSurfaceFormat = OPIX_I8;
  }
  if (!isOutputOptional) {
    outputPath = textValue("o");
    if (!outputPath) {
      std::fprintf(stderr, "Output file parameter is not found\n");
      return false;
    }
    outputNeedsBgr = hasExtension(std::string(outputPath), ".bmp") || hasExtension(std::string(outputPath), ".jpg");
  }
  isBatch = isPresent("if");

  maxWidth = static_cast<uint32_t>(integerValue("maxWidth", 0));
  maxHeight = static_cast<uint32_t>(integerValue("maxHeight", 0));
  rawWidth = static_cast<uint32_t>(integerValue("w", 0));
  rawHeight = static_cast<uint32_t>(integerValue("h", 0));
  if (rawWidth != 0 && rawWidth > maxWidth) maxWidth = rawWidth;
  if (rawHeight != 0 && rawHeight > maxHeight) maxHeight = rawHeight;
  if (isBatch && !isMaxSizeOptional && (maxWidth == 0 || maxHeight == 0)) {
    std::fprintf(stderr, "maxWidth or maxHeight option was not set\n");
    return false;
  }

  // A negative or huge count would run for ever; 0 and a word that is no
  // number keep meaning 1.
  const char* repeatText = textValue("repeat");
  const long long repeatCount = repeatText ? std::strtoll(repeatText, nullptr, 10) : 1;
  if (repeatCount < 0 || repeatCount > kMaxRepeat) {
    std::fprintf(stderr, "The specified repeat count is invalid. It should be from 1 to %u.\n", kMaxRepeat);
    return false;
  }
  repeat = atLeastOne(static_cast<int32_t>(repeatCount));
  // Each thread has a chain of its own on the device.
  const char* threadText = textValue("thread");
  const long long threadCount = threadText ? std::strtoll(threadText, nullptr, 10) : 1;
  if (threadCount < 0 || threadCount > kMaxThreads) {
    std::fprintf(stderr, "The specified thread count is invalid. It should be from 1 to %u.\n", kMaxThreads);
    return false;
  }
  threads = atLeastOne(static_cast<int32_t>(threadCount));
  threadsGiven = threadText != nullptr;
  readerThreads = atLeastOne(integerValue("threadR", 1));
  writerThreads = atLeastOne(integerValue("threadW", 1));
  const int32_t b = integerValue("bits", 0);
  bits = (b == 8 || b == 10 || b == 12 || b == 14 || b == 16 || b == 32) ? static_cast<uint32_t>(b) : 8u;
  lutPath = textValue("lut");
  deviceId = integerValue("d", 0);
  exclusive = isPresent("exclusive");
  info = isPresent("info");
  binfo = isPresent("binfo");
  logPath = textValue("log");
  discard = isPresent("discard");

  const int32_t batch = integerValue("b", 1);
  if (batch == 0 && isPresent("b")) std::printf("The specified batch size is invalid. Setting it to default.\n");
  batchSize = atLeastOne(batch);
  const int32_t queue = integerValue("queue", 16);
  queueSize = queue == 0 ? 16u : static_cast<uint32_t>(queue);
  cpu = isPresent("cpu");
  return true;
}

bool DebayerSampleOptions::parse(int argc, char** argv) {
  if (!BaseOptions::parse(argc, argv)) return false;
  return parseTypeAndPattern() && parseMatrices() && parseWhiteBalance() && parseBlackShift();
}

bool DebayerSampleOptions::parseTypeAndPattern() {
  static const struct {
    const char* word;
    opixDebayerType_t type;
  } types[] = {{"DFPD", OPIX_DFPD},
               {"HQLI", OPIX_HQLI},
               {"MG", OPIX_MG},
               {"MG2", OPIX_MG},  // the older names of MG
               {"MG_V2", OPIX_MG},
               {"binning_2x2", OPIX_BINNING_2x2},
               {"binning_4x4", OPIX_BINNING_4x4},
               {"binning_8x8", OPIX_BINNING_8x8},
               {"L7", OPIX_L7},
               {"AMAZE", OPIX_AMAZE}};
  static const struct {
    const char* word;
    opixBayerPattern_t pattern;
  } patterns[] = {{"none", OPIX_BAYER_NONE},
                  {"RGGB", OPIX_BAYER_RGGB},
                  {"BGGR", OPIX_BAYER_BGGR},
                  {"GBRG", OPIX_BAYER_GBRG},
                  {"GRBG", OPIX_BAYER_GRBG}};

  debayerType = OPIX_DFPD;
  if (const char* word = textValue("type")) {
    bool known = false;
    for (const auto& t : types)
      if (std::strcmp(word, t.word) == 0) {
        debayerType = t.type;
        known = true;
      }
    if (!known) std::fprintf(stderr, "Pattern %s was not recognized.\nSet to DFPD\n", word);
  }
  bayerPattern = OPIX_BAYER_RGGB;
  const char* patternWord = textValue("pattern");
  if (!patternWord) patternWord = textValue("p");
  if (const char* word = patternWord) {
    bool known = false;
    for (const auto& p : patterns)
      if (std::strcmp(word, p.word) == 0) {
        bayerPattern = p.pattern;
        known = true;
      }
    if (!known) std::fprintf(stderr, "Pattern %s was not recognized.\nSet to RGGB\n", word);
  }
  return true;
}

bool DebayerSampleOptions::parseMatrices() {
  std::string a = "matrixA", b = "matrixB";
  if (matrixIndex != 0) {
    a += "_" + std::to_string(matrixIndex);
    b += "_" + std::to_string(matrixIndex);
  }
  matrixAPath = textValue(a.c_str());
  matrixBPath = textValue(b.c_str());
  return true;
}

bool DebayerSampleOptions::parseWhiteBalance() {
  // Each gain has its own name and the short one of the usage text's
  // example, which is matched with its case (-b is another option); -wb_G
  // sets both greens.
  static const char* const names[4][2] = {{"wb_r", "R"}, {"wb_g1", "G1"}, {"wb_g2", "G2"}, {"wb_b", "B"}};
  const char* bothGreens = textValue("wb_G");
  isWhiteBalance = false;
  for (int i = 0; i < 4; ++i) {
    const char* text = textValue(names[i][0]);
    if (!text) text = exactTextValue(names[i][1]);
    if (!text && (i == 1 || i == 2)) text = bothGreens;
    whiteBalance[i] = static_cast<float>(realFrom(text, 1.0));
    if (whiteBalance[i] != 1.0f) isWhiteBalance = true;
  }
  return true;
}

bool DebayerSampleOptions::parseBlackShift() {
  const char* text = textValue("black_shift");
  if (!text) return true;
  char* end = nullptr;
  const double v = std::strtod(text, &end);
  if (end == text || *end != '\0' || !(v >= 0.0) || v > 65535.0) {
    std::fprintf(stderr, "The specified black shift is invalid. It should be a number from 0 to 65535.\n");
    return false;
  }
  blackShift = static_cast<float>(v);
  return true;
}

void printUsage() {
  std::printf("Image debayer (opix SDK %d.%d.%d.%d)\n", OPIX_VERSION_MAJOR, OPIX_VERSION_MINOR, OPIX_VERSION_PATCH,
              OPIX_VERSION_BUILD);
#if defined(__x86_64__)
  std::printf("Compiled for Linux [x64]\n");
#elif defined(__aarch64__)
  std::printf("Compiled for Linux [arm64]\n");
#else
  std::printf("Compiled for Linux\n");
#endif
  std::fputs(
      "The opix_debayer demonstrates demosaic functionality.\n\nSupported parameters\n -i <file> - input file in "
      "RAW/PGM/TIFF formats.\n -o <file> - output file or mask in BMP/PPM/TIFF formats.\n -maxWidth <unsigned int> - "
      "set maximum image width for multiple file processing.\n -maxHeight <unsigned int> - set maximum image height "
      "for multiple file processing.\n -type <demosaic type> - demosaic type (MG, DFPD, HQLI, L7; MG2 and MG_V2 select "
      "MG).\n -pattern "
      "<pattern> - bayer pattern (RGGB, BGGR, GBRG, GRBG).\n -w <width> - input file width in pixels. RAW files "
      "only.\n -h <height> - input file height. RAW files only.\n -bits <bits count> - bits count per pixel (12 or 8 "
      "bits). RAW files only.\n -black_shift <unsigned byte> - black shift values.\n. -R <float> -G1 <float> -G2 "
      "<float> -B <float> - white balance correction coefficients for R, G1, G2, B channels respectively.\n "
      "-matrixA <file> - file with intensity correction values for each image pixel. File is in PFM format.\n "
      "-matrixB <file> - file with black shift values for each image pixel. File is in PGM format.\n -lut <file> - "
      "text file with LUT table for pixel transformation.\n -repeat <value> - how many times to repeat encoding for "
      "one image.\n -d <device ID> - GPU device ID. Default is 0.\n -info - time / performance output is on. Default "
      "is off.\n -log <file> - enable log file\n\nPerformance Note: Application measures time of GPU kernels only. "
      "This time does not include neither times between kernels, nor transfer times. When -thread parameter is set "
      "(1, 2, etc.), then application measures CPU time starting from host-to-device at the beginning of the "
      "pipeline to device-to-host transfer at the end of the pipeline.\n\nCommand line for Debayer:\nopix_debayer.exe "
      "-i <input image> -o <output image> -p <pattern> -type <demosaic type> -d <device ID> -info \n\t-black_shift "
      "<unsigned byte> -wb_R <float> -wb_G <float> -wb_B <float> -matrixA <file> -matrixB <file>\n\t-lut <file> -w "
      "<width> -h <height> -bits <bits count>\n\nExample of command line for color restore:\nopix_debayer.exe -i "
      "test.pgm -o final.bmp -pattern RGGB -d 0 -info\n\nExample of command line for color restore and multi thread "
      "mode:\nopix_debayer.exe -i test.pgm -o final.bmp -pattern RGGB -d 0  -thread 2 -info\n\nExample of command "
      "line for color restore with pixel transform:\nopix_debayer.exe -i test.pgm -o final.bmp -pattern RGGB "
      "-black_shift 0.0 -R 1.0 -G1 1.0 -G2 1.0 -B 1.0 -matrixA intensity.pfm -matrixB noise.pgm\n\nExample of "
      "command line for color restore of 12 bit RAW image:\nopix_debayer.exe -i Calendar.1920x1080.RGGB.raw -w 1920 "
      "-h 1080 -bits 12 -o final.bmp -type DFPD -pattern RGGB -info\n",
      stdout);
  // What the text above leaves out.
  std::fputs(
      "\nMore parameters\n"
      " -if <mask> - input file mask for batch processing ('*' and '?' wildcards); needs -maxWidth, -maxHeight and "
      "an output mask with '*' (replaced by the image's number).\n"
      " -type binning_2x2 | binning_4x4 | binning_8x8 - one colour pixel per 2x2, 4x4 or 8x8 block.\n"
      " -p <pattern> - the same as -pattern.\n"
      " -wb_r <float> -wb_g1 <float> -wb_g2 <float> -wb_b <float> - the white balance coefficients of -R -G1 -G2 -B; "
      "-wb_G <float> sets both greens.\n"
      " -black_shift <value> - black level subtracted from every sample, at the input's depth (0 to 255 for 8 "
      "bits, 0 to 4095 for 12 bits).\n"
      " -bits <bits count> - 8, 10, 12, 14 or 16 for RAW files; 10- and 14-bit mosaics give 12- and 16-bit "
      "results.\n"
      " -thread <count> - host threads (1 to 64), each with a pipeline of its own, sharing the images of a batch.\n"
      " -cpu - run on the CPU even where a GPU is present.\n"
      "Results named .bmp are written with 8 bits per channel; 12- and 16-bit results go to .ppm, .tif or .png "
      "(.png also serves as grey input).\n",
      stdout);
}

}  // namespace opix::app
