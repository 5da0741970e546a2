// Column filter: repairs one defective column of a raw 12-bit mosaic in place
// by copying, in every row, the sample two columns to its left (the nearest
// sample of the same Bayer colour) into it.
#pragma once

#include "KernelLaunch.h"
#include "common/ImageFilterBase.h"

namespace opix {

struct ColumnArgs {
  unsigned char* plane;  // the source's pixels, written in place
  uint32_t pitch;        // bytes between rows
  uint32_t height;
  uint32_t column;  // at least 2, below the width
};

class ImageFilterColumn : public ImageFilterBase {
 public:
  // A record is required at Create.
  void Init(opixSurfaceFormat_t sourceFormat, opixImageFilterType_t type, const void* staticParameters,
            uint32_t maxWidth, uint32_t maxHeight, opixDeviceSurfaceBufferHandle_t source,
            opixDeviceSurfaceBufferHandle_t* destination) override;
  // The destination takes the source's placement; no memory of its own.
  void ComputeMemorySize() override;
  void Transform(const void* parameters, uint32_t width, uint32_t height) override;

 protected:
  void ApplyParameters(const void* record) override;
  const char* NotInitializedMessage() const override { return "Column filter is not initialized"; }
  void Launch(const SurfaceView& source, const SurfaceView& destination) override;

 private:
  void shareSourcePixels();

  int32_t column_ = 2;
};

OPIX_CUDA_DRIVERS(void launchColumnCuda(const ColumnArgs& a);)
void launchColumnHost(const ColumnArgs& a);

}  // namespace opix
