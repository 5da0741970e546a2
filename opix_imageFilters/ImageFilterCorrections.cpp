// White balance, Bayer black shift and base colour correction.
#include <cstring>

#include "FilterDrivers.h"
#include "FilterMath.h"
#include "ImageFilters.h"
#include "TraceFile.h"
#include "opixException.h"

#define OPIX_SOURCE "opix_imageFilters/ImageFilterCorrections"

namespace opix {

namespace {

bool validPattern(opixBayerPattern_t p) { return p >= OPIX_BAYER_RGGB && p <= OPIX_BAYER_GRBG; }

std::string joined(const float* v, int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += (i ? " " : "") + trace::formatFloat(v[i]);
  return s;
}

}  // namespace

void ImageFilterWhiteBalance::applyParameters(const void* parameters) {
  p_ = *static_cast<const opixWhiteBalance_t*>(parameters);
  if (!trace::active()) return;
  trace::line() << trace::kIndent1 << "opixWhiteBalance_t:\n";
  trace::field("R", p_.R);
  trace::field("G1", p_.G1);
  trace::field("G2", p_.G2);
  trace::field("B", p_.B);
  trace::field("\tbayer pattern", std::string(opixBayerPatternName(p_.bayerPattern)));
}

void ImageFilterWhiteBalance::run(const SurfaceView& s, const SurfaceView& d) {
  if (!validPattern(p_.bayerPattern)) OPIX_THROW(OPIX_INVALID_VALUE);
  const WhiteBalanceOp op{{p_.R, p_.G1, p_.G2, p_.B}, int(p_.bayerPattern), maxValue()};
  if (s.format == OPIX_I8)
    runGray<uint8_t>(grayView(s, d), op, "GPUWhiteBalance");
  else
    runGray<uint16_t>(grayView(s, d), op, "GPUWhiteBalance");
}

void ImageFilterBayerBlackShift::applyParameters(const void* parameters) {
  p_ = *static_cast<const opixBayerBlackShift_t*>(parameters);
  if (!trace::active()) return;
  trace::line() << trace::kIndent1 << "opixBayerBlackShift_t:\n";
  trace::field("black shift coefficients", joined(p_.blackShift, 3));
  trace::field("bayer pattern", std::string(opixBayerPatternName(p_.bayerPattern)));
}

void ImageFilterBayerBlackShift::run(const SurfaceView& s, const SurfaceView& d) {
  if (!validPattern(p_.bayerPattern)) OPIX_THROW(OPIX_INVALID_FORMAT);
  const BlackShiftOp op{{p_.blackShift[0], p_.blackShift[1], p_.blackShift[2]}, int(p_.bayerPattern), maxValue()};
  runGray<uint16_t>(grayView(s, d), op, "GPUBayerBlackShift16");
}

void ImageFilterBaseColorCorrection::ComputeMemorySize() {
  ImageFilterBase::ComputeMemorySize();
  matrix_.place(memSpace_, 12);
  whiteLevel_.place(memSpace_, 3);
}

void ImageFilterBaseColorCorrection::applyParameters(const void* parameters) {
  p_ = *static_cast<const opixBaseColorCorrection_t*>(parameters);
  // The device keeps its own copy for the life of the filter.
  matrix_.upload(p_.matrix, 12);
  whiteLevel_.upload(p_.whiteLevel, 3);
  if (!trace::active()) return;
  trace::line() << trace::kIndent1 << "opixBaseColorCorrection_t:\n";
  trace::field("white level", std::to_string(p_.whiteLevel[0]) + " " + std::to_string(p_.whiteLevel[1]) + " " +
                                  std::to_string(p_.whiteLevel[2]));
  trace::field("matrix", joined(p_.matrix, 4) + "; " + joined(p_.matrix + 4, 4) + "; " + joined(p_.matrix + 8, 4));
}

void ImageFilterBaseColorCorrection::run(const SurfaceView& s, const SurfaceView& d) {
  const int m = maxValue();
  switch (s.format) {
    case OPIX_I8: runGray<uint8_t>(grayView(s, d), GrayCorrectionOp{p_.matrix[0], p_.matrix[3], m}, "GPUColorCorrection"); break;
    case OPIX_I12:
    case OPIX_I16:
      runGray<uint16_t>(grayView(s, d), GrayCorrectionOp{p_.matrix[0], p_.matrix[3], m}, "GPUColorCorrection");
      break;
    default: {
      ColourCorrectionOp op{};
      std::memcpy(op.m, p_.matrix, sizeof op.m);
      std::memcpy(op.white, p_.whiteLevel, sizeof op.white);
      op.maxValue = m;
      if (s.format == OPIX_RGB8)
        runColour<uint8_t>(colourView(s, d), op, "GPUColorCorrection");
      else
        runColour<uint16_t>(colourView(s, d), op, "GPUColorCorrection");
    }
  }
}

}  // namespace opix
