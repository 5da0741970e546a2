// Dispatch of a kernel launch to the driver in use.
//
// Three ways run a kernel: its CUDA driver on the GPU (CUDA backend), its
// CUDA driver built for the CPU against HIP-CPU (host backend with the CUDA
// drivers on the CPU, a developer aid), and its host driver (host backend).
#pragma once

#include "StreamGlobal.h"
#include "device/Device.h"
#include "device/Parallel.h"
#include "opixException.h"

// Declares CUDA driver entry points, once for each build of the drivers.
#define OPIX_CUDA_DRIVERS(...) \
  namespace gpu {              \
  __VA_ARGS__                  \
  }                            \
  namespace cpu {              \
  __VA_ARGS__                  \
  }

#if OPIX_WITH_CUDA
#define OPIX_GPU_DRIVER_CALL(call) gpu::call
#else
// Without the CUDA backend no process can select it; the branch is dead.
#define OPIX_GPU_DRIVER_CALL(call) OPIX_THROW_AT(OPIX_INVALID_DEVICE, "core/KernelLaunch")
#endif
#if OPIX_WITH_CUDA_CPU
#define OPIX_CPU_DRIVER_CALL(call) cpu::call
#else
#define OPIX_CPU_DRIVER_CALL(call) OPIX_THROW_AT(OPIX_INVALID_DEVICE, "core/KernelLaunch")
#endif

// Calls a CUDA driver entry point, `launchXxxCuda(args)`, in the build that
// matches the backend: the GPU's on the CUDA backend, the CPU's otherwise.
#define OPIX_CUDA_DRIVER(call)    \
  do {                            \
    if (::opix::onCuda())         \
      OPIX_GPU_DRIVER_CALL(call); \
    else                          \
      OPIX_CPU_DRIVER_CALL(call); \
  } while (0)

// Runs a kernel through the driver in use, its CUDA driver (on the GPU or on
// the CPU) or its host driver, then the launch check under `label`.
// `cudaCall` and `hostCall` are calls of the two drivers with the same
// arguments.
#define OPIX_KERNEL_LAUNCH(label, cudaCall, hostCall) \
  do {                                                \
    if (::opix::cudaDrivers())                        \
      OPIX_CUDA_DRIVER(cudaCall);                     \
    else                                              \
      ::opix::host::launch([&] { hostCall; });        \
    ::opix::launchCheck(label);                       \
  } while (0)

namespace opix {

inline bool onCuda() { return device::backend() == device::Backend::Cuda; }

// True when kernels run through their CUDA drivers: on the GPU, or on the CPU
// when the host backend was started with the CUDA drivers on the CPU.
inline bool cudaDrivers() { return onCuda() || device::cudaDriversOnCpu(); }

}  // namespace opix
