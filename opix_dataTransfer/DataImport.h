// Import from host: copies a host image into a device surface buffer of its
// own and, where the host layout is not one the device components work on,
// converts it on the device.
#pragma once

#include <cstdint>

#include "DeviceSurfaceBuffer.h"
#include "MemSpace.h"
#include "MemoryAdapter.h"

namespace opix {

class DataImport : public MemoryAdapter {
 public:
  // Validates the host format and max size, creates the buffers and
  // allocates the component's device memory.
  DataImport(opixSurfaceFormat_t hostFormat, uint32_t maxWidth, uint32_t maxHeight);
  // A packed-frame import into a gray surface of `format` (see
  // opixImportFromHostCreatePacked).
  DataImport(opixPacking_t packing, opixSurfaceFormat_t format, uint32_t maxWidth, uint32_t maxHeight);

  // Copies `height` rows of `width` pixels, `pitch` bytes apart, from host
  // memory and converts them; returns without waiting for the device.
  void Copy(const void* source, uint32_t width, uint32_t pitch, uint32_t height);

  // Bytes of a packed frame of width x height with the given host pitch, as
  // they cross to the device (a pitch of 0: rows without gaps, bit for bit).
  static uint64_t packedFrameBytes(opixPacking_t packing, uint32_t width, uint32_t pitch, uint32_t height);

  opixDeviceSurfaceBufferHandle_t destination() const { return destination_.get(); }

 private:
  void ComputeMemorySize() override;
  void CopyPacked(const void* source, uint32_t width, uint32_t pitch, uint32_t height, bool& written);

  SurfaceBufferPtr staging_;  // the host layout on the device, when it needs converting
  SurfaceBufferPtr destination_;
  opixPacking_t packing_ = OPIX_PACKING_NONE;
  TypedArray<uint32_t> frame_;  // a packed frame as it came from the host
};

}  // namespace opix
