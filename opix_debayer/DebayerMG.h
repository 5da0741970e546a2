#pragma once

#include <cstdint>

#include "Debayer.h"
#include "KernelLaunch.h"
#include "MGMath.h"

namespace opix {

// Pass geometry of a frame: work width and height of the passes, the slots
// of 64 x 32 pixels (32 x 16 cells of 2 x 2 each) whose count gx1 x gy1
// sizes the buffers, and the second grid.
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
// both sites; pass 2 reads them. D (step 4) stays inside pass 1 on both
// drivers. The slots are picked by selection, not by indexing an array, so
// that a kernel reading them from its parameters needs no stack copy.
struct MgBuffers {
  float* weightV[2];  // by mgSlot of the green
  float* weightH[2];
  float* green[2];  // by mgSlot of the site
  uint32_t stride;  // cells per buffer row: 32 x gx1
};
constexpr int kMgBufferCount = 6;

OPIX_HD int64_t mgCell(const MgBuffers& b, int x, int y) { return int64_t((y + 2) >> 1) * b.stride + ((x + 2) >> 1); }
// Slot of a site (0 red, 1 blue) or of a green (0 in a red row, 1 in a blue row).
OPIX_HD int mgSlot(int phase) { return phase == kPhaseR || phase == kPhaseGreenOfRedRow ? 0 : 1; }
OPIX_HD float* mgPick(float* const (&slots)[2], int phase) { return mgSlot(phase) ? slots[1] : slots[0]; }
OPIX_HD float* mgWeightV(const MgBuffers& b, int phase) { return mgPick(b.weightV, phase); }
OPIX_HD float* mgWeightH(const MgBuffers& b, int phase) { return mgPick(b.weightH, phase); }
OPIX_HD float* mgGreen(const MgBuffers& b, int phase) { return mgPick(b.green, phase); }

// MG for I8, I12 and I16 sources: pass 1 (one launch) fills the buffers,
// pass 2 (one launch) writes the destination.
class DebayerMG16 : public Debayer<OPIX_MG> {
 public:
  void Init(opixSurfaceFormat_t sourceFormat, opixDebayerType_t type, uint32_t maxWidth, uint32_t maxHeight,
            opixDeviceSurfaceBufferHandle_t source, opixDeviceSurfaceBufferHandle_t* destination) override;
  void ComputeMemorySize() override;
  void Launch(opixBayerPattern_t pattern, const WorkView& work, const SurfaceView& destination) override;

 private:
  MgGeometry geometry_{};
  uint64_t sharedMemoryPerMultiprocessor_ = 0;  // picks the pass-1 kernels at Create
  uint64_t bufferOffset_[kMgBufferCount] = {};
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
