// Pieces of maths shared by the demosaic algorithms and their drivers.
#pragma once

#include <cstdint>

#include "BayerTraits.h"
#include "Hd.h"
#include "PreOperationsMath.h"
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

// The destinations in the layout an export delivers: blue-green-red 8-bit
// pixels, and 16-bit colour interleaved. The drivers make their pixels in
// the debayer's own layouts (RGB8, planar) and deliver them in these.
OPIX_HD bool isBgr8(opixSurfaceFormat_t destination) { return destination == OPIX_BGR8; }
OPIX_HD bool isInterleaved16(opixSurfaceFormat_t destination) {
  return destination == OPIX_RGB12 || destination == OPIX_RGB16;
}

// The padded work image a debayer's drivers address: the image at column
// A + cx and row A + cy, mirrored margins around it. No work image is
// made: its samples are read from the source.
struct WorkView {
  opixSurfaceFormat_t format;  // of the samples: I8, I12 or I16
  uint32_t width;              // w + 2A + cx
  uint32_t height;             // h + 2A + cy
  uint32_t imageWidth;
  uint32_t imageHeight;
  int apron;
  int cx, cy;  // part of the pattern shift that the work image's layout applies
  // The source the drivers read the work image's samples from: no work
  // image is made. A host driver assembles each row the work image would
  // hold from it (HostRows.h, WorkRowReader), its samples corrected by the
  // pre-operations where `pre` is set; a CUDA driver's blocks load their
  // tiles from it (WorkTile.cuh), correcting the samples by `corrections`
  // where it has steps (the same record, by value for the kernels).
  const unsigned char* source = nullptr;
  uint32_t sourcePitch = 0;
  const PreOperations* pre = nullptr;
  PreOperations corrections{};
};

}  // namespace opix
