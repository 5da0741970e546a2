#include "DeviceStartup.h"

#include <cstdio>
#include <cstring>

#include "Nvml.h"
#include "device/DeviceApi.h"

namespace opix::app {

namespace {

constexpr size_t kBandwidthBytes = 104857600;  // 100 MiB

void printMemory(double bytes) { std::printf("Available GPU memory size: %.2f GB\n", bytes * 9.313225746154785e-10); }

opixStatus_t finishWithBandwidth() {
  float mbps = 0;
  const opixStatus_t s = bandwidthTest(&mbps);
  if (s != OPIX_OK) return s;
  std::printf("PCI-Express bandwidth test (host to device): %d MByte/s\n\n", static_cast<int>(mbps));
  return OPIX_OK;
}

opixStatus_t startHost() {
  const opixStatus_t s = opixInitHost();
  if (s != OPIX_OK) return s;
  std::printf("Processing unit: %s (device id = %d)\n", device::hostProcessorName(), -1);
  printMemory(static_cast<double>(device::hostAvailableMemory()));
  return finishWithBandwidth();
}

// Free memory of CUDA device d through NVML, with its messages; false when
// NVML cannot give it.
bool nvmlFreeMemory(int d, double* bytes) {
  const nvml::Return init = nvml::init();
  if (init != nvml::kSuccess) {
    std::printf("Failed to initialize NVML: %s\n", nvml::errorString(init));
    return false;
  }
  const nvml::Lookup found = nvml::findCudaDevice(d);
  if (found.outcome != nvml::Lookup::Found) return false;
  nvml::Memory memory{};
  const nvml::Return r = nvml::deviceGetMemoryInfo(found.device, &memory);
  if (r != nvml::kSuccess) {
    std::printf("Failed to get memory info for device %u: %s\n", found.index, nvml::errorString(r));
    nvml::shutdown();
    return false;
  }
  *bytes = static_cast<double>(memory.free);
  return true;
}

}  // namespace

void printVersion() {
  std::printf("SDK version: %d.%d.%d.%d (build date: %s)\n", OPIX_VERSION_MAJOR, OPIX_VERSION_MINOR,
              OPIX_VERSION_PATCH, OPIX_VERSION_BUILD, opixBuildDate());
}

opixStatus_t startDevice(int32_t deviceId, bool cpu) {
  if (cpu) return startHost();
  device::DeviceApi* cuda = device::cudaApi();
  int count = 0;
  if (!cuda || cuda->getDeviceCount(&count) != device::kSuccess || count == 0) {
    // The CPU stands in for the missing GPU platform.
    std::fprintf(stderr, "CUDA capability device or driver not found\n");
    return startHost();
  }
  int d = deviceId;
  if (d > count - 1) {
    std::fprintf(stderr, "Device id %d is not found. Set to default\n", d);
    d = 0;
  }
  device::DeviceProperties props{};
  const device::Error e = cuda->getDeviceProperties(&props, d);
  if (e != device::kSuccess) {
    std::fprintf(stderr, "%s\n", cuda->errorString(e));
    return OPIX_INVALID_DEVICE;
  }
  // The program's own floor, the one its message names. A newer device that
  // this build cannot run passes here and is refused by opixInit with
  // OPIX_INCOMPATIBLE_DEVICE, which the driver reports in its own words.
  if (props.major < 2) {
    std::fprintf(stderr, "GPU is not supported. Program runs on GPU with Compute Compatibility 2.0 or higher\n");
    return OPIX_INVALID_DEVICE;
  }
  const opixStatus_t s = opixInit(1u << d, false);
  if (s != OPIX_OK) return s;
  std::printf("Processing unit: %s (device id = %d)\n", props.name, d);
  double freeBytes = 0;
  if (!nvmlFreeMemory(d, &freeBytes)) {
    // Without NVML the runtime's own figure stands in.
    size_t free = 0, total = 0;
    if (device::memGetInfo(&free, &total) == device::kSuccess) freeBytes = static_cast<double>(free);
  }
  printMemory(freeBytes);
  if (props.tccDriver) std::printf("TCC driver mode enabled\n");
  return finishWithBandwidth();
}

opixStatus_t bandwidthTest(float* megabytesPerSecond) {
  auto failed = [](device::Error e) {
    std::fprintf(stderr, "%s\n", device::errorString(e));
    return OPIX_EXECUTION_FAILURE;
  };
  device::Event start = nullptr, stop = nullptr;
  device::Error e = device::eventCreate(&start);
  if (e != device::kSuccess) return failed(e);
  e = device::eventCreate(&stop);
  if (e != device::kSuccess) {
    device::eventDestroy(start);
    return failed(e);
  }
  void* host = nullptr;
  void* dev = nullptr;
  opixStatus_t status = OPIX_OK;
  if (opixHostMalloc(&host, kBandwidthBytes) != OPIX_OK) {
    status = OPIX_INSUFFICIENT_HOST_MEMORY;
  } else {
    auto* bytes = static_cast<unsigned char*>(host);
    for (size_t i = 0; i < kBandwidthBytes; ++i) bytes[i] = static_cast<unsigned char>(i % 256);
    float ms = 0;
    if ((e = device::malloc(&dev, kBandwidthBytes)) != device::kSuccess ||
        (e = device::eventRecord(start, true)) != device::kSuccess ||
        (e = device::memcpy(dev, host, kBandwidthBytes, device::CopyKind::HostToDevice)) != device::kSuccess ||
        (e = device::eventRecord(stop, true)) != device::kSuccess ||
        (e = device::deviceSynchronize()) != device::kSuccess ||
        (e = device::eventElapsedTime(&ms, start, stop)) != device::kSuccess) {
      status = failed(e);
    } else {
      *megabytesPerSecond = static_cast<float>(104857600000.0 / (static_cast<double>(ms) * 1048576.0));
    }
  }
  device::eventDestroy(start);
  device::eventDestroy(stop);
  if (dev) device::free(dev);
  if (host && opixHostFree(host) != OPIX_OK && status == OPIX_OK) status = OPIX_INTERNAL_ERROR;
  return status;
}

}  // namespace opix::app
