#include "Nvml.h"

#include <dlfcn.h>

#include <cstring>
#include <mutex>

#include "device/Device.h"

namespace opix::nvml {

namespace {

struct Library {
  void* handle = nullptr;
  Return (*init)() = nullptr;
  Return (*shutdown)() = nullptr;
  Return (*getCount)(unsigned int*) = nullptr;
  Return (*getHandleByIndex)(unsigned int, Device*) = nullptr;
  Return (*getPciInfo)(Device, PciInfo*) = nullptr;
  Return (*getMemoryInfo)(Device, Memory*) = nullptr;
  const char* (*errorString)(Return) = nullptr;

  Library() {
    handle = dlopen("libnvidia-ml.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!handle) return;
    bool ok = bind(init, "nvmlInit_v2") && bind(shutdown, "nvmlShutdown") && bind(getCount, "nvmlDeviceGetCount_v2") &&
              bind(getHandleByIndex, "nvmlDeviceGetHandleByIndex_v2") && bind(getPciInfo, "nvmlDeviceGetPciInfo_v3") &&
              bind(getMemoryInfo, "nvmlDeviceGetMemoryInfo") && bind(errorString, "nvmlErrorString");
    if (!ok) {
      dlclose(handle);
      handle = nullptr;
    }
  }
  ~Library() {
    if (handle) dlclose(handle);
  }

  template <class F>
  bool bind(F& f, const char* name) {
    f = reinterpret_cast<F>(dlsym(handle, name));
    return f != nullptr;
  }
};

Library& lib() {
  static Library l;
  return l;
}

}  // namespace

Return init() { return lib().handle ? lib().init() : kErrorLibraryNotFound; }
Return shutdown() { return lib().handle ? lib().shutdown() : kErrorLibraryNotFound; }
Return deviceGetCount(unsigned int* count) { return lib().handle ? lib().getCount(count) : kErrorLibraryNotFound; }
Return deviceGetHandleByIndex(unsigned int index, Device* device) {
  return lib().handle ? lib().getHandleByIndex(index, device) : kErrorLibraryNotFound;
}
Return deviceGetPciInfo(Device device, PciInfo* pci) {
  if (!lib().handle) return kErrorLibraryNotFound;
  // Newer drivers may append fields; give them room beyond what is read here.
  struct {
    PciInfo info;
    char spare[256];
  } padded{};
  const Return r = lib().getPciInfo(device, &padded.info);
  *pci = padded.info;
  return r;
}
Return deviceGetMemoryInfo(Device device, Memory* memory) {
  return lib().handle ? lib().getMemoryInfo(device, memory) : kErrorLibraryNotFound;
}
const char* errorString(Return result) {
  if (lib().handle) return lib().errorString(result);
  return result == kErrorLibraryNotFound ? "NVML Shared Library Not Found" : "Unknown Error";
}

Lookup findCudaDevice(int cudaDevice) {
  Lookup result{Lookup::NoBusId, nullptr, 0};
  char busId[13] = {};
  if (device::deviceGetPCIBusId(busId, sizeof busId, cudaDevice) != device::kSuccess) return result;
  unsigned int count = 0;
  if (deviceGetCount(&count) != kSuccess || cudaDevice < 0 || count <= static_cast<unsigned>(cudaDevice)) {
    result.outcome = Lookup::NoCount;
    return result;
  }
  // The last device's handle stands when none matches.
  for (unsigned int i = 0; i < count; ++i) {
    result.index = i;
    PciInfo pci{};
    if (deviceGetHandleByIndex(i, &result.device) != kSuccess || deviceGetPciInfo(result.device, &pci) != kSuccess) {
      result.outcome = Lookup::NoHandle;
      return result;
    }
    if (std::strncmp(pci.busIdLegacy, busId, sizeof busId) == 0) break;
  }
  result.outcome = Lookup::Found;
  return result;
}

}  // namespace opix::nvml
