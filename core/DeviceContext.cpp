// Initialisation of the SDK on a device: opixInit and opixInitHost.
#include "DeviceContext.h"

#include <cstdlib>
#include <cstring>

#include "device/DeviceApi.h"
#include "opix.h"
#include "opixException.h"

#define OPIX_SOURCE "core/DeviceContext"

namespace opix {

DeviceContext& deviceContext() {
  static DeviceContext c;
  return c;
}

bool deviceFreeMemory(uint64_t* freeBytes) {
  switch (device::backend()) {
    case device::Backend::Host: *freeBytes = device::hostAvailableMemory(); return true;
    case device::Backend::Cuda: {
      nvml::Memory memory{};
      const nvml::Device handle = deviceContext().nvmlDevice;
      if (handle && nvml::deviceGetMemoryInfo(handle, &memory) == nvml::kSuccess) {
        *freeBytes = memory.free;
        return true;
      }
      nvml::shutdown();
      deviceContext().nvmlDevice = nullptr;
      return false;
    }
    default: return false;
  }
}

void requireInitialised() {
  if (device::backend() == device::Backend::None) OPIX_THROW(OPIX_INVALID_DEVICE);
}

bool computeCapabilitySupported(int major, int minor) { return major > 7 || (major == 7 && minor >= 5); }

namespace {

// A backend, once chosen, stays: components of the process hold its memory.
bool otherBackendChosen(device::Backend wanted) {
  const device::Backend b = device::backend();
  return b != device::Backend::None && b != wanted;
}

opixStatus_t checkPinnedMemory() {
  void* p = nullptr;
  if (device::mallocHost(&p, 4) != device::kSuccess) return OPIX_INSUFFICIENT_HOST_MEMORY;
  if (device::freeHost(p) != device::kSuccess) return OPIX_INTERNAL_ERROR;
  return OPIX_OK;
}

}  // namespace

}  // namespace opix

using namespace opix;

extern "C" opixStatus_t opixInit(uint32_t deviceMask, bool interop) {
  if (deviceMask == 0) return OPIX_INVALID_DEVICE;
  DeviceContext& ctx = deviceContext();
  ctx.interop = interop;
  int index = 0;
  while (!(deviceMask & (1u << index))) ++index;

  device::DeviceApi* cuda = device::cudaApi();
  if (otherBackendChosen(device::Backend::Cuda)) return OPIX_UNAPPLICABLE_OPERATION;
  if (!cuda) return OPIX_INVALID_DEVICE;
  int count = 0;
  if (cuda->getDeviceCount(&count) != device::kSuccess || count <= 0 || count <= index) return OPIX_INVALID_DEVICE;
  int driver = 0, runtime = 0;
  if (cuda->driverGetVersion(&driver) != device::kSuccess || cuda->runtimeGetVersion(&runtime) != device::kSuccess)
    return OPIX_INVALID_DEVICE;
  if (driver < runtime) return static_cast<opixStatus_t>(OPIX_DRIVER_OLDER_THAN_RUNTIME);
  device::DeviceProperties props{};
  if (cuda->getDeviceProperties(&props, index) != device::kSuccess) return OPIX_INVALID_DEVICE;
  if (!computeCapabilitySupported(props.major, props.minor)) return OPIX_INCOMPATIBLE_DEVICE;
  // Binding a device for graphics interoperation is plain selection in every
  // runtime this SDK builds with; the interop switch is kept for the SDK's use.
  if (cuda->setDevice(index) != device::kSuccess) return OPIX_INVALID_DEVICE;
  ctx.device = index;
  ctx.multiprocessors = props.multiProcessorCount;
  device::setBackend(device::Backend::Cuda);

  ctx.nvmlDevice = nullptr;
  if (nvml::init() == nvml::kSuccess) {
    const nvml::Lookup found = nvml::findCudaDevice(index);
    if (found.outcome == nvml::Lookup::Found) ctx.nvmlDevice = found.device;
  }

  if (!interop) {
    const opixStatus_t s = checkPinnedMemory();
    if (s != OPIX_OK) {
      device::setBackend(device::Backend::None);
      return s;
    }
  }
  return OPIX_OK;
}

extern "C" opixStatus_t opixInitHost(void) {
  if (otherBackendChosen(device::Backend::Host)) return OPIX_UNAPPLICABLE_OPERATION;
  DeviceContext& ctx = deviceContext();
  ctx.device = -1;
  ctx.multiprocessors = 0;
  ctx.interop = false;
  ctx.nvmlDevice = nullptr;
  // A developer aid: OPIX_CUDA_ON_CPU=1 runs every kernel through its CUDA
  // driver built for the CPU, on the host backend's memory.
  const char* onCpu = std::getenv("OPIX_CUDA_ON_CPU");
  const bool cudaDriversOnCpu = onCpu && std::strcmp(onCpu, "1") == 0;
  if (cudaDriversOnCpu && !device::cudaDriversOnCpuCompiledIn()) return OPIX_INVALID_DEVICE;
  device::setCudaDriversOnCpu(cudaDriversOnCpu);
  device::setBackend(device::Backend::Host);
  return OPIX_OK;
}
