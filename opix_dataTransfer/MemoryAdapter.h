// The base of the two transfer components: a surface format on the device
// side, host memory on the other.
#pragma once

#include <cstdint>

#include "Components.h"
#include "opix.h"

namespace opix {

class MemoryAdapter : public BaseComponent {
 public:
  // Applies the component size limits to the max size.
  MemoryAdapter(opixSurfaceFormat_t format, uint32_t maxWidth, uint32_t maxHeight);

  // Bytes of one row of `width` pixels in host memory, unpadded.
  uint64_t hostRowBytes(uint32_t width) const { return uint64_t{width} * channels_ * bytesPerChannel_; }

 protected:
  // Traces "Unsupported surface format" with the format's name and raises.
  [[noreturn]] static void unsupported(opixSurfaceFormat_t format);

  opixSurfaceFormat_t format_;
  uint32_t bytesPerChannel_;
  uint32_t channels_;
};

}  // namespace opix
