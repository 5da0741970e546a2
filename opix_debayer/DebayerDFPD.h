#pragma once

#include "Debayer.h"

namespace opix {

// DFPD for I8 sources: one kernel per frame.
class opixDFPD8 : public opixDebayer<OPIX_DFPD> {
 public:
  void Launch(opixBayerPattern_t pattern, const WorkView& work, const SurfaceView& destination, int flag) override;
};

// DFPD for I12 and I16 sources: two passes through four half-resolution
// planes (green and decision at the red and at the blue site of each cell).
class opixDFPD16 : public opixDebayer<OPIX_DFPD> {
 public:
  static constexpr uint32_t kTileWidth = 64, kTileHeight = 32;
  void ComputeMemorySize() override;
  void Launch(opixBayerPattern_t pattern, const WorkView& work, const SurfaceView& destination, int flag) override;

 private:
  uint64_t planeOffset_[4] = {};
};

// The four planes of the 16-bit passes, one entry per 2 x 2 cell; cell (i, j)
// holds the red site (2i - 2, 2j - 2) and the blue site (2i - 1, 2j - 1).
struct MenonPlanes {
  uint16_t* green[2];  // red site, blue site
  uint8_t* horizontal[2];
  uint32_t greenPitch;  // bytes
  uint32_t flagPitch;   // bytes
};

void launchDfpdHost(const WorkView& work, const SurfaceView& destination, int sx, int sy);
void launchDfpd8Cuda(const WorkView& work, const SurfaceView& destination, int sx, int sy);
void launchDfpd16Cuda(const WorkView& work, const SurfaceView& destination, const MenonPlanes& planes, int sx, int sy);

}  // namespace opix
