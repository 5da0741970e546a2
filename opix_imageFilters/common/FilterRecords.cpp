#include "FilterRecords.h"

#include <cstring>
#include <sstream>
#include <string>

#include "FilterRegistry.h"
#include "TraceFile.h"
#include "lut/ImageFilterLut.h"

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

// The trace printer of a filter type (declared with the others in TraceFile.h)
// lives here, beside the registry that names the types.
void value(const char* name, opixImageFilterType_t v) {
  if (active()) value(name, std::string(filterTraceName(v)));
}

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

void record(const opixFFC_t* r) {
  if (!active() || !header("opixFFC_t", r)) return;
  field("\tDivider", uint32_t{r->divider});
  if (r->correctionMatrix)
    field("\tCorrection matrix pointer", static_cast<const void*>(r->correctionMatrix));
  else
    line() << kIndent2 << "\tCorrection matrix pointer: NULL\n";
}

void record(const opixColorSaturation_t* r) {
  if (!active() || !header("opixColorSaturation_t", r) || !printTables()) return;
  line() << kIndent2 << "H\tS\tL\n";
  for (int i = 0; i < 1024; ++i)
    line() << kIndent2 << formatFloat(r->lut[0][i]) << "\t" << formatFloat(r->lut[1][i]) << "\t"
           << formatFloat(r->lut[2][i]) << "\n";
}

namespace {

// The three tables of a 3D LUT record, one grid node a line, the first
// coordinate changing fastest.
void lut3DTables(const char* heads, const float* const (&t)[3], uint32_t w, uint32_t h, uint32_t d) {
  if (!printTables() || !t[0] || !t[1] || !t[2]) return;
  line() << kIndent2 << heads << "\n";
  const uint64_t n = uint64_t{w} * h * d;
  for (uint64_t i = 0; i < n; ++i)
    line() << kIndent2 << formatFloat(t[0][i]) << "\t" << formatFloat(t[1][i]) << "\t" << formatFloat(t[2][i]) << "\n";
}

}  // namespace

void record(const opixHsvLut3D_t* r) {
  if (!active() || !header("opixHsvLut3D_t", r)) return;
  field("dimH", r->dimH);
  field("dimS", r->dimS);
  field("dimV", r->dimV);
  field("operationH", opixOperationTypeName(r->operationH));
  field("operationS", opixOperationTypeName(r->operationS));
  field("operationV", opixOperationTypeName(r->operationV));
  field("lutH", static_cast<const void*>(r->lutH));
  field("lutS", static_cast<const void*>(r->lutS));
  field("lutV", static_cast<const void*>(r->lutV));
  lut3DTables("H\tS\tV", {r->lutH, r->lutS, r->lutV}, r->dimH, r->dimS, r->dimV);
}

void record(const opixRGBLut_3D_t* r) {
  if (!active() || !header("opixRGBLut_3D_t", r)) return;
  field("lutR", static_cast<const void*>(r->lutR));
  field("lutG", static_cast<const void*>(r->lutG));
  field("lutB", static_cast<const void*>(r->lutB));
  field("size1D", r->size1D);
  lut3DTables("R\tG\tB", {r->lutR, r->lutG, r->lutB}, r->size1D, r->size1D, r->size1D);
}

void record(const device::Memcpy3DParms* p) {
  if (!active() || !header("cudaMemcpy3DParms", p)) return;
  auto extent = [](size_t w, size_t h, size_t d) {
    return std::to_string(w) + " x " + std::to_string(h) + " x " + std::to_string(d);
  };
  static const char* const kKinds[] = {"cudaMemcpyHostToHost", "cudaMemcpyHostToDevice", "cudaMemcpyDeviceToHost",
                                       "cudaMemcpyDeviceToDevice", "cudaMemcpyDefault"};
  field("srcArray", static_cast<const void*>(p->srcArray));
  field("srcPos", extent(p->srcPos.x, p->srcPos.y, p->srcPos.z));
  field("srcPtr", static_cast<const void*>(p->srcPtr.ptr));
  field("srcPtr pitch", uint64_t{p->srcPtr.pitch});
  field("srcPtr xsize x ysize", std::to_string(p->srcPtr.xsize) + " x " + std::to_string(p->srcPtr.ysize));
  field("dstArray", static_cast<const void*>(p->dstArray));
  field("dstPos", extent(p->dstPos.x, p->dstPos.y, p->dstPos.z));
  field("dstPtr", static_cast<const void*>(p->dstPtr.ptr));
  field("extent", extent(p->extent.width, p->extent.height, p->extent.depth));
  const int k = static_cast<int>(p->kind);
  field("kind", k >= 0 && k < 5 ? kKinds[k] : "Other");
}

namespace {

const char* lutRecordName(opixImageFilterType_t type) {
  switch (type) {
    case OPIX_LUT_8_8: return "opixLut_8_t";
    case OPIX_LUT_8_8_C: return "opixLut_8_C_t";
    case OPIX_LUT_8_12:
    case OPIX_LUT_8_16: return "opixLut_8_16_t";
    case OPIX_LUT_8_12_C:
    case OPIX_LUT_8_16_C: return "opixLut_8_16_C_t";
    case OPIX_LUT_8_16_BAYER: return "opixLut_8_16_Bayer_t";
    case OPIX_LUT_10_16: return "opixLut_10_t";
    case OPIX_LUT_10_16_BAYER: return "opixLut_10_16_Bayer_t";
    case OPIX_LUT_12_8: return "opixLut_12_8_t";
    case OPIX_LUT_12_8_C: return "opixLut_12_8_C_t";
    case OPIX_LUT_12_12:
    case OPIX_LUT_12_16: return "opixLut_12_t";
    case OPIX_LUT_12_12_C:
    case OPIX_LUT_12_16_C: return "opixLut_12_C_t";
    case OPIX_LUT_12_16_BAYER: return "opixLut_12_16_Bayer_t";
    case OPIX_LUT_14_16:
    case OPIX_LUT_16_16: return "opixLut_16_t";
    case OPIX_LUT_16_16_C: return "opixLut_16_C_t";
    case OPIX_LUT_14_16_BAYER:
    case OPIX_LUT_16_16_BAYER: return "opixLut_16_Bayer_t";
    case OPIX_LUT_16_8: return "opixLut_16_8_t";
    case OPIX_LUT_16_8_C: return "opixLut_16_8_C_t";
    case OPIX_LUT_16_16_FR: return "opixLut_16_FR_t";
    case OPIX_LUT_16_16_FR_C: return "opixLut_16_FR_C_t";
    case OPIX_LUT_16_16_FR_BAYER: return "opixLut_16_FR_Bayer_t";
    default: return nullptr;
  }
}

}  // namespace

void lutRecord(opixImageFilterType_t type, const void* r) {
  const char* name = lutRecordName(type);
  if (!active() || !name) return;
  const LutTraits s = lutTraits(type);
  const auto* bytes = static_cast<const uint8_t*>(r);
  const uint64_t tableBytes = uint64_t{s.entries} * s.entryBytes;
  // A record that is only a table writes nothing without print tables.
  if (!s.bayer && !printTables()) return;
  if (!header(name, r)) return;
  if (s.bayer) {
    opixBayerPattern_t p;
    std::memcpy(&p, bytes + tableBytes * s.tables, sizeof p);
    field("bayer pattern", opixBayerPatternName(p));
  }
  if (!printTables()) return;
  auto entry = [&](int t, uint32_t i) {
    uint16_t v = 0;
    std::memcpy(&v, bytes + tableBytes * t + uint64_t{i} * s.entryBytes, s.entryBytes);
    return s.entryBytes == 1 ? uint32_t(v & 0xFF) : uint32_t(v);
  };
  if (s.tables == 3) line() << kIndent2 << "R\tG\tB\n";
  for (uint32_t i = 0; i < s.entries; ++i) {
    line() << kIndent2 << entry(0, i);
    if (s.tables == 3) line() << "\t" << entry(1, i) << "\t" << entry(2, i);
    line() << "\n";
  }
}

}  // namespace opix::trace
