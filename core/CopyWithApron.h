// The copy that places a raw image into a larger buffer at a column and row
// offset and fills `apron` rows above and below it by mirroring.
#pragma once

#include <cstdint>

#include "DeviceSurfaceBuffer.h"
#include "KernelLaunch.h"

namespace opix {

// Geometry of one copy; pitches in bytes, multiples of 4.
struct ApronCopy {
  const unsigned char* src;
  uint32_t srcPitch;
  unsigned char* dst;
  uint32_t dstPitch;
  int64_t rowBytes;  // image bytes per row
  int64_t byteX;     // byte column of the image in the destination
  int y0;            // destination row of the first image row
  int apron;         // rows below the image
  int height;        // image rows
};

// Copies `src` (I8, I10 to I16; other formats copy nothing) into `dst` at
// pixel column xOffset and row y0 with `apron` mirrored rows below and y0
// mirrored rows above, then runs the launch check.
void copyWithOffsetAndApron(const SurfaceView& src, const SurfaceView& dst, int apron, uint32_t xOffset, uint32_t y0);

// The two drivers of the 8-bit kernel.
OPIX_CUDA_DRIVERS(void launchApronCopyCuda(const ApronCopy& c);)
void launchApronCopyHost(const ApronCopy& c);

}  // namespace opix
