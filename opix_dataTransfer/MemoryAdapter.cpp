#include "MemoryAdapter.h"

#include "Checks.h"
#include "TraceFile.h"
#include "opixException.h"

#define OPIX_SOURCE "opix_dataTransfer/MemoryAdapter"

namespace opix {

MemoryAdapter::MemoryAdapter(opixSurfaceFormat_t format, uint32_t maxWidth, uint32_t maxHeight)
    : format_(format),
      bytesPerChannel_(static_cast<uint32_t>(opixFormatBytesPerElement(format))),
      channels_(opixFormatChannels(format)) {
  checks::maxWidthLimit(maxWidth);
  checks::maxHeightLimit(maxHeight);
  // An empty max size leaves nothing to allocate: no buffer could be addressed.
  if (maxWidth == 0 || maxHeight == 0) OPIX_THROW(OPIX_INVALID_VALUE);
}

void MemoryAdapter::unsupported(opixSurfaceFormat_t format) {
  trace::value("Unsupported surface format", format);
  OPIX_THROW(OPIX_UNSUPPORTED_SURFACE);
}

}  // namespace opix
