#include "Checks.h"

#include "TraceFile.h"
#include "opixException.h"

#define OPIX_SOURCE "core/Checks"

namespace opix::checks {

void fail(const char* message, opixStatus_t status, int line) {
  trace::text(message);
  throw opixException(status, OPIX_SOURCE, line);
}

void maxWidthLimit(uint32_t maxWidth) {
  if (maxWidth >= kMaxComponentSize) fail("MaxWidth exceeds max component width", OPIX_INVALID_SIZE, __LINE__);
}

void maxHeightLimit(uint32_t maxHeight) {
  if (maxHeight >= kMaxComponentSize) fail("MaxHeight exceeds max component height", OPIX_INVALID_SIZE, __LINE__);
}

void minWidth(uint32_t maxWidth) {
  if (maxWidth < kMinComponentSize)
    fail("Output image width less than minimal width of component", OPIX_INVALID_VALUE, __LINE__);
}

void minHeight(uint32_t maxHeight) {
  if (maxHeight < kMinComponentSize)
    fail("Output image height less than minimal height of component", OPIX_INVALID_VALUE, __LINE__);
}

void widthMatches(uint32_t width, uint32_t surfaceWidth) {
  if (width != surfaceWidth) fail("Input width does not match surface width", OPIX_INVALID_SIZE, __LINE__);
}

void heightMatches(uint32_t height, uint32_t surfaceHeight) {
  if (height != surfaceHeight) fail("Input height does not match surface height", OPIX_INVALID_SIZE, __LINE__);
}

void externalBuffer(const opixDeviceSurfaceBuffer_t& buffer) {
  if (!buffer.external) return;
  if (!buffer.directPointer) OPIX_THROW(OPIX_INVALID_VALUE);
  if (buffer.width > buffer.maxWidth || buffer.height > buffer.maxHeight) OPIX_THROW(OPIX_INVALID_SIZE);
  const uint32_t rowBytes = opixRowBytes(buffer.surfaceFormat, buffer.width);
  if (buffer.width != 0 && rowBytes == 0) OPIX_THROW(OPIX_INVALID_VALUE);  // no row size: unknown format
  if (buffer.pitch < rowBytes) OPIX_THROW(OPIX_INVALID_VALUE);
  constexpr uint64_t kWord = 4;
  uint64_t stride = 0;
  if (buffer.surfaceFormat == OPIX_RGB12_PLANAR || buffer.surfaceFormat == OPIX_RGB16_PLANAR) {
    stride = uint64_t{buffer.maxPitch} * buffer.maxHeight;
    if (uint64_t{buffer.pitch} * buffer.height > stride) OPIX_THROW(OPIX_INVALID_VALUE);
  }
  if (reinterpret_cast<uintptr_t>(buffer.directPointer) % kWord != 0 || buffer.pitch % kWord != 0 ||
      stride % kWord != 0)
    OPIX_THROW(OPIX_UNALIGNED_DATA);
}

}  // namespace opix::checks
