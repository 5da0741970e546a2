#pragma once

#include "Debayer.h"
#include "KernelLaunch.h"

namespace opix {

// L7 for I12 and I16 sources: one kernel per frame. The work image keeps the
// source's phase; the kernel takes the pattern.
class DebayerL7 : public Debayer<OPIX_L7> {
 public:
  void Launch(opixBayerPattern_t pattern, const WorkView& work, const SurfaceView& destination) override;
};

OPIX_CUDA_DRIVERS(void launchL7Cuda(const WorkView& work, const SurfaceView& destination, int pattern);)
void launchL7Host(const WorkView& work, const SurfaceView& destination, int pattern);

}  // namespace opix
