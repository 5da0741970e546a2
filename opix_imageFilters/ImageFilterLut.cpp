#include "ImageFilterLut.h"

#include <algorithm>
#include <cstring>

#include "Checks.h"
#include "FilterLaunch.h"
#include "FilterRecords.h"
#include "StreamGlobal.h"
#include "TraceFile.h"
#include "bayerTraits.h"
#include "device/Parallel.h"
#include "opix_internal/opix_program.h"

#define OPIX_SOURCE "opix_imageFilters/ImageFilterLut"

namespace opix {

LutSpec lutSpec(opixImageFilterType_t type) {
  using I = LutIndexing;
  switch (type) {
    case OPIX_LUT_8_8: return {256, 1, 1, false, 8, I::Masked};
    case OPIX_LUT_8_8_C: return {256, 1, 3, false, 8, I::Masked};
    case OPIX_LUT_8_12: return {256, 2, 1, false, 12, I::Masked};
    case OPIX_LUT_8_12_C: return {256, 2, 3, false, 12, I::Masked};
    case OPIX_LUT_8_16: return {256, 2, 1, false, 16, I::Masked};
    case OPIX_LUT_8_16_C: return {256, 2, 3, false, 16, I::Masked};
    case OPIX_LUT_8_16_BAYER: return {256, 2, 3, true, 16, I::Masked};
    case OPIX_LUT_10_16: return {1024, 2, 1, false, 16, I::Masked};
    case OPIX_LUT_10_16_BAYER: return {1024, 2, 3, true, 16, I::Masked};
    case OPIX_LUT_12_8: return {4096, 1, 1, false, 8, I::Masked};
    case OPIX_LUT_12_8_C: return {4096, 1, 3, false, 8, I::Masked};
    case OPIX_LUT_12_12: return {4096, 2, 1, false, 12, I::Masked};
    case OPIX_LUT_12_12_C: return {4096, 2, 3, false, 12, I::Masked};
    case OPIX_LUT_12_16: return {4096, 2, 1, false, 16, I::Masked};
    case OPIX_LUT_12_16_C: return {4096, 2, 3, false, 16, I::Masked};
    case OPIX_LUT_12_16_BAYER: return {4096, 2, 3, true, 16, I::Masked};
    case OPIX_LUT_14_16: return {16384, 2, 1, false, 16, I::Masked};
    case OPIX_LUT_14_16_BAYER: return {16384, 2, 3, true, 16, I::Masked};
    case OPIX_LUT_16_16: return {16384, 2, 1, false, 16, I::Interpolated};
    case OPIX_LUT_16_16_C: return {16384, 2, 3, false, 16, I::Interpolated};
    case OPIX_LUT_16_8: return {16384, 1, 1, false, 8, I::Shifted};
    case OPIX_LUT_16_8_C: return {16384, 1, 3, false, 8, I::Shifted};
    case OPIX_LUT_16_16_BAYER: return {16384, 2, 3, true, 16, I::Interpolated};
    case OPIX_LUT_16_16_FR: return {65536, 2, 1, false, 16, I::FullRange};
    case OPIX_LUT_16_16_FR_C: return {65536, 2, 3, false, 16, I::FullRange};
    case OPIX_LUT_16_16_FR_BAYER: return {65536, 2, 3, true, 16, I::FullRange};
    default: OPIX_THROW(OPIX_INVALID_VALUE);
  }
}

uint64_t lutRecordBytes(const LutSpec& s) {
  return uint64_t{s.entries} * s.entryBytes * uint64_t(s.tables) + (s.bayer ? sizeof(opixBayerPattern_t) : 0);
}

namespace {

// Entries of a table on the device: the interpolating lookup reads one past
// the last entry, a copy of it.
uint32_t deviceEntries(const LutSpec& s) { return s.entries + (s.indexing == LutIndexing::Interpolated ? 1 : 0); }
uint64_t deviceStride(const LutSpec& s) { return alignUp(uint64_t{deviceEntries(s)} * s.entryBytes, 128); }

}  // namespace

opixSurfaceFormat_t ImageFilterLut::DestinationFormat(opixSurfaceFormat_t source) const {
  const LutSpec s = lutSpec(type_);
  if (opixFormatChannels(source) == 3)
    return s.outBits == 8 ? OPIX_RGB8 : s.outBits == 12 ? OPIX_RGB12_PLANAR : OPIX_RGB16_PLANAR;
  return s.outBits == 8 ? OPIX_I8 : s.outBits == 12 ? OPIX_I12 : OPIX_I16;
}

uint64_t ImageFilterLut::deviceTableBytes() const {
  return spec_.indexing == LutIndexing::FullRange ? 0 : deviceStride(spec_) * spec_.tables;
}

void ImageFilterLut::ComputeMemorySize() {
  spec_ = lutSpec(type_);
  if (spec_.bayer != bayerClass()) OPIX_THROW(OPIX_INVALID_VALUE);
  ImageFilterBase::ComputeMemorySize();
  if (spec_.indexing != LutIndexing::FullRange) tables_.place(memSpace_, deviceTableBytes());
}

// Takes the record's tables: entries above the destination's largest value
// are limited to it, the interpolating tables get their repeated last entry,
// and the full range tables go to their textures.
void ImageFilterLut::ApplyParameters(const void* record) {
  if (trace::active()) trace::text(std::string(trace::kIndent1) + "Lut reinit");
  trace::lutRecord(type_, record);
  const auto* bytes = static_cast<const uint8_t*>(record);
  const uint64_t tableBytes = uint64_t{spec_.entries} * spec_.entryBytes;
  if (spec_.bayer) {
    opixBayerPattern_t p;
    std::memcpy(&p, bytes + tableBytes * spec_.tables, sizeof p);
    checkBayerPattern(p, OPIX_INVALID_VALUE);
    pattern_ = p;
  }
  const uint32_t hi = (1u << spec_.outBits) - 1u;
  const uint32_t n = deviceEntries(spec_);
  const uint64_t stride = spec_.indexing == LutIndexing::FullRange ? uint64_t{n} * 2 : deviceStride(spec_);
  staging_.assign(stride * spec_.tables, 0);
  for (int t = 0; t < spec_.tables; ++t) {
    const uint8_t* in = bytes + tableBytes * t;
    uint8_t* out = staging_.data() + stride * t;
    if (spec_.entryBytes == 1) {
      std::memcpy(out, in, spec_.entries);
      continue;
    }
    auto* o = reinterpret_cast<uint16_t*>(out);
    for (uint32_t i = 0; i < spec_.entries; ++i) {
      uint16_t v;
      std::memcpy(&v, in + 2 * i, 2);
      o[i] = static_cast<uint16_t>(std::min<uint32_t>(v, hi));
    }
    if (n > spec_.entries) o[spec_.entries] = o[spec_.entries - 1];
  }
  if (spec_.indexing == LutIndexing::FullRange) {
    for (int t = 0; t < spec_.tables; ++t) {
      if (!textures_[t].valid() && !textures_[t].create(spec_.entries))
        checks::fail("Texture init failed", OPIX_INTERNAL_ERROR, __LINE__);
      if (!textures_[t].upload(reinterpret_cast<const uint16_t*>(staging_.data() + stride * t)))
        OPIX_THROW(OPIX_EXECUTION_FAILURE);
    }
  } else {
    tables_.upload(staging_.data(), staging_.size());
  }
  // The staging copy is rewritten by the next record.
  streamSynchronize();
}

void ImageFilterLut::Launch(const SurfaceView& source, const SurfaceView& destination) {
  LutArgs a{};
  a.src = source;
  a.dst = destination;
  a.srcBits = static_cast<int>(opixFormatBits(source.format));
  a.outBits = spec_.outBits;
  a.indexing = spec_.indexing;
  a.mask = spec_.entries - 1;
  a.tables = spec_.tables;
  a.bayer = spec_.bayer;
  a.pattern = pattern_;
  for (int t = 0; t < 3; ++t) {
    const int k = t < spec_.tables ? t : 0;
    if (spec_.indexing == LutIndexing::FullRange)
      a.texture[t] = textures_[k].view();
    else
      a.table[t] = tables_.data() + deviceStride(spec_) * k;
  }
  const char* label = spec_.indexing == LutIndexing::FullRange
                          ? (spec_.bayer ? "GPULutBayer (texture)" : "GPULut16 (texture)")
                      : spec_.bayer    ? "GPULutBayer"
                      : a.srcBits == 8 ? "GPULut"
                      : a.outBits == 8 ? "GPULutTo8"
                                       : "GPULut16";
  OPIX_FILTER_LAUNCH(label, launchLutCuda(a), launchLutHost(a));
}

// ---------------------------------------------------------------- host driver

namespace {

// Sample i of channel c of a row: interleaved RGB8 steps by three.
struct RowAccess {
  unsigned char* base;
  int step;
};

RowAccess rowOf(const SurfaceView& v, int c, int64_t y) {
  const bool planar = isPlanar(v.format);
  const bool interleaved = opixFormatChannels(v.format) == 3 && !planar;
  unsigned char* p = (planar ? v.plane[c] : v.plane[0]) + y * int64_t{v.pitch};
  const int bytes = opixFormatBits(v.format) > 8 ? 2 : 1;
  return RowAccess{p + (interleaved ? c * bytes : 0), interleaved ? 3 : 1};
}

// One channel of one row: out[x] = fn(in[x], x).
template <class S, class D, class Fn>
void mapRow(RowAccess in, RowAccess out, uint32_t width, const Fn& fn) {
  const S* s = reinterpret_cast<const S*>(in.base);
  D* d = reinterpret_cast<D*>(out.base);
  const int ss = in.step, ds = out.step;
  for (uint32_t x = 0; x < width; ++x) d[x * ds] = static_cast<D>(fn(uint32_t(s[x * ss]), x));
}

template <class S, class D, class T>
void lutRows(const LutArgs& a) {
  const int channels = static_cast<int>(opixFormatChannels(a.src.format));
  const uint32_t mask = a.mask;
  host::parallelRows(a.src.height, [&](int64_t y) {
    for (int c = 0; c < channels; ++c) {
      const RowAccess in = rowOf(a.src, c, y), out = rowOf(a.dst, c, y);
      if (a.indexing == LutIndexing::FullRange) {
        if (a.bayer) {
          const TextureView t[2] = {a.texture[lutBayerTable(a.pattern, 0, int(y))],
                                    a.texture[lutBayerTable(a.pattern, 1, int(y))]};
          mapRow<S, D>(in, out, a.src.width,
                       [&](uint32_t v, uint32_t x) { return textureFetch1D<uint16_t>(t[x & 1], int32_t(v)); });
        } else {
          const TextureView t = a.texture[c];
          mapRow<S, D>(in, out, a.src.width,
                       [&](uint32_t v, uint32_t) { return textureFetch1D<uint16_t>(t, int32_t(v)); });
        }
        continue;
      }
      if (a.bayer) {
        const T* t[2] = {static_cast<const T*>(a.table[lutBayerTable(a.pattern, 0, int(y))]),
                         static_cast<const T*>(a.table[lutBayerTable(a.pattern, 1, int(y))])};
        mapRow<S, D>(in, out, a.src.width,
                     [&](uint32_t v, uint32_t x) { return lutLookup(a.indexing, t[x & 1], v, mask); });
        continue;
      }
      const T* t = static_cast<const T*>(a.table[c]);
      switch (a.indexing) {
        case LutIndexing::Interpolated:
          mapRow<S, D>(in, out, a.src.width, [&](uint32_t v, uint32_t) { return lutInterpolated(t, v); });
          break;
        case LutIndexing::Shifted:
          mapRow<S, D>(in, out, a.src.width, [&](uint32_t v, uint32_t) { return lutShifted(t, v); });
          break;
        default: mapRow<S, D>(in, out, a.src.width, [&](uint32_t v, uint32_t) { return lutMasked(t, v, mask); });
      }
    }
  });
}

}  // namespace

void launchLutHost(const LutArgs& a) {
  const bool in8 = a.srcBits == 8, out8 = a.outBits == 8;
  if (in8 && out8)
    lutRows<uint8_t, uint8_t, uint8_t>(a);
  else if (in8)
    lutRows<uint8_t, uint16_t, uint16_t>(a);
  else if (out8)
    lutRows<uint16_t, uint8_t, uint8_t>(a);
  else
    lutRows<uint16_t, uint16_t, uint16_t>(a);
}

}  // namespace opix
