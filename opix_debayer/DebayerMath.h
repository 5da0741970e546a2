// Pieces of maths shared by the demosaic algorithms and their drivers.
#pragma once

#include <cstdint>

#include "BayerTraits.h"
#include "Hd.h"
#include "opix.h"

namespace opix {

struct Rgb {
  int r, g, b;
};

// Limits v to [0, hi].
OPIX_HD int clampSample(int v, int hi) { return v < 0 ? 0 : (v > hi ? hi : v); }

// Largest value of an estimated sample for a source format: 8-bit results
// saturate at 255, 16-bit at 65535, and 12-bit sources are limited to 4095.
constexpr int maxEstimate(opixSurfaceFormat_t source) {
  return source == OPIX_I8 ? 255 : source == OPIX_I12 ? 4095 : 65535;
}

struct PreOperations;

// The padded work image a debayer reads: the image at (originX, originY),
// mirrored margins around it.
struct WorkView {
  opixSurfaceFormat_t format;  // of the samples: I8, I12 or I16
  unsigned char* base;
  uint32_t pitch;   // bytes, multiple of 128
  uint32_t width;   // w + 2A + cx
  uint32_t height;  // h + 2A + cy
  uint32_t imageWidth;
  uint32_t imageHeight;
  int apron;
  int cx, cy;  // part of the pattern shift applied by the copy
  // The source the drivers read the work image's samples from. On the host
  // backend no work image is made: a driver assembles each row the work
  // image would hold from the source (HostRows.h, WorkRowReader), its
  // samples corrected by the pre-operations where `pre` is set. The CUDA
  // drivers' tiles read it (WorkTile.cuh); it is null where the copy made a
  // corrected work image for them, and `pre` is then null too.
  const unsigned char* source = nullptr;
  uint32_t sourcePitch = 0;
  const PreOperations* pre = nullptr;
};

}  // namespace opix
