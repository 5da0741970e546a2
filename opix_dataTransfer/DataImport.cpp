#include "DataImport.h"

#include "BGRXPacker.h"
#include "ChannelKernels.h"
#include "TraceFile.h"
#include "Unpack.h"
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

namespace {

bool packingTakes(opixPacking_t packing, opixSurfaceFormat_t format) {
  switch (packing) {
    case OPIX_PACKING_10P: return format == OPIX_I10;
    case OPIX_PACKING_12P:
    case OPIX_PACKING_12_PACKED: return format == OPIX_I12;
    case OPIX_PACKING_16_LOW:
    case OPIX_PACKING_16_HIGH:
      return format == OPIX_I10 || format == OPIX_I12 || format == OPIX_I14 || format == OPIX_I16;
    default: return false;
  }
}

}  // namespace

DataImport::DataImport(opixPacking_t packing, opixSurfaceFormat_t format, uint32_t maxWidth, uint32_t maxHeight)
    : MemoryAdapter(format, maxWidth, maxHeight), packing_(packing) {
  if (!packingTakes(packing, format)) {
    trace::value("packing", static_cast<int32_t>(packing));
    unsupported(format);
  }
  destination_ = createSurfaceBuffer(maxWidth, maxHeight, format);
  setCurrentSize(*destination_, 0, 0);
  Allocate();
}

uint64_t DataImport::packedFrameBytes(opixPacking_t packing, uint32_t width, uint32_t pitch, uint32_t height) {
  const uint64_t bits = packedSampleBits(packing);
  if (pitch == 0) return (uint64_t{width} * height * bits + 7) / 8;
  return (uint64_t{width} * bits + 7) / 8 * height;
}

void DataImport::ComputeMemorySize() {
  if (packing_ != OPIX_PACKING_NONE) {
    // Rows of the frame lie on the device without the host's row gaps.
    const uint64_t bytes = packedFrameBytes(packing_, destination_->maxWidth, 1, destination_->maxHeight);
    frame_.place(memSpace_, (bytes + 3) / 4);
  }
  if (staging_) reserve(*staging_);
  reserve(*destination_);
}

void DataImport::CopyPacked(const void* source, uint32_t width, uint32_t pitch, uint32_t height, bool& written) {
  const uint64_t bits = packedSampleBits(packing_);
  const uint64_t rowBytes = (uint64_t{width} * bits + 7) / 8;
  const uint64_t bytes = packedFrameBytes(packing_, width, pitch, height);
  // A host row gap shorter than a row would read the next row's bytes.
  if (pitch != 0 && pitch < rowBytes) OPIX_THROW(OPIX_INVALID_VALUE);
  setCurrentSize(*destination_, width, height);
  trace::value("packed frame bytes", bytes);
  if (width == 0 || height == 0) return;
  if (pitch == 0)
    copyAsync(frame_.data(), source, static_cast<size_t>(bytes), device::CopyKind::HostToDevice);
  else
    copy2D(frame_.data(), static_cast<size_t>(rowBytes), source, pitch, static_cast<size_t>(rowBytes), height,
           device::CopyKind::HostToDevice);
  written = true;
  const SurfaceView dst = surfaceView(*destination_);
  UnpackJob j{};
  j.frame = frame_.data();
  j.frameWords = (bytes + 3) / 4;
  j.rowBits = pitch == 0 ? 0 : rowBytes * 8;
  j.out = dst.plane[0];
  j.outPitchWords = dst.pitch / 4;
  j.width = width;
  j.height = height;
  j.packing = packing_;
  j.bits = opixFormatBits(format_);
  launchUnpack(j);
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
    if (packing_ != OPIX_PACKING_NONE) {
      CopyPacked(source, width, pitch, height, written);
      return;
    }
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
