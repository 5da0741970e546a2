#include "ImageFilterBase.h"

#include "Checks.h"
#include "FilterRegistry.h"
#include "TraceFile.h"
#include "opixException.h"

#define OPIX_SOURCE "opix_imageFilters/ImageFilterBase"

namespace opix {

namespace {

// A parameter record received by Create or Transform, traced as the filter's
// declaration says.
void traceRecord(opixImageFilterType_t type, const void* record) {
  const FilterDeclaration* d = findFilter(type);
  if (d && d->traceRecord) d->traceRecord(type, record);
}

opixSurfaceFormat_t destinationFormat(opixImageFilterType_t type, opixSurfaceFormat_t source) {
  const FilterDeclaration* d = findFilter(type);
  return d && d->destinationFormat ? d->destinationFormat(type, source) : source;
}

}  // namespace

void ImageFilterBase::Init(opixSurfaceFormat_t sourceFormat, opixImageFilterType_t type, const void* staticParameters,
                           uint32_t maxWidth, uint32_t maxHeight, opixDeviceSurfaceBufferHandle_t source,
                           opixDeviceSurfaceBufferHandle_t* destination) {
  traceRecord(type, staticParameters);
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
  destination_ = createSurfaceBuffer(destinationWidth, destinationHeight, destinationFormat(type, sourceFormat));
  *destination = destination_.get();
  Allocate();
  if (staticParameters) {
    ApplyParameters(staticParameters);
    parametersSupplied_ = true;
  }
}

void ImageFilterBase::ComputeMemorySize() {
  const FilterType* entry = nullptr;
  const FilterDeclaration* d = findFilter(type_, &entry);
  // A format the kernels cannot filter is refused rather than left unwritten.
  if (d && d->sourcesCheckedByFilter) checkSource(*entry, format_);
  reserve(*destination_);
}

void ImageFilterBase::Transform(const void* parameters, uint32_t width, uint32_t height) {
  traceRecord(type_, parameters);
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
