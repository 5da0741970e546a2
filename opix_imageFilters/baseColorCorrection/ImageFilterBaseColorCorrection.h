// Base colour correction: a 3 x 4 colour matrix with per-channel white levels
// on colour images, a gain and an offset on grey images.
#pragma once

#include "KernelLaunch.h"
#include "MemSpace.h"
#include "common/ImageFilterBase.h"

namespace opix {

struct ColorCorrectionArgs {
  SurfaceView src, dst;  // I8, I12, I16, RGB8, RGB12_PLANAR or RGB16_PLANAR
  int bits;
  const float* matrix;   // 12 floats in device memory, row by row
  const int32_t* white;  // 3 white levels in device memory
};

class ImageFilterBaseColorCorrection : public ImageFilterBase {
 public:
  void ComputeMemorySize() override;

 protected:
  void ApplyParameters(const void* record) override;
  const char* NotInitializedMessage() const override { return "Base Color Correction filter is not initialized"; }
  void Launch(const SurfaceView& source, const SurfaceView& destination) override;

 private:
  opixBaseColorCorrection_t parameters_{};
  TypedArray<float> matrix_;
  TypedArray<int32_t> white_;
};

OPIX_CUDA_DRIVERS(void launchColorCorrectionCuda(const ColorCorrectionArgs& a);)
void launchColorCorrectionHost(const ColorCorrectionArgs& a);

}  // namespace opix
