// Argument checks shared by the components. Each writes its message to the
// trace, then raises.
#pragma once

#include <cstdint>

#include "opix.h"

namespace opix::checks {

constexpr uint32_t kMaxComponentSize = 65536;  // exclusive
constexpr uint32_t kMinComponentSize = 64;

void maxWidthLimit(uint32_t maxWidth);                        // >= 65536: OPIX_INVALID_SIZE
void maxHeightLimit(uint32_t maxHeight);                      // >= 65536: OPIX_INVALID_SIZE
void minWidth(uint32_t maxWidth);                             // < 64: OPIX_INVALID_VALUE
void minHeight(uint32_t maxHeight);                           // < 64: OPIX_INVALID_VALUE
void widthMatches(uint32_t width, uint32_t surfaceWidth);     // OPIX_INVALID_SIZE
void heightMatches(uint32_t height, uint32_t surfaceHeight);  // OPIX_INVALID_SIZE

// A caller-owned (external) buffer is known only by its record, so the record
// is checked when a component takes the buffer and again at every use (the
// owner may change it between calls): the pixel pointer must be set
// (OPIX_INVALID_VALUE); the current size within the max size
// (OPIX_INVALID_SIZE); the pitch at least the bytes of a row of the current
// width, and for the planar formats the rows of a plane within the plane
// stride (OPIX_INVALID_VALUE); and, since every kernel driver loads and stores
// pixels as 32-bit words, the pointer, the pitch and the plane stride
// multiples of 4 (OPIX_UNALIGNED_DATA). Buffers in a memory space are sound by
// construction and pass unchecked. No message line of its own: the status
// line names the failure.
void externalBuffer(const opixDeviceSurfaceBuffer_t& buffer);

// Traces `message` and raises `status`.
[[noreturn]] void fail(const char* message, opixStatus_t status, int line);

}  // namespace opix::checks
