#include "ImageFilterFfc.h"

#include <cstdint>
#include <vector>

#include "Checks.h"
#include "FfcMath.h"
#include "KernelLaunch.h"
#include "StreamGlobal.h"
#include "common/FilterRecords.h"
#include "common/FilterRegistry.h"
#include "device/Parallel.h"

#define OPIX_SOURCE "opix_imageFilters/ImageFilterFfc"

namespace opix {

void ImageFilterFfc::Init(opixSurfaceFormat_t sourceFormat, opixImageFilterType_t type, const void* staticParameters,
                          uint32_t maxWidth, uint32_t maxHeight, opixDeviceSurfaceBufferHandle_t source,
                          opixDeviceSurfaceBufferHandle_t* destination) {
  creating_ = true;
  try {
    ImageFilterBase::Init(sourceFormat, type, staticParameters, maxWidth, maxHeight, source, destination);
  } catch (...) {
    creating_ = false;
    throw;
  }
  creating_ = false;
}

void ImageFilterFfc::ComputeMemorySize() {
  ImageFilterBase::ComputeMemorySize();
  grid_.place(memSpace_, uint64_t{ffcRowBytes(source_->maxWidth)} * ffcNodes(source_->maxHeight));
}

// The grid covers the source's max size at Create and the current frame at
// a Transform. Every node is checked before anything is copied: a node of 0
// would make an infinite gain.
void ImageFilterFfc::ApplyParameters(const void* record) {
  const auto* r = static_cast<const opixFFC_t*>(record);
  if (!r->correctionMatrix) checks::fail("FFC correction matrix is not set", OPIX_INVALID_VALUE, __LINE__);
  const uint32_t w = creating_ ? source_->maxWidth : source_->width;
  const uint32_t h = creating_ ? source_->maxHeight : source_->height;
  const uint32_t pitch = ffcRowBytes(w), nodesX = ffcNodes(w), rows = ffcNodes(h);
  for (uint32_t j = 0; j < rows; ++j) {
    const uint16_t* row = r->correctionMatrix + uint64_t{j} * (pitch / 2);
    for (uint32_t i = 0; i < nodesX; ++i)
      if (row[i] == 0) checks::fail("FFC correction matrix holds a node of 0", OPIX_INVALID_VALUE, __LINE__);
  }
  grid_.upload(reinterpret_cast<const uint8_t*>(r->correctionMatrix), uint64_t{pitch} * rows);
  // The caller may reuse its grid once the call returns.
  streamSynchronize();
  divider_ = static_cast<float>(r->divider);
  gridWidth_ = w;
  gridHeight_ = h;
}

void ImageFilterFfc::Launch(const SurfaceView& source, const SurfaceView& destination) {
  if (source.width > gridWidth_ || source.height > gridHeight_)
    checks::fail("FFC grid does not cover the image", OPIX_INVALID_SIZE, __LINE__);
  const FfcArgs a{source,
                  destination,
                  static_cast<int>(opixFormatBits(source.format)),
                  reinterpret_cast<const uint16_t*>(grid_.data()),
                  ffcRowBytes(gridWidth_),
                  divider_};
  OPIX_KERNEL_LAUNCH("GPUFfc", launchFfcCuda(a), launchFfcHost(a));
}

namespace {

// One row's samples, their gains blended from the cell row's edges: every
// float step is one IEEE-rounded operation, so each build gives the same
// bits.
OPIX_HOST_SIMD_CLONES void ffcRow(const uint16_t* __restrict s, uint16_t* __restrict d, const float* __restrict t,
                                  const float* __restrict b, uint32_t w, uint32_t dy, uint32_t hi) {
  for (uint32_t x = 0; x < w; ++x) d[x] = static_cast<uint16_t>(ffcSample(s[x], ffcBlend(t[x], b[x], dy), hi));
}

}  // namespace

// Per cell row: the gains along its top and bottom edge at every column,
// kept for the cell row's four pixel rows; per row their blend for every
// sample.
void launchFfcHost(const FfcArgs& a) {
  const uint32_t hi = maxSample(a.bits);
  const uint32_t w = a.src.width;
  host::parallelFor(a.src.height, [&](int64_t begin, int64_t end) {
    std::vector<float> edges(2 * size_t{w});
    float* t = edges.data();
    float* b = t + w;
    uint32_t cached = UINT32_MAX;
    for (int64_t y = begin; y < end; ++y) {
      const uint32_t j = uint32_t(y) / 4, dy = uint32_t(y) % 4;
      if (j != cached) {
        const uint16_t* top = a.grid + uint64_t{j} * (a.gridPitch / 2);
        const uint16_t* bottom = top + a.gridPitch / 2;
        for (uint32_t i = 0; 4 * i < w; ++i) {
          const float t0 = ffcNodeGain(a.divider, top[i]), t1 = ffcNodeGain(a.divider, top[i + 1]);
          const float b0 = ffcNodeGain(a.divider, bottom[i]), b1 = ffcNodeGain(a.divider, bottom[i + 1]);
          for (uint32_t dx = 0; dx < 4 && 4 * i + dx < w; ++dx) {
            t[4 * i + dx] = ffcEdge(t0, t1, dx);
            b[4 * i + dx] = ffcEdge(b0, b1, dx);
          }
        }
        cached = j;
      }
      const uint16_t* s = reinterpret_cast<const uint16_t*>(a.src.plane[0] + y * a.src.pitch);
      uint16_t* d = reinterpret_cast<uint16_t*>(a.dst.plane[0] + y * a.dst.pitch);
      ffcRow(s, d, t, b, w, dy, hi);
    }
  });
}

constexpr FilterType kFfcTypes[] = {
    {OPIX_FFC, "Flat-Field Correction", kI12 | kI16, kOtherInTrace},
};
extern const FilterDeclaration kFfcFilter{kFfcTypes, makeFilter<ImageFilterFfc>, recordBytesOf<opixFFC_t>,
                                          trace::recordOf<opixFFC_t>};

}  // namespace opix
