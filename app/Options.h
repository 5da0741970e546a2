// Command-line options of the sample programs: the generic record every
// program of this kind understands, and the debayer program's own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "opix.h"

namespace opix::app {

class BaseOptions {
 public:
  // An option name the parser knows; every other word that is not a value
  // is refused.
  struct OptionName {
    const char* name;
    bool takesValue;
    bool exactCase;  // matched with its case (-B is a gain, -b the batch size)
  };
  virtual ~BaseOptions() = default;
  // Reads the options; false after a failure, reported on standard error.
  virtual bool parse(int argc, char** argv);

  const char* inputPath = nullptr;
  const char* outputPath = nullptr;
  bool isBatch = false;
  bool async = false;
  uint32_t rawWidth = 0;
  uint32_t rawHeight = 0;
  uint32_t bits = 0;
  bool bitsGiven = false;  // -bits was given: it also sets the depth of 16-bit TIFF, PNG and PGM inputs
  const char* lutPath = nullptr;
  bool info = false;
  bool binfo = false;
  bool help = false;
  bool outputNeedsBgr = false;
  bool exclusive = false;
  int32_t deviceId = 0;
  uint32_t maxWidth = 0;
  uint32_t maxHeight = 0;
  opixSurfaceFormat_t inputSurfaceFormat = OPIX_I8;
  uint32_t repeat = 0;
  uint32_t threads = 1;
  bool threadsGiven = false;  // -thread was given: the run reports its host time
  uint32_t readerThreads = 1;
  uint32_t writerThreads = 1;
  bool multiprocess = false;
  const char* logPath = nullptr;
  bool isInputOptional = false;
  bool isOutputOptional = false;
  bool isMaxSizeOptional = false;
  bool discard = false;
  uint32_t batchSize = 1;
  uint32_t queueSize = 16;
  bool cpu = false;
  bool quiet = false;  // no start-up lines

 protected:
  // Sorts the words into options and their values. An unknown word, a value
  // option without a value or a value joined with '=' (-w=100) leaves its
  // message, naming the word, in `wordError_`. The names are the generic ones
  // and `moreNames_`, those of a derived program.
  void readWords();
  const OptionName* moreNames_ = nullptr;
  size_t moreNameCount_ = 0;
  std::vector<bool> valueWord_;  // argv[i] is the value of the option before it
  std::string wordError_;
  // A whole number within [low, high]; the fallback when the option is
  // absent. A word that is no number, or one out of range, prints `message`
  // (or a message naming the option and the range) and gives false.
  bool wholeNumber(const char* name, long long low, long long high, long long fallback, long long& value,
                   const char* message = nullptr) const;

  // Lookup over the option words of argv[1] ... argv[argc - 1]; the value of
  // an option is never taken for an option itself.
  bool isPresent(const char* name) const;
  const char* textValue(const char* name) const;
  // The value after the word that is `name` with its case, dashes aside.
  const char* exactTextValue(const char* name) const;
  int32_t integerValue(const char* name, int32_t fallback) const;

  int argc_ = 0;
  char** argv_ = nullptr;
};

class DebayerSampleOptions : public BaseOptions {
 public:
  DebayerSampleOptions();
  bool parse(int argc, char** argv) override;

  opixDebayerType_t debayerType = OPIX_DFPD;
  opixBayerPattern_t bayerPattern = OPIX_BAYER_RGGB;
  uint32_t matrixIndex = 0;
  const char* matrixAPath = nullptr;
  const char* matrixBPath = nullptr;
  float whiteBalance[4] = {1.0f, 1.0f, 1.0f, 1.0f};  // R, G1, G2, B
  bool isWhiteBalance = false;
  // Uniform black level subtracted from every sample, at the input's depth;
  // 0 adds no stage.
  float blackShift = 0.0f;
  // Camera files (CameraInput.cpp): the pixel format of a machine-vision
  // frame (-format, -msb: 16-bit words aligned high), -linear to develop a
  // camera raw file only up to the demosaic, and whether -pattern was given.
  const char* pixelFormat = nullptr;
  bool msb = false;
  bool linear = false;
  // -nofuse: the corrections before the debayer run as filters of their own
  // instead of as the debayer's pre-operations.
  bool noFuse = false;
  bool patternGiven = false;
  // The development of camera raw files, settled from the first file
  // (CameraInput.cpp): black levels per colour (R, G, B) for the Bayer black
  // shift, the camera-to-sRGB matrix after the demosaic, and the sRGB curve.
  bool develop = false;
  bool developBlack = false;
  float developBlackLevels[3] = {0, 0, 0};
  bool developMatrix = false;
  float developCameraToSrgb[3][3] = {};

 private:
  bool parseCameraOptions();
  bool parseTypeAndPattern();
  bool parseMatrices();
  bool parseWhiteBalance();
  bool parseBlackShift();
};

// The usage text, on standard output.
void printUsage();

}  // namespace opix::app
