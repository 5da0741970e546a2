// Gaussian sharpen (type 1) and Gaussian blur (type 43): a 3 x 3 convolution
// with a kernel built from the sigma that every Transform brings, the edge
// samples repeated past the border, colour images per channel.
#pragma once

#include "GaussianMath.h"
#include "KernelLaunch.h"
#include "common/ImageFilterBase.h"

namespace opix {

// One plane of samples (channels interleaved) and its destination plane: the
// same size, each with a pitch of its own.
struct GaussianArgs {
  const unsigned char* src;
  uint32_t srcPitch;  // bytes, a multiple of 4
  unsigned char* dst;
  uint32_t dstPitch;  // bytes, a multiple of 4
  uint32_t width, height;
  int channels;     // 1, or 3 interleaved
  int sampleBytes;  // 1 or 2
  uint32_t hi;      // largest sample value
  GaussianWeights weights;
};

// The normalised kernel of a sigma: the Gaussian exp(-(i² + j²) / (2 sigma²))
// over the 3 x 3 window in double, for sharpening with the centre replaced by
// -2 x the sum, then divided by its sum and stored as float. The usual
// 1 / (2 pi sigma²) factor cancels in that division and is left out.
GaussianWeights gaussianWeights(float sigma, bool sharpen);

class ImageFilterGaussianSharpen : public ImageFilterBase {
 public:
  // Every Transform must bring its record.
  void Transform(const void* parameters, uint32_t width, uint32_t height) override;

 protected:
  void ApplyParameters(const void* record) override;
  const char* NotInitializedMessage() const override { return "Dynamic Parameters have not to be NULL"; }
  void Launch(const SurfaceView& source, const SurfaceView& destination) override;

 private:
  GaussianWeights weights_{1.0f, 0.0f, 0.0f};
};

OPIX_CUDA_DRIVERS(void launchGaussianCuda(const GaussianArgs& a);)
void launchGaussianHost(const GaussianArgs& a);

}  // namespace opix
