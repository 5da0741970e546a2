#pragma once

#include "Debayer.h"
#include "KernelLaunch.h"

namespace opix {

// DFPD for I8 sources: one kernel per frame.
class DebayerDFPD8 : public Debayer<OPIX_DFPD> {
 public:
  void Launch(opixBayerPattern_t pattern, const WorkView& work, const SurfaceView& destination) override;
};

// Half-resolution planes of the 16-bit CUDA path, one entry per 2 x 2 cell:
// final green at the red and at the blue site (16-bit), and the decision at
// each (one byte, 1 for horizontal).
struct DFPDPlanes {
  unsigned char* green[2];
  unsigned char* horizontal[2];
  uint32_t greenPitch, flagPitch;  // bytes
  uint32_t halfWidth, halfHeight;  // cells
};

// DFPD for I12 and I16 sources: two passes through four intermediate planes.
class DebayerDFPD16 : public Debayer<OPIX_DFPD> {
 public:
  void Init(opixSurfaceFormat_t sourceFormat, opixDebayerType_t type, uint32_t maxWidth, uint32_t maxHeight,
            opixDeviceSurfaceBufferHandle_t source, opixDeviceSurfaceBufferHandle_t* destination) override;
  void ComputeMemorySize() override;
  void Launch(opixBayerPattern_t pattern, const WorkView& work, const SurfaceView& destination) override;

 private:
  static constexpr uint32_t kTileWidth = 64, kTileHeight = 32;  // of the CUDA passes; the planes follow them
  uint32_t maxWidth_ = 0, maxHeight_ = 0;
  uint64_t planeOffset_[4] = {};
};

// The drivers: the work image is row-phased by the copy; destination pixel
// (x, y) is phased position (x + sx, y + sy).
void launchDFPDHost(const WorkView& work, const SurfaceView& destination, int sx, int sy);
OPIX_CUDA_DRIVERS(void launchDFPD8Cuda(const WorkView& work, const SurfaceView& destination, int sx, int sy);
                  void launchDFPD16Cuda(const WorkView& work, const DFPDPlanes& planes, const SurfaceView& destination,
                                        int sx, int sy);)

}  // namespace opix
