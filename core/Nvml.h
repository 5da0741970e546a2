// NVML, loaded from the driver's library at run time. The build machine has
// no NVML header or library, and a machine without the driver has neither:
// its absence is a normal case, reported as NVML's own "library not found".
#pragma once

#include <cstdint>

namespace opix::nvml {

using Return = int;
constexpr Return kSuccess = 0;
constexpr Return kErrorLibraryNotFound = 12;

using Device = struct NvmlDeviceOpaque*;

struct PciInfo {
  char busIdLegacy[16];
  unsigned int domain;
  unsigned int bus;
  unsigned int device;
  unsigned int pciDeviceId;
  unsigned int pciSubSystemId;
  char busId[32];
};

struct Memory {
  unsigned long long total;
  unsigned long long free;
  unsigned long long used;
};

// Each call loads the library on first use; without it they return
// kErrorLibraryNotFound.
Return init();
Return shutdown();
Return deviceGetCount(unsigned int* count);
Return deviceGetHandleByIndex(unsigned int index, Device* device);
Return deviceGetPciInfo(Device device, PciInfo* pci);
Return deviceGetMemoryInfo(Device device, Memory* memory);
const char* errorString(Return result);

// Finds the NVML device whose legacy PCI bus id matches that of CUDA device
// `cudaDevice`. Needs NVML initialised. On a failure of a step the result
// says which, and `index` is the NVML index reached.
struct Lookup {
  enum Outcome { Found, NoBusId, NoCount, NoHandle } outcome;
  Device device;
  unsigned int index;
};
Lookup findCudaDevice(int cudaDevice);

}  // namespace opix::nvml
