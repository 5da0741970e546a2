// White balance: each sample of a raw Bayer image times the gain of its site.
#pragma once

#include "KernelLaunch.h"
#include "common/ImageFilterBase.h"

namespace opix {

struct WhiteBalanceArgs {
  SurfaceView src, dst;  // I8, I12 or I16
  int bits;
  int pattern;    // 1 to 4
  float gain[4];  // by cell site: R, G1, G2, B
};

class ImageFilterWhiteBalance : public ImageFilterBase {
 public:
 protected:
  void ApplyParameters(const void* record) override;
  const char* NotInitializedMessage() const override { return "White Balance filter is not initialized"; }
  void Launch(const SurfaceView& source, const SurfaceView& destination) override;

 private:
  opixWhiteBalance_t parameters_{};
};

OPIX_CUDA_DRIVERS(void launchWhiteBalanceCuda(const WhiteBalanceArgs& a);)
void launchWhiteBalanceHost(const WhiteBalanceArgs& a);

}  // namespace opix
