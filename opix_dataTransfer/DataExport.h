// Export to host: copies the last device surface of a chain into host
// memory, interleaving planar colour on the way and optionally delivering
// 8-bit colour in blue-green-red order (on the host drivers as part of the
// copy, on the CUDA drivers in a pass before it).
#pragma once

#include <cstdint>

#include "DeviceSurfaceBuffer.h"
#include "MemoryAdapter.h"
#include "SurfaceLease.h"

namespace opix {

class DataExport : public MemoryAdapter {
 public:
  // Validates the source buffer, creates the intermediate buffer and
  // allocates the component's device memory. Keeps the source's owner alive.
  explicit DataExport(opixDeviceSurfaceBufferHandle_t source);

  // The layout Copy delivers to host memory.
  opixSurfaceFormat_t hostFormat() const { return delivered_; }

  // Copies the source's current image to `destination` (rows `pitch` bytes
  // apart) and, with `wait`, waits until it is there; otherwise the copy is
  // left queued on the stream. `width` and `height` must be the source's
  // current size. The source buffer is never modified.
  void Copy(void* destination, uint32_t width, uint32_t pitch, uint32_t height,
            const opixExportParameters_t* parameters, bool wait = true);

 private:
  void ComputeMemorySize() override;

  opixDeviceSurfaceBufferHandle_t source_;
  SurfaceOwner sourceOwner_;
  opixSurfaceFormat_t delivered_;
  // What the CUDA drivers convert into before the copy to the host; none on
  // the host drivers, which convert as they copy.
  SurfaceBufferPtr intermediate_;
};

// The trace printer of the export parameter record.
void traceExportParameters(const opixExportParameters_t* parameters);

}  // namespace opix
