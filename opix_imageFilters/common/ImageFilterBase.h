// The common part of every image filter: the size checks of Create and
// Transform, the destination buffer, the parameter record's life, and the
// single pass each filter runs.
#pragma once

#include <cstdint>
#include <memory>

#include "Components.h"
#include "DeviceSurfaceBuffer.h"
#include "opix.h"

namespace opix {

struct FilterDeclaration;

class ImageFilterBase : public virtual IImageFilter, public AttachableComponent {
 public:
  // Refuses a type the filter's declaration does not serve, checks the
  // sizes, creates the destination (the format its declaration
  // gives and the source's max size), allocates, then applies the static parameters when given.
  void Init(opixSurfaceFormat_t sourceFormat, opixImageFilterType_t type, const void* staticParameters,
            uint32_t maxWidth, uint32_t maxHeight, opixDeviceSurfaceBufferHandle_t source,
            opixDeviceSurfaceBufferHandle_t* destination) override;
  // Checks the size, applies a given record, requires one to be in force,
  // sizes the destination and runs the filter's pass.
  void Transform(const void* parameters, uint32_t width, uint32_t height) override;
  // Checks the source format where the declaration leaves that to the
  // filter, then reserves the destination buffer.
  void ComputeMemorySize() override;

 protected:
  // Takes a record: copies or uploads what the pass needs.
  virtual void ApplyParameters(const void* record) = 0;
  // The trace line of a Transform without parameters.
  virtual const char* NotInitializedMessage() const = 0;
  // Runs the pass from the source to the destination, current sizes set.
  virtual void Launch(const SurfaceView& source, const SurfaceView& destination) = 0;
  // The destination's size for a source of width x height (max or current):
  // the same unless the filter scales the image.
  virtual void ScaleToDestination(uint32_t& width, uint32_t& height) const {
    (void)width;
    (void)height;
  }

  // The declaration the filter was made from; set by createFilter.
  const FilterDeclaration* declaration_ = nullptr;
  opixImageFilterType_t type_ = OPIX_GAUSSIAN_SHARPEN;
  opixSurfaceFormat_t format_ = OPIX_I8;
  bool parametersSupplied_ = false;
  SurfaceBufferPtr destination_;

 private:
  friend std::unique_ptr<ImageFilterBase> createFilter(opixImageFilterType_t type, opixSurfaceFormat_t source);
};

}  // namespace opix
