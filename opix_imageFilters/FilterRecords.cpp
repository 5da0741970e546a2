#include "FilterRecords.h"

#include <sstream>
#include <string>

#include "TraceFile.h"

namespace opix::trace {

namespace {

// The record's header line ("\t<name>:"), or its null line; false for null.
bool header(const char* name, const void* r) {
  line() << kIndent1 << name << (r ? ":" : ": NULL") << "\n";
  return r != nullptr;
}

std::string joined(const float* v, int n) {
  std::ostringstream s;
  for (int i = 0; i < n; ++i) s << (i ? ", " : "") << formatFloat(v[i]);
  return s.str();
}

std::string joined(const int32_t* v, int n) {
  std::ostringstream s;
  for (int i = 0; i < n; ++i) s << (i ? ", " : "") << v[i];
  return s.str();
}

template <class Sam>
void samRecord(const char* name, const Sam* r) {
  if (!active() || !header(name, r)) return;
  field("black shift matrix pointer", static_cast<const void*>(r->blackShiftMatrix));
  field("correction matrix pointer", static_cast<const void*>(r->correctionMatrix));
}

}  // namespace

void record(const opixSam_t* r) { samRecord("opixSam_t", r); }
void record(const opixSam16_t* r) { samRecord("opixSam16_t", r); }

void record(const opixWhiteBalance_t* r) {
  if (!active() || !header("opixWhiteBalance_t", r)) return;
  field("R", formatFloat(r->R));
  field("G1", formatFloat(r->G1));
  field("G2", formatFloat(r->G2));
  field("B", formatFloat(r->B));
  field("\tbayer pattern", opixBayerPatternName(r->bayerPattern));
}

void record(const opixBayerBlackShift_t* r) {
  if (!active() || !header("opixBayerBlackShift_t", r)) return;
  field("black shift coefficients", joined(r->blackShift, 3));
  field("bayer pattern", opixBayerPatternName(r->bayerPattern));
}

void record(const opixBaseColorCorrection_t* r) {
  if (!active() || !header("opixBaseColorCorrection_t", r)) return;
  field("white level", joined(r->whiteLevel, 3));
  field("matrix", joined(r->matrix, 4) + "; " + joined(r->matrix + 4, 4) + "; " + joined(r->matrix + 8, 4));
}

void record(const opixGaussianFilter_t* r) {
  if (!active() || !header("opixGaussianFilter_t", r)) return;
  field("sigma", formatFloat(r->sigma));
}

void record(const opixColumnFilter_t* r) {
  if (!active() || !header("opixColumnFilter_t", r)) return;
  field("column offset", r->columnOffset);
}

void record(const opixBadPixelCorrection_t* r) {
  if (!active() || !header("opixBadPixelCorrection_t", r)) return;
  field("bayer pattern", opixBayerPatternName(r->bayerPattern));
}

void record(const opixBinning_t* r) {
  if (!active() || !header("opixBinning_t", r)) return;
  field("\tBinning mode", opixBinningModeName(r->mode));
  field("\tBinning factor X", r->factorX);
  field("\tBinning factor Y", r->factorY);
}

void record(const opixDefringe_t* r) {
  if (!active() || !header("opixDefringe_t", r)) return;
  field("edge threshold", formatFloat(r->edgeThreshold));
  field("band radius", r->bandRadius);
  field("purple hue", joined(r->purpleHue, 2));
  field("green hue", joined(r->greenHue, 2));
  field("strength", formatFloat(r->strength));
}

void filterRecord(opixImageFilterType_t type, const void* r) {
  switch (type) {
    case OPIX_SAM: record(static_cast<const opixSam_t*>(r)); break;
    case OPIX_SAM16: record(static_cast<const opixSam16_t*>(r)); break;
    case OPIX_WHITE_BALANCE: record(static_cast<const opixWhiteBalance_t*>(r)); break;
    case OPIX_BAYER_BLACK_SHIFT: record(static_cast<const opixBayerBlackShift_t*>(r)); break;
    case OPIX_BASE_COLOR_CORRECTION: record(static_cast<const opixBaseColorCorrection_t*>(r)); break;
    case OPIX_GAUSSIAN_SHARPEN:
    case OPIX_GAUSSIAN_BLUR: record(static_cast<const opixGaussianFilter_t*>(r)); break;
    case OPIX_COLUMN_FILTER: record(static_cast<const opixColumnFilter_t*>(r)); break;
    case OPIX_BAD_PIXEL_CORRECTION_5x5: record(static_cast<const opixBadPixelCorrection_t*>(r)); break;
    case OPIX_BINNING: record(static_cast<const opixBinning_t*>(r)); break;
    case OPIX_DEFRINGE: record(static_cast<const opixDefringe_t*>(r)); break;
    default: break;
  }
}

}  // namespace opix::trace
