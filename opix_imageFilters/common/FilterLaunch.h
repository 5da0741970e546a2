// How a filter's pass reaches the backend in use: the CUDA driver or the host
// driver, then the launch check under the pass's display name.
#pragma once

#include "KernelLaunch.h"

// `cudaCall` and `hostCall` are calls of the two drivers with the same arguments.
#define OPIX_FILTER_LAUNCH(label, cudaCall, hostCall) \
  do {                                                \
    if (::opix::cudaDrivers())                        \
      OPIX_CUDA_DRIVER(cudaCall);                     \
    else                                              \
      ::opix::host::launch([&] { hostCall; });        \
    ::opix::launchCheck(label);                       \
  } while (0)
