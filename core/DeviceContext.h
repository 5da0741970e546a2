// The SDK's one device record per process: which backend and device it runs
// on, the NVML handle of that device, and the debug switches.
#pragma once

#include <atomic>
#include <cstdint>

#include "Nvml.h"

namespace opix {

struct DeviceContext {
  int device = -1;
  bool interop = false;
  nvml::Device nvmlDevice = nullptr;  // null when NVML could not name the device
  int multiprocessors = 0;            // of the GPU in use; 0 on the host backend
  // Debug switches; nothing in the SDK sets them.
  std::atomic<bool> syncAfterLaunch{false};
  std::atomic<bool> syncAfterTransform{false};
};

DeviceContext& deviceContext();

// Free memory of the device in use: NVML's figure on the CUDA backend, the
// system's available memory on the host backend. False when it is not known.
bool deviceFreeMemory(uint64_t* freeBytes);

// Raises OPIX_INVALID_DEVICE unless opixInit or opixInitHost has succeeded.
void requireInitialised();

// Whether a GPU of compute capability major.minor can run this build's
// kernels: the oldest code the build carries is PTX for 7.5 (the default of
// OPIX_CUDA_ARCHITECTURES, kept by scripts/gpu-check), which no older
// device can load.
bool computeCapabilitySupported(int major, int minor);

}  // namespace opix
