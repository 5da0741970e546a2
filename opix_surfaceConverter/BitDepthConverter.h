// The bit-depth converter: changes the significant bits per channel of a
// gray or colour surface by shifting.
#pragma once

#include <cstdint>

#include "BitDepthKernels.h"
#include "SurfaceConverterBase.h"

namespace opix {

class BitDepthConverter : public SurfaceConverterBase {
 public:
  // staticParameters points to an opixBitDepthConverter_t.
  void Init(opixSurfaceConverter_t type, const void* staticParameters, uint32_t maxWidth, uint32_t maxHeight,
            opixDeviceSurfaceBufferHandle_t source, opixDeviceSurfaceBufferHandle_t* destination) override;
  // parameters, when not null, points to an opixBitDepthConverter_t whose
  // bit depths replace the stored ones from this call on.
  void Transform(const void* parameters, uint32_t width, uint32_t height) override;

 private:
  // The shift for source bits s and target bits t with the chosen kernel;
  // OPIX_INVALID_VALUE when it would be negative or above 15. `left` tells
  // the direction of a 16-bit to 16-bit conversion.
  uint32_t shiftFor(uint64_t s, uint64_t t, bool* left) const;

  BitDepthKernel kernel_ = BitDepthKernel::Same16;
  uint32_t sourceBits_ = 0;
  uint32_t targetBits_ = 0;
};

// The trace printer of the parameter record.
void traceBitDepthParameters(const opixBitDepthConverter_t* parameters);

}  // namespace opix
