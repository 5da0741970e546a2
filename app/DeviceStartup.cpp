#include "DeviceStartup.h"

#include <cstdio>

#include "opix_internal/opix_program.h"

namespace opix::app {

namespace {

constexpr size_t kBandwidthBytes = 104857600;  // 100 MiB

constexpr double kBytesToGb = 9.313225746154785e-10;

void printMemory(double bytes) { std::printf("Available GPU memory size: %.2f GB\n", bytes * kBytesToGb); }

opixStatus_t finishWithBandwidth() {
  float mbps = 0;
  const opixStatus_t s = bandwidthTest(&mbps);
  if (s != OPIX_OK) return s;
  std::printf("PCI-Express bandwidth test (host to device): %d MByte/s\n\n", static_cast<int>(mbps));
  return OPIX_OK;
}

// The host backend's "device" memory is host memory and its copies are
// memcpy: there is no GPU memory to give and no bus to time, so no 100 MiB
// buffers are allocated for a test.
opixStatus_t startHost(bool quiet) {
  const opixStatus_t s = opixInitHost();
  if (s != OPIX_OK || quiet) return s;
  std::printf("Processing unit: %s (device id = %d)\n", deviceinfo::hostProcessorName(), -1);
  std::printf("Available host memory size: %.2f GB\n",
              static_cast<double>(deviceinfo::hostAvailableMemory()) * kBytesToGb);
  std::printf("PCI-Express bandwidth test (host to device): skipped on the host backend\n\n");
  return OPIX_OK;
}

// Free memory of CUDA device d through NVML, with its messages; false when
// NVML cannot give it.
bool nvmlFreeMemory(int d, double* bytes) {
  const deviceinfo::NvmlFreeMemory m = deviceinfo::nvmlFreeMemory(d);
  switch (m.outcome) {
    case deviceinfo::NvmlFreeMemory::Found: *bytes = static_cast<double>(m.freeBytes); return true;
    case deviceinfo::NvmlFreeMemory::InitFailed:
      std::printf("Failed to initialize NVML: %s\n", m.errorText);
      return false;
    case deviceinfo::NvmlFreeMemory::QueryFailed:
      std::printf("Failed to get memory info for device %u: %s\n", m.index, m.errorText);
      return false;
    default: return false;
  }
}

}  // namespace

void printVersion() {
  std::printf("SDK version: %d.%d.%d.%d (build date: %s)\n", OPIX_VERSION_MAJOR, OPIX_VERSION_MINOR, OPIX_VERSION_PATCH,
              OPIX_VERSION_BUILD, opixBuildDate());
}

opixStatus_t startDevice(int32_t deviceId, bool cpu, bool quiet) {
  if (cpu) return startHost(quiet);
  int count = 0;
  if (!deviceinfo::cudaDeviceCount(&count) || count == 0) {
    // The CPU stands in for the missing GPU platform.
    std::fprintf(stderr, "CUDA capability device or driver not found\n");
    return startHost(quiet);
  }
  int d = deviceId;
  if (d > count - 1) {
    std::fprintf(stderr, "Device id %d is not found. Set to default\n", d);
    d = 0;
  }
  deviceinfo::Gpu gpu{};
  const char* error = nullptr;
  if (!deviceinfo::cudaDeviceProperties(d, &gpu, &error)) {
    std::fprintf(stderr, "%s\n", error);
    return OPIX_INVALID_DEVICE;
  }
  // The program's own floor, the one its message names. A newer device that
  // this build cannot run passes here and is refused by opixInit with
  // OPIX_INCOMPATIBLE_DEVICE, which the driver reports in its own words.
  if (gpu.major < 2) {
    std::fprintf(stderr, "GPU is not supported. Program runs on GPU with Compute Compatibility 2.0 or higher\n");
    return OPIX_INVALID_DEVICE;
  }
  const opixStatus_t s = opixInit(1u << d, false);
  if (s != OPIX_OK) return s;
  if (quiet) return OPIX_OK;  // the test serves only its line
  std::printf("Processing unit: %s (device id = %d)\n", gpu.name, d);
  double freeBytes = 0;
  if (!nvmlFreeMemory(d, &freeBytes)) {
    // Without NVML the runtime's own figure stands in.
    uint64_t free = 0;
    if (deviceinfo::runtimeFreeMemory(&free)) freeBytes = static_cast<double>(free);
  }
  printMemory(freeBytes);
  if (gpu.tccDriver) std::printf("TCC driver mode enabled\n");
  return finishWithBandwidth();
}

opixStatus_t bandwidthTest(float* megabytesPerSecond) {
  const char* error = nullptr;
  const opixStatus_t s = deviceinfo::hostToDeviceBandwidth(kBandwidthBytes, megabytesPerSecond, &error);
  if (error) std::fprintf(stderr, "%s\n", error);
  return s;
}

}  // namespace opix::app
