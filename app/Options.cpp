#include "Options.h"

#include "ImageFiles.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cfloat>
#include <climits>
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

// Names matched with their case only: -B is the blue gain, never -b.
const char* const kExactCaseNames[] = {"R", "G1", "G2", "B"};

bool isExactCaseName(const char* rest) {
  for (const char* n : kExactCaseNames)
    if (std::strcmp(rest, n) == 0) return true;
  return false;
}

bool matches(const char* word, const char* name, bool cutAtEquals) {
  const char* rest = stripDashes(word);
  if (isExactCaseName(rest)) return false;
  size_t length = std::strlen(rest);
  if (cutAtEquals) {
    const char* eq = std::strchr(rest, '=');
    if (eq) length = static_cast<size_t>(eq - rest);
  }
  return equalsIgnoringCase(rest, length, name);
}

constexpr uint32_t kMaxRepeat = 100000;
constexpr uint32_t kMaxThreads = 64;

uint32_t atLeastOne(long long v) { return v == 0 ? 1u : static_cast<uint32_t>(v); }

using OptionName = BaseOptions::OptionName;

// The generic options: a flag or an option with a value in the next word.
constexpr OptionName kBaseNames[] = {
    {"i", true, false},          {"if", true, false},       {"o", true, false},         {"multiprocess", false, false},
    {"async", false, false},     {"maxWidth", true, false}, {"maxHeight", true, false}, {"w", true, false},
    {"h", true, false},          {"repeat", true, false},   {"thread", true, false},    {"threadR", true, false},
    {"threadW", true, false},    {"bits", true, false},     {"lut", true, false},       {"d", true, false},
    {"exclusive", false, false}, {"info", false, false},    {"binfo", false, false},    {"log", true, false},
    {"discard", false, false},   {"b", true, false},        {"queue", true, false},     {"cpu", false, false},
    {"help", false, false},      {"quiet", false, false}};

// The name `rest` (a word without its dashes, cut at '=' when `length` is
// shorter) stands for, or null.
const OptionName* findName(const char* rest, size_t length, const OptionName* names, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const OptionName& n = names[i];
    if (n.exactCase ? std::strlen(n.name) == length && std::strncmp(rest, n.name, length) == 0
                    : equalsIgnoringCase(rest, length, n.name))
      return &n;
  }
  return nullptr;
}

}  // namespace

void BaseOptions::readWords() {
  valueWord_.assign(size_t(argc_ > 0 ? argc_ : 0), false);
  wordError_.clear();
  char message[512];
  auto refuse = [&](int n) {
    if (wordError_.empty() && n > 0) wordError_.assign(message, std::min(size_t(n), sizeof message - 1));
  };
  for (int i = 1; i < argc_; ++i) {
    const char* word = argv_[i];
    const char* rest = stripDashes(word);
    const char* eq = std::strchr(rest, '=');
    const size_t length = eq ? static_cast<size_t>(eq - rest) : std::strlen(rest);
    const OptionName* n = nullptr;
    if (!eq && isExactCaseName(rest)) n = findName(rest, length, moreNames_, moreNameCount_);
    if (!n) n = findName(rest, length, kBaseNames, sizeof kBaseNames / sizeof kBaseNames[0]);
    if (!n) n = findName(rest, length, moreNames_, moreNameCount_);
    if (!n) {
      if (word[0] == '-')
        refuse(std::snprintf(message, sizeof message, "Unknown option %s\n", word));
      else
        refuse(std::snprintf(message, sizeof message, "Unexpected argument %s: options begin with '-'\n", word));
      continue;
    }
    if (!n->takesValue) continue;
    if (eq) {
      refuse(std::snprintf(message, sizeof message, "Option %s takes its value as the next word: -%s %s\n", word,
                           n->name, eq + 1));
      continue;
    }
    if (i + 1 >= argc_) {
      refuse(std::snprintf(message, sizeof message, "Option %s needs a value\n", word));
      continue;
    }
    valueWord_[size_t(++i)] = true;
  }
}

bool BaseOptions::isPresent(const char* name) const {
  for (int i = 1; i < argc_; ++i)
    if (!valueWord_[size_t(i)] && matches(argv_[i], name, true)) return true;
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
    if (!valueWord_[size_t(i)] && matches(argv_[i], name, false)) return optionValue(argv_[i + 1]);
  return nullptr;
}

const char* BaseOptions::exactTextValue(const char* name) const {
  for (int i = 1; i + 1 < argc_; ++i)
    if (!valueWord_[size_t(i)] && std::strcmp(stripDashes(argv_[i]), name) == 0) return optionValue(argv_[i + 1]);
  return nullptr;
}

int32_t BaseOptions::integerValue(const char* name, int32_t fallback) const {
  const char* v = textValue(name);
  return v ? std::atoi(v) : fallback;
}

bool BaseOptions::wholeNumber(const char* name, long long low, long long high, long long fallback, long long& value,
                              const char* message) const {
  const char* text = textValue(name);
  if (!text) {
    value = fallback;
    return true;
  }
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(text, &end, 10);
  if (end == text || *end != '\0' || errno == ERANGE || v < low || v > high) {
    if (message)
      std::fputs(message, stderr);
    else
      std::fprintf(stderr, "The value %s of option -%s is invalid. It should be a whole number from %lld to %lld.\n",
                   text, name, low, high);
    return false;
  }
  value = v;
  return true;
}

bool BaseOptions::parse(int argc, char** argv) {
  argc_ = argc;
  argv_ = argv;
  readWords();
  if (argc <= 1 || isPresent("help")) {
    help = true;
    return true;
  }
  if (!wordError_.empty()) {
    std::fputs(wordError_.c_str(), stderr);
    return false;
  }
  multiprocess = isPresent("multiprocess");
  async = isPresent("async");
  quiet = isPresent("quiet");

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

  // Sizes are unsigned: a negative one would wrap to a huge size.
  constexpr long long kMaxSize = INT32_MAX;
  long long v = 0;
  if (!wholeNumber("maxWidth", 0, kMaxSize, 0, v)) return false;
  maxWidth = static_cast<uint32_t>(v);
  if (!wholeNumber("maxHeight", 0, kMaxSize, 0, v)) return false;
  maxHeight = static_cast<uint32_t>(v);
  if (!wholeNumber("w", 0, kMaxSize, 0, v)) return false;
  rawWidth = static_cast<uint32_t>(v);
  if (!wholeNumber("h", 0, kMaxSize, 0, v)) return false;
  rawHeight = static_cast<uint32_t>(v);
  if (rawWidth != 0 && rawWidth > maxWidth) maxWidth = rawWidth;
  if (rawHeight != 0 && rawHeight > maxHeight) maxHeight = rawHeight;
  if (isBatch && !isMaxSizeOptional && (maxWidth == 0 || maxHeight == 0)) {
    std::fprintf(stderr, "maxWidth or maxHeight option was not set\n");
    return false;
  }

  // A negative or huge count would run for ever; 0 keeps meaning 1.
  static char repeatMessage[96], threadMessage[96];
  std::snprintf(repeatMessage, sizeof repeatMessage,
                "The specified repeat count is invalid. It should be from 1 to %u.\n", kMaxRepeat);
  std::snprintf(threadMessage, sizeof threadMessage,
                "The specified thread count is invalid. It should be from 1 to %u.\n", kMaxThreads);
  if (!wholeNumber("repeat", 0, kMaxRepeat, 1, v, repeatMessage)) return false;
  repeat = atLeastOne(v);
  // Each thread has a chain of its own on the device.
  if (!wholeNumber("thread", 0, kMaxThreads, 1, v, threadMessage)) return false;
  threads = atLeastOne(v);
  threadsGiven = textValue("thread") != nullptr;
  if (!wholeNumber("threadR", 0, kMaxThreads, 1, v)) return false;
  readerThreads = atLeastOne(v);
  if (!wholeNumber("threadW", 0, kMaxThreads, 1, v)) return false;
  writerThreads = atLeastOne(v);
  // The depths a mosaic can have; 8 when the option is absent.
  const char* bitsText = textValue("bits");
  bitsGiven = bitsText != nullptr;
  bits = 8;
  if (bitsText) {
    const long long b = std::strtoll(bitsText, nullptr, 10);
    const bool known = b == 8 || b == 10 || b == 12 || b == 14 || b == 16;
    if (!known || std::to_string(b) != bitsText) {
      std::fprintf(stderr, "The specified bits count %s is invalid. It should be 8, 10, 12, 14 or 16.\n", bitsText);
      return false;
    }
    bits = static_cast<uint32_t>(b);
  }
  lutPath = textValue("lut");
  if (!wholeNumber("d", INT32_MIN, INT32_MAX, 0, v)) return false;
  deviceId = static_cast<int32_t>(v);
  exclusive = isPresent("exclusive");
  info = isPresent("info");
  binfo = isPresent("binfo");
  logPath = textValue("log");
  discard = isPresent("discard");

  if (!wholeNumber("b", 0, INT32_MAX, 1, v)) return false;
  if (v == 0 && isPresent("b")) std::printf("The specified batch size is invalid. Setting it to default.\n");
  batchSize = atLeastOne(v);
  if (!wholeNumber("queue", 0, INT32_MAX, 16, v)) return false;
  queueSize = v == 0 ? 16u : static_cast<uint32_t>(v);
  cpu = isPresent("cpu");
  return true;
}

namespace {

// The names of the debayer program's own options.
constexpr OptionName kDebayerNames[] = {
    {"type", true, false},    {"pattern", true, false},     {"p", true, false},
    {"matrixA", true, false}, {"matrixB", true, false},     {"wb_r", true, false},
    {"wb_g1", true, false},   {"wb_g2", true, false},       {"wb_b", true, false},
    {"wb_G", true, false},    {"black_shift", true, false}, {"R", true, true},
    {"G1", true, true},       {"G2", true, true},           {"B", true, true},
    {"format", true, false},  {"msb", false, false},        {"linear", false, false},
    {"nofuse", false, false}};

}  // namespace

DebayerSampleOptions::DebayerSampleOptions() {
  moreNames_ = kDebayerNames;
  moreNameCount_ = sizeof kDebayerNames / sizeof kDebayerNames[0];
}

bool DebayerSampleOptions::parse(int argc, char** argv) {
  if (!BaseOptions::parse(argc, argv)) return false;
  if (help) return true;
  noFuse = isPresent("nofuse");
  return parseTypeAndPattern() && parseMatrices() && parseWhiteBalance() && parseBlackShift() && parseCameraOptions();
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

  // Keywords in any case; an unknown one is refused with its word, never
  // replaced by the default.
  debayerType = OPIX_DFPD;
  if (const char* word = textValue("type")) {
    bool known = false;
    for (const auto& t : types)
      if (equalsIgnoringCase(word, std::strlen(word), t.word)) {
        debayerType = t.type;
        known = true;
      }
    if (!known) {
      std::fprintf(stderr,
                   "Demosaic type %s was not recognized.\nIt should be DFPD, HQLI, L7, MG, binning_2x2, binning_4x4 "
                   "or binning_8x8.\n",
                   word);
      return false;
    }
  }
  bayerPattern = OPIX_BAYER_RGGB;
  const char* patternWord = textValue("pattern");
  if (!patternWord) patternWord = textValue("p");
  patternGiven = patternWord != nullptr;
  if (const char* word = patternWord) {
    bool known = false;
    for (const auto& p : patterns)
      if (equalsIgnoringCase(word, std::strlen(word), p.word)) {
        bayerPattern = p.pattern;
        known = true;
      }
    if (!known) {
      std::fprintf(stderr, "Pattern %s was not recognized.\nIt should be RGGB, BGGR, GBRG or GRBG.\n", word);
      return false;
    }
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
    const char* name = names[i][0];
    const char* text = textValue(name);
    if (!text) text = exactTextValue(name = names[i][1]);
    if (!text && (i == 1 || i == 2)) text = bothGreens, name = "wb_G";
    if (!text) {
      whiteBalance[i] = 1.0f;
      continue;
    }
    // A gain is a finite number of 0 or more: a word that is none is refused
    // rather than taken as 1.
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(v >= 0.0) || v > double(FLT_MAX)) {
      std::fprintf(stderr, "The white balance gain %s of -%s is invalid. It should be a number of 0 or more.\n", text,
                   name);
      return false;
    }
    whiteBalance[i] = static_cast<float>(v);
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
      "The opix_debayer demonstrates demosaic functionality.\n\nSupported parameters\n"
      " -i <file> - input file in RAW/PGM/PNG/TIFF/BMP formats.\n"
      " -o <file> - output file or mask in BMP/PPM/PNG/TIFF formats.\n"
      " -maxWidth <unsigned int> - set maximum image width for multiple file processing.\n"
      " -maxHeight <unsigned int> - set maximum image height for multiple file processing.\n"
      " -type <demosaic type> - demosaic type (DFPD, HQLI, L7, MG, binning_2x2, binning_4x4, binning_8x8; MG2 and "
      "MG_V2 select MG; any case).\n"
      " -pattern <pattern> - bayer pattern (RGGB, BGGR, GBRG, GRBG; any case).\n"
      " -w <width> - input file width in pixels. RAW files only.\n"
      " -h <height> - input file height. RAW files only.\n"
      " -bits <bits count> - bits per sample: 8, 10, 12, 14 or 16. The depth of a RAW file (8 bits: one byte per "
      "sample, more: one little-endian 16-bit word per sample), or of the samples a 16-bit PGM, PNG or TIFF file "
      "holds in its 16-bit words.\n"
      " -black_shift <value> - black level subtracted from every sample, at the input's depth.\n"
      " -R <float> -G1 <float> -G2 <float> -B <float> - white balance correction coefficients for R, G1, G2, B "
      "channels respectively.\n"
      " -matrixA <file> - file with intensity correction values for each image pixel: \"P7\", then width, height "
      "and channels (1) as 32-bit little-endian integers, then one 32-bit float per pixel.\n"
      " -matrixB <file> - file with black shift values for each image pixel. File is a grey PGM, PNG, TIFF or RAW "
      "image of the image's size.\n"
      " -lut <file> - text file with LUT table for pixel transformation.\n"
      " -repeat <value> - how many times to repeat encoding for one image (1 to 100000).\n"
      " -d <device ID> - GPU device ID. Default is 0.\n"
      " -info - time / performance output is on. Default is off.\n"
      " -quiet - no start-up lines (version, processing unit, memory).\n"
      " -log <file> - enable log file\n"
      " -help - this text.\n\n"
      "Performance Note: Application measures time of GPU kernels only. This time does not include neither times "
      "between kernels, nor transfer times. When -thread parameter is set (1, 2, etc.), then application measures "
      "CPU time starting from host-to-device at the beginning of the pipeline to device-to-host transfer at the end "
      "of the pipeline.\n\n"
      "Exit status: 0 after success and after -help, 2 after a refused option or value, 255 after a file that "
      "cannot be used or a processing failure.\n\n"
      "Command line for Debayer:\nopix_debayer -i <input image> -o <output image> -p <pattern> -type <demosaic "
      "type> -d <device ID> -info \n\t-black_shift <value> -wb_R <float> -wb_G <float> -wb_B <float> -matrixA "
      "<file> -matrixB <file>\n\t-lut <file> -w <width> -h <height> -bits <bits count>\n\n"
      "Example of command line for color restore:\nopix_debayer -i test.pgm -o final.bmp -pattern RGGB -d 0 "
      "-info\n\n"
      "Example of command line for color restore and multi thread mode:\nopix_debayer -i test.pgm -o final.bmp "
      "-pattern RGGB -d 0  -thread 2 -info\n\n"
      "Example of command line for color restore with pixel transform:\nopix_debayer -i test.pgm -o final.bmp "
      "-pattern RGGB -black_shift 0.0 -R 1.0 -G1 1.0 -G2 1.0 -B 1.0 -matrixA intensity.mat -matrixB noise.pgm\n\n"
      "Example of command line for color restore of 12 bit RAW image:\nopix_debayer -i Calendar.1920x1080.RGGB.raw "
      "-w 1920 -h 1080 -bits 12 -o final.bmp -type DFPD -pattern RGGB -info\n",
      stdout);
  // What the text above leaves out.
  std::fputs(
      "\nMore parameters\n"
      " -if <mask> - input file mask for batch processing ('*' and '?' wildcards); needs -maxWidth, -maxHeight and "
      "an output mask with '*' (replaced by the image's number).\n"
      " -p <pattern> - the same as -pattern.\n"
      " -wb_r <float> -wb_g1 <float> -wb_g2 <float> -wb_b <float> - the white balance coefficients of -R -G1 -G2 -B; "
      "-wb_G <float> sets both greens.\n"
      " -thread <count> - host threads (1 to 64), each with a pipeline of its own, sharing the images of a batch.\n"
      " -cpu - run on the CPU even where a GPU is present.\n"
      " -nofuse - run the SAM, black shift and white balance as stages of their own, each timed by -info, instead "
      "of inside the demosaic's read of the mosaic, and let the export convert the demosaic's result instead of "
      "the demosaic writing it in the output's layout (the same output).\n"
      " -format <pixel format> - RAW input in a camera's pixel format: Mono8, Mono10p, Mono12p, Mono12Packed, "
      "Mono10, Mono12, Mono14, Mono16 and the same with BayerRG, BayerGR, BayerGB, BayerBG; sets the depth and "
      "the pattern. -msb - 16-bit words hold their samples in the high bits.\n"
      " Camera raw input (.dng .cr2 .cr3 .nef .nrw .arw .raf .orf .rw2 .pef .srw .kdc .dcr .3fr .iiq .x3f) is "
      "developed to a finished picture; -linear stops after the demosaic.\n"
      "Results named .bmp are written with 8 bits per channel; 12- and 16-bit results go to .ppm, .tif or .png; "
      "10- and 14-bit mosaics give 12- and 16-bit results.\n",
      stdout);
}

}  // namespace opix::app
