#include "ImageFilterBinning.h"

#include "BinningFilterMath.h"
#include "Checks.h"
#include "KernelLaunch.h"
#include "common/FilterMath.h"
#include "common/FilterRecords.h"
#include "common/FilterRegistry.h"
#include "device/Parallel.h"

#define OPIX_SOURCE "opix_imageFilters/ImageFilterBinning"

namespace opix {

namespace {

// The checks of a record, at Create and at Transform. Without a record the
// factor is 1, which bins nothing: refused like a factor of 0.
void checkRecord(const opixBinning_t* r) {
  if (r && r->factorX != r->factorY) checks::fail("Factors X and Y mismatch", OPIX_INVALID_SIZE, __LINE__);
  if (r && r->factorX > 4) checks::fail("Factor size more than 4", OPIX_INVALID_SIZE, __LINE__);
  if (!r || r->factorX < 2) checks::fail("Factor size less than 2", OPIX_INVALID_SIZE, __LINE__);
  if (r->mode != OPIX_BINNING_NONE && r->mode != OPIX_BINNING_SUM && r->mode != OPIX_BINNING_AVERAGE)
    checks::fail("Unknown binning mode", OPIX_INVALID_VALUE, __LINE__);
}

}  // namespace

void ImageFilterBinning::Init(opixSurfaceFormat_t sourceFormat, opixImageFilterType_t type,
                              const void* staticParameters, uint32_t maxWidth, uint32_t maxHeight,
                              opixDeviceSurfaceBufferHandle_t source, opixDeviceSurfaceBufferHandle_t* destination) {
  const auto* r = static_cast<const opixBinning_t*>(staticParameters);
  checkRecord(r);
  factor_ = r->factorX;
  ImageFilterBase::Init(sourceFormat, type, staticParameters, maxWidth, maxHeight, source, destination);
}

void ImageFilterBinning::ScaleToDestination(uint32_t& width, uint32_t& height) const {
  width /= factor_;
  height /= factor_;
}

void ImageFilterBinning::ApplyParameters(const void* record) {
  const auto* r = static_cast<const opixBinning_t*>(record);
  checkRecord(r);
  mode_ = r->mode;
  factor_ = r->factorX;
}

void ImageFilterBinning::Launch(const SurfaceView& source, const SurfaceView& destination) {
  const BinningArgs a{source, destination, int(factor_), int(mode_),
                      maxSample(static_cast<int>(opixFormatBits(source.format)))};
  OPIX_KERNEL_LAUNCH("GPUBinning", launchBinningFilterCuda(a), launchBinningFilterHost(a));
}

void launchBinningFilterHost(const BinningArgs& a) {
  const int f = a.factor;
  host::parallelRows(a.dst.height, [&](int64_t oy) {
    uint16_t* d = reinterpret_cast<uint16_t*>(a.dst.plane[0] + oy * a.dst.pitch);
    for (uint32_t ox = 0; ox < a.dst.width; ++ox) {
      uint32_t sum = 0;
      for (int j = 0; j < f; ++j) {
        const uint16_t* s = reinterpret_cast<const uint16_t*>(a.src.plane[0] + (oy * f + j) * a.src.pitch);
        for (int i = 0; i < f; ++i) sum += s[ox * f + uint32_t(i)] & a.hi;
      }
      d[ox] = static_cast<uint16_t>(binnedSample(sum, f, a.mode, a.hi));
    }
  });
}

constexpr FilterType kBinningTypes[] = {
    {OPIX_BINNING, "Binning", kI12 | kI16},
};
extern const FilterDeclaration kBinningFilter{kBinningTypes, makeFilter<ImageFilterBinning>,
                                              recordBytesOf<opixBinning_t>, trace::recordOf<opixBinning_t>};

}  // namespace opix
