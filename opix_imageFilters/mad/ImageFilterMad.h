// SAM and SAM16: a per-pixel black shift and a per-pixel intensity factor on
// a raw single-channel image.
#pragma once

#include "KernelLaunch.h"
#include "MadMath.h"
#include "MemSpace.h"
#include "common/ImageFilterBase.h"

namespace opix {

// What both drivers of the pass receive.
struct MadArgs {
  SurfaceView src, dst;  // single channel, same size
  int bits;              // significant bits of the format
  bool wideShift;        // black shift values of 16 bits (SAM16), else 8
  const void* shift;     // black shift matrix, or null when absent
  uint32_t shiftPitch;   // bytes per matrix row, a multiple of 4
  const float* factor;   // correction matrix, or null
  uint32_t factorPitch;  // floats per correction matrix row
};

class ImageFilterMad : public ImageFilterBase {
 public:
  void ComputeMemorySize() override;

 protected:
  void ApplyParameters(const void* record) override;
  const char* NotInitializedMessage() const override;
  void Launch(const SurfaceView& source, const SurfaceView& destination) override;

 private:
  bool wide() const { return type_ == OPIX_SAM16; }

  TypedArray<float> factor_;
  TypedArray<uint8_t> shift_;
  bool hasFactor_ = false;
  bool hasShift_ = false;
};

OPIX_CUDA_DRIVERS(void launchMadCuda(const MadArgs& a);)
void launchMadHost(const MadArgs& a);

}  // namespace opix
