#include "ImageFilterBayerBlackShift.h"

#include "BayerBlackShiftMath.h"
#include "KernelLaunch.h"
#include "common/FilterRecords.h"
#include "common/FilterRegistry.h"
#include "device/Parallel.h"

#define OPIX_SOURCE "opix_imageFilters/ImageFilterBayerBlackShift"

namespace opix {

void ImageFilterBayerBlackShift::ApplyParameters(const void* record) {
  parameters_ = *static_cast<const opixBayerBlackShift_t*>(record);
}

void ImageFilterBayerBlackShift::Launch(const SurfaceView& source, const SurfaceView& destination) {
  const opixBayerPattern_t p = parameters_.bayerPattern;
  checkBayerPattern(p, OPIX_INVALID_FORMAT);
  if (opixFormatChannels(source.format) != 1) OPIX_THROW(OPIX_INVALID_VALUE);
  const BayerBlackShiftArgs a{source,
                              destination,
                              static_cast<int>(opixFormatBits(source.format)),
                              static_cast<int>(p),
                              {parameters_.blackShift[0], parameters_.blackShift[1], parameters_.blackShift[2]}};
  OPIX_KERNEL_LAUNCH("GPUBayerBlackShift16", launchBayerBlackShiftCuda(a), launchBayerBlackShiftHost(a));
}

namespace {

// One row; b0, b1: the levels of its even and odd columns.
OPIX_HOST_SIMD_CLONES __attribute__((flatten)) void blackShiftRow(const uint16_t* s, uint16_t* d, uint32_t n, float b0,
                                                                  float b1, uint32_t hi) {
  sitePairRow(s, d, n, b0, b1, [hi](uint32_t v, float b) { return blackShiftSampleSelect(v, b, hi); });
}

}  // namespace

void launchBayerBlackShiftHost(const BayerBlackShiftArgs& a) {
  const uint32_t hi = maxSample(a.bits);
  host::parallelRows(a.src.height, [&](int64_t y) {
    const auto* s = reinterpret_cast<const uint16_t*>(a.src.plane[0] + y * a.src.pitch);
    auto* d = reinterpret_cast<uint16_t*>(a.dst.plane[0] + y * a.dst.pitch);
    blackShiftRow(s, d, a.src.width, a.level[cellSiteColour(bayerCellSite(a.pattern, 0, int(y)))],
                  a.level[cellSiteColour(bayerCellSite(a.pattern, 1, int(y)))], hi);
  });
}

constexpr FilterType kBayerBlackShiftTypes[] = {
    {OPIX_BAYER_BLACK_SHIFT, "Bayer black shift", kI12 | kI16},
};
extern const FilterDeclaration kBayerBlackShiftFilter{kBayerBlackShiftTypes, makeFilter<ImageFilterBayerBlackShift>,
                                                      recordBytesOf<opixBayerBlackShift_t>,
                                                      trace::recordOf<opixBayerBlackShift_t>};

}  // namespace opix
