// Device information for the SDK's own programs (opix_internal/opix_program.h).
#include <cstring>

#include "Nvml.h"
#include "device/DeviceApi.h"
#include "opix_internal/opix_program.h"

namespace opix::deviceinfo {

bool cudaDeviceCount(int* count) {
  device::DeviceApi* cuda = device::cudaApi();
  return cuda && cuda->getDeviceCount(count) == device::kSuccess;
}

bool cudaDeviceProperties(int d, Gpu* gpu, const char** errorText) {
  device::DeviceApi* cuda = device::cudaApi();
  if (!cuda) {
    *errorText = "no CUDA backend in this build";
    return false;
  }
  device::DeviceProperties props{};
  const device::Error e = cuda->getDeviceProperties(&props, d);
  if (e != device::kSuccess) {
    *errorText = cuda->errorString(e);
    return false;
  }
  static_assert(sizeof gpu->name == sizeof props.name, "device names of one length");
  std::memcpy(gpu->name, props.name, sizeof gpu->name);
  gpu->major = props.major;
  gpu->minor = props.minor;
  gpu->tccDriver = props.tccDriver != 0;
  return true;
}

const char* hostProcessorName() { return device::hostProcessorName(); }

uint64_t hostAvailableMemory() { return device::hostAvailableMemory(); }

NvmlFreeMemory nvmlFreeMemory(int cudaDevice) {
  NvmlFreeMemory result;
  const nvml::Return init = nvml::init();
  if (init != nvml::kSuccess) {
    result.outcome = NvmlFreeMemory::InitFailed;
    result.errorText = nvml::errorString(init);
    return result;
  }
  const nvml::Lookup found = nvml::findCudaDevice(cudaDevice);
  if (found.outcome != nvml::Lookup::Found) return result;
  nvml::Memory memory{};
  const nvml::Return r = nvml::deviceGetMemoryInfo(found.device, &memory);
  if (r != nvml::kSuccess) {
    result.outcome = NvmlFreeMemory::QueryFailed;
    result.errorText = nvml::errorString(r);
    result.index = found.index;
    nvml::shutdown();
    return result;
  }
  result.outcome = NvmlFreeMemory::Found;
  result.freeBytes = memory.free;
  return result;
}

bool runtimeFreeMemory(uint64_t* bytes) {
  size_t free = 0, total = 0;
  if (device::memGetInfo(&free, &total) != device::kSuccess) return false;
  *bytes = free;
  return true;
}

opixStatus_t hostToDeviceBandwidth(size_t bytes, float* megabytesPerSecond, const char** errorText) {
  *errorText = nullptr;
  auto failed = [&](device::Error e) {
    *errorText = device::errorString(e);
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
  if (opixHostMalloc(&host, bytes) != OPIX_OK) {
    status = OPIX_INSUFFICIENT_HOST_MEMORY;
  } else {
    auto* block = static_cast<unsigned char*>(host);
    for (size_t i = 0; i < bytes; ++i) block[i] = static_cast<unsigned char>(i % 256);
    float ms = 0;
    if ((e = device::malloc(&dev, bytes)) != device::kSuccess ||
        (e = device::eventRecord(start, true)) != device::kSuccess ||
        (e = device::memcpy(dev, host, bytes, device::CopyKind::HostToDevice)) != device::kSuccess ||
        (e = device::eventRecord(stop, true)) != device::kSuccess ||
        (e = device::deviceSynchronize()) != device::kSuccess ||
        (e = device::eventElapsedTime(&ms, start, stop)) != device::kSuccess) {
      status = failed(e);
    } else {
      *megabytesPerSecond =
          static_cast<float>(static_cast<double>(bytes) * 1000.0 / (static_cast<double>(ms) * 1048576.0));
    }
  }
  device::eventDestroy(start);
  device::eventDestroy(stop);
  if (dev) device::free(dev);
  if (host && opixHostFree(host) != OPIX_OK && status == OPIX_OK) status = OPIX_INTERNAL_ERROR;
  return status;
}

}  // namespace opix::deviceinfo
