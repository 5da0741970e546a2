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

// Every kernel driver loads and stores pixels as 32-bit words, so the base
// pointer and pitch of an external buffer must be multiples of 4; buffers in a
// memory space are aligned by construction. Raises OPIX_UNALIGNED_DATA with no
// message line of its own (the status line names the failure).
void wordAligned(const opixDeviceSurfaceBuffer_t& buffer);

// Traces `message` and raises `status`.
[[noreturn]] void fail(const char* message, opixStatus_t status, int line);

}  // namespace opix::checks
