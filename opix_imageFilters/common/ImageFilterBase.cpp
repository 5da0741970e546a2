#include "ImageFilterBase.h"

#include "Checks.h"
#include "FilterRecords.h"
#include "TraceFile.h"
#include "opixException.h"

#define OPIX_SOURCE "opix_imageFilters/ImageFilterBase"

namespace opix {

void ImageFilterBase::Init(opixSurfaceFormat_t sourceFormat, opixImageFilterType_t type, const void* staticParameters,
                           uint32_t maxWidth, uint32_t maxHeight, opixDeviceSurfaceBufferHandle_t source,
                           opixDeviceSurfaceBufferHandle_t* destination) {
  trace::filterRecord(type, staticParameters);
  checks::maxWidthLimit(maxWidth);
  checks::maxHeightLimit(maxHeight);
  // A filter may be larger than its source, never smaller.
  if (source->maxWidth > maxWidth)
    checks::fail("Input width does not match surface width", OPIX_INVALID_VALUE, __LINE__);
  if (source->maxHeight > maxHeight)
    checks::fail("Input height does not match surface height", OPIX_INVALID_VALUE, __LINE__);
  checks::externalBuffer(*source);
  type_ = type;
  format_ = sourceFormat;
  holdSource(source);
  parametersSupplied_ = false;
  uint32_t destinationWidth = source->maxWidth, destinationHeight = source->maxHeight;
  ScaleToDestination(destinationWidth, destinationHeight);
  destination_ = createSurfaceBuffer(destinationWidth, destinationHeight, DestinationFormat(sourceFormat));
  *destination = destination_.get();
  Allocate();
  if (staticParameters) {
    ApplyParameters(staticParameters);
    parametersSupplied_ = true;
  }
}

void ImageFilterBase::ComputeMemorySize() { reserve(*destination_); }

void ImageFilterBase::Transform(const void* parameters, uint32_t width, uint32_t height) {
  trace::filterRecord(type_, parameters);
  checks::widthMatches(width, source_->width);
  checks::heightMatches(height, source_->height);
  if (parameters) {
    ApplyParameters(parameters);
    parametersSupplied_ = true;
  }
  if (!parametersSupplied_) checks::fail(NotInitializedMessage(), OPIX_INVALID_VALUE, __LINE__);
  uint32_t destinationWidth = width, destinationHeight = height;
  ScaleToDestination(destinationWidth, destinationHeight);
  setCurrentSize(*destination_, destinationWidth, destinationHeight);
  Launch(surfaceView(*source_), surfaceView(*destination_));
}

void ImageFilterBase::requireType(opixImageFilterType_t type) const {
  if (type_ != type) OPIX_THROW(OPIX_INVALID_VALUE);
}

}  // namespace opix
