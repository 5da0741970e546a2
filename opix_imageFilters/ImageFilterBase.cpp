#include "Checks.h"
#include "ImageFilters.h"
#include "TraceFile.h"
#include "opixException.h"

#define OPIX_SOURCE "opix_imageFilters/ImageFilterBase"

namespace opix {

void ImageFilterBase::Init(opixSurfaceFormat_t, opixImageFilterType_t type, const void* staticParameters,
                           uint32_t maxWidth, uint32_t maxHeight, opixDeviceSurfaceBufferHandle_t source,
                           opixDeviceSurfaceBufferHandle_t* destination) {
  checks::maxWidthLimit(maxWidth);
  checks::maxHeightLimit(maxHeight);
  // A filter may be larger than its source, never smaller.
  if (source->maxWidth > maxWidth) checks::fail("Input width does not match surface width", OPIX_INVALID_VALUE, __LINE__);
  if (source->maxHeight > maxHeight)
    checks::fail("Input height does not match surface height", OPIX_INVALID_VALUE, __LINE__);
  if (!acceptsType(type)) OPIX_THROW(OPIX_INVALID_VALUE);
  type_ = type;
  maxWidth_ = maxWidth;
  maxHeight_ = maxHeight;
  source_ = source;
  parametersSupplied_ = false;
  destination_ = createSurfaceBuffer(source->maxWidth, source->maxHeight, source->surfaceFormat);
  *destination = destination_.get();
  Allocate();
  if (staticParameters) {
    applyParameters(staticParameters);
    parametersSupplied_ = true;
  }
}

void ImageFilterBase::ComputeMemorySize() { reserve(*destination_); }

void ImageFilterBase::ChangeSourceBuffer(uint32_t maxWidth, uint32_t maxHeight,
                                         opixDeviceSurfaceBufferHandle_t source) {
  checks::widthMatches(maxWidth, maxWidth_);
  checks::heightMatches(maxHeight, maxHeight_);
  Attach(source);
}

void ImageFilterBase::Transform(const void* parameters, uint32_t width, uint32_t height) {
  checks::widthMatches(width, source_->width);
  checks::heightMatches(height, source_->height);
  if (parameters) {
    applyParameters(parameters);
    parametersSupplied_ = true;
  }
  if (!parametersSupplied_) checks::fail(notInitialisedMessage(), OPIX_INVALID_VALUE, __LINE__);
  setCurrentSize(*destination_, width, height);
  run(surfaceView(*source_), surfaceView(*destination_));
}

int ImageFilterBase::maxValue() const {
  const uint32_t bits = opixFormatBits(source_->surfaceFormat);
  return bits >= 16 ? 65535 : (1 << bits) - 1;
}

}  // namespace opix
