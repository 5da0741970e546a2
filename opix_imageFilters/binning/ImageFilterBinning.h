// Binning filter: every factor x factor block of a single-channel image
// becomes one sample (sum, mean or plain sum).
#pragma once

#include "KernelLaunch.h"
#include "common/ImageFilterBase.h"

namespace opix {

struct BinningArgs {
  SurfaceView src, dst;  // I12 or I16; dst is src's size divided by the factor
  int factor;            // 2 to 4
  int mode;              // opixBinningMode_t
  uint32_t hi;           // largest sample value; also masks the source samples
};

class ImageFilterBinning : public ImageFilterBase {
 public:
  // The record is checked before the destination is made: it sizes it.
  void Init(opixSurfaceFormat_t sourceFormat, opixImageFilterType_t type, const void* staticParameters,
            uint32_t maxWidth, uint32_t maxHeight, opixDeviceSurfaceBufferHandle_t source,
            opixDeviceSurfaceBufferHandle_t* destination) override;

 protected:
  void ApplyParameters(const void* record) override;
  const char* NotInitializedMessage() const override { return "Binning filter is not initialized"; }
  void Launch(const SurfaceView& source, const SurfaceView& destination) override;
  void ScaleToDestination(uint32_t& width, uint32_t& height) const override;

 private:
  opixBinningMode_t mode_ = OPIX_BINNING_SUM;
  uint32_t factor_ = 1;
};

OPIX_CUDA_DRIVERS(void launchBinningFilterCuda(const BinningArgs& a);)
void launchBinningFilterHost(const BinningArgs& a);

}  // namespace opix
