// Bayer black shift: the black level of each sample's colour subtracted from
// a raw Bayer image.
#pragma once

#include "KernelLaunch.h"
#include "common/ImageFilterBase.h"

namespace opix {

struct BayerBlackShiftArgs {
  SurfaceView src, dst;  // I12 or I16
  int bits;
  int pattern;     // 1 to 4
  float level[3];  // red, green, blue
};

class ImageFilterBayerBlackShift : public ImageFilterBase {
 public:
 protected:
  void ApplyParameters(const void* record) override;
  const char* NotInitializedMessage() const override { return "Bayer Black Shift filter is not initialized"; }
  void Launch(const SurfaceView& source, const SurfaceView& destination) override;

 private:
  opixBayerBlackShift_t parameters_{};
};

OPIX_CUDA_DRIVERS(void launchBayerBlackShiftCuda(const BayerBlackShiftArgs& a);)
void launchBayerBlackShiftHost(const BayerBlackShiftArgs& a);

}  // namespace opix
