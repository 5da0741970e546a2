// Median filter: every sample becomes the median of its 3 x 3 neighbourhood,
// the edge samples repeated past the border; planar colour images per plane.
#pragma once

#include "KernelLaunch.h"
#include "common/ImageFilterBase.h"

namespace opix {

// One plane of 16-bit samples and its destination plane: the same size, each
// with a pitch of its own (a caller-owned source may have a wider one).
struct MedianArgs {
  const unsigned char* src;
  uint32_t srcPitch;  // bytes, a multiple of 4
  unsigned char* dst;
  uint32_t dstPitch;  // bytes, a multiple of 4
  uint32_t width, height;
};

class ImageFilterMedian : public ImageFilterBase {
 public:
  // The median takes no parameters: a record given to Transform is ignored.
  void Transform(const void* parameters, uint32_t width, uint32_t height) override;

 protected:
  void ApplyParameters(const void*) override {}
  const char* NotInitializedMessage() const override { return "Median filter is not initialized"; }
  void Launch(const SurfaceView& source, const SurfaceView& destination) override;
};

OPIX_CUDA_DRIVERS(void launchMedianCuda(const MedianArgs& a);)
void launchMedianHost(const MedianArgs& a);

}  // namespace opix
