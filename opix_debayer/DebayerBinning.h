#pragma once

#include "Components.h"
#include "DebayerMath.h"
#include "KernelLaunch.h"

namespace opix {

// Reduced-resolution colour: no work image, no apron; the destination is
// the source size divided by the factor.
class DebayerBinning : public IDebayer, public AttachableComponent {
 public:
  void Init(opixSurfaceFormat_t sourceFormat, opixDebayerType_t type, uint32_t maxWidth, uint32_t maxHeight,
            opixDeviceSurfaceBufferHandle_t source, opixDeviceSurfaceBufferHandle_t* destination) override;
  void Transform(opixBayerPattern_t pattern, uint32_t width, uint32_t height) override;
  // The room of its own format also for a destination in the export's
  // layout (Debayer's ComputeMemorySize).
  void ComputeMemorySize() override {
    reserve(*destination_, opixImageSize(ownFormat_, destination_->maxWidth, destination_->maxHeight));
  }

 private:
  uint32_t factor_ = 1;
  SurfaceBufferPtr destination_;
  opixSurfaceFormat_t ownFormat_ = OPIX_RGB8;
};

// Drivers: `source` holds the mosaic, `destination` the output size.
OPIX_CUDA_DRIVERS(void launchBinningCuda(const SurfaceView& source, const SurfaceView& destination, int factor,
                                         int pattern);)
void launchBinningHost(const SurfaceView& source, const SurfaceView& destination, int factor, int pattern);

}  // namespace opix
