// Defringe: removes the purple and green fringes that lateral chromatic
// aberration and blooming leave along high-contrast edges of demosaiced
// images. Pass 1 marks edge pixels in a map of one byte per pixel; pass 2
// desaturates fringe-coloured pixels near them.
#pragma once

#include "DefringeMath.h"
#include "KernelLaunch.h"
#include "MemSpace.h"
#include "common/ImageFilterBase.h"

namespace opix {

struct DefringeArgs {
  SurfaceView src, dst;  // RGB12_PLANAR or RGB16_PLANAR, same size
  uint8_t* edges;        // pass 1's marks, edgePitch bytes per row
  uint32_t edgePitch;
  uint32_t hi;
  DefringeRule rule;
};

class ImageFilterDefringe : public ImageFilterBase {
 public:
  void ComputeMemorySize() override;

 protected:
  void ApplyParameters(const void* record) override;
  const char* NotInitializedMessage() const override { return "Defringe filter is not initialized"; }
  void Launch(const SurfaceView& source, const SurfaceView& destination) override;

 private:
  uint32_t edgePitch() const { return (source_->maxWidth + 3) / 4 * 4; }

  TypedArray<uint8_t> edges_;
  DefringeRule rule_{};
};

OPIX_CUDA_DRIVERS(void launchDefringeEdgesCuda(const DefringeArgs& a); void launchDefringeCuda(const DefringeArgs& a);)
void launchDefringeEdgesHost(const DefringeArgs& a);
void launchDefringeHost(const DefringeArgs& a);

}  // namespace opix
