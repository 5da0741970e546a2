// Colour saturation: every pixel of a colour image to hue, saturation and
// lightness (HSL) or value (HSV), each changed through a curve, and back.
#pragma once

#include "ColorSaturationMath.h"
#include "KernelLaunch.h"
#include "MemSpace.h"
#include "common/ImageFilterBase.h"

namespace opix {

struct ColorSaturationArgs {
  SurfaceView src, dst;  // RGB8, RGB12_PLANAR or RGB16_PLANAR
  int bits;              // 8, 12 or 16
  const float* curves;   // three tables of 1024 floats on the device
  ColorSaturationOps ops;
};

class ImageFilterColorSaturation : public ImageFilterBase {
 public:
  void ComputeMemorySize() override;

 protected:
  void ApplyParameters(const void* record) override;
  const char* NotInitializedMessage() const override { return "Color Saturation filter is not initialized"; }
  void Launch(const SurfaceView& source, const SurfaceView& destination) override;

 private:
  TypedArray<float> curves_;  // the three curves, one after another
  ColorSaturationOps ops_{};
};

OPIX_CUDA_DRIVERS(void launchColorSaturationCuda(const ColorSaturationArgs& a);)
void launchColorSaturationHost(const ColorSaturationArgs& a);

}  // namespace opix
