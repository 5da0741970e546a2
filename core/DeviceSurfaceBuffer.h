// Device surface buffers: format, maximum and current size, pitch, and where
// the pixels live.
#pragma once

#include <cstdint>
#include <memory>

#include "MemSpace.h"
#include "opix.h"

namespace opix {

using SurfaceBufferPtr = std::unique_ptr<opixDeviceSurfaceBuffer_t>;

// Whether a format keeps each colour channel in a plane of its own
// (OPIX_RGB12_PLANAR, OPIX_RGB16_PLANAR). The programs see the same function
// through opix_internal/opix_program.h.
bool isPlanar(opixSurfaceFormat_t format);

// A new buffer record: current size = max size, pitch = row bytes, not yet
// placed in any memory space.
SurfaceBufferPtr createSurfaceBuffer(uint32_t maxWidth, uint32_t maxHeight, opixSurfaceFormat_t format);

// Reserves the buffer's pixels (its image size at max size) in `space`, and
// at least `atLeast` bytes.
void reserveSurfaceBuffer(opixDeviceSurfaceBuffer_t& buffer, MemSpace& space, uint64_t atLeast = 0);

// Sets the current size; beyond the max size raises OPIX_INVALID_SIZE.
void setCurrentSize(opixDeviceSurfaceBuffer_t& buffer, uint32_t width, uint32_t height);

// Address of the first plane. An unplaced buffer raises OPIX_INTERNAL_ERROR; an
// external one is checked first (checks::externalBuffer).
unsigned char* deviceAddress(const opixDeviceSurfaceBuffer_t& buffer);

// Byte distance between the planes of a planar format: max pitch x max height.
uint64_t planeStride(const opixDeviceSurfaceBuffer_t& buffer);

uint64_t currentElementCount(const opixDeviceSurfaceBuffer_t& buffer);
uint64_t maxElementCount(const opixDeviceSurfaceBuffer_t& buffer);

// What kernels and host drivers receive: never the component.
struct SurfaceView {
  opixSurfaceFormat_t format;
  unsigned char* plane[3];  // planes 2 and 3 are null unless planar
  uint32_t pitch;
  uint32_t width;
  uint32_t height;
};

SurfaceView surfaceView(const opixDeviceSurfaceBuffer_t& buffer);

}  // namespace opix
