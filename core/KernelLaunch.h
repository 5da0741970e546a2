// Dispatch of a kernel launch to the backend in use.
#pragma once

#include "StreamGlobal.h"
#include "device/Device.h"
#include "device/Parallel.h"
#include "opixException.h"

#if OPIX_WITH_CUDA
#define OPIX_CUDA_DRIVER(call) (call)
#else
// Without the CUDA backend no process can select it; the branch is dead.
#define OPIX_CUDA_DRIVER(call) OPIX_THROW_AT(OPIX_INVALID_DEVICE, "core/KernelLaunch")
#endif

namespace opix {

inline bool onCuda() { return device::backend() == device::Backend::Cuda; }

}  // namespace opix
