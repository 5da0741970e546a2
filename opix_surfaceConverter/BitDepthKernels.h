// The bit-depth conversion kernels. Each launcher runs the CUDA or the host
// driver of the backend in use over the current size of `dst`, reading `src`
// at its current pitch, and ends with the launch check.
#pragma once

#include <cstdint>

#include "DeviceSurfaceBuffer.h"
#include "KernelLaunch.h"
#include "WordGroups.h"

namespace opix {

enum class BitDepthKernel {
  Gray8To16,   // I8 to I10..I16, left shift
  Gray16To8,   // I10..I16 to I8, right shift
  Same16,      // 16-bit to 16-bit, gray or each plane, left or right
  Color8To16,  // RGB8 to a planar format, left shift
  Color16To8,  // a planar format to RGB8, right shift
};

// Converts `src` into `dst`. For Same16, `left` picks the direction; the
// other kernels have one.
void launchBitDepthConversion(BitDepthKernel kernel, const SurfaceView& src, const SurfaceView& dst, uint32_t shift,
                              bool left);

// The CUDA drivers.
OPIX_CUDA_DRIVERS(void gray8To16Cuda(const WordGroupJob& job); void gray16To8Cuda(const WordGroupJob& job);
                  void same16Cuda(const WordGroupJob& job, bool left); void color8To16Cuda(const WordGroupJob& job);
                  void color16To8Cuda(const WordGroupJob& job);)

}  // namespace opix
