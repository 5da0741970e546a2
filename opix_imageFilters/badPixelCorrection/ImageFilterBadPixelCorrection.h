// Bad pixel correction: isolated hot and dead samples of grey or Bayer data
// clipped to the range of their same-colour neighbours in a 5 x 5 window.
#pragma once

#include "KernelLaunch.h"
#include "common/ImageFilterBase.h"

namespace opix {

struct BadPixelArgs {
  SurfaceView src, dst;  // single channel, same size
  int bits;              // 8 to 16
  int pattern;           // 0 (grey) or 1 to 4
};

class ImageFilterBadPixelCorrection : public ImageFilterBase {
 public:
 protected:
  void ApplyParameters(const void* record) override;
  const char* NotInitializedMessage() const override { return "Bad pixel remover filter is not initialized"; }
  void Launch(const SurfaceView& source, const SurfaceView& destination) override;

 private:
  opixBayerPattern_t pattern_ = OPIX_BAYER_NONE;
};

OPIX_CUDA_DRIVERS(void launchBadPixelCuda(const BadPixelArgs& a);)
void launchBadPixelHost(const BadPixelArgs& a);

}  // namespace opix
