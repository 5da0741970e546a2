// The common part of surface converters: attached to a source buffer of
// another component, owning a destination buffer of the source's max size.
#pragma once

#include <cstdint>

#include "Components.h"
#include "DeviceSurfaceBuffer.h"

namespace opix {

class SurfaceConverterBase : public virtual ISurfaceConverter, public AttachableComponent {
 public:
  // Re-attaches to another source of the max size this converter was created
  // for (else OPIX_INVALID_SIZE) and of the same format.
  void ChangeSourceBuffer(uint32_t maxWidth, uint32_t maxHeight, opixDeviceSurfaceBufferHandle_t source);

 protected:
  // The size checks of initialisation: max size within the component limits
  // and equal to the source's max size (else OPIX_INVALID_VALUE).
  static void checkMaxSize(uint32_t maxWidth, uint32_t maxHeight, const opixDeviceSurfaceBuffer_t& source);
  // Records the type and source, creates the destination buffer in `format`
  // at the source's max size, hands it out and allocates.
  void attachAndAllocate(opixSurfaceConverter_t type, opixDeviceSurfaceBufferHandle_t source,
                         opixSurfaceFormat_t format, opixDeviceSurfaceBufferHandle_t* destination);

  void ComputeMemorySize() override { reserve(*destination_); }

  opixSurfaceConverter_t type_ = OPIX_BIT_DEPTH_CONVERTER;
  SurfaceBufferPtr destination_;
};

}  // namespace opix
