#include "Pipeline.h"

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "Batch.h"
#include "CameraFiles.h"
#include "CameraInput.h"
#include "ImageFiles.h"
#include "LutFile.h"
#include "Progress.h"
#include "Report.h"
#include "opix_internal/opix_program.h"

namespace opix::app {

const char* statusMessage(int status) {
  switch (status) {
    case 0: return "";
    case 2:
    case 3: return "Incompatible device or no CUDA-capable devices present\n";
    case 4: return "Image file size exceeds GPU memory limits\n";
    case 5: return "Image file size exceeds RAM limits\n";
    case 6: return "Invalid handle\n";
    case 7: return "Invalid API enum value\n";
    case 8: return "This operation cannot be applied for current type of data\n";
    case 9: return "Invalid image dimensions\n";
    case 10: return "Buffer base pointers or pitch not properly aligned\n";
    case 11: return "Invalid quantization / Huffman table\n";
    case 12: return "Decoding error\n";
    case 13: return "Device execution failure\n";
    case 14: return "Internal error\n";
    case 16: return "Failed to open/access file\n";
    case 17: return "Invalid file format\n";
    case 18: return "File format is unsupported by the current version\n";
    case 19: return "End of stream\n";
    case 20: return "Error in child process\n";
    case 21: return "Free buffer item waiting error\n";
    case 22: return "Open file error\n";
    case 23: return "Unrecognized error\n";
    default: return "Unknown statement\n";
  }
}

namespace {

#define OPIX_CHECK(call)                    \
  do {                                      \
    const opixStatus_t status_ = (call);    \
    if (status_ != OPIX_OK) return status_; \
  } while (0)

// The lines of one image, printed together: with several threads the
// images' lines do not interleave.
class ImageLines {
 public:
  void say(const char* format, ...) __attribute__((format(printf, 2, 3))) {
    char buffer[512];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (n > 0) text_.append(buffer, std::min(size_t(n), sizeof buffer - 1));
  }
  void flush() {
    static std::mutex console;
    std::lock_guard<std::mutex> lock(console);
    progressHide();
    std::fputs(text_.c_str(), stdout);
    std::fflush(stdout);
    text_.clear();
  }

 private:
  std::string text_;
};

const char* colourFormatName(uint32_t bits) {
  switch (bits) {
    case 8: return "RGB8";
    case 12: return "RGB12";
    default: return "RGB16";
  }
}

bool isBinning(opixDebayerType_t t) { return debayerScale(t) != 1; }

// The -type word of a type, for messages.
const char* debayerTypeWord(opixDebayerType_t t) {
  switch (t) {
    case OPIX_MG: return "MG";
    case OPIX_BINNING_2x2: return "binning_2x2";
    case OPIX_BINNING_4x4: return "binning_4x4";
    case OPIX_BINNING_8x8: return "binning_8x8";
    default: return opixDebayerTypeName(t);
  }
}

// The debayer takes 8-, 12- and 16-bit mosaics: a 10- or 14-bit one is
// widened to the next of them (a left shift, so that full scale stays full
// scale), and its result keeps that depth.
uint32_t chainBits(opixSurfaceFormat_t input) {
  const uint32_t bits = opixFormatBits(input);
  return bits <= 8 ? 8 : bits <= 12 ? 12 : 16;
}

// Depth of the colour result: the chain's, or 8 bits for a file type that
// holds only 8-bit samples.
uint32_t outputBits(opixSurfaceFormat_t input, const char* outputPath) {
  return outputPath && hasExtension(outputPath, ".bmp") ? 8 : chainBits(input);
}

// Matrices A and B as the SAM filter takes them; unused ones stay empty.
struct Matrices {
  HostImage a;  // floats, one per pixel
  HostImage b;  // black shifts as read, one sample per pixel
  // Matrix B's samples at the row stride the filter reads: W bytes (8-bit
  // file) or W 16-bit words (deeper file), rounded up to 4 bytes. A reader's
  // pitch need not be that (RAW rows are unpadded).
  std::vector<unsigned char> shifts;
  // Matrix A's gains at the chain's width and height (see chainSize).
  std::vector<float> gains;
  bool useA = false;
  bool useB = false;
  // 16-bit shifts (a 12- or 16-bit matrix B), for the SAM16 filter.
  bool wideShifts() const { return b.surfaceFormat != OPIX_I8; }
};

// The debayer refuses maxima below 64 pixels; a smaller image is processed
// in a chain of that size, which serves every image up to it.
constexpr uint32_t kMinChainSize = 64;

uint32_t chainSize(uint32_t maxSize) { return maxSize < kMinChainSize ? kMinChainSize : maxSize; }

// Copies the matrices' rows into the layout of the SAM filters, for a chain
// of `width` x `height`; the cells beyond the matrices stay zero.
void layOutMatrices(Matrices& m, uint32_t width, uint32_t height) {
  if (m.useB) {
    const HostImage& b = m.b;
    const uint64_t rowBytes = uint64_t{b.width} * (m.wideShifts() ? 2 : 1);
    const uint64_t stride = (uint64_t{width} * (m.wideShifts() ? 2 : 1) + 3) / 4 * 4;
    m.shifts.assign(stride * height, 0);
    for (uint64_t y = 0; y < b.height; ++y)
      std::memcpy(m.shifts.data() + y * stride, b.data.get() + y * b.pitch, rowBytes);
  }
  if (m.useA) {
    const HostImage& a = m.a;
    m.gains.assign(uint64_t{width} * height, 0.0f);
    for (uint64_t y = 0; y < a.height; ++y)
      std::memcpy(m.gains.data() + y * width, a.data.get() + y * a.pitch * sizeof(float), a.width * sizeof(float));
  }
}

// A camera raw file's black level that differs between sites of one colour:
// a matrix B of 16-bit shifts for the SAM16 filter, laid out as the matrices
// read from files are.
void siteBlack(const CameraRawInfo& c, const DebayerSampleOptions& o, Matrices& m) {
  const uint32_t width = chainSize(o.maxWidth), height = chainSize(o.maxHeight);
  const uint64_t stride = (uint64_t{width} * 2 + 3) / 4 * 4;
  m.shifts.assign(stride * height, 0);
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x) {
      // A 16-bit shift holds levels up to 32767 (the reader keeps black at or
      // below white, which may be higher).
      const int16_t v =
          static_cast<int16_t>(std::min(c.black[(y % c.blackRows) * c.blackCols + x % c.blackCols], 32767.0f));
      std::memcpy(m.shifts.data() + y * stride + 2 * uint64_t{x}, &v, 2);
    }
  m.b.surfaceFormat = OPIX_I16;
  m.useB = true;
}

// A matrix must have the chain's size and one channel: one that does not is
// refused, never dropped while the run goes on uncorrected.
opixStatus_t loadMatrices(const DebayerSampleOptions& o, Matrices& m) {
  if (o.matrixAPath) {
    std::printf("\nMatrix A: %s\n", o.matrixAPath);
    uint32_t w = 0, pitch = 0, h = 0, channels = 0;
    OPIX_CHECK(readMatrixA(o.matrixAPath, m.a, w, pitch, 4, h, channels));
    if (channels != 1) {
      std::fprintf(stderr, "Matrix A file must not be color\n");
      return OPIX_INVALID_FORMAT;
    }
    if (h != o.maxHeight || w != o.maxWidth) {
      std::fprintf(stderr, "Input and matrix A file parameters mismatch\nMatrix A is %ux%u, the input %ux%u\n", w, h,
                   o.maxWidth, o.maxHeight);
      return OPIX_INVALID_SIZE;
    }
    m.useA = true;
  }
  if (o.matrixBPath) {
    std::printf("\nMatrix B: %s\n", o.matrixBPath);
    OPIX_CHECK(readImage(o.matrixBPath, "", m.b, o.maxHeight, o.maxWidth));
    const opixSurfaceFormat_t f = m.b.surfaceFormat;
    if (f != OPIX_I8 && f != OPIX_I12 && f != OPIX_I16) {
      std::fprintf(stderr, "Matrix B file must not be color\n");
      return OPIX_INVALID_FORMAT;
    }
    if (m.b.height != o.maxHeight || m.b.width != o.maxWidth) {
      std::fprintf(stderr, "Input and matrix B file parameters mismatch\nMatrix B is %ux%u, the input %ux%u\n",
                   m.b.width, m.b.height, o.maxWidth, o.maxHeight);
      return OPIX_INVALID_SIZE;
    }
    // Whether the mosaic can take 16-bit shifts is settled per chain.
    m.useB = true;
  }
  try {
    layOutMatrices(m, chainSize(o.maxWidth), chainSize(o.maxHeight));
  } catch (const std::bad_alloc& e) {
    std::fprintf(stderr, "Memory allocation failed: %s\n", e.what());
    return OPIX_INSUFFICIENT_HOST_MEMORY;
  }
  return OPIX_OK;
}

class DebayerPipeline {
 public:
  explicit DebayerPipeline(const DebayerSampleOptions& o) : o_(o) {}
  ~DebayerPipeline() { destroy(); }

  // `announce`: print the chain's messages and memory (the first chain of
  // a run does). `lut`, when given, maps the colour result before export.
  opixStatus_t build(const Matrices& m, const LutTable* lut, bool announce = true);
  // Processes one image that fits the chain and writes its result. A result
  // that cannot be written is named on standard error and leaves `saved`
  // false; only a failure of the chain is returned.
  opixStatus_t processOne(HostImage& image, Report& report, ImageLines& lines, bool& saved) {
    OPIX_CHECK(issue(image, report, lines, true));
    return finish(image, report, lines, saved);
  }
  // The two halves of processOne. issue queues the image's work; with `wait`
  // false its last export is left queued on the chain's stream, so that the
  // host may go on while the device works. finish waits for it, writes the
  // result and prints the image's lines.
  opixStatus_t issue(HostImage& image, Report& report, ImageLines& lines, bool wait);
  opixStatus_t finish(HostImage& image, Report& report, ImageLines& lines, bool& saved);
  // Runs every component of the chain on `stream` from now on.
  opixStatus_t useStream(opixStream_t stream);
  opixStream_t stream() const { return stream_; }
  // Device memory of the chain's counted components.
  uint64_t memory() const;
  // Destroys the components in the program's order; the first failure is returned.
  opixStatus_t destroy();

 private:
  const DebayerSampleOptions& o_;
  opixDebayerHandle_t debayer_ = nullptr;
  opixImageFilterHandle_t sam_ = nullptr;
  opixImageFilterHandle_t whiteBalance_ = nullptr;
  opixImageFilterHandle_t blackShift_ = nullptr;
  opixImageFilterHandle_t lut_ = nullptr;
  opixImageFilterHandle_t colour_ = nullptr;    // a camera raw file's colour matrix
  opixSurfaceConverterHandle_t to8_ = nullptr;  // after the LUT, for an 8-bit file type
  opixImportFromHostHandle_t importer_ = nullptr;
  opixExportToHostHandle_t exporter_ = nullptr;
  opixSurfaceConverterHandle_t to16_ = nullptr;
  opixSurfaceConverterHandle_t back_ = nullptr;
  // The corrections the debayer applies as it reads the mosaic, in place of
  // their filters; the records stay for a camera file's own white balance.
  bool fusedBalance_ = false;
  opixSam_t samRecord_{};
  opixSam16_t sam16Record_{};
  opixBayerBlackShift_t blackRecord_{};
  opixWhiteBalance_t balanceRecord_{};
  opixDebayerPreOperations_t pre_{};
  uint32_t scaleX_ = 1, scaleY_ = 1;
  bool convertTo16_ = false;
  uint32_t outputBits_ = 8;
  opixSurfaceFormat_t exportFormat_ = OPIX_RGB8;
  void* hostOutput_ = nullptr;
  opixStream_t stream_ = nullptr;
};

opixStatus_t DebayerPipeline::build(const Matrices& m, const LutTable* lut, bool announce) {
  const opixDebayerType_t type = o_.debayerType;
  const bool evenWidth = o_.maxWidth % 2 == 0;
  // The binning types also need an even width here, like 2 x 2: every
  // multiple of 4 passes.
  // A binned image has at least one block in each direction.
  const bool smallerThanBlock =
      isBinning(type) && (o_.maxWidth < debayerScale(type) || o_.maxHeight < debayerScale(type));
  if (((type == OPIX_MG || isBinning(type)) && !evenWidth) || smallerThanBlock) {
    std::fprintf(stderr, "Unsupported image size\n");
    if (smallerThanBlock)
      std::fprintf(stderr, "%s needs at least %u x %u pixels; the input is %ux%u\n", debayerTypeWord(type),
                   debayerScale(type), debayerScale(type), o_.maxWidth, o_.maxHeight);
    else
      std::fprintf(stderr, "%s needs an even width; the input is %u pixels wide\n", debayerTypeWord(type), o_.maxWidth);
    return OPIX_INVALID_SIZE;
  }
  const opixSurfaceFormat_t input = o_.inputSurfaceFormat;
  if (type == OPIX_L7 && chainBits(input) == 8) {
    std::fprintf(stderr, "L7 takes 12- and 16-bit mosaics; the input has 8 bits\n");
    return OPIX_UNSUPPORTED_FORMAT;
  }
  // MG has 8-bit kernels of its own: an 8-bit mosaic is not widened for it.
  if (isBinning(type) && input == OPIX_I12) {
    convertTo16_ = true;
    if (announce) std::printf("Debayer Binning does not support 12 bits image. Image has been converted to 16 bits.");
  } else if (isBinning(type) && input == OPIX_I10) {
    convertTo16_ = true;
  }
  const uint32_t workBits = chainBits(input);
  const uint32_t debayerBits = convertTo16_ ? 16 : workBits;
  // A LUT takes the colour result at the chain's depth and sets the depth
  // itself; an 8-bit file type then narrows what it gives.
  outputBits_ = lut ? workBits : outputBits(input, o_.outputPath);
  if (o_.blackShift >= float(1u << opixFormatBits(input))) {
    std::fprintf(stderr, "The black shift %g is beyond the %u-bit input's range\n", double(o_.blackShift),
                 opixFormatBits(input));
    return OPIX_INVALID_VALUE;
  }

  const uint32_t width = chainSize(o_.maxWidth), height = chainSize(o_.maxHeight);
  // The corrections that directly feed the debayer run inside its read of
  // the mosaic: white balance, a Bayer black shift, and the SAM when nothing
  // that cannot be fused (the widening, the 8-bit black level's colour
  // correction) stands between it and the debayer. Binning reads its source
  // directly and takes none. A camera file's matrix B stays a filter, as
  // its white balance changes with every file and would upload it again.
  const bool fuse = !o_.noFuse && !isBinning(type) && !convertTo16_;
  const bool bayerBlack = o_.developBlack || (o_.blackShift != 0.0f && debayerBits != 8);
  const bool plainBlack = !o_.developBlack && o_.blackShift != 0.0f && debayerBits == 8;
  const bool fuseBlack = fuse && bayerBlack;
  const bool fuseSam = fuse && !plainBlack && !o_.develop;
  fusedBalance_ = fuse && o_.isWhiteBalance;
  opixDeviceSurfaceBufferHandle_t current = nullptr;
  OPIX_CHECK(
      opixImportFromHostCreatePacked(&importer_, inputPacking(o_), o_.inputSurfaceFormat, width, height, &current));
  if (m.useA || m.useB) {
    const float* gains = m.useA ? m.gains.data() : nullptr;
    if (m.useB && m.wideShifts()) {
      // A 12- or 16-bit matrix B keeps its 16-bit values.
      sam16Record_ = {reinterpret_cast<const int16_t*>(m.shifts.data()), gains};
      if (fuseSam)
        pre_.sam16 = &sam16Record_;
      else
        OPIX_CHECK(opixImageFilterCreate(&sam_, OPIX_SAM16, &sam16Record_, width, height, current, &current));
    } else {
      samRecord_ = {m.useB ? reinterpret_cast<const int8_t*>(m.shifts.data()) : nullptr, gains};
      if (fuseSam)
        pre_.sam = &samRecord_;
      else
        OPIX_CHECK(opixImageFilterCreate(&sam_, OPIX_SAM, &samRecord_, width, height, current, &current));
    }
  }
  // The matrices correct the mosaic at its own depth, ahead of any widening:
  // a black shift means the same on a 12-bit mosaic whether or not the
  // debayer needs it at 16 bits.
  if (debayerBits != opixFormatBits(input)) {
    const opixBitDepthConverter_t to16{0, false, debayerBits};
    OPIX_CHECK(opixSurfaceConverterCreate(&to16_, OPIX_BIT_DEPTH_CONVERTER, &to16, width, height, current, &current));
  }
  if (o_.developBlack) {
    // A camera raw file's black, one level per colour.
    const float scale = float(1u << (debayerBits - opixFormatBits(input)));
    const float* b = o_.developBlackLevels;
    blackRecord_ = {{b[0] * scale, b[1] * scale, b[2] * scale}, o_.bayerPattern};
    if (fuseBlack)
      pre_.blackShift = &blackRecord_;
    else
      OPIX_CHECK(
          opixImageFilterCreate(&blackShift_, OPIX_BAYER_BLACK_SHIFT, &blackRecord_, width, height, current, &current));
  } else if (o_.blackShift != 0.0f) {
    // A uniform black level, given at the input's depth and scaled with the
    // widening (a left shift, so the result equals shifting the input).
    const float level = o_.blackShift * float(1u << (debayerBits - opixFormatBits(input)));
    if (debayerBits == 8) {
      opixBaseColorCorrection_t cc{};
      cc.matrix[0] = 1.0f;
      cc.matrix[3] = level;
      OPIX_CHECK(
          opixImageFilterCreate(&blackShift_, OPIX_BASE_COLOR_CORRECTION, &cc, width, height, current, &current));
    } else {
      blackRecord_ = {{level, level, level}, OPIX_BAYER_RGGB};
      if (fuseBlack)
        pre_.blackShift = &blackRecord_;
      else
        OPIX_CHECK(opixImageFilterCreate(&blackShift_, OPIX_BAYER_BLACK_SHIFT, &blackRecord_, width, height, current,
                                         &current));
    }
  }
  if (o_.isWhiteBalance) {
    opixWhiteBalance_t wb{};
    wb.R = o_.whiteBalance[0];
    wb.G1 = o_.whiteBalance[1];
    wb.G2 = o_.whiteBalance[2];
    wb.B = o_.whiteBalance[3];
    wb.bayerPattern = o_.bayerPattern;
    balanceRecord_ = wb;
    if (fusedBalance_)
      pre_.whiteBalance = &balanceRecord_;
    else
      OPIX_CHECK(opixImageFilterCreate(&whiteBalance_, OPIX_WHITE_BALANCE, &wb, width, height, current, &current));
  }
  const bool withPre = pre_.sam || pre_.sam16 || pre_.blackShift || pre_.whiteBalance;
  // When the export takes the debayer's result directly, the debayer writes
  // it in the layout the export delivers (blue-green-red for BMP and JPEG
  // files, interleaved 12- and 16-bit colour), and the export only copies.
  const bool exportTakesIt = !o_.noFuse && !o_.developMatrix && outputBits_ == debayerBits && !lut;
  const opixSurfaceFormat_t layout =
      debayerBits == 8 ? (o_.outputNeedsBgr ? OPIX_BGR8 : OPIX_RGB8) : (debayerBits == 12 ? OPIX_RGB12 : OPIX_RGB16);
  if (exportTakesIt && layout != OPIX_RGB8)
    OPIX_CHECK(opixDebayerCreateWithDestinationFormat(&debayer_, type, width, height, withPre ? &pre_ : nullptr, layout,
                                                      current, &current));
  else if (withPre)
    OPIX_CHECK(opixDebayerCreateWithPreOperations(&debayer_, type, width, height, &pre_, current, &current));
  else
    OPIX_CHECK(opixDebayerCreate(&debayer_, type, width, height, current, &current));
  scaleX_ = scaleY_ = debayerScale(type);
  if (o_.developMatrix) {
    // Camera RGB to linear sRGB, on the demosaiced image at its own depth.
    opixBaseColorCorrection_t cc{};
    const int top = int((1u << opixFormatBits(current->surfaceFormat)) - 1);
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 3; ++c) cc.matrix[r * 4 + c] = o_.developCameraToSrgb[r][c];
      cc.whiteLevel[r] = top;
    }
    OPIX_CHECK(opixImageFilterCreate(&colour_, OPIX_BASE_COLOR_CORRECTION, &cc, width / scaleX_, height / scaleY_,
                                     current, &current));
  }
  if (outputBits_ != debayerBits) {
    const opixBitDepthConverter_t back{0, false, outputBits_};
    OPIX_CHECK(opixSurfaceConverterCreate(&back_, OPIX_BIT_DEPTH_CONVERTER, &back, width / scaleX_, height / scaleY_,
                                          current, &current));
  }
  if (lut) {
    // On the colour image at the input's depth; it may change that depth.
    opixImageFilterType_t type{};
    std::vector<uint8_t> record;
    OPIX_CHECK(lutFilterFor(*lut, o_.lutPath ? o_.lutPath : "sRGB curve", current->surfaceFormat, type, record));
    OPIX_CHECK(opixImageFilterCreate(&lut_, type, record.data(), width / scaleX_, height / scaleY_, current, &current));
    if (outputBits(current->surfaceFormat, o_.outputPath) == 8 && opixFormatBits(current->surfaceFormat) != 8) {
      const opixBitDepthConverter_t to8{0, false, 8};
      OPIX_CHECK(opixSurfaceConverterCreate(&to8_, OPIX_BIT_DEPTH_CONVERTER, &to8, width / scaleX_, height / scaleY_,
                                            current, &current));
    }
  }
  OPIX_CHECK(opixExportToHostCreate(&exporter_, &exportFormat_, current));

  const uint64_t bytes = uint64_t{opixRowBytes(exportFormat_, o_.maxWidth / scaleX_)} * (o_.maxHeight / scaleY_);
  try {
    hostOutput_ = OpixAllocator().allocate(static_cast<size_t>(bytes));
  } catch (const std::bad_alloc& e) {
    std::fprintf(stderr, "Memory allocation failed: %s\n", e.what());
    return OPIX_INSUFFICIENT_HOST_MEMORY;
  }

  if (announce) std::printf("\nRequested GPU memory space: %.2f MB\n\n", double(memory()) / 1048576.0);
  return OPIX_OK;
}

uint64_t DebayerPipeline::memory() const {
  uint64_t total = 0, size = 0;
  if (opixDebayerGetAllocatedGpuMemorySize(debayer_, &size) == OPIX_OK) total += size;
  if (sam_ && opixImageFilterGetAllocatedGpuMemorySize(sam_, &size) == OPIX_OK) total += size;
  if (whiteBalance_ && opixImageFilterGetAllocatedGpuMemorySize(whiteBalance_, &size) == OPIX_OK) total += size;
  if (blackShift_ && opixImageFilterGetAllocatedGpuMemorySize(blackShift_, &size) == OPIX_OK) total += size;
  if (lut_ && opixImageFilterGetAllocatedGpuMemorySize(lut_, &size) == OPIX_OK) total += size;
  if (colour_ && opixImageFilterGetAllocatedGpuMemorySize(colour_, &size) == OPIX_OK) total += size;
  if (opixImportFromHostGetAllocatedGpuMemorySize(importer_, &size) == OPIX_OK) total += size;
  return total;
}

opixStatus_t DebayerPipeline::useStream(opixStream_t stream) {
  OPIX_CHECK(opixImportFromHostSetStream(importer_, stream));
  for (opixImageFilterHandle_t f : {sam_, blackShift_, whiteBalance_, colour_, lut_})
    if (f) OPIX_CHECK(opixImageFilterSetStream(f, stream));
  for (opixSurfaceConverterHandle_t c : {to16_, back_, to8_})
    if (c) OPIX_CHECK(opixSurfaceConverterSetStream(c, stream));
  OPIX_CHECK(opixDebayerSetStream(debayer_, stream));
  OPIX_CHECK(opixExportToHostSetStream(exporter_, stream));
  stream_ = stream;
  return OPIX_OK;
}

opixStatus_t DebayerPipeline::issue(HostImage& image, Report& report, ImageLines& lines, bool wait) {
  const uint32_t w = image.width, h = image.height;
  const uint32_t outW = w / scaleX_, outH = h / scaleY_;
  const uint32_t outPitch = opixRowBytes(exportFormat_, outW);
  const bool info = o_.info;
  opixExportParameters_t exportParameters{};
  exportParameters.convert = (hasExtension(image.outputFileName, ".bmp") || hasExtension(image.outputFileName, ".jpg"))
                                 ? OPIX_CONVERT_BGR
                                 : OPIX_CONVERT_NONE;
  for (uint32_t r = 0; r < o_.repeat; ++r) {
    report.start(Report::Import);
    OPIX_CHECK(opixImportFromHostCopy(importer_, image.data.get(), w, image.pitch, h));
    float t = report.stop(Report::Import);
    if (info) lines.say("Host-to-device transfer = %.2f ms\n", double(t));
    if (sam_) {
      report.start(Report::Sam);
      OPIX_CHECK(opixImageFilterTransform(sam_, nullptr, w, h));
      t = report.stop(Report::Sam);
      if (info) lines.say("MAD time = %.2f ms\n", double(t));
    }
    if (to16_) {
      report.start(Report::Converter);
      OPIX_CHECK(opixSurfaceConverterTransform(to16_, nullptr, w, h));
      t = report.stop(Report::Converter);
      if (info) lines.say("Converter to 16 time = %.2f ms\n", double(t));
    }
    if (blackShift_) {
      report.start(Report::Sam);
      OPIX_CHECK(opixImageFilterTransform(blackShift_, nullptr, w, h));
      t = report.stop(Report::Sam);
      if (info) lines.say("Black shift time = %.2f ms\n", double(t));
    }
    if (whiteBalance_) {
      report.start(Report::WhiteBalance);
      // Each camera raw file brings its own as-shot white balance.
      const opixWhiteBalance_t own = image.camera ? developWhiteBalance(o_, *image.camera) : opixWhiteBalance_t{};
      OPIX_CHECK(opixImageFilterTransform(whiteBalance_, image.camera ? &own : nullptr, w, h));
      t = report.stop(Report::WhiteBalance);
      if (info && o_.repeat == 1) lines.say("Color correction time = %.2f ms\n", double(t));
    }
    if (fusedBalance_ && image.camera) {
      // Each camera raw file brings its own as-shot white balance.
      balanceRecord_ = developWhiteBalance(o_, *image.camera);
      OPIX_CHECK(opixDebayerSetPreOperations(debayer_, &pre_));
    }
    // Fused corrections are timed with the debayer, whose line covers them.
    report.start(Report::Debayer);
    OPIX_CHECK(opixDebayerTransform(debayer_, o_.bayerPattern, w, h));
    report.end(Report::Debayer);
    // Without info the debayer's time is read once the export has waited for
    // the stream: the chain after the debayer is issued without a wait.
    if (info) {
      t = report.elapsed(Report::Debayer);
      report.addDebayerTime(t);
      lines.say("Effective debayer performance = %.2f Gpixel/s (%.2f ms)\n",
                double(float(static_cast<uint32_t>(w * h)) / t * 1e-6f), double(t));
    }
    if (colour_) OPIX_CHECK(opixImageFilterTransform(colour_, nullptr, outW, outH));
    // The device-to-host time includes the converter back and the LUT.
    report.start(Report::Export);
    if (back_) {
      report.start(Report::Converter);
      OPIX_CHECK(opixSurfaceConverterTransform(back_, nullptr, outW, outH));
      t = report.stop(Report::Converter);
      if (info) lines.say("Converter 16 to %d time = %.2f ms\n", int(outputBits_), double(t));
    }
    if (lut_) OPIX_CHECK(opixImageFilterTransform(lut_, nullptr, outW, outH));
    if (to8_) OPIX_CHECK(opixSurfaceConverterTransform(to8_, nullptr, outW, outH));
    // Each repetition but the last is waited for: the debayer timer is read
    // before it is started again.
    if (wait || r + 1 < o_.repeat) {
      OPIX_CHECK(opixExportToHostCopy(exporter_, hostOutput_, outW, outPitch, outH, &exportParameters));
    } else {
      OPIX_CHECK(opixExportToHostCopyAsync(exporter_, hostOutput_, outW, outPitch, outH, &exportParameters));
      break;
    }
    t = report.stop(Report::Export);
    if (info && o_.repeat == 1) lines.say("Device-to-host transfer = %.2f ms\n", double(t));
    if (!info) report.addDebayerTime(report.elapsed(Report::Debayer));
  }
  return OPIX_OK;
}

opixStatus_t DebayerPipeline::finish(HostImage& image, Report& report, ImageLines& lines, bool& saved) {
  saved = false;
  if (opixStreamSynchronize(stream_) != OPIX_OK) return OPIX_EXECUTION_FAILURE;
  const uint32_t w = image.width, h = image.height;
  const uint32_t outW = w / scaleX_, outH = h / scaleY_;
  const uint32_t outPitch = opixRowBytes(exportFormat_, outW);
  // A result left queued by issue has its debayer time read here (the
  // waiting path read it already).
  if (report.pending(Report::Debayer)) report.addDebayerTime(report.elapsed(Report::Debayer));
  report.addPixels(double(w) * h * o_.repeat);
  lines.say("Output image: %s\n\n", image.outputFileName.c_str());
  const opixStatus_t s = writeImage(image.outputFileName, hostOutput_, exportFormat_, outH, outW, outPitch);
  lines.flush();
  // Like an unreadable input, an output that cannot be written (a folder, a
  // file that may not be replaced, a full disk) is named and the run goes on.
  if (s != OPIX_OK) std::fprintf(stderr, "%s: %s", image.outputFileName.c_str(), statusMessage(s));
  saved = s == OPIX_OK;
  return OPIX_OK;
}

opixStatus_t DebayerPipeline::destroy() {
  opixStatus_t first = OPIX_OK;
  auto keep = [&](opixStatus_t s) {
    if (first == OPIX_OK) first = s;
  };
  if (debayer_) keep(opixDebayerDestroy(debayer_));
  if (sam_) keep(opixImageFilterDestroy(sam_));
  if (whiteBalance_) keep(opixImageFilterDestroy(whiteBalance_));
  if (blackShift_) keep(opixImageFilterDestroy(blackShift_));
  if (lut_) keep(opixImageFilterDestroy(lut_));
  if (colour_) keep(opixImageFilterDestroy(colour_));
  if (importer_) keep(opixImportFromHostDestroy(importer_));
  if (exporter_) keep(opixExportToHostDestroy(exporter_));
  if (back_) opixSurfaceConverterDestroy(back_);
  if (to16_) opixSurfaceConverterDestroy(to16_);
  if (to8_) opixSurfaceConverterDestroy(to8_);
  debayer_ = nullptr;
  sam_ = whiteBalance_ = blackShift_ = lut_ = colour_ = nullptr;
  importer_ = nullptr;
  exporter_ = nullptr;
  back_ = to16_ = to8_ = nullptr;
  if (hostOutput_) opixHostFree(hostOutput_);
  hostOutput_ = nullptr;
  return first;
}

// -bits on a file with a header (PGM, PNG, TIFF): the depth of the samples
// its 16-bit words hold, such as 12-bit data in a 16-bit TIFF, checked as a
// RAW file's samples are. An 8-bit file has 8-bit samples only.
opixStatus_t applyDeclaredDepth(HostImage& image, uint32_t bits) {
  if (opixFormatChannels(image.surfaceFormat) != 1) return OPIX_OK;  // refused as colour later
  const uint32_t stored = image.bitsPerChannel;
  if ((bits > 8) != (stored > 8)) {
    std::fprintf(stderr, "%s holds %u-bit samples: -bits %u does not apply to it\n", image.inputFileName.c_str(),
                 stored, bits);
    return OPIX_INVALID_FORMAT;
  }
  if (bits == stored) return OPIX_OK;
  if (bits < stored) {
    const uint16_t limit = static_cast<uint16_t>((1u << bits) - 1);
    for (uint64_t y = 0; y < image.height; ++y) {
      const unsigned char* row = image.data.get() + y * image.pitch;
      for (uint64_t x = 0; x < image.width; ++x) {
        uint16_t v;
        std::memcpy(&v, row + 2 * x, 2);
        if (v > limit) {
          std::fprintf(stderr, "Input file has sample values above %u bits\n", bits);
          return OPIX_INVALID_FORMAT;
        }
      }
    }
  }
  image.surfaceFormat = formatFromBits(bits, 1);
  image.bitsPerChannel = opixFormatBits(image.surfaceFormat);
  return OPIX_OK;
}

// The files of a run and what its threads share while they go through them:
// each thread reads the images it processes, one at a time, so that memory
// holds one image per thread however long the batch.
struct Inputs {
  std::vector<std::string> paths;  // the one input file, or the batch's files in order
  bool isBatch = false;
  std::string output;  // the output file, or the batch's output mask
  uint32_t rawWidth = 0, rawHeight = 0, rawBits = 0;
  // The first image that sets the chain's format, read ahead of the others
  // and handed to the thread that processes it.
  size_t firstIndex = 0;
  HostImage first;
  std::atomic<size_t> read{0};        // images read, skipped ones included
  std::atomic<size_t> incomplete{0};  // files left without a result
  std::atomic<bool> stop{false};

  bool bitsGiven = false;                         // -bits also sets the depth of PGM, PNG and TIFF files
  const DebayerSampleOptions* options = nullptr;  // for camera files (-format, camera raw names)

  opixStatus_t load(size_t i, HostImage& image) const {
    const std::string name = isBatch ? outputName(output, i) : output;
    if (isCameraRawName(paths[i]) || options->pixelFormat) return readInputImage(*options, paths[i], name, image);
    OPIX_CHECK(readImage(paths[i], name, image, rawHeight, rawWidth, rawBits));
    return bitsGiven && !hasExtension(paths[i], ".raw") ? applyDeclaredDepth(image, rawBits) : OPIX_OK;
  }
};

// Reads files in order up to the first gray image, which sets the chain's
// format. In a batch the files before it that cannot be read, or are colour,
// are named and counted; a single input file's failure is returned.
opixStatus_t readFirstImage(Inputs& in) {
  for (size_t i = 0; i < in.paths.size(); ++i) {
    HostImage image;
    const opixStatus_t s = in.load(i, image);
    if (s != OPIX_OK && (!in.isBatch || s == OPIX_INSUFFICIENT_HOST_MEMORY)) return s;
    if (s != OPIX_OK) {
      std::fprintf(stderr, "%s: %s", in.paths[i].c_str(), statusMessage(s));
      ++in.incomplete;
      continue;
    }
    ++in.read;
    if (opixFormatChannels(image.surfaceFormat) != 1) {
      if (!in.isBatch) {
        std::fprintf(stderr, "Input file must not be color\n");
        return OPIX_IO_ERROR;
      }
      std::fprintf(stderr, "%s: Input file must not be color\n", in.paths[i].c_str());
      ++in.incomplete;
      continue;
    }
    in.firstIndex = i;
    in.first = std::move(image);
    return OPIX_OK;
  }
  in.firstIndex = in.paths.size();
  return OPIX_OK;
}

// One host thread's chains, one per input format: the first image's format
// has its chain from the start, an image of another depth gets one of its
// own when it comes.
class Worker {
 public:
  Worker(const DebayerSampleOptions& o, const Matrices& m, const LutTable* lut) : o_(o), m_(m), lut_(lut) {}

  // Builds the chain of the run's format; `announce` prints its lines.
  opixStatus_t buildFirst(bool announce) { return chainFor(o_.inputSurfaceFormat, announce, nullptr); }

  // Processes the images k, k + stride, ... of `in`.
  opixStatus_t processAll(Inputs& in, size_t k, size_t stride, Report& report);

  opixStatus_t destroy() {
    opixStatus_t first = OPIX_OK;
    for (auto& c : chains_) {
      const opixStatus_t s = c.second->pipeline.destroy();
      if (first == OPIX_OK) first = s;
    }
    chains_.clear();
    // The streams outlive what runs on them.
    for (auto& r : slotReports_) r.reset();
    for (opixStream_t& s : streams_) {
      if (s) opixStreamDestroy(s);
      s = nullptr;
    }
    return first;
  }
  ~Worker() { destroy(); }

 private:
  struct Chain {
    explicit Chain(const DebayerSampleOptions& o) : options(o), pipeline(options) {}
    DebayerSampleOptions options;
    DebayerPipeline pipeline;
    opixStatus_t status = OPIX_OK;
  };

  // An image whose work is queued on its slot's chain, to be finished.
  struct Pending {
    DebayerPipeline* chain = nullptr;
    HostImage image;
    ImageLines lines;
  };

  // The chain of `slot` for `format`, or nullptr with the build's status in
  // `status`. `image` names the image whose chain is built beside the first.
  opixStatus_t chainFor(opixSurfaceFormat_t format, bool announce, const HostImage* image,
                        DebayerPipeline** chain = nullptr, int slot = 0);
  // Sets up the two slots of the double-buffered path: a stream each, and
  // a report whose timers record there.
  opixStatus_t startOverlap();
  // Waits for the slot's image, writes it and prints its lines; nothing
  // when the slot holds none.
  opixStatus_t finish(Pending& p, Report& report, Inputs& in);

  const DebayerSampleOptions& o_;
  const Matrices& m_;
  const LutTable* lut_;
  std::map<std::pair<opixSurfaceFormat_t, int>, std::unique_ptr<Chain>> chains_;
  // Double buffering: two chains per format, each on a stream of its own.
  bool overlap_ = false;
  opixStream_t streams_[2] = {};
  std::unique_ptr<Report> slotReports_[2];
};

opixStatus_t Worker::chainFor(opixSurfaceFormat_t format, bool announce, const HostImage* image,
                              DebayerPipeline** chain, int slot) {
  const auto key = std::make_pair(format, slot);
  auto found = chains_.find(key);
  if (found == chains_.end()) {
    auto c = std::make_unique<Chain>(o_);
    c->options.inputSurfaceFormat = format;
    c->options.bits = opixFormatBits(format);
    // 16-bit black shifts need a mosaic deeper than 8 bits.
    if (m_.useB && m_.wideShifts() && format == OPIX_I8) {
      std::fprintf(stderr,
                   "Input and matrix B file parameters mismatch\nA %u-bit matrix B cannot correct an 8-bit mosaic\n",
                   opixFormatBits(m_.b.surfaceFormat));
      c->status = OPIX_INVALID_FORMAT;
    } else {
      c->status = c->pipeline.build(m_, lut_, announce);
    }
    if (c->status != OPIX_OK && image)
      std::fprintf(stderr, "%s: no chain can be built for its %u-bit samples\n", image->inputFileName.c_str(),
                   opixFormatBits(format));
    found = chains_.emplace(key, std::move(c)).first;
  } else if (found->second->status != OPIX_OK && image) {
    std::fprintf(stderr, "%s: no chain can be built for its %u-bit samples\n", image->inputFileName.c_str(),
                 opixFormatBits(format));
  }
  Chain& c = *found->second;
  if (c.status == OPIX_OK && overlap_ && c.pipeline.stream() != streams_[slot])
    c.status = c.pipeline.useStream(streams_[slot]);
  if (chain) *chain = c.status == OPIX_OK ? &c.pipeline : nullptr;
  return c.status;
}

opixStatus_t Worker::startOverlap() {
  for (int k = 0; k < 2; ++k) {
    OPIX_CHECK(opixStreamCreate(&streams_[k]));
    slotReports_[k] = std::make_unique<Report>(false);
    slotReports_[k]->setStream(streams_[k]);
  }
  overlap_ = true;
  return OPIX_OK;
}

opixStatus_t Worker::finish(Pending& p, Report& report, Inputs& in) {
  if (!p.chain) return OPIX_OK;
  bool saved = false;
  const opixStatus_t s = p.chain->finish(p.image, report, p.lines, saved);
  p.chain = nullptr;
  p.image = HostImage();
  if (s == OPIX_OK && !saved) ++in.incomplete;
  return s;
}

opixStatus_t Worker::processAll(Inputs& in, size_t k, size_t stride, Report& report) {
  // With more than one image and no per-stage timing, two chains on streams
  // of their own take turns: image n+1 is read and uploaded, and image n-1
  // downloaded and written, while image n is processed. -info times every
  // stage one after the other, as it always has.
  size_t mine = 0;
  for (size_t i = k; i < in.paths.size(); i += stride) mine += i >= in.firstIndex;
  if (!o_.info && mine > 1 && !overlap_) {
    const opixStatus_t s = startOverlap();
    if (s != OPIX_OK) {
      in.stop = true;
      return s;
    }
  }
  Pending pending[2];
  int next = 0;  // the slot of the next image; the other one may hold an image
  // Whatever ends the loop, the image still queued is finished, so that the
  // images before a failure keep their results.
  auto finishQueued = [&]() -> opixStatus_t {
    return overlap_ ? finish(pending[next ^ 1], *slotReports_[next ^ 1], in) : OPIX_OK;
  };
  auto stop = [&](opixStatus_t s) {
    const opixStatus_t queued = finishQueued();
    in.stop = true;
    return s != OPIX_OK ? s : queued;
  };
  opixStatus_t result = OPIX_OK;
  for (size_t i = k; i < in.paths.size() && !in.stop; i += stride) {
    if (i < in.firstIndex) continue;  // named when the first image was sought
    struct Step {
      ~Step() { progressStep(); }
    } step;  // however the image ends
    HostImage image;
    if (i == in.firstIndex) {
      image = std::move(in.first);
    } else {
      const opixStatus_t s = in.load(i, image);
      if (s == OPIX_INSUFFICIENT_HOST_MEMORY) return stop(s);
      if (s != OPIX_OK) {
        // The queued image's lines come first, as they would in turn.
        if ((result = finishQueued()) != OPIX_OK) return stop(result);
        progressHide();
        std::fprintf(stderr, "%s: %s", in.paths[i].c_str(), statusMessage(s));
        ++in.incomplete;
        continue;
      }
      ++in.read;
    }
    ImageLines lines;
    lines.say("Input image: %s\nImage size: %dx%d pixels, %d bits\n\n", image.inputFileName.c_str(), int(image.width),
              int(image.height), int(image.bitsPerChannel));
    // An image that is skipped is named in its turn, after the queued one.
    auto skip = [&]() -> opixStatus_t {
      const opixStatus_t s = finishQueued();
      lines.flush();
      return s;
    };
    if (opixFormatChannels(image.surfaceFormat) != 1) {
      if ((result = skip()) != OPIX_OK) return stop(result);
      std::fprintf(stderr, "%s: Input file must not be color\n", image.inputFileName.c_str());
      ++in.incomplete;
      continue;
    }
    const bool oddForMg = o_.debayerType == OPIX_MG && image.width % 2 != 0;
    if (image.width > o_.maxWidth || image.height > o_.maxHeight || oddForMg ||
        image.width < debayerScale(o_.debayerType) || image.height < debayerScale(o_.debayerType)) {
      if ((result = skip()) != OPIX_OK) return stop(result);
      // In a batch the line names its file, like the batch's other messages.
      if (in.isBatch)
        std::fprintf(stderr, "%s: Unsupported image size\n", image.inputFileName.c_str());
      else
        std::fprintf(stderr, "Unsupported image size\n");
      if (oddForMg)
        std::fprintf(stderr, "MG needs an even width; %s is %u pixels wide\n", image.inputFileName.c_str(),
                     image.width);
      ++in.incomplete;
      continue;
    }
    DebayerPipeline* chain = nullptr;
    const int slot = overlap_ ? next : 0;
    if (chainFor(image.surfaceFormat, false, &image, &chain, slot) != OPIX_OK) {
      if ((result = skip()) != OPIX_OK) return stop(result);
      ++in.incomplete;
      continue;
    }
    if (!overlap_) {
      bool saved = false;
      const opixStatus_t s = chain->processOne(image, report, lines, saved);
      lines.flush();
      if (s != OPIX_OK) return stop(s);
      if (!saved) ++in.incomplete;
      continue;
    }
    Pending& p = pending[slot];
    p.chain = chain;
    p.image = std::move(image);
    p.lines = std::move(lines);
    if ((result = chain->issue(p.image, *slotReports_[slot], p.lines, false)) != OPIX_OK) {
      p.chain = nullptr;  // its result is not to be written
      p.lines.flush();
      return stop(result);
    }
    // The previous image is finished while this one is processed.
    if ((result = finishQueued()) != OPIX_OK) {
      next ^= 1;
      return stop(result);
    }
    next ^= 1;
  }
  if (overlap_) {
    result = finishQueued();
    for (const auto& r : slotReports_) report.merge(*r);
    if (result != OPIX_OK) in.stop = true;
  }
  return result;
}

}  // namespace

opixStatus_t run(DebayerSampleOptions& o, bool& incomplete) {
#ifdef __GLIBC__
  // Every image's buffers come and go as it is processed. With glibc's
  // default, freeing one large block raises the size from which blocks are
  // mapped of their own, so the next ones come from the heap, which then
  // grows by fragments image after image (about half a megabyte per 1 MB
  // frame). A fixed threshold maps large blocks and gives them back when
  // they are freed.
  mallopt(M_MMAP_THRESHOLD, 256 * 1024);
#endif
  Inputs in;
  in.isBatch = o.isBatch;
  in.output = o.outputPath;
  in.rawWidth = o.rawWidth;
  in.rawHeight = o.rawHeight;
  in.rawBits = o.bits;
  in.bitsGiven = o.bitsGiven;
  in.options = &o;
  if (o.isBatch) {
    in.paths = findFiles(o.inputPath);
    if (in.paths.empty()) {
      std::fprintf(stderr, "No input files found\n");
      return OPIX_IO_ERROR;
    }
  } else {
    in.paths.push_back(o.inputPath);
  }
  OPIX_CHECK(readFirstImage(in));
  incomplete = in.incomplete != 0;
  if (in.firstIndex == in.paths.size()) return OPIX_OK;  // every file of the batch was named
  const HostImage& first = in.first;
  if (!o.isBatch) {
    if (o.maxHeight == 0) o.maxHeight = first.height;
    if (o.maxWidth == 0) o.maxWidth = first.width;
  }
  // The chain takes the format of the first image; images of another depth
  // get chains of their own as they come.
  o.inputSurfaceFormat = first.surfaceFormat;
  o.bits = first.bitsPerChannel;
  OPIX_CHECK(settleCameraInput(o, first));
  LutTable lut;
  if (o.lutPath) OPIX_CHECK(readLutFile(o.lutPath, lut));
  // A camera raw file's picture ends in the sRGB curve, unless -lut gives
  // a table or -linear stops before it.
  const bool curve = o.develop && !o.linear && !o.lutPath;
  if (curve) srgbCurve(opixFormatBits(o.inputSurfaceFormat), hasExtension(o.outputPath, ".bmp"), lut);
  const bool withLut = o.lutPath || curve;
  // A LUT sets the depth of the output, up to what the file type holds.
  const uint32_t resultBits = withLut && !hasExtension(o.outputPath, ".bmp") ? lut.outputBits()
                              : withLut                                      ? 8
                                        : outputBits(o.inputSurfaceFormat, o.outputPath);
  std::printf("Input surface format: grayscale\n");
  std::printf("Pattern: %s\n", opixBayerPatternName(o.bayerPattern));
  std::printf("Output surface format: %s\n", colourFormatName(resultBits));
  std::printf("Debayer algorithm: %s\n", opixDebayerTypeName(o.debayerType));

  Matrices matrices;
  OPIX_CHECK(loadMatrices(o, matrices));
  if (o.develop && first.camera->perSiteBlack && o.blackShift == 0.0f && !o.matrixBPath)
    siteBlack(*first.camera, o, matrices);
  // One worker per host thread, each taking every n-th image.
  const size_t threads = std::max<size_t>(1, std::min<size_t>(o.threads, in.paths.size() - in.firstIndex));
  std::vector<std::unique_ptr<Worker>> workers;
  opixStatus_t status = OPIX_OK;
  for (size_t k = 0; k < threads && status == OPIX_OK; ++k) {
    workers.push_back(std::make_unique<Worker>(o, matrices, withLut ? &lut : nullptr));
    status = workers.back()->buildFirst(k == 0);
  }
  std::vector<std::unique_ptr<Report>> reports;
  for (size_t k = 0; k < threads; ++k) reports.push_back(std::make_unique<Report>(o.info));
  std::vector<opixStatus_t> results(threads, OPIX_OK);
  const auto start = std::chrono::steady_clock::now();
  progressStart(in.paths.size() - in.firstIndex);
  if (status != OPIX_OK) {
    // A chain of the first image's format could not be built: nothing runs.
  } else if (threads == 1) {
    results[0] = workers[0]->processAll(in, 0, 1, *reports[0]);
  } else {
    std::vector<std::thread> pool;
    for (size_t k = 0; k < threads; ++k)
      pool.emplace_back([&, k] { results[k] = workers[k]->processAll(in, k, threads, *reports[k]); });
    for (std::thread& t : pool) t.join();
  }
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  progressEnd();
  for (opixStatus_t s : results)
    if (status == OPIX_OK) status = s;
  if (status == OPIX_OK) {
    for (size_t k = 1; k < threads; ++k) reports[0]->merge(*reports[k]);
    // The count takes in every image that was read, as the summary always has.
    const uint32_t count = o.repeat * static_cast<uint32_t>(in.read.load());
    reports[0]->printSummary(count);
    if (o.threadsGiven) reports[0]->printCpuTime(count, uint32_t(threads), ms);
  }
  incomplete = in.incomplete != 0;
  for (auto& w : workers) {
    const opixStatus_t s = w->destroy();
    if (status == OPIX_OK) status = s;
  }
  return status;
}

}  // namespace opix::app
