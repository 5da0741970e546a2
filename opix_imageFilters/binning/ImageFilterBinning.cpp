#include "ImageFilterBinning.h"

#include <vector>

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

namespace {

// Output rows [begin, end) of factor F and mode Mode: the F source rows of
// an output row summed down each column first, then each block's F column
// sums (the sums are integers, so the order is free), in loops that
// vectorise.
template <int F, int Mode>
OPIX_HOST_SIMD_CLONES void binningRows(const BinningArgs& a, int64_t begin, int64_t end, uint32_t* __restrict col) {
  const uint32_t hi = a.hi, w = a.dst.width, n = w * F;
  for (int64_t oy = begin; oy < end; ++oy) {
    for (int j = 0; j < F; ++j) {
      const uint16_t* __restrict s = reinterpret_cast<const uint16_t*>(a.src.plane[0] + (oy * F + j) * a.src.pitch);
      if (j == 0)
        for (uint32_t x = 0; x < n; ++x) col[x] = s[x] & hi;
      else
        for (uint32_t x = 0; x < n; ++x) col[x] += s[x] & hi;
    }
    uint16_t* __restrict d = reinterpret_cast<uint16_t*>(a.dst.plane[0] + oy * a.dst.pitch);
    for (uint32_t ox = 0; ox < w; ++ox) {
      const uint32_t* c = col + size_t{ox} * F;
      uint32_t sum = c[0];
      for (int i = 1; i < F; ++i) sum += c[i];
      d[ox] = static_cast<uint16_t>(binnedSample(sum, F, Mode, hi));
    }
  }
}

template <int F>
void binningRowsOf(const BinningArgs& a, int64_t begin, int64_t end, uint32_t* col) {
  switch (a.mode) {
    case OPIX_BINNING_SUM: binningRows<F, OPIX_BINNING_SUM>(a, begin, end, col); break;
    case OPIX_BINNING_AVERAGE: binningRows<F, OPIX_BINNING_AVERAGE>(a, begin, end, col); break;
    default: binningRows<F, OPIX_BINNING_NONE>(a, begin, end, col); break;
  }
}

}  // namespace

void launchBinningFilterHost(const BinningArgs& a) {
  host::parallelFor(a.dst.height, [&](int64_t begin, int64_t end) {
    std::vector<uint32_t> col(size_t{a.dst.width} * uint32_t(a.factor));
    if (a.factor == 2)
      binningRowsOf<2>(a, begin, end, col.data());
    else if (a.factor == 3)
      binningRowsOf<3>(a, begin, end, col.data());
    else
      binningRowsOf<4>(a, begin, end, col.data());
  });
}

constexpr FilterType kBinningTypes[] = {
    {OPIX_BINNING, "Binning", kI12 | kI16},
};
extern const FilterDeclaration kBinningFilter{kBinningTypes, makeFilter<ImageFilterBinning>,
                                              recordBytesOf<opixBinning_t>, trace::recordOf<opixBinning_t>};

}  // namespace opix
