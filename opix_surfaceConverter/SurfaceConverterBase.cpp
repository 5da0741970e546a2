#include "SurfaceConverterBase.h"

#include "Checks.h"
#include "opixException.h"

#define OPIX_SOURCE "opix_surfaceConverter/SurfaceConverterBase"

namespace opix {

void SurfaceConverterBase::checkMaxSize(uint32_t maxWidth, uint32_t maxHeight,
                                        const opixDeviceSurfaceBuffer_t& source) {
  checks::maxWidthLimit(maxWidth);
  checks::maxHeightLimit(maxHeight);
  if (maxWidth != source.maxWidth)
    checks::fail("Input width does not match surface width", OPIX_INVALID_VALUE, __LINE__);
  if (maxHeight != source.maxHeight)
    checks::fail("Input height does not match surface height", OPIX_INVALID_VALUE, __LINE__);
}

void SurfaceConverterBase::attachAndAllocate(opixSurfaceConverter_t type, opixDeviceSurfaceBufferHandle_t source,
                                             opixSurfaceFormat_t format, opixDeviceSurfaceBufferHandle_t* destination) {
  checks::externalBuffer(*source);
  type_ = type;
  holdSource(source);
  destination_ = createSurfaceBuffer(source->maxWidth, source->maxHeight, format);
  Allocate();
  *destination = destination_.get();
}

void SurfaceConverterBase::ChangeSourceBuffer(uint32_t maxWidth, uint32_t maxHeight,
                                              opixDeviceSurfaceBufferHandle_t source) {
  if (maxWidth != destination_->maxWidth)
    checks::fail("Input width does not match surface width", OPIX_INVALID_SIZE, __LINE__);
  if (maxHeight != destination_->maxHeight)
    checks::fail("Input height does not match surface height", OPIX_INVALID_SIZE, __LINE__);
  Attach(source);
}

}  // namespace opix
