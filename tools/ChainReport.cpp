// opix_bench --chains: the program's chains with their corrections as filters
// of their own and the export's conversion as a pass of its own, and fused:
// the corrections as the debayer's pre-operations and its destination in the
// layout the export delivers. Each with the kernel launches and device
// operations of one frame, the bytes of the frame buffers written between
// import and export other than the debayer's output (the filters'
// destinations and the export's conversion buffer), the debayer's work image
// (reserved for the memory layout, not written), and the host time of a
// frame (median of the runs).
#include "ChainReport.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "device/Device.h"
#include "device/LaunchCount.h"
#include "opix.h"

namespace opix::tools {

namespace {

struct ChainCase {
  const char* name;
  opixDebayerType_t type;
  opixSurfaceFormat_t format;
  bool sam, black, balance;
  bool bgr;  // a BMP file: blue-green-red order
};

#define CHAIN_CHECK(call)                                                 \
  do {                                                                    \
    const opixStatus_t s_ = (call);                                       \
    if (s_ != OPIX_OK) {                                                  \
      std::fprintf(stderr, "%s failed: %s\n", #call, opixStatusName(s_)); \
      return false;                                                       \
    }                                                                     \
  } while (0)

// Work image bytes of a debayer with apron A, as the debayer lays it out.
uint64_t workBytes(opixDebayerType_t t, opixSurfaceFormat_t f, uint32_t w, uint32_t h) {
  const uint64_t a = t == OPIX_DFPD ? 6 : t == OPIX_HQLI ? 2 : t == OPIX_MG ? 12 : 3;
  const uint64_t pitch = ((w + 2 * a + 1) * (f == OPIX_I8 ? 1 : 2) + 127) / 128 * 128;
  return (h + 2 * a + 1 + 31) / 32 * 32 * pitch;
}

bool runCase(const ChainCase& c, bool fused, uint32_t w, uint32_t h, int runs) {
  const uint32_t bytes = c.format == OPIX_I8 ? 1 : 2;
  std::vector<uint8_t> in(size_t(w) * h * bytes);
  std::mt19937 rng(5);
  for (size_t i = 0; i < in.size(); ++i) in[i] = uint8_t(rng());
  if (c.format == OPIX_I12)
    for (size_t i = 1; i < in.size(); i += 2) in[i] &= 0x0F;
  std::vector<int16_t> shifts((size_t(w) + 1) / 2 * 2 * h, 3);
  std::vector<float> factors(size_t(w) * h, 1.01f);
  const opixSam16_t sam16{shifts.data(), factors.data()};
  const opixSam_t sam{reinterpret_cast<const int8_t*>(shifts.data()), factors.data()};
  const opixBayerBlackShift_t black{{64.0f, 60.0f, 66.0f}, OPIX_BAYER_RGGB};
  const opixWhiteBalance_t balance{1.9f, 1.0f, 1.0f, 1.6f, OPIX_BAYER_RGGB};
  const bool wide = c.format != OPIX_I8;

  opixImportFromHostHandle_t importer = nullptr;
  opixDebayerHandle_t debayer = nullptr;
  opixExportToHostHandle_t exporter = nullptr;
  std::vector<opixImageFilterHandle_t> filters;
  opixDeviceSurfaceBufferHandle_t b = nullptr;
  uint64_t intermediate = 0;
  CHAIN_CHECK(opixImportFromHostCreate(&importer, c.format, w, h, &b));
  opixDebayerPreOperations_t pre{};
  if (c.sam && wide) pre.sam16 = &sam16;
  if (c.sam && !wide) pre.sam = &sam;
  if (c.black) pre.blackShift = &black;
  if (c.balance) pre.whiteBalance = &balance;
  if (fused) {
    const opixSurfaceFormat_t layout = !wide                  ? (c.bgr ? OPIX_BGR8 : OPIX_RGB8)
                                       : c.format == OPIX_I12 ? OPIX_RGB12
                                                              : OPIX_RGB16;
    CHAIN_CHECK(opixDebayerCreateWithDestinationFormat(&debayer, c.type, w, h, &pre, layout, b, &b));
  } else {
    auto add = [&](opixImageFilterType_t t, const void* r) {
      opixImageFilterHandle_t f = nullptr;
      const opixStatus_t s = opixImageFilterCreate(&f, t, r, w, h, b, &b);
      if (s == OPIX_OK) {
        filters.push_back(f);
        intermediate += opixImageSize(b->surfaceFormat, w, h);
      }
      return s;
    };
    if (pre.sam) CHAIN_CHECK(add(OPIX_SAM, pre.sam));
    if (pre.sam16) CHAIN_CHECK(add(OPIX_SAM16, pre.sam16));
    if (pre.blackShift) CHAIN_CHECK(add(OPIX_BAYER_BLACK_SHIFT, pre.blackShift));
    if (pre.whiteBalance) CHAIN_CHECK(add(OPIX_WHITE_BALANCE, pre.whiteBalance));
    CHAIN_CHECK(opixDebayerCreate(&debayer, c.type, w, h, b, &b));
  }
  const uint64_t work = workBytes(c.type, c.format, w, h);
  opixSurfaceFormat_t format{};
  CHAIN_CHECK(opixExportToHostCreate(&exporter, &format, b));
  uint64_t exportBuffer = 0;
  CHAIN_CHECK(opixExportToHostGetAllocatedGpuMemorySize(exporter, &exportBuffer));
  intermediate += exportBuffer;
  const uint32_t outPitch = opixRowBytes(format, w);
  void* out = nullptr;
  CHAIN_CHECK(opixHostMalloc(&out, size_t(outPitch) * h));
  opixExportParameters_t convert{c.bgr ? OPIX_CONVERT_BGR : OPIX_CONVERT_NONE};
  std::vector<double> ms;
  uint64_t launches = 0, operations = 0;
  for (int r = -1; r < runs; ++r) {
    const uint64_t l0 = device::launchesOnThisThread(), o0 = device::workQueuedOn(nullptr);
    const auto t0 = std::chrono::steady_clock::now();
    CHAIN_CHECK(opixImportFromHostCopy(importer, in.data(), w, w * bytes, h));
    for (opixImageFilterHandle_t f : filters) CHAIN_CHECK(opixImageFilterTransform(f, nullptr, w, h));
    CHAIN_CHECK(opixDebayerTransform(debayer, OPIX_BAYER_RGGB, w, h));
    CHAIN_CHECK(opixExportToHostCopy(exporter, out, w, outPitch, h, &convert));
    if (r < 0) continue;
    ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    launches = device::launchesOnThisThread() - l0;
    operations = device::workQueuedOn(nullptr) - o0;
  }
  std::sort(ms.begin(), ms.end());
  std::printf("%-38s %-7s %8llu %10llu %14.1f %13.1f %9.2f\n", c.name, fused ? "fused" : "filters",
              static_cast<unsigned long long>(launches), static_cast<unsigned long long>(operations),
              double(intermediate) / 1048576.0, double(work) / 1048576.0, ms[ms.size() / 2]);
  opixHostFree(out);
  opixExportToHostDestroy(exporter);
  opixDebayerDestroy(debayer);
  for (opixImageFilterHandle_t f : filters) opixImageFilterDestroy(f);
  opixImportFromHostDestroy(importer);
  return true;
}

}  // namespace

int chainReport(uint32_t w, uint32_t h, int runs) {
  const ChainCase cases[] = {
      {"HQLI 8-bit, white balance, BMP", OPIX_HQLI, OPIX_I8, false, false, true, true},
      {"DFPD 8-bit, white balance, BMP", OPIX_DFPD, OPIX_I8, false, false, true, true},
      {"DFPD 8-bit, SAM + white balance, BMP", OPIX_DFPD, OPIX_I8, true, false, true, true},
      {"DFPD 12-bit, SAM16 + black + WB, TIFF", OPIX_DFPD, OPIX_I12, true, true, true, false},
      {"HQLI 16-bit, black + WB, TIFF", OPIX_HQLI, OPIX_I16, false, true, true, false},
  };
  std::printf("opix_bench --chains %ux%u: per frame; buffers in MB\n", w, h);
  std::printf("%-38s %-7s %8s %10s %14s %13s %9s\n", "chain", "steps", "launches", "operations", "frame buffers",
              "work (unused)", "ms");
  int failures = 0;
  for (const ChainCase& c : cases)
    for (bool fused : {false, true}) failures += runCase(c, fused, w, h, runs) ? 0 : 1;
  return failures;
}

}  // namespace opix::tools
