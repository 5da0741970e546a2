#pragma once

#include <cstdint>

#include "Debayer.h"
#include "KernelLaunch.h"
#include "MGMath.h"

namespace opix {

// Pass geometry of a frame: work width and height of the passes, the grid of
// pass 1 (blocks of 64 x 32 pixels, one 32 x 16 slot of 2 x 2 cells each in
// every buffer) and the second grid.
struct MgGeometry {
  uint64_t w1, h1, gx1, gy1, gx2, gy2;
};
inline MgGeometry mgGeometry(uint64_t width, uint64_t height) {
  const uint64_t w1 = width + 26, h1 = height + 25;
  return {w1, h1, (w1 - 20 + 63) / 64, (h1 - 20 + 31) / 32, (w1 - 24 + 63) / 64, (h1 - 24 + 31) / 32};
}

// The intermediate buffers: one entry per 2 x 2 cell; cell (i, j) holds the
// positions x = 2i - 2, 2i - 1 and y = 2j - 2, 2j - 1, so the cells cover the
// image and two positions around it. Pass 1 writes the two-direction weights
// at both greens of the cells inside the image and the green (step 5) at
// both sites, which pass 2 reads; the CUDA driver also passes D (step 4) of
// both sites of every cell between its two pass-1 kernels (the host driver
// keeps D in its bands). The remaining buffers are reserved with their
// groups.
struct MgBuffers {
  float* group[3][4];
  uint16_t* words[2];
  uint32_t stride;  // cells per buffer row: 32 x gx1
};

OPIX_HD int64_t mgCell(const MgBuffers& b, int x, int y) { return int64_t((y + 2) >> 1) * b.stride + ((x + 2) >> 1); }
// Slot of a site (0 red, 1 blue) or of a green (0 in a red row, 1 in a blue row).
OPIX_HD int mgSlot(int phase) { return phase == kPhaseR || phase == kPhaseGreenOfRedRow ? 0 : 1; }
OPIX_HD float* mgDifference(const MgBuffers& b, int phase) { return b.group[0][mgSlot(phase)]; }
OPIX_HD float* mgWeightV(const MgBuffers& b, int phase) { return b.group[1][2 * mgSlot(phase)]; }
OPIX_HD float* mgWeightH(const MgBuffers& b, int phase) { return b.group[1][2 * mgSlot(phase) + 1]; }
OPIX_HD float* mgGreen(const MgBuffers& b, int phase) { return b.group[2][mgSlot(phase)]; }

// MG for I8, I12 and I16 sources: pass 1 (two launches) fills the buffers,
// pass 2 (one launch) writes the destination.
class opixMG16 : public opixDebayer<OPIX_MG> {
 public:
  void Init(opixSurfaceFormat_t sourceFormat, opixDebayerType_t type, uint32_t maxWidth, uint32_t maxHeight,
            opixDeviceSurfaceBufferHandle_t source, opixDeviceSurfaceBufferHandle_t* destination) override;
  void ComputeMemorySize() override;
  void Launch(opixBayerPattern_t pattern, const WorkView& work, const SurfaceView& destination) override;

 private:
  MgGeometry geometry_{};
  uint64_t sharedMemoryPerMultiprocessor_ = 0;  // picks the pass-1 kernels at Create
  uint64_t bufferOffset_[14] = {};
};

// Work image: the image at work (apron + cx, apron + cy), mirrored around it.
void launchMGHostPass1(const WorkView& work, const MgBuffers& buffers, int pattern, uint32_t width, uint32_t height);
void launchMGHostPass2(const WorkView& work, const MgBuffers& buffers, const SurfaceView& destination, int pattern);
// largeShared: the device has at least 96 KiB of shared memory per
// multiprocessor; the kernels for it give the same results.
OPIX_CUDA_DRIVERS(void launchMGCudaPass1(const WorkView& work, const MgBuffers& buffers, int pattern, uint32_t width,
                                         uint32_t height, bool largeShared);
                  void launchMGCudaPass2(const WorkView& work, const MgBuffers& buffers, const SurfaceView& destination,
                                         int pattern);)

}  // namespace opix
