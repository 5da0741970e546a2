#include "ImageFilterBase.h"

#include "Checks.h"
#include "FilterRegistry.h"
#include "TraceFile.h"
#include "opixException.h"

#define OPIX_SOURCE "opix_imageFilters/ImageFilterBase"

namespace opix {

namespace {

opixSurfaceFormat_t destinationFormat(const FilterDeclaration& d, opixImageFilterType_t type,
                                      opixSurfaceFormat_t source) {
  return d.destinationFormat ? d.destinationFormat(type, source) : source;
}

}  // namespace

void ImageFilterBase::Init(opixSurfaceFormat_t sourceFormat, opixImageFilterType_t type, const void* staticParameters,
                           uint32_t maxWidth, uint32_t maxHeight, opixDeviceSurfaceBufferHandle_t source,
                           opixDeviceSurfaceBufferHandle_t* destination) {
  // A class serves the types it was declared for and no other.
  if (!declaration_ || !declaration_->entry(type)) OPIX_THROW(OPIX_INVALID_VALUE);
  if (declaration_->traceRecord) declaration_->traceRecord(type, staticParameters);
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
  destination_ =
      createSurfaceBuffer(destinationWidth, destinationHeight, destinationFormat(*declaration_, type, sourceFormat));
  *destination = destination_.get();
  Allocate();
  if (staticParameters) {
    ApplyParameters(staticParameters);
    parametersSupplied_ = true;
  }
}

void ImageFilterBase::ComputeMemorySize() {
  // A format the kernels cannot filter is refused rather than left unwritten.
  if (declaration_->sourcesCheckedByFilter) checkSource(*declaration_->entry(type_), format_);
  reserve(*destination_);
}

void ImageFilterBase::Transform(const void* parameters, uint32_t width, uint32_t height) {
  if (declaration_->traceRecord) declaration_->traceRecord(type_, parameters);
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

}  // namespace opix
