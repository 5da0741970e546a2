// The BGRX packer of import: 4-byte blue-green-red-unused host pixels into
// packed RGB8.
#pragma once

#include "DeviceSurfaceBuffer.h"
#include "KernelLaunch.h"
#include "WordGroups.h"

namespace opix {

// A BGRX8 `src` into the RGB8 `dst`, then the launch check; any other source
// format raises OPIX_INTERNAL_ERROR.
void launchBGRXPacker(const SurfaceView& src, const SurfaceView& dst);

// The CUDA driver.
OPIX_CUDA_DRIVERS(void bgrxPackerCuda(const WordGroupJob& job);)

}  // namespace opix
