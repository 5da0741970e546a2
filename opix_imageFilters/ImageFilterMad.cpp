#include "FilterDrivers.h"
#include "FilterMath.h"
#include "ImageFilters.h"
#include "TraceFile.h"

namespace opix {

uint64_t ImageFilterMad::shiftStride(opixImageFilterType_t type, uint32_t width) {
  return type == OPIX_SAM ? alignUp(width, 4) : alignUp(width, 2);
}

void ImageFilterMad::ComputeMemorySize() {
  ImageFilterBase::ComputeMemorySize();
  const uint64_t pixels = uint64_t{maxWidth_} * maxHeight_;
  gainOffset_ = memSpace_.reserve(pixels * sizeof(float));
  const uint64_t valueBytes = type_ == OPIX_SAM ? 1 : 2;
  shiftOffset_ = memSpace_.reserve(shiftStride(type_, maxWidth_) * maxHeight_ * valueBytes);
  hasGain_ = hasShift_ = false;
}

void ImageFilterMad::applyParameters(const void* parameters) {
  // Both records hold two pointers; only the black shift values differ in size.
  const auto* p = static_cast<const opixSam_t*>(parameters);
  const void* shift = type_ == OPIX_SAM ? static_cast<const void*>(p->blackShiftMatrix)
                                        : static_cast<const void*>(static_cast<const opixSam16_t*>(parameters)->blackShiftMatrix);
  if (trace::active()) {
    trace::line() << trace::kIndent1 << (type_ == OPIX_SAM ? "opixSam_t" : "opixSam16_t") << ":\n";
    trace::field("black shift matrix pointer", static_cast<const void*>(shift));
    trace::field("correction matrix pointer", static_cast<const void*>(p->correctionMatrix));
  }
  const uint64_t shiftBytes = shiftStride(type_, maxWidth_) * maxHeight_ * (type_ == OPIX_SAM ? 1 : 2);
  const uint64_t gainCount = uint64_t{maxWidth_} * maxHeight_;
  if (shift) {
    uploadToSlice(memSpace_.pointerField(), shiftOffset_, shiftBytes, shift, shiftBytes, 1);
    hasShift_ = true;
  }
  if (p->correctionMatrix) {
    uploadToSlice(memSpace_.pointerField(), gainOffset_, gainCount, p->correctionMatrix, gainCount, sizeof(float));
    hasGain_ = true;
  }
}

const char* ImageFilterMad::notInitialisedMessage() const {
  return type_ == OPIX_SAM ? "MAD filter is not initialized" : "MAD 16 filter is not initialized";
}

void ImageFilterMad::run(const SurfaceView& s, const SurfaceView& d) {
  unsigned char* shift = hasShift_ ? sliceAddress(memSpace_.pointerField(), shiftOffset_) : nullptr;
  const bool sam = type_ == OPIX_SAM;
  const MadOp op{sam ? reinterpret_cast<const int8_t*>(shift) : nullptr,
                 sam ? nullptr : reinterpret_cast<const int16_t*>(shift),
                 int64_t(shiftStride(type_, maxWidth_)),
                 hasGain_ ? reinterpret_cast<const float*>(sliceAddress(memSpace_.pointerField(), gainOffset_)) : nullptr,
                 int64_t(maxWidth_),
                 maxValue()};
  const char* label = sam ? "GPUMad" : "GPUMad16";
  if (s.format == OPIX_I8)
    runGray<uint8_t>(grayView(s, d), op, label);
  else
    runGray<uint16_t>(grayView(s, d), op, label);
}

}  // namespace opix
