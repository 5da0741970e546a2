// Tone curve: one curve applied to the largest and smallest channel of every
// pixel of a 16-bit planar colour image, the middle channel following so the
// hue stays.
#pragma once

#include <vector>

#include "KernelLaunch.h"
#include "MemSpace.h"
#include "common/ImageFilterBase.h"

namespace opix {

struct ToneCurveArgs {
  SurfaceView src, dst;   // RGB16_PLANAR
  const uint16_t* curve;  // 1024 entries on the device
  // Host driver: the curve's value for every 16-bit input.
  const uint16_t* expanded;
};

class ImageFilterToneCurve : public ImageFilterBase {
 public:
  void ComputeMemorySize() override;

 protected:
  void ApplyParameters(const void* record) override;
  const char* NotInitializedMessage() const override { return "Tone Curve filter is not initialized"; }
  void Launch(const SurfaceView& source, const SurfaceView& destination) override;

 private:
  TypedArray<uint16_t> curve_;
  std::vector<uint16_t> expanded_;
};

OPIX_CUDA_DRIVERS(void launchToneCurveCuda(const ToneCurveArgs& a);)
void launchToneCurveHost(const ToneCurveArgs& a);

}  // namespace opix
