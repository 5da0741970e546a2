// Flat-field correction: each sample of a 12- or 16-bit raw image times a
// gain interpolated bilinearly from a grid of nodes every 4 pixels.
#pragma once

#include "KernelLaunch.h"
#include "MemSpace.h"
#include "common/ImageFilterBase.h"

namespace opix {

struct FfcArgs {
  SurfaceView src, dst;  // I12 or I16
  int bits;
  const uint16_t* grid;  // node rows `gridPitch` bytes apart
  uint32_t gridPitch;    // bytes, a multiple of 4
  float divider;
};

class ImageFilterFfc : public ImageFilterBase {
 public:
  void Init(opixSurfaceFormat_t sourceFormat, opixImageFilterType_t type, const void* staticParameters,
            uint32_t maxWidth, uint32_t maxHeight, opixDeviceSurfaceBufferHandle_t source,
            opixDeviceSurfaceBufferHandle_t* destination) override;
  void ComputeMemorySize() override;

 protected:
  void ApplyParameters(const void* record) override;
  const char* NotInitializedMessage() const override { return "FFC filter is not initialized"; }
  void Launch(const SurfaceView& source, const SurfaceView& destination) override;

 private:
  TypedArray<uint8_t> grid_;
  bool creating_ = false;
  float divider_ = 1.0f;
  uint32_t gridWidth_ = 0, gridHeight_ = 0;  // the image size the grid in force covers
};

OPIX_CUDA_DRIVERS(void launchFfcCuda(const FfcArgs& a);)
void launchFfcHost(const FfcArgs& a);

}  // namespace opix
