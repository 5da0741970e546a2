// Throughput of import, export and the bit-depth converter on the backend in
// use (--backend=cuda|host; the default is CUDA when a device is usable).
//
// Import and export are reported in GB/s of host image bytes. Each converter
// kernel is reported against its memory-bandwidth floor: the bytes it must
// read and write once, divided by the measured device-to-device copy
// bandwidth (bytes read plus written per second).
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "device/Device.h"
#include "opix.h"

namespace {

void check(opixStatus_t s, const char* what) {
  if (s != OPIX_OK) {
    std::fprintf(stderr, "%s failed: %s\n", what, opixStatusName(s));
    std::exit(1);
  }
}

struct PinnedImage {
  void* p = nullptr;
  explicit PinnedImage(size_t bytes) {
    check(opixHostMalloc(&p, bytes), "opixHostMalloc");
    std::memset(p, 0x37, bytes);
  }
  ~PinnedImage() { opixHostFree(p); }
};

// Median time in milliseconds of `body` over `runs` runs after one warm-up,
// read from a GPU timer (a steady clock on the host backend).
template <class Body>
double medianMs(int runs, Body&& body) {
  opixGpuTimerHandle_t timer = nullptr;
  check(opixGpuTimerCreate(&timer), "opixGpuTimerCreate");
  body();
  std::vector<double> t;
  for (int i = 0; i < runs; ++i) {
    check(opixGpuTimerStart(timer), "opixGpuTimerStart");
    body();
    check(opixGpuTimerStop(timer), "opixGpuTimerStop");
    float ms = 0;
    check(opixGpuTimerGetTime(timer, &ms), "opixGpuTimerGetTime");
    t.push_back(ms);
  }
  opixGpuTimerDestroy(timer);
  std::sort(t.begin(), t.end());
  return t[t.size() / 2];
}

double gbps(double bytes, double ms) { return bytes / (ms * 1e6); }

// Bytes read plus written per second by a device-to-device copy of 256 MiB.
double copyBandwidth(int runs) {
  const size_t bytes = size_t{256} << 20;
  void *a = nullptr, *b = nullptr;
  if (opix::device::malloc(&a, bytes) || opix::device::malloc(&b, bytes)) {
    std::fprintf(stderr, "cannot allocate the copy benchmark's buffers\n");
    std::exit(1);
  }
  // Touch every page of the source, so the copy reads real memory.
  const std::vector<unsigned char> pattern(bytes, 0x5A);
  opix::device::memcpy(a, pattern.data(), bytes, opix::device::CopyKind::HostToDevice);
  const double ms = medianMs(runs, [&] {
    opix::device::memcpyAsync(b, a, bytes, opix::device::CopyKind::DeviceToDevice);
  });
  opix::device::free(a);
  opix::device::free(b);
  return 2.0 * bytes / (ms * 1e-3);
}

void transfers(uint32_t w, uint32_t h, opixSurfaceFormat_t f, int runs) {
  const uint32_t bytesPerPixel = f == OPIX_I8 ? 1 : 2;
  const size_t bytes = size_t{w} * h * bytesPerPixel;
  PinnedImage host(bytes);
  opixImportFromHostHandle_t in = nullptr;
  opixDeviceSurfaceBufferHandle_t buffer = nullptr;
  check(opixImportFromHostCreate(&in, f, w, h, &buffer), "opixImportFromHostCreate");
  opixExportToHostHandle_t out = nullptr;
  opixSurfaceFormat_t delivered;
  check(opixExportToHostCreate(&out, &delivered, buffer), "opixExportToHostCreate");
  const double importMs = medianMs(runs, [&] {
    check(opixImportFromHostCopy(in, host.p, w, w * bytesPerPixel, h), "opixImportFromHostCopy");
  });
  const double exportMs = medianMs(runs, [&] {
    check(opixExportToHostCopy(out, host.p, w, w * bytesPerPixel, h, nullptr), "opixExportToHostCopy");
  });
  std::printf("  %-4s %5u x %-5u  import %7.2f GB/s (%8.3f ms)   export %7.2f GB/s (%8.3f ms)\n",
              opixSurfaceFormatName(f), w, h, gbps(bytes, importMs), importMs, gbps(bytes, exportMs), exportMs);
  opixExportToHostDestroy(out);
  opixImportFromHostDestroy(in);
}

struct Conversion {
  const char* name;
  opixSurfaceFormat_t host;  // imported as this
  uint32_t target;
  double bytesPerPixel;  // read plus written
};

void converter(const Conversion& c, uint32_t w, uint32_t h, double bandwidth, int runs) {
  opixImportFromHostHandle_t in = nullptr;
  opixDeviceSurfaceBufferHandle_t source = nullptr;
  check(opixImportFromHostCreate(&in, c.host, w, h, &source), "opixImportFromHostCreate");
  opixSurfaceConverterHandle_t conv = nullptr;
  opixDeviceSurfaceBufferHandle_t dst = nullptr;
  const opixBitDepthConverter_t p{0, false, c.target};
  check(opixSurfaceConverterCreate(&conv, OPIX_BIT_DEPTH_CONVERTER, &p, w, h, source, &dst),
        "opixSurfaceConverterCreate");
  const double ms = medianMs(runs, [&] { check(opixSurfaceConverterTransform(conv, nullptr, w, h), "Transform"); });
  const double bytes = c.bytesPerPixel * w * h;
  const double floorMs = bytes / bandwidth * 1e3;
  std::printf("  %-14s %5u x %-5u %8.3f ms  %7.1f Mpixel/s  %7.2f GB/s  floor %8.3f ms  %5.1f %% of floor\n", c.name,
              w, h, ms, w * double(h) / (ms * 1e3), gbps(bytes, ms), floorMs, 100.0 * floorMs / ms);
  opixSurfaceConverterDestroy(conv);
  opixImportFromHostDestroy(in);
}

}  // namespace

int main(int argc, char** argv) {
  std::string backend;
  int runs = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--backend=", 10) == 0) backend = argv[i] + 10;
    else if (std::strncmp(argv[i], "--runs=", 7) == 0) runs = std::atoi(argv[i] + 7);
  }
  opixStatus_t s = OPIX_INVALID_DEVICE;
  if (backend != "host") s = opixInit(1u, false);
  if (s != OPIX_OK && backend != "cuda") s = opixInitHost();
  check(s, "initialisation");
  const bool cuda = opix::device::backend() == opix::device::Backend::Cuda;
  if (runs <= 0) runs = cuda ? 20 : 5;
  std::printf("opix_bench: %s backend, median of %d runs\n", cuda ? "CUDA" : "host", runs);

  std::printf("import / export (host image bytes):\n");
  for (auto [w, h] : {std::pair<uint32_t, uint32_t>{3840, 2160}, {8192, 8192}})
    for (opixSurfaceFormat_t f : {OPIX_I8, OPIX_I16}) transfers(w, h, f, runs);

  const double bandwidth = copyBandwidth(runs);
  std::printf("device-to-device copy: %.2f GB/s (read plus written)\n", bandwidth / 1e9);
  std::printf("bit-depth converter at 8192 x 8192:\n");
  const Conversion conversions[] = {
      {"gray 8->16", OPIX_I8, 16, 3},         {"gray 16->8", OPIX_I16, 8, 3},
      {"16->16", OPIX_I16, 12, 4},            {"colour 8->16", OPIX_RGB8, 16, 9},
      {"colour 16->8", OPIX_RGB16, 8, 9},
  };
  for (const Conversion& c : conversions) converter(c, 8192, 8192, bandwidth, runs);
  return 0;
}
