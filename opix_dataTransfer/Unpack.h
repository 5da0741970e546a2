// The packed-frame unpack kernel of import from host. The launcher runs the
// CUDA or the host driver of the backend in use and ends with the launch
// check under the label "GPUUnpack".
#pragma once

#include "KernelLaunch.h"
#include "UnpackMath.h"

namespace opix {

void launchUnpack(const UnpackJob& job);

OPIX_CUDA_DRIVERS(void unpackCuda(const UnpackJob& job);)

}  // namespace opix
