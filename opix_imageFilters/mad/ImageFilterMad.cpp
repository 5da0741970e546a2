#include "ImageFilterMad.h"

#include "KernelLaunch.h"
#include "MadMath.h"
#include "StreamGlobal.h"
#include "common/FilterRecords.h"
#include "common/FilterRegistry.h"
#include "device/Parallel.h"

#define OPIX_SOURCE "opix_imageFilters/ImageFilterMad"

namespace opix {

void ImageFilterMad::ComputeMemorySize() {
  ImageFilterBase::ComputeMemorySize();
  const uint32_t w = source_->maxWidth, h = source_->maxHeight;
  factor_.place(memSpace_, uint64_t{w} * h);
  shift_.place(memSpace_, uint64_t{madShiftPitch(wide(), w)} * h);
  hasFactor_ = hasShift_ = false;
}

// The matrices of a record replace those in force; a null pointer turns its
// correction off. Both cover the source at its max size, whatever the current
// frame, and are copied whole: a smaller frame reads their top-left part.
void ImageFilterMad::ApplyParameters(const void* record) {
  const void* shift = nullptr;
  const float* factor = nullptr;
  if (wide()) {
    const auto* r = static_cast<const opixSam16_t*>(record);
    shift = r->blackShiftMatrix;
    factor = r->correctionMatrix;
  } else {
    const auto* r = static_cast<const opixSam_t*>(record);
    shift = r->blackShiftMatrix;
    factor = r->correctionMatrix;
  }
  const uint32_t w = source_->maxWidth, h = source_->maxHeight;
  if (shift) shift_.upload(static_cast<const uint8_t*>(shift), uint64_t{madShiftPitch(wide(), w)} * h);
  if (factor) factor_.upload(factor, uint64_t{w} * h);
  hasShift_ = shift != nullptr;
  hasFactor_ = factor != nullptr;
  // The caller may reuse its matrices once the call returns, even page-locked ones.
  if (shift || factor) streamSynchronize();
}

const char* ImageFilterMad::NotInitializedMessage() const {
  return wide() ? "MAD 16 filter is not initialized" : "MAD filter is not initialized";
}

void ImageFilterMad::Launch(const SurfaceView& source, const SurfaceView& destination) {
  if (opixFormatChannels(source.format) != 1) OPIX_THROW(OPIX_INVALID_VALUE);
  const MadArgs a{source,
                  destination,
                  static_cast<int>(opixFormatBits(source.format)),
                  wide(),
                  hasShift_ ? shift_.data() : nullptr,
                  madShiftPitch(wide(), source_->maxWidth),
                  hasFactor_ ? factor_.data() : nullptr,
                  source_->maxWidth};
  OPIX_KERNEL_LAUNCH(wide() ? "GPUMad16" : "GPUMad", launchMadCuda(a), launchMadHost(a));
}

namespace {

OPIX_HOST_SIMD_CLONES __attribute__((flatten)) void madRow8(const uint8_t* s, uint8_t* d, const int8_t* b,
                                                            const float* f, uint32_t n, uint32_t hi) {
  madRowSelect(s, d, b, f, n, hi);
}
OPIX_HOST_SIMD_CLONES __attribute__((flatten)) void madRow16(const uint16_t* s, uint16_t* d, const int8_t* b,
                                                             const float* f, uint32_t n, uint32_t hi) {
  madRowSelect(s, d, b, f, n, hi);
}
OPIX_HOST_SIMD_CLONES __attribute__((flatten)) void madRow16(const uint16_t* s, uint16_t* d, const int16_t* b,
                                                             const float* f, uint32_t n, uint32_t hi) {
  madRowSelect(s, d, b, f, n, hi);
}

template <class T, class S>
void madRows(const MadArgs& a) {
  const uint32_t hi = maxSample(a.bits);
  host::parallelRows(a.src.height, [&](int64_t y) {
    const T* s = reinterpret_cast<const T*>(a.src.plane[0] + y * a.src.pitch);
    T* d = reinterpret_cast<T*>(a.dst.plane[0] + y * a.dst.pitch);
    const S* b =
        a.shift ? reinterpret_cast<const S*>(static_cast<const uint8_t*>(a.shift) + y * a.shiftPitch) : nullptr;
    const float* f = a.factor ? a.factor + y * int64_t{a.factorPitch} : nullptr;
    if constexpr (sizeof(T) == 1)
      madRow8(s, d, b, f, a.src.width, hi);
    else
      madRow16(s, d, b, f, a.src.width, hi);
  });
}

}  // namespace

void launchMadHost(const MadArgs& a) {
  if (a.bits == 8)
    madRows<uint8_t, int8_t>(a);
  else if (a.wideShift)
    madRows<uint16_t, int16_t>(a);
  else
    madRows<uint16_t, int8_t>(a);
}

namespace {

uint64_t madRecordBytes(opixImageFilterType_t type) {
  return type == OPIX_SAM16 ? sizeof(opixSam16_t) : sizeof(opixSam_t);
}
void traceMadRecord(opixImageFilterType_t type, const void* record) {
  if (type == OPIX_SAM16)
    trace::record(static_cast<const opixSam16_t*>(record));
  else
    trace::record(static_cast<const opixSam_t*>(record));
}

}  // namespace

constexpr FilterType kMadTypes[] = {
    {OPIX_SAM, "SAM", kGray},
    {OPIX_SAM16, "SAM16", kI10 | kI12 | kI14 | kI16},
};
extern const FilterDeclaration kMadFilter{kMadTypes, makeFilter<ImageFilterMad>, madRecordBytes, traceMadRecord};

}  // namespace opix
