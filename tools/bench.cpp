// Throughput of the SDK's kernels on the backend in use, against the
// memory-bandwidth floor: the bytes each algorithm must read and write once,
// over the measured device-to-device copy bandwidth. Import and export are
// given in GB/s of host image bytes; their floor is the host link, not
// device memory, so they have no floor column. The image filters come last.
//
//   opix_bench [--backend=auto|host|cuda] [--sizes=3840x2160,8192x8192] [--filter=TEXT] [--digest]
//
// --digest runs every case once, untimed, and prints a digest of its output
// pixels instead: two backends that print the same lines gave the same bytes.
// --chains reports the program's chains instead, with their corrections as
// filters and as the debayer's pre-operations (with its destination in the
// export's layout): launches and device operations per frame, frame buffers
// between import and export, host time.
//
// Built with OpenCV, the 8-bit demosaic cases are followed by the ratio of
// their pixel rate to that of OpenCV's cvtColor Bayer conversions (bilinear,
// VNG, edge-aware) on the same mosaic, timed in the same run.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#if OPIX_BENCH_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

#include "ChainReport.h"
#include "DebayerHarness.h"
#include "ffc/FfcMath.h"
#include "lut/ImageFilterLut.h"

using namespace opix;

namespace {

struct Size {
  uint32_t w, h;
};

bool g_digest = false;

// FNV-1a over the pixel bytes of a destination surface, padding left out.
uint64_t surfaceDigest(const opixDeviceSurfaceBuffer_t& d) {
  std::vector<uint8_t> raw(opixImageSize(d.surfaceFormat, d.maxWidth, d.maxHeight));
  device::streamSynchronize();
  device::memcpy(raw.data(), deviceAddress(d), raw.size(), device::CopyKind::DeviceToHost);
  const uint32_t planes = isPlanar(d.surfaceFormat) ? 3 : 1;
  const size_t sampleBytes = opixFormatBits(d.surfaceFormat) > 8 ? 2 : 1;
  const size_t rowBytes = size_t(d.width) * (planes == 3 ? 1 : opixFormatChannels(d.surfaceFormat)) * sampleBytes;
  const size_t planeBytes = size_t(d.maxPitch) * d.maxHeight;
  uint64_t h = 14695981039346656037ull;
  for (uint32_t p = 0; p < planes; ++p)
    for (uint32_t y = 0; y < d.height; ++y)
      for (size_t i = 0; i < rowBytes; ++i) h = (h ^ raw[p * planeBytes + size_t(y) * d.pitch + i]) * 1099511628211ull;
  return h;
}

// Prints the case's timing against the floor, or its digest.
void report(const char* name, const char* size, double ms, double pixels, double bytes, double bandwidth,
            const opixDeviceSurfaceBuffer_t& out) {
  if (g_digest) {
    std::printf("%-22s %11s %016llx\n", name, size, static_cast<unsigned long long>(surfaceDigest(out)));
    return;
  }
  const double floorMs = bytes / bandwidth * 1e3;
  std::printf("%-22s %11s %9.3f %11.1f %9.1f %8.0f%%\n", name, size, ms, pixels / (ms * 1e3), bytes / (ms * 1e6),
              100.0 * floorMs / ms);
}

// Median milliseconds of `run` between two GPU timer events, after a
// warm-up; at least 3 and at most 50 runs, about a second in all.
double medianMs(const std::function<void()>& run) {
  if (g_digest) {
    run();
    return 0.0;
  }
  opixGpuTimerHandle_t timer = nullptr;
  opixGpuTimerCreate(&timer);
  run();
  std::vector<float> times;
  const auto start = std::chrono::steady_clock::now();
  while (times.size() < 3 ||
         (times.size() < 50 && std::chrono::steady_clock::now() - start < std::chrono::milliseconds(1000))) {
    opixGpuTimerStart(timer);
    run();
    opixGpuTimerStop(timer);
    float ms = 0;
    opixGpuTimerGetTime(timer, &ms);
    times.push_back(ms);
  }
  opixGpuTimerDestroy(timer);
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

// Device-to-device copy bandwidth in bytes per second (read plus written).
double copyBandwidth() {
  const size_t bytes = size_t(256) << 20;
  void *a = nullptr, *b = nullptr;
  device::malloc(&a, bytes);
  device::malloc(&b, bytes);
  device::memcpy(a, b, bytes, device::CopyKind::DeviceToDevice);  // first touch
  const double ms = medianMs([&] { device::memcpyAsync(b, a, bytes, device::CopyKind::DeviceToDevice); });
  device::free(a);
  device::free(b);
  return 2.0 * double(bytes) / (ms * 1e-3);
}

#if OPIX_BENCH_OPENCV
// OpenCV's three Bayer conversions of one 8-bit mosaic to RGB8, on all the
// threads OpenCV uses; returns their median milliseconds (bilinear, VNG, EA).
struct OpenCvTimes {
  double bilinear = 0, vng = 0, ea = 0;
};
OpenCvTimes openCvCases(Size s) {
  OpenCvTimes t;
  if (g_digest) return t;
  cv::Mat mosaic(int(s.h), int(s.w), CV_8UC1), rgb;
  cv::randu(mosaic, 0, 256);
  char size[32];
  std::snprintf(size, sizeof size, "%ux%u", s.w, s.h);
  const struct {
    const char* name;
    int code;
    double* ms;
  } cases[] = {{"OpenCV bilinear 8-bit", cv::COLOR_BayerGR2RGB, &t.bilinear},
               {"OpenCV VNG 8-bit", cv::COLOR_BayerGR2RGB_VNG, &t.vng},
               {"OpenCV EA 8-bit", cv::COLOR_BayerGR2RGB_EA, &t.ea}};
  for (const auto& c : cases) {
    *c.ms = medianMs([&] { cv::cvtColor(mosaic, rgb, c.code); });
    std::printf("%-22s %11s %9.3f %11.1f %9s %9s\n", c.name, size, *c.ms, double(s.w) * s.h / (*c.ms * 1e3), "-", "-");
  }
  return t;
}
#endif

struct DebayerCase {
  const char* name;
  opixDebayerType_t type;
  opixSurfaceFormat_t format;
  int apron;
  double intermediateBytesPerPixel;  // written and read again between passes
};

// Bytes a debayer must move: the source read and the work image written by
// the copy, the work image read and the destination written by the kernels,
// and intermediate planes written and read.
double debayerBytes(const DebayerCase& c, Size s, uint32_t outW, uint32_t outH) {
  const double bps = c.format == OPIX_I8 ? 1.0 : 2.0;
  const double pixels = double(s.w) * s.h;
  const double out = double(outW) * outH * 3.0 * bps;
  if (c.apron == 0) return pixels * bps + out;  // binning reads the source directly
  const double work = double(s.w + 2 * c.apron) * (s.h + 2 * c.apron) * bps;
  return pixels * bps + work + work + out + 2.0 * c.intermediateBytesPerPixel * pixels;
}

// Page-locked host memory for the transfer cases.
struct PinnedImage {
  void* p = nullptr;
  explicit PinnedImage(size_t bytes) {
    if (opixHostMalloc(&p, bytes) == OPIX_OK) std::memset(p, 0x37, bytes);
  }
  ~PinnedImage() { opixHostFree(p); }
};

// Import and export of an 8- or 16-bit gray frame; false on a failure.
bool transferCase(opixSurfaceFormat_t format, Size s, const std::string& filter) {
  const double bytes = double(s.w) * s.h * (format == OPIX_I8 ? 1 : 2);
  const uint32_t pitch = s.w * (format == OPIX_I8 ? 1 : 2);
  PinnedImage host{static_cast<size_t>(bytes)};
  opixImportFromHostHandle_t in = nullptr;
  opixDeviceSurfaceBufferHandle_t buffer = nullptr;
  opixExportToHostHandle_t out = nullptr;
  opixSurfaceFormat_t delivered;
  opixStatus_t status =
      host.p ? opixImportFromHostCreate(&in, format, s.w, s.h, &buffer) : OPIX_INSUFFICIENT_HOST_MEMORY;
  if (status == OPIX_OK) status = opixExportToHostCreate(&out, &delivered, buffer);
  // A frame in, so that the export has one where the filter leaves the import out.
  if (status == OPIX_OK) status = opixImportFromHostCopy(in, host.p, s.w, pitch, s.h);
  char size[32];
  std::snprintf(size, sizeof size, "%ux%u", s.w, s.h);
  const std::string names[2] = {std::string("import ") + opixSurfaceFormatName(format),
                                std::string("export ") + opixSurfaceFormatName(format)};
  for (int k = 0; k < 2 && status == OPIX_OK; ++k) {
    if (!filter.empty() && names[k].find(filter) == std::string::npos) continue;
    const double ms = medianMs([&] {
      if (status != OPIX_OK) return;
      status = k == 0 ? opixImportFromHostCopy(in, host.p, s.w, pitch, s.h)
                      : opixExportToHostCopy(out, host.p, s.w, pitch, s.h, nullptr);
      if (k == 0 && status == OPIX_OK) device::streamSynchronize();
    });
    if (status == OPIX_OK)
      std::printf("%-22s %11s %9.3f %11.1f %9.1f %9s\n", names[k].c_str(), size, ms, double(s.w) * s.h / (ms * 1e3),
                  bytes / (ms * 1e6), "-");
  }
  if (status != OPIX_OK) std::printf("%-22s %11s %s\n", names[0].c_str(), size, opixStatusName(status));
  if (out) opixExportToHostDestroy(out);
  if (in) opixImportFromHostDestroy(in);
  return status == OPIX_OK;
}

// Export of an RGB8 frame of noise as blue-green-red, the program's BMP
// path: the bytes read and written against the floor, or a digest of what
// reached the host.
bool exportBgrCase(Size s, double bandwidth) {
  const char* name = "export RGB8 as BGR";
  const opixSurfaceFormat_t format = OPIX_RGB8;
  opixImportFromHostHandle_t in = nullptr;
  opixExportToHostHandle_t out = nullptr;
  opixDeviceSurfaceBufferHandle_t buffer = nullptr;
  opixSurfaceFormat_t delivered = OPIX_RGB8;
  opixStatus_t status = opixImportFromHostCreate(&in, format, s.w, s.h, &buffer);
  const uint32_t pitch = opixRowBytes(format, s.w);
  std::vector<uint8_t> frame(size_t(pitch) * s.h), host(frame.size());
  std::mt19937 rng(8);
  for (auto& b : frame) b = uint8_t(rng());
  if (status == OPIX_OK) status = opixImportFromHostCopy(in, frame.data(), s.w, pitch, s.h);
  if (status == OPIX_OK) status = opixExportToHostCreate(&out, &delivered, buffer);
  char size[32];
  std::snprintf(size, sizeof size, "%ux%u", s.w, s.h);
  const opixExportParameters_t swap{OPIX_CONVERT_BGR};
  if (status == OPIX_OK) {
    const double ms = medianMs([&] {
      if (status == OPIX_OK) status = opixExportToHostCopy(out, host.data(), s.w, pitch, s.h, &swap);
    });
    if (status == OPIX_OK && g_digest) {
      uint64_t h = 14695981039346656037ull;
      for (uint8_t b : host) h = (h ^ b) * 1099511628211ull;
      std::printf("%-22s %11s %016llx\n", name, size, static_cast<unsigned long long>(h));
    } else if (status == OPIX_OK) {
      const double bytes = 2.0 * double(host.size());
      std::printf("%-22s %11s %9.3f %11.1f %9.1f %8.0f%%\n", name, size, ms, double(s.w) * s.h / (ms * 1e3),
                  bytes / (ms * 1e6), 100.0 * bytes / bandwidth * 1e3 / ms);
    }
  }
  if (status != OPIX_OK) std::printf("%-22s %11s %s\n", name, size, opixStatusName(status));
  if (out) opixExportToHostDestroy(out);
  if (in) opixImportFromHostDestroy(in);
  return status == OPIX_OK;
}

struct PackedCase {
  const char* name;
  opixPacking_t packing;
  opixSurfaceFormat_t format;
  uint32_t bits;  // a sample's in the frame
  bool rows;      // rows start on a byte (a pitch), else one bit stream
};

// Import of a packed machine-vision frame of noise: the copy in and the
// unpack, against the floor of the packed frame read and the 16-bit frame
// written; false on a failure.
bool packedCase(const PackedCase& c, Size s, double bandwidth) {
  const uint64_t rowBytes = (uint64_t{s.w} * c.bits + 7) / 8;
  const uint64_t bytes = c.rows ? rowBytes * s.h : (uint64_t{s.w} * s.h * c.bits + 7) / 8;
  std::vector<uint8_t> frame(static_cast<size_t>(bytes));
  std::mt19937 rng(6);
  for (auto& b : frame) b = uint8_t(rng());
  opixImportFromHostHandle_t in = nullptr;
  opixDeviceSurfaceBufferHandle_t out = nullptr;
  opixStatus_t status = opixImportFromHostCreatePacked(&in, c.packing, c.format, s.w, s.h, &out);
  char size[32];
  std::snprintf(size, sizeof size, "%ux%u", s.w, s.h);
  if (status == OPIX_OK) {
    const uint32_t pitch = c.rows ? static_cast<uint32_t>(rowBytes) : 0;
    const double ms = medianMs([&] {
      if (status == OPIX_OK) status = opixImportFromHostCopy(in, frame.data(), s.w, pitch, s.h);
    });
    if (status == OPIX_OK)
      report(c.name, size, ms, double(s.w) * s.h, double(bytes) + 2.0 * s.w * s.h, bandwidth, *out);
  }
  if (status != OPIX_OK) std::printf("%-22s %11s %s\n", c.name, size, opixStatusName(status));
  if (in) opixImportFromHostDestroy(in);
  return status == OPIX_OK;
}

struct ConverterCase {
  const char* name;
  opixSurfaceFormat_t host;  // imported as this, converted from its device layout
  uint32_t target;
  double bytesPerPixel;  // read plus written
};

// One bit-depth conversion kernel against the floor; false on a failure.
bool converterCase(const ConverterCase& c, Size s, double bandwidth) {
  opixImportFromHostHandle_t in = nullptr;
  opixDeviceSurfaceBufferHandle_t source = nullptr, dst = nullptr;
  opixSurfaceConverterHandle_t conv = nullptr;
  const opixBitDepthConverter_t p{0, false, c.target};
  opixStatus_t status = opixImportFromHostCreate(&in, c.host, s.w, s.h, &source);
  if (status == OPIX_OK) {  // a noise frame in the source
    const uint32_t pitch = opixRowBytes(c.host, s.w);
    std::vector<uint8_t> noise(size_t(pitch) * s.h);
    std::mt19937 rng(4);
    for (auto& b : noise) b = uint8_t(rng());
    status = opixImportFromHostCopy(in, noise.data(), s.w, pitch, s.h);
  }
  if (status == OPIX_OK)
    status = opixSurfaceConverterCreate(&conv, OPIX_BIT_DEPTH_CONVERTER, &p, s.w, s.h, source, &dst);
  char size[32];
  std::snprintf(size, sizeof size, "%ux%u", s.w, s.h);
  if (status == OPIX_OK) {
    const double ms = medianMs([&] {
      if (status == OPIX_OK) status = opixSurfaceConverterTransform(conv, nullptr, s.w, s.h);
    });
    if (status == OPIX_OK) report(c.name, size, ms, double(s.w) * s.h, c.bytesPerPixel * s.w * s.h, bandwidth, *dst);
  }
  if (status != OPIX_OK) std::printf("%-22s %11s %s\n", c.name, size, opixStatusName(status));
  if (conv) opixSurfaceConverterDestroy(conv);
  if (in) opixImportFromHostDestroy(in);
  return status == OPIX_OK;
}

// An image filter on a device source of one size and format, with random
// source samples and its parameter record.
class FilterBench {
 public:
  FilterBench(opixImageFilterType_t type, const void* record, uint32_t w, uint32_t h, opixSurfaceFormat_t f)
      : w_(w), h_(h) {
    source_ = createSurfaceBuffer(w, h, f);
    const uint64_t bytes = opixImageSize(f, w, h);
    if (device::malloc(&memory_, bytes) != device::kSuccess) throw std::runtime_error("no device memory");
    source_->external = 1;
    source_->directPointer = memory_;
    std::vector<uint8_t> noise(bytes);
    std::mt19937 rng(2);
    for (auto& b : noise) b = uint8_t(rng());
    if (f != OPIX_I8 && f != OPIX_RGB8)  // keep 16-bit samples within the format's bits
      for (size_t i = 1; i < noise.size(); i += 2) noise[i] &= uint8_t(0xFF >> (16 - opixFormatBits(f)));
    device::memcpy(memory_, noise.data(), bytes, device::CopyKind::HostToDevice);
    status_ = opixImageFilterCreate(&handle_, type, record, w, h, source_.get(), &destination_);
  }
  ~FilterBench() {
    if (handle_) opixImageFilterDestroy(handle_);
    device::free(memory_);
  }
  FilterBench(const FilterBench&) = delete;
  FilterBench& operator=(const FilterBench&) = delete;

  opixStatus_t status() const { return status_; }
  opixStatus_t transform() { return opixImageFilterTransform(handle_, transformRecord_, w_, h_); }
  // The record given to every Transform (the Gaussian filters need one).
  void setTransformRecord(const void* record) { transformRecord_ = record; }
  const opixDeviceSurfaceBuffer_t& destination() const { return *destination_; }

 private:
  uint32_t w_, h_;
  SurfaceBufferPtr source_;
  void* memory_ = nullptr;
  opixImageFilterHandle_t handle_ = nullptr;
  opixDeviceSurfaceBufferHandle_t destination_ = nullptr;
  opixStatus_t status_ = OPIX_OK;
  const void* transformRecord_ = nullptr;
};

struct FilterCase {
  const char* name;
  opixImageFilterType_t type;
  opixSurfaceFormat_t format;
};

// The per-pixel filters read the image once and write it once; SAM also reads
// its two matrices once (a float and one black shift value per pixel).
double filterBytes(const FilterCase& c, Size s) {
  double bytes = 2.0 * double(opixImageSize(c.format, s.w, s.h));
  if (c.type == OPIX_SAM || c.type == OPIX_SAM16) {
    const uint64_t shiftRow = c.type == OPIX_SAM16 ? (2 * uint64_t{s.w} + 3) / 4 * 4 : (uint64_t{s.w} + 3) / 4 * 4;
    bytes += 4.0 * s.w * s.h + double(shiftRow) * s.h;
  }
  return bytes;
}

// Runs every filter case at every size; returns the number of failures.
int benchFilters(const std::vector<Size>& sizes, const std::string& filter, double bandwidth) {
  const FilterCase cases[] = {
      {"SAM 8-bit", OPIX_SAM, OPIX_I8},
      {"SAM 16-bit", OPIX_SAM, OPIX_I16},
      {"SAM16 16-bit", OPIX_SAM16, OPIX_I16},
      {"white balance 8-bit", OPIX_WHITE_BALANCE, OPIX_I8},
      {"white balance 16-bit", OPIX_WHITE_BALANCE, OPIX_I16},
      {"black shift 16-bit", OPIX_BAYER_BLACK_SHIFT, OPIX_I16},
      {"color corr. gray 16", OPIX_BASE_COLOR_CORRECTION, OPIX_I16},
      {"color corr. RGB8", OPIX_BASE_COLOR_CORRECTION, OPIX_RGB8},
      {"color corr. RGB16", OPIX_BASE_COLOR_CORRECTION, OPIX_RGB16_PLANAR},
  };
  int failures = 0;
  for (const Size& s : sizes) {
    // Matrices at this size: a black shift of up to 16 and factors near 1.
    std::vector<int16_t> shift(size_t((s.w + 1) / 2 * 2) * s.h);
    std::vector<float> factor(size_t(s.w) * s.h);
    std::mt19937 rng(3);
    for (auto& v : shift) v = int16_t(rng() % 17);
    for (auto& v : factor) v = 0.9f + float(rng() % 200) / 1000.0f;
    // SAM reads the same bytes as 8-bit values: more than it needs.
    const opixSam_t sam{reinterpret_cast<const int8_t*>(shift.data()), factor.data()};
    const opixSam16_t sam16{shift.data(), factor.data()};
    const opixWhiteBalance_t wb{1.8f, 1.0f, 1.0f, 1.4f, OPIX_BAYER_GRBG};
    const opixBayerBlackShift_t bbs{{64.0f, 60.0f, 66.0f}, OPIX_BAYER_GRBG};
    const opixBaseColorCorrection_t bcc{{1.2f, -0.1f, -0.1f, 2.0f, -0.1f, 1.2f, -0.1f, 2.0f, -0.1f, -0.1f, 1.2f, 2.0f},
                                        {65535, 65535, 65535}};
    for (const FilterCase& c : cases) {
      if (!filter.empty() && std::string(c.name).find(filter) == std::string::npos) continue;
      const void* record = c.type == OPIX_SAM                 ? static_cast<const void*>(&sam)
                           : c.type == OPIX_SAM16             ? static_cast<const void*>(&sam16)
                           : c.type == OPIX_WHITE_BALANCE     ? static_cast<const void*>(&wb)
                           : c.type == OPIX_BAYER_BLACK_SHIFT ? static_cast<const void*>(&bbs)
                                                              : static_cast<const void*>(&bcc);
      char size[32];
      std::snprintf(size, sizeof size, "%ux%u", s.w, s.h);
      FilterBench run(c.type, record, s.w, s.h, c.format);
      opixStatus_t status = run.status();
      const double ms = status == OPIX_OK ? medianMs([&] { status = run.transform(); }) : 0.0;
      if (status != OPIX_OK) {
        std::printf("%-22s %11s %s\n", c.name, size, opixStatusName(status));
        ++failures;
        continue;
      }
      report(c.name, size, ms, double(s.w) * s.h, filterBytes(c, s), bandwidth, run.destination());
    }
  }
  return failures;
}

// The neighbourhood filters: each reads its source once and writes its
// destination once (binning a destination f x f times smaller; the column
// filter one sample per row, in place).
int benchNeighbourhoodFilters(const std::vector<Size>& sizes, const std::string& filter, double bandwidth) {
  struct Case {
    const char* name;
    opixImageFilterType_t type;
    opixSurfaceFormat_t format;
    const void* record;       // at Create
    const void* atTransform;  // at every Transform
  };
  const opixGaussianFilter_t sigma{1.0f};
  const opixBinning_t bin2{OPIX_BINNING_AVERAGE, 2, 2}, bin4{OPIX_BINNING_SUM, 4, 4};
  const opixBadPixelCorrection_t bayer{OPIX_BAYER_GRBG}, grey{OPIX_BAYER_NONE};
  opixColumnFilter_t column{2};  // the middle column of each size
  const opixDefringe_t fringe{3000.0f, 3, {260.0f, 320.0f}, {90.0f, 150.0f}, 0.8f};
  const Case cases[] = {
      {"median 16-bit", OPIX_MEDIAN, OPIX_I16, nullptr, nullptr},
      {"median RGB16", OPIX_MEDIAN, OPIX_RGB16_PLANAR, nullptr, nullptr},
      {"sharpen 8-bit", OPIX_GAUSSIAN_SHARPEN, OPIX_I8, nullptr, &sigma},
      {"sharpen 16-bit", OPIX_GAUSSIAN_SHARPEN, OPIX_I16, nullptr, &sigma},
      {"sharpen RGB8", OPIX_GAUSSIAN_SHARPEN, OPIX_RGB8, nullptr, &sigma},
      {"blur 16-bit", OPIX_GAUSSIAN_BLUR, OPIX_I16, nullptr, &sigma},
      {"blur RGB16", OPIX_GAUSSIAN_BLUR, OPIX_RGB16_PLANAR, nullptr, &sigma},
      {"binning avg 2 16-bit", OPIX_BINNING, OPIX_I16, &bin2, nullptr},
      {"binning sum 4 12-bit", OPIX_BINNING, OPIX_I12, &bin4, nullptr},
      {"bad pixel Bayer 16", OPIX_BAD_PIXEL_CORRECTION_5x5, OPIX_I16, &bayer, nullptr},
      {"bad pixel Bayer 8", OPIX_BAD_PIXEL_CORRECTION_5x5, OPIX_I8, &bayer, nullptr},
      {"bad pixel grey 12", OPIX_BAD_PIXEL_CORRECTION_5x5, OPIX_I12, &grey, nullptr},
      {"column 12-bit", OPIX_COLUMN_FILTER, OPIX_I12, &column, nullptr},
      {"defringe RGB16", OPIX_DEFRINGE, OPIX_RGB16_PLANAR, &fringe, nullptr},
  };
  int failures = 0;
  for (const Size& s : sizes)
    for (const Case& c : cases) {
      if (!filter.empty() && std::string(c.name).find(filter) == std::string::npos) continue;
      char size[32];
      std::snprintf(size, sizeof size, "%ux%u", s.w, s.h);
      column.columnOffset = int32_t(s.w / 2 < 2 ? 2 : s.w / 2);
      FilterBench run(c.type, c.record, s.w, s.h, c.format);
      run.setTransformRecord(c.atTransform);
      opixStatus_t status = run.status();
      const double ms = status == OPIX_OK ? medianMs([&] { status = run.transform(); }) : 0.0;
      if (status != OPIX_OK) {
        std::printf("%-22s %11s %s\n", c.name, size, opixStatusName(status));
        ++failures;
        continue;
      }
      const opixDeviceSurfaceBuffer_t& d = run.destination();
      // Defringe also writes its edge marks once and reads them at least once.
      const double marks = c.type == OPIX_DEFRINGE ? 2.0 * s.w * s.h : 0.0;
      const double image =
          double(opixImageSize(c.format, s.w, s.h)) + double(opixImageSize(c.format, d.width, d.height));
      const double bytes = c.type == OPIX_COLUMN_FILTER ? 4.0 * s.h : image + marks;
      report(c.name, size, ms, double(s.w) * s.h, bytes, bandwidth, d);
    }
  return failures;
}

// The table-driven filters: one case per kernel family. Each reads its
// source and writes its destination once (formats may differ); FFC also
// reads its node grid once.
int benchTableFilters(const std::vector<Size>& sizes, const std::string& filter, double bandwidth) {
  const FilterCase cases[] = {
      {"LUT 8->8 RGB8", OPIX_LUT_8_8, OPIX_RGB8},
      {"LUT 8->8 color", OPIX_LUT_8_8_C, OPIX_RGB8},
      {"LUT 8->16 gray", OPIX_LUT_8_16, OPIX_I8},
      {"LUT 8->12 color", OPIX_LUT_8_12_C, OPIX_RGB8},
      {"LUT 8->16 bayer", OPIX_LUT_8_16_BAYER, OPIX_I8},
      {"LUT 12->16 RGB12", OPIX_LUT_12_16, OPIX_RGB12_PLANAR},
      {"LUT 14->16 gray", OPIX_LUT_14_16, OPIX_I14},
      {"LUT 16->16 gray", OPIX_LUT_16_16, OPIX_I16},
      {"LUT 16->16 color", OPIX_LUT_16_16_C, OPIX_RGB16_PLANAR},
      {"LUT 12->8 gray", OPIX_LUT_12_8, OPIX_I12},
      {"LUT 12->8 RGB12", OPIX_LUT_12_8, OPIX_RGB12_PLANAR},
      {"LUT 12->8 color", OPIX_LUT_12_8_C, OPIX_RGB12_PLANAR},
      {"LUT 16->8 color", OPIX_LUT_16_8_C, OPIX_RGB16_PLANAR},
      {"LUT 12->16 bayer", OPIX_LUT_12_16_BAYER, OPIX_I12},
      {"LUT 16->16 bayer", OPIX_LUT_16_16_BAYER, OPIX_I16},
      {"LUT 16->16 FR gray", OPIX_LUT_16_16_FR, OPIX_I16},
      {"LUT 16->16 FR color", OPIX_LUT_16_16_FR_C, OPIX_RGB16_PLANAR},
      {"LUT 16->16 FR bayer", OPIX_LUT_16_16_FR_BAYER, OPIX_I16},
      {"FFC 12-bit", OPIX_FFC, OPIX_I12},
      {"FFC 16-bit", OPIX_FFC, OPIX_I16},
      {"tone curve RGB16", OPIX_TONE_CURVE, OPIX_RGB16_PLANAR},
      {"saturation HSL RGB8", OPIX_COLOR_SATURATION_HSL, OPIX_RGB8},
      {"saturation HSV RGB16", OPIX_COLOR_SATURATION_HSV, OPIX_RGB16_PLANAR},
      {"3D LUT RGB RGB12", OPIX_RGB_LUT_3D, OPIX_RGB12_PLANAR},
      {"3D LUT RGB RGB16", OPIX_RGB_LUT_3D, OPIX_RGB16_PLANAR},
      {"3D LUT HSV RGB16", OPIX_HSV_LUT_3D, OPIX_RGB16_PLANAR},
  };
  // 3D LUTs of 33 nodes a side: a gentle curve, a hue turn and factors near 1.
  constexpr uint32_t kNodes = 33;
  static std::vector<float> grid3D[3];
  for (int c = 0; c < 3; ++c) {
    grid3D[c].resize(size_t(kNodes) * kNodes * kNodes);
    for (size_t i = 0; i < grid3D[c].size(); ++i) {
      const uint32_t node = uint32_t(i / (c == 0 ? 1 : c == 1 ? kNodes : kNodes * kNodes) % kNodes);
      grid3D[c][i] = 65535.0f * float(std::sqrt(node / double(kNodes - 1)));
    }
  }
  static std::vector<float> hsv3D[3] = {std::vector<float>(grid3D[0].size(), 15.0f),
                                        std::vector<float>(grid3D[0].size(), 1.1f),
                                        std::vector<float>(grid3D[0].size(), 0.95f)};
  const opixRGBLut_3D_t rgbLut{grid3D[0].data(), grid3D[1].data(), grid3D[2].data(), kNodes};
  const opixHsvLut3D_t hsvLut{kNodes,           kNodes,          kNodes,          OPIX_OP_ADD,    OPIX_OP_MULTIPLY,
                              OPIX_OP_MULTIPLY, hsv3D[0].data(), hsv3D[1].data(), hsv3D[2].data()};
  static opixToneCurve_t tone;
  for (uint32_t i = 0; i < 1024; ++i) tone.curve[i] = uint16_t(std::sqrt(double(i) / 1023.0) * 65535.0);
  static opixColorSaturation_t saturation;
  for (int c = 0; c < 3; ++c) {
    for (int i = 0; i < 1024; ++i) saturation.lut[c][i] = c == 0 ? 10.0f : 1.2f;
    saturation.operation[c] = c == 0 ? OPIX_OP_ADD : OPIX_OP_MULTIPLY;
    saturation.channel[c] = opixColorSaturationChannelType_t(c);
  }
  int failures = 0;
  std::mt19937 rng(5);
  for (const Size& s : sizes)
    for (const FilterCase& c : cases) {
      if (!filter.empty() && std::string(c.name).find(filter) == std::string::npos) continue;
      std::vector<uint8_t> record;
      std::vector<uint16_t> grid;
      opixFFC_t ffc{1000, nullptr};
      double bytes = 0;
      if (c.type == OPIX_FFC) {
        grid.resize(size_t(ffcRowBytes(s.w) / 2) * ffcNodes(s.h));
        for (auto& v : grid) v = uint16_t(800 + rng() % 400);
        ffc.correctionMatrix = grid.data();
        bytes = 2.0 * double(opixImageSize(c.format, s.w, s.h)) + 2.0 * double(grid.size());
      } else if (c.type >= OPIX_LUT_8_8 && c.type <= OPIX_LUT_16_16_FR_BAYER) {
        const LutTraits traits = lutTraits(c.type);
        record.resize(lutRecordBytes(traits));
        for (auto& b : record) b = uint8_t(rng());
        if (traits.bayer) {
          const opixBayerPattern_t p = OPIX_BAYER_GRBG;
          std::memcpy(record.data() + record.size() - sizeof p, &p, sizeof p);
        }
      }
      char size[32];
      std::snprintf(size, sizeof size, "%ux%u", s.w, s.h);
      const void* parameters = c.type == OPIX_FFC          ? static_cast<const void*>(&ffc)
                               : c.type == OPIX_TONE_CURVE ? static_cast<const void*>(&tone)
                               : c.type == OPIX_RGB_LUT_3D ? static_cast<const void*>(&rgbLut)
                               : c.type == OPIX_HSV_LUT_3D ? static_cast<const void*>(&hsvLut)
                               : record.empty()            ? static_cast<const void*>(&saturation)
                                                           : record.data();
      FilterBench run(c.type, parameters, s.w, s.h, c.format);
      opixStatus_t status = run.status();
      const double ms = status == OPIX_OK ? medianMs([&] { status = run.transform(); }) : 0.0;
      if (status != OPIX_OK) {
        std::printf("%-22s %11s %s\n", c.name, size, opixStatusName(status));
        ++failures;
        continue;
      }
      if (c.type != OPIX_FFC)  // tables and curves are small beside the image
        bytes = double(opixImageSize(c.format, s.w, s.h)) +
                double(opixImageSize(run.destination().surfaceFormat, s.w, s.h));
      report(c.name, size, ms, double(s.w) * s.h, bytes, bandwidth, run.destination());
    }
  return failures;
}

}  // namespace

int main(int argc, char** argv) {
  std::string backend = "auto", filter;
  std::vector<Size> sizes = {{3840, 2160}, {8192, 8192}};
  bool chains = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a.rfind("--backend=", 0) == 0) {
      backend = a.substr(10);
    } else if (a == "--chains") {
      chains = true;
    } else if (a == "--digest") {
      g_digest = true;
    } else if (a.rfind("--filter=", 0) == 0) {
      filter = a.substr(9);
    } else if (a.rfind("--sizes=", 0) == 0) {
      sizes.clear();
      std::string list = a.substr(8);
      size_t pos = 0;
      while (pos < list.size()) {
        const size_t comma = list.find(',', pos);
        const std::string item = list.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
        unsigned w = 0, h = 0;
        if (std::sscanf(item.c_str(), "%ux%u", &w, &h) == 2) sizes.push_back({w, h});
        pos = comma == std::string::npos ? list.size() : comma + 1;
      }
    } else {
      std::fprintf(
          stderr,
          "usage: opix_bench [--backend=auto|host|cuda] [--sizes=WxH,...] [--filter=TEXT] [--digest] [--chains]\n");
      return 2;
    }
  }
  try {
    backend = tools::initBackend(backend);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  if (chains) {
    int failures = 0;
    for (const Size& s : sizes) failures += tools::chainReport(s.w, s.h, 7);
    return failures ? 1 : 0;
  }
  device::DeviceProperties props{};
  device::getDeviceProperties(&props, backend == "host" ? -1 : 0);
  const double bandwidth = g_digest ? 1.0 : copyBandwidth();
  if (g_digest) {
    std::printf("%-22s %11s %16s\n", "case", "size", "digest");
  } else {
    std::printf("opix_bench: %s backend, %s; device-to-device copy %.1f GB/s (read + written)\n", backend.c_str(),
                props.name, bandwidth / 1e9);
    std::printf("%-22s %11s %9s %11s %9s %9s\n", "case", "size", "ms", "Mpixel/s", "GB/s", "of floor");
  }

  const DebayerCase cases[] = {
      {"HQLI 8-bit", OPIX_HQLI, OPIX_I8, 2, 0},
      {"HQLI 12-bit", OPIX_HQLI, OPIX_I12, 2, 0},
      {"HQLI 16-bit", OPIX_HQLI, OPIX_I16, 2, 0},
      {"DFPD 8-bit", OPIX_DFPD, OPIX_I8, 6, 0},
      {"DFPD 12-bit", OPIX_DFPD, OPIX_I12, 6, 1.5},
      {"DFPD 16-bit", OPIX_DFPD, OPIX_I16, 6, 1.5},
      // MG keeps 8 bytes per pixel between its passes: D, weights and green.
      {"MG 8-bit", OPIX_MG, OPIX_I8, 12, 8},
      {"MG 12-bit", OPIX_MG, OPIX_I12, 12, 8},
      {"MG 16-bit", OPIX_MG, OPIX_I16, 12, 8},
      {"L7 12-bit", OPIX_L7, OPIX_I12, 3, 0},
      {"L7 16-bit", OPIX_L7, OPIX_I16, 3, 0},
      {"binning 2x2 8-bit", OPIX_BINNING_2x2, OPIX_I8, 0, 0},
      {"binning 4x4 8-bit", OPIX_BINNING_4x4, OPIX_I8, 0, 0},
      {"binning 8x8 8-bit", OPIX_BINNING_8x8, OPIX_I8, 0, 0},
      {"binning 2x2 16-bit", OPIX_BINNING_2x2, OPIX_I16, 0, 0},
      {"binning 4x4 16-bit", OPIX_BINNING_4x4, OPIX_I16, 0, 0},
      {"binning 8x8 16-bit", OPIX_BINNING_8x8, OPIX_I16, 0, 0},
  };
  int failures = 0;
  for (const Size& s : sizes) {
#if OPIX_BENCH_OPENCV
    const bool eightBit = filter.empty() || std::string("8-bit").find(filter) != std::string::npos ||
                          std::any_of(std::begin(cases), std::end(cases), [&](const DebayerCase& c) {
                            return c.format == OPIX_I8 && std::string(c.name).find(filter) != std::string::npos;
                          });
    const OpenCvTimes cv = eightBit ? openCvCases(s) : OpenCvTimes{};
    if (eightBit && !g_digest) std::printf("(OpenCV on %d threads)\n", cv::getNumThreads());
#endif
    for (const DebayerCase& c : cases) {
      if (!filter.empty() && std::string(c.name).find(filter) == std::string::npos) continue;
      char size[32];
      std::snprintf(size, sizeof size, "%ux%u", s.w, s.h);
      tools::DebayerHarness run(c.type, s.w, s.h, c.format);
      if (run.status() != OPIX_OK) {
        std::printf("%-22s %11s %s\n", c.name, size, opixStatusName(run.status()));
        ++failures;
        continue;
      }
      std::mt19937 rng(1);
      const uint32_t hi = c.format == OPIX_I8 ? 255 : c.format == OPIX_I12 ? 4095 : 65535;
      std::vector<uint16_t> mosaic(size_t(s.w) * s.h);
      for (auto& v : mosaic) v = uint16_t(rng() % (hi + 1));
      run.upload(mosaic);
      opixStatus_t status = OPIX_OK;
      const double ms = medianMs([&] { status = run.transform(OPIX_BAYER_GRBG); });
      if (status != OPIX_OK) {
        std::printf("%-22s %11s %s\n", c.name, size, opixStatusName(status));
        ++failures;
        continue;
      }
      report(c.name, size, ms, double(s.w) * s.h,
             debayerBytes(c, s, run.destination()->width, run.destination()->height), bandwidth, *run.destination());
#if OPIX_BENCH_OPENCV
      if (c.format == OPIX_I8 && c.apron > 0 && !g_digest && cv.bilinear > 0)
        std::printf("%-22s %11s  %.2f x OpenCV bilinear, %.2f x VNG, %.2f x EA\n", "", "", cv.bilinear / ms,
                    cv.vng / ms, cv.ea / ms);
#endif
    }
  }
  const ConverterCase conversions[] = {
      {"convert gray 8->16", OPIX_I8, 16, 3},     {"convert gray 16->8", OPIX_I16, 8, 3},
      {"convert 16->16", OPIX_I16, 12, 4},        {"convert colour 8->16", OPIX_RGB8, 16, 9},
      {"convert colour 16->8", OPIX_RGB16, 8, 9},
  };
  const PackedCase packed[] = {
      {"import 10p", OPIX_PACKING_10P, OPIX_I10, 10, false},
      {"import 12p", OPIX_PACKING_12P, OPIX_I12, 12, false},
      {"import 12p rows", OPIX_PACKING_12P, OPIX_I12, 12, true},
      {"import 12 packed", OPIX_PACKING_12_PACKED, OPIX_I12, 12, false},
      {"import 16 high", OPIX_PACKING_16_HIGH, OPIX_I12, 16, false},
  };
  for (const Size& s : sizes) {
    for (opixSurfaceFormat_t f : {OPIX_I8, OPIX_I16})
      if (!g_digest && !transferCase(f, s, filter)) ++failures;  // plain copies: nothing to digest
    if (filter.empty() || std::string("export RGB8 as BGR").find(filter) != std::string::npos)
      if (!exportBgrCase(s, bandwidth)) ++failures;
    for (const PackedCase& c : packed) {
      if (!filter.empty() && std::string(c.name).find(filter) == std::string::npos) continue;
      if (!packedCase(c, s, bandwidth)) ++failures;
    }
    for (const ConverterCase& c : conversions) {
      if (!filter.empty() && std::string(c.name).find(filter) == std::string::npos) continue;
      if (!converterCase(c, s, bandwidth)) ++failures;
    }
  }
  failures += benchFilters(sizes, filter, bandwidth);
  failures += benchNeighbourhoodFilters(sizes, filter, bandwidth);
  failures += benchTableFilters(sizes, filter, bandwidth);
  return failures ? 1 : 0;
}
