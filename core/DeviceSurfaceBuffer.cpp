#include "DeviceSurfaceBuffer.h"

#include "Checks.h"
#include "opixException.h"
#include "opix_internal/opix_program.h"  // isPlanar, defined here

#define OPIX_SOURCE "core/opixDeviceSurfaceBuffer"

namespace opix {

SurfaceBufferPtr createSurfaceBuffer(uint32_t maxWidth, uint32_t maxHeight, opixSurfaceFormat_t format) {
  auto b = std::make_unique<opixDeviceSurfaceBuffer_t>();
  b->external = 0;
  b->memorySpaceBase = nullptr;
  b->offset = 0;
  b->size = 0;
  b->directPointer = nullptr;
  b->surfaceFormat = format;
  b->maxWidth = b->width = maxWidth;
  b->maxHeight = b->height = maxHeight;
  b->maxPitch = b->pitch = opixRowBytes(format, maxWidth);
  b->pitchAlignment = 4;
  b->bytesPerElement = opixFormatBytesPerElement(format);
  b->channels = opixFormatChannels(format);
  return b;
}

void reserveSurfaceBuffer(opixDeviceSurfaceBuffer_t& buffer, MemSpace& space, uint64_t atLeast) {
  const uint64_t bytes = opixImageSize(buffer.surfaceFormat, buffer.maxWidth, buffer.maxHeight);
  buffer.memorySpaceBase = space.pointerField();
  buffer.offset = space.reserve(bytes > atLeast ? bytes : atLeast);
  buffer.size = bytes;
}

void setCurrentSize(opixDeviceSurfaceBuffer_t& buffer, uint32_t width, uint32_t height) {
  if (width > buffer.maxWidth || height > buffer.maxHeight) OPIX_THROW(OPIX_INVALID_SIZE);
  buffer.width = width;
  buffer.height = height;
  buffer.pitch = opixRowBytes(buffer.surfaceFormat, width);
}

unsigned char* deviceAddress(const opixDeviceSurfaceBuffer_t& buffer) {
  if (buffer.external) {
    // The owner may move an external buffer's pixels between calls, so they
    // are checked at every use, not only when a component takes the buffer.
    checks::externalBuffer(buffer);
    return static_cast<unsigned char*>(buffer.directPointer);
  }
  return sliceAddress(buffer.memorySpaceBase, buffer.offset);
}

bool isPlanar(opixSurfaceFormat_t format) { return format == OPIX_RGB12_PLANAR || format == OPIX_RGB16_PLANAR; }

uint64_t planeStride(const opixDeviceSurfaceBuffer_t& buffer) { return uint64_t{buffer.maxPitch} * buffer.maxHeight; }

static uint64_t elements(const opixDeviceSurfaceBuffer_t& b, uint32_t w, uint32_t h) {
  const auto bytes = static_cast<uint64_t>(b.bytesPerElement);  // 1, 2 or 4
  return bytes ? opixImageSize(b.surfaceFormat, w, h) / bytes : 0;
}

uint64_t currentElementCount(const opixDeviceSurfaceBuffer_t& buffer) {
  return elements(buffer, buffer.width, buffer.height);
}

uint64_t maxElementCount(const opixDeviceSurfaceBuffer_t& buffer) {
  return elements(buffer, buffer.maxWidth, buffer.maxHeight);
}

SurfaceView surfaceView(const opixDeviceSurfaceBuffer_t& buffer) {
  SurfaceView v{
      buffer.surfaceFormat, {deviceAddress(buffer), nullptr, nullptr}, buffer.pitch, buffer.width, buffer.height};
  if (isPlanar(buffer.surfaceFormat)) {
    const uint64_t stride = planeStride(buffer);
    v.plane[1] = v.plane[0] + stride;
    v.plane[2] = v.plane[0] + 2 * stride;
  }
  return v;
}

}  // namespace opix
