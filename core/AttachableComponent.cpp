#include "Checks.h"
#include "Components.h"
#include "TraceFile.h"
#include "opixException.h"

#define OPIX_SOURCE "core/AttachableComponent"

namespace opix {

void AttachableComponent::Attach(opixDeviceSurfaceBufferHandle_t source) {
  if (!source || !source_) OPIX_THROW(OPIX_INVALID_VALUE);
  if (source->maxWidth != source_->maxWidth) {
    trace::text("Input width does not match surface width");
    OPIX_THROW(OPIX_INVALID_SIZE);
  }
  if (source->maxHeight != source_->maxHeight) {
    trace::text("Input height does not match surface height");
    OPIX_THROW(OPIX_INVALID_SIZE);
  }
  if (source->surfaceFormat != source_->surfaceFormat) {
    trace::value("Unsupported surface format", source_->surfaceFormat);
    OPIX_THROW(OPIX_UNSUPPORTED_SURFACE);
  }
  checks::externalBuffer(*source);
  holdSource(source);
}

}  // namespace opix
