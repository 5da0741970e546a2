#pragma once

#include "Debayer.h"
#include "KernelLaunch.h"

namespace opix {

// HQLI for I8, I12 and I16 sources: one kernel per frame.
class DebayerHQLI : public Debayer<OPIX_HQLI> {
 public:
  void Launch(opixBayerPattern_t pattern, const WorkView& work, const SurfaceView& destination) override;
};

// The two drivers: the work image is RGGB-phased; destination pixel (x, y)
// is phased position (x + sx, y + sy).
OPIX_CUDA_DRIVERS(void launchHQLICuda(const WorkView& work, const SurfaceView& destination, int sx, int sy);)
void launchHQLIHost(const WorkView& work, const SurfaceView& destination, int sx, int sy);

}  // namespace opix
