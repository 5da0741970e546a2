#include "DataImport.h"

#include "BGRXPacker.h"
#include "ChannelKernels.h"
#include "opixException.h"

#define OPIX_SOURCE "opix_dataTransfer/DataImport"

namespace opix {

namespace {

// The device format an accepted host format arrives in.
opixSurfaceFormat_t deviceFormat(opixSurfaceFormat_t host) {
  switch (host) {
    case OPIX_BGR8:
    case OPIX_BGRX8: return OPIX_RGB8;
    case OPIX_RGB12: return OPIX_RGB12_PLANAR;
    case OPIX_RGB16: return OPIX_RGB16_PLANAR;
    default: return host;
  }
}

bool accepted(opixSurfaceFormat_t host) {
  switch (host) {
    case OPIX_I8:
    case OPIX_I10:
    case OPIX_I12:
    case OPIX_I14:
    case OPIX_I16:
    case OPIX_RGB8:
    case OPIX_BGR8:
    case OPIX_RGB12:
    case OPIX_RGB16:
    case OPIX_BGRX8: return true;
    // Planar layouts are made on the device from RGB12 and RGB16; a host
    // image has no planar import path, so they are refused here rather than
    // failing every Copy.
    default: return false;
  }
}

}  // namespace

DataImport::DataImport(opixSurfaceFormat_t hostFormat, uint32_t maxWidth, uint32_t maxHeight)
    : MemoryAdapter(hostFormat, maxWidth, maxHeight) {
  if (!accepted(hostFormat)) unsupported(hostFormat);
  const opixSurfaceFormat_t device = deviceFormat(hostFormat);
  // BGR8 is swapped in place in the destination; the others convert from a
  // staging copy of the host layout.
  if (device != hostFormat && hostFormat != OPIX_BGR8) staging_ = createSurfaceBuffer(maxWidth, maxHeight, hostFormat);
  destination_ = createSurfaceBuffer(maxWidth, maxHeight, device);
  // The destination holds no image until the first Copy: with an empty
  // current size, a component that reads it before then is refused by its
  // size check instead of reading memory nothing has written.
  setCurrentSize(*destination_, 0, 0);
  Allocate();
}

void DataImport::ComputeMemorySize() {
  if (staging_) reserve(*staging_);
  reserve(*destination_);
}

void DataImport::Copy(const void* source, uint32_t width, uint32_t pitch, uint32_t height) {
  if (width > destination_->maxWidth || height > destination_->maxHeight) OPIX_THROW(OPIX_INVALID_SIZE);
  // The new size is recorded only once the frame is in: a copy that fails
  // before touching the device keeps the previous frame and its size; one
  // that fails after (a conversion kernel) leaves the destination empty, so
  // no later stage takes a half-written frame for a complete one.
  const uint32_t previousWidth = destination_->width, previousHeight = destination_->height;
  bool written = false;
  try {
    setCurrentSize(*destination_, width, height);
    if (staging_) setCurrentSize(*staging_, width, height);
    const opixDeviceSurfaceBuffer_t& target = staging_ ? *staging_ : *destination_;
    if (width != 0 && height != 0)
      copy2D(deviceAddress(target), target.pitch, source, pitch, hostRowBytes(width), height,
             device::CopyKind::HostToDevice);
    written = true;
    const SurfaceView dst = surfaceView(*destination_);
    switch (format_) {
      case OPIX_BGR8: launchChannelReplace(dst, dst); break;
      case OPIX_RGB12:
      case OPIX_RGB16: launchChannelSplit(surfaceView(*staging_), dst); break;
      case OPIX_BGRX8: launchBGRXPacker(surfaceView(*staging_), dst); break;
      default: break;
    }
  } catch (...) {
    if (written)
      setCurrentSize(*destination_, 0, 0);
    else
      setCurrentSize(*destination_, previousWidth, previousHeight);
    throw;
  }
}

}  // namespace opix
