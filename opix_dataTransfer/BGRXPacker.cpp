// Host driver and launcher of the BGRX packer.
#include "BGRXPacker.h"

#include "BGRXPackerMath.h"
#include "KernelLaunch.h"

#define OPIX_SOURCE "opix_dataTransfer/BGRXPacker"

namespace opix {

void launchBGRXPacker(const SurfaceView& src, const SurfaceView& dst) {
  if (src.format != OPIX_BGRX8) OPIX_THROW(OPIX_INTERNAL_ERROR);
  const WordGroupJob j = wordGroupJob<BGRXPackOp>(src, dst, 0);
  runWordGroupKernel<BGRXPackOp>(
      j, [&] { OPIX_CUDA_DRIVER(bgrxPackerCuda(j)); }, "GPUBGRXPacker");
}

}  // namespace opix
