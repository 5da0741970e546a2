#include "ImageFilterLut.h"

#include <algorithm>
#include <cstring>

#include "BayerTraits.h"
#include "Checks.h"
#include "KernelLaunch.h"
#include "TraceFile.h"
#include "common/FilterRecords.h"
#include "common/FilterRegistry.h"
#include "device/BytePermutes.h"
#include "device/Parallel.h"
#include "device/Rgb8Planes.h"
#include "opix_internal/opix_program.h"

#define OPIX_SOURCE "opix_imageFilters/ImageFilterLut"

namespace opix {

LutTraits lutTraits(opixImageFilterType_t type) {
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

uint64_t lutRecordBytes(const LutTraits& s) {
  return uint64_t{s.entries} * s.entryBytes * uint64_t(s.tables) + (s.bayer ? sizeof(opixBayerPattern_t) : 0);
}

namespace {

// Entries of a table on the device: the interpolating lookup reads one past
// the last entry, a copy of it.
uint32_t deviceEntries(const LutTraits& s) { return s.entries + (s.indexing == LutIndexing::Interpolated ? 1 : 0); }
uint64_t deviceStride(const LutTraits& s) { return alignUp(uint64_t{deviceEntries(s)} * s.entryBytes, 128); }

}  // namespace

uint64_t ImageFilterLut::deviceTableBytes() const {
  return traits_.indexing == LutIndexing::FullRange ? 0 : deviceStride(traits_) * traits_.tables;
}

uint64_t ImageFilterLut::stagingStride() const {
  return traits_.indexing == LutIndexing::FullRange ? uint64_t{traits_.entries} * 2 : deviceStride(traits_);
}

bool ImageFilterLut::expands() const { return traits_.indexing == LutIndexing::Interpolated && !onCuda(); }

void ImageFilterLut::ComputeMemorySize() {
  traits_ = lutTraits(type_);
  ImageFilterBase::ComputeMemorySize();
  if (traits_.indexing != LutIndexing::FullRange) tables_.place(memSpace_, deviceTableBytes());
}

// Everything a record needs is made here, so that one at Transform neither
// allocates nor waits.
void ImageFilterLut::OnAllocated() {
  if (traits_.indexing == LutIndexing::FullRange)
    for (int t = 0; t < traits_.tables; ++t)
      if (!textures_[t].create(traits_.entries)) checks::fail("Texture init failed", OPIX_INTERNAL_ERROR, __LINE__);
  staging_.allocate(stagingStride() * traits_.tables);
  if (expands()) expanded_.assign(size_t{65536} * traits_.tables, 0);
}

// Takes the record's tables: entries above the destination's largest value
// are limited to it, the interpolating tables get their repeated last entry,
// and the full range tables go to their textures. The uploads run on the SDK
// stream after the passes already issued.
void ImageFilterLut::ApplyParameters(const void* record) {
  if (trace::active()) trace::text(std::string(trace::kIndent1) + "Lut reinit");
  trace::lutRecord(type_, record);
  const auto* bytes = static_cast<const uint8_t*>(record);
  const uint64_t tableBytes = uint64_t{traits_.entries} * traits_.entryBytes;
  if (traits_.bayer) {
    opixBayerPattern_t p;
    std::memcpy(&p, bytes + tableBytes * traits_.tables, sizeof p);
    checkBayerPattern(p, OPIX_INVALID_VALUE);
    pattern_ = p;
  }
  const uint32_t hi = (1u << traits_.outBits) - 1u;
  const uint32_t n = deviceEntries(traits_);
  const uint64_t stride = stagingStride();
  uint8_t* staged = staging_.next();
  for (int t = 0; t < traits_.tables; ++t) {
    const uint8_t* in = bytes + tableBytes * t;
    uint8_t* out = staged + stride * t;
    if (traits_.entryBytes == 1) {
      std::memcpy(out, in, traits_.entries);
      continue;
    }
    auto* o = reinterpret_cast<uint16_t*>(out);
    for (uint32_t i = 0; i < traits_.entries; ++i) {
      uint16_t v;
      std::memcpy(&v, in + 2 * i, 2);
      o[i] = static_cast<uint16_t>(std::min<uint32_t>(v, hi));
    }
    if (n > traits_.entries) o[traits_.entries] = o[traits_.entries - 1];
  }
  bool uploaded = true;
  if (traits_.indexing == LutIndexing::FullRange) {
    for (int t = 0; t < traits_.tables && uploaded; ++t)
      uploaded = textures_[t].upload(reinterpret_cast<const uint16_t*>(staged + stride * t));
  } else {
    tables_.upload(staged, stride * traits_.tables);
  }
  staging_.issued();
  if (!uploaded) OPIX_THROW(OPIX_EXECUTION_FAILURE);
  if (expands()) {
    // The host driver reads every 16-bit input's result from a table made
    // with the same maths.
    for (int t = 0; t < traits_.tables; ++t) {
      const auto* table = reinterpret_cast<const uint16_t*>(staged + stride * t);
      for (uint32_t v = 0; v < 65536; ++v) expanded_[size_t{65536} * t + v] = uint16_t(lutInterpolated(table, v));
    }
  }
}

void ImageFilterLut::Launch(const SurfaceView& source, const SurfaceView& destination) {
  LutArgs a{};
  a.src = source;
  a.dst = destination;
  a.srcBits = static_cast<int>(opixFormatBits(source.format));
  a.outBits = traits_.outBits;
  a.indexing = traits_.indexing;
  a.mask = traits_.entries - 1;
  a.tables = traits_.tables;
  a.bayer = traits_.bayer;
  a.pattern = pattern_;
  for (int t = 0; t < 3; ++t) {
    const int k = t < traits_.tables ? t : 0;
    if (traits_.indexing == LutIndexing::FullRange)
      a.texture[t] = textures_[k].view();
    else
      a.table[t] = tables_.data() + deviceStride(traits_) * k;
    if (expands()) a.expanded[t] = expanded_.data() + size_t{65536} * k;
  }
  const char* label = traits_.indexing == LutIndexing::FullRange
                          ? (traits_.bayer ? "GPULutBayer (texture)" : "GPULut16 (texture)")
                      : traits_.bayer  ? "GPULutBayer"
                      : a.srcBits == 8 ? "GPULut"
                      : a.outBits == 8 ? "GPULutTo8"
                                       : "GPULut16";
  OPIX_KERNEL_LAUNCH(label, launchLutCuda(a), launchLutHost(a));
}

// ---------------------------------------------------------------- host driver

namespace {

template <class T>
const T* rowOf(const unsigned char* plane, uint32_t pitch, int64_t y) {
  return reinterpret_cast<const T*>(plane + y * int64_t{pitch});
}
template <class T>
T* rowOf(unsigned char* plane, uint32_t pitch, int64_t y) {
  return reinterpret_cast<T*>(plane + y * int64_t{pitch});
}

// Calls body(lookup) with the lookup of table k, as a function of a sample.
template <class T, class Body>
void withLookup(const LutArgs& a, int k, const Body& body) {
  const T* t = static_cast<const T*>(a.table[k]);
  const uint32_t mask = a.mask;
  switch (a.indexing) {
    case LutIndexing::FullRange: {
      const TextureView tex = a.texture[k];
      if (tex.width >= 65536) {
        // Every sample (8 or 16 bits) lies inside the array: the fetch's
        // clamp leaves it as it is.
        const uint16_t* e = reinterpret_cast<const uint16_t*>(tex.host);
        body([e](uint32_t v) { return uint32_t(e[v]); });
      } else {
        body([tex](uint32_t v) { return uint32_t(textureFetch1D<uint16_t>(tex, int32_t(v))); });
      }
      break;
    }
    case LutIndexing::Interpolated: {
      // Every 16-bit input's result, made from the table by lutInterpolated.
      const uint16_t* e = a.expanded[k];
      body([e](uint32_t v) { return uint32_t(e[v]); });
      break;
    }
    case LutIndexing::Shifted: body([t](uint32_t v) { return lutShifted(t, v); }); break;
    default: body([t, mask](uint32_t v) { return lutMasked(t, v, mask); });
  }
}

// n consecutive samples: d[i] = f(s[i]), one sample at a time (storing
// whole 32-bit words measured slower).
template <class S, class D, class F>
void mapSpan(const S* s, D* d, uint32_t n, const F& f) {
  for (uint32_t i = 0; i < n; ++i) d[i] = static_cast<D>(f(s[i]));
}

// Three channels of a row, SS and DS samples apart on each side.
template <int SS, int DS, class S, class D, class F0, class F1, class F2>
void mapPixels(const S* const (&s)[3], D* const (&d)[3], uint32_t w, const F0& f0, const F1& f1, const F2& f2) {
  uint32_t x = 0;
  if constexpr (DS == 3 && sizeof(D) == 1) {
    // Interleaved 8-bit outputs: four pixels, three 32-bit words, at a time.
    for (; x + 4 <= w; x += 4) {
      uint8_t out[12];
      for (uint32_t k = 0; k < 4; ++k) {
        out[3 * k] = static_cast<uint8_t>(f0(s[0][(x + k) * SS]));
        out[3 * k + 1] = static_cast<uint8_t>(f1(s[1][(x + k) * SS]));
        out[3 * k + 2] = static_cast<uint8_t>(f2(s[2][(x + k) * SS]));
      }
      std::memcpy(d[0] + 3 * x, out, sizeof out);
    }
  }
  for (; x < w; ++x) {
    d[0][x * DS] = static_cast<D>(f0(s[0][x * SS]));
    d[1][x * DS] = static_cast<D>(f1(s[1][x * SS]));
    d[2][x * DS] = static_cast<D>(f2(s[2][x * SS]));
  }
}

// The 8-bit LUTs through tables held in registers, where the processor
// permutes across a whole register: 8-bit results from 256 bytes in four
// 64-byte registers (AVX-512 VBMI: each 64 samples take two two-register
// permutes and a select by their top bit), 16-bit ones from 256 words in
// eight (AVX-512 BW, below). A table is the lookup's own results, so the
// values are those of the sample-by-sample loops, which run elsewhere.
template <class E>
struct Table256 {
  E entry[256];
};
using ByteTable = Table256<uint8_t>;
using WordTable = Table256<uint16_t>;

// The lookup's results for every 8-bit sample.
template <class E, class F>
Table256<E> tableOf(const F& f) {
  Table256<E> t;
  for (uint32_t v = 0; v < 256; ++v) t.entry[v] = static_cast<E>(f(v));
  return t;
}

#if OPIX_BYTE_PERMUTES
using host::bytePermutes;
using host::Bytes64;

// n samples through one table.
OPIX_VBMI void lookupBytes(const uint8_t* s, uint8_t* d, size_t n, const ByteTable& t) {
  const host::ByteTable64 table(t.entry);
  size_t i = 0;
  for (; i + 64 <= n; i += 64) {
    Bytes64 v;
    std::memcpy(&v, s + i, 64);
    v = table(v);
    std::memcpy(d + i, &v, 64);
  }
  for (; i < n; ++i) d[i] = t.entry[s[i]];
}

// w interleaved pixels, channel c through table c: in 192 bytes (three
// vectors) every lane keeps its channel, so each vector's results are picked
// from the three tables' by constant masks.
OPIX_VBMI void lookupPixelBytes(const uint8_t* s, uint8_t* d, size_t w, const ByteTable (&t)[3]) {
  const host::ByteTable64 table[3] = {host::ByteTable64(t[0].entry), host::ByteTable64(t[1].entry),
                                      host::ByteTable64(t[2].entry)};
  Bytes64 channel[3];
  for (int k = 0; k < 3; ++k)
    for (int i = 0; i < 64; ++i) channel[k][i] = uint8_t((64 * k + i) % 3);
  const size_t n = 3 * w;
  size_t i = 0;
  for (; i + 192 <= n; i += 192)
    for (int k = 0; k < 3; ++k) {
      Bytes64 v;
      std::memcpy(&v, s + i + 64 * k, 64);
      const Bytes64 r0 = table[0](v), r1 = table[1](v), r2 = table[2](v);
      v = channel[k] == 0 ? r0 : channel[k] == 1 ? r1 : r2;
      std::memcpy(d + i + 64 * k, &v, 64);
    }
  for (; i < n; ++i) d[i] = t[i % 3].entry[s[i]];
}

// 8-bit samples to 16-bit results through a table of 256 words in eight
// 64-byte registers (AVX-512 BW): each 32 samples, widened to words, take
// four two-register permutes and three selects by their bits 6 and 7.

#define OPIX_LUT_BW __attribute__((target("avx512f,avx512bw")))
typedef uint16_t Words32 __attribute__((vector_size(64)));
typedef uint8_t Bytes32 __attribute__((vector_size(32)));

bool wordPermutes() {
  static const bool supported = __builtin_cpu_supports("avx512bw");
  return supported;
}

struct WordTableVectors {
  Words32 part[8];
  OPIX_LUT_BW explicit WordTableVectors(const WordTable& t) { std::memcpy(part, t.entry, sizeof part); }
  OPIX_LUT_BW Words32 operator()(const uint8_t* s) const {
    Bytes32 b;
    std::memcpy(&b, s, 32);
    const Words32 v = __builtin_convertvector(b, Words32);
    const Words32 r0 = __builtin_shuffle(part[0], part[1], v), r1 = __builtin_shuffle(part[2], part[3], v);
    const Words32 r2 = __builtin_shuffle(part[4], part[5], v), r3 = __builtin_shuffle(part[6], part[7], v);
    const Words32 lo = (v & 64) != 0 ? r1 : r0, hi = (v & 64) != 0 ? r3 : r2;
    return (v & 128) != 0 ? hi : lo;
  }
};

// n samples, those at even positions through table `even` and those at odd
// ones through `odd` (the same table but for Bayer rows); s starts at an even
// position.
OPIX_LUT_BW void lookupWords(const uint8_t* s, uint16_t* d, size_t n, const WordTable& even, const WordTable& odd) {
  const WordTableVectors te(even), to(odd);
  const bool one = std::memcmp(&even, &odd, sizeof even) == 0;
  Words32 oddLane;
  for (int i = 0; i < 32; ++i) oddLane[i] = uint16_t(i & 1);
  size_t i = 0;
  for (; i + 32 <= n; i += 32) {
    Words32 r = te(s + i);
    if (!one) r = oddLane != 0 ? to(s + i) : r;
    std::memcpy(d + i, &r, 64);
  }
  for (; i < n; ++i) d[i] = (i & 1 ? odd : even).entry[s[i]];
}

// w RGB8 pixels to three planes, channel c through table c: each run of
// pixels parted into byte planes in the cache first.
OPIX_LUT_BW void lookupPixelWords(const uint8_t* s, uint16_t* const (&d)[3], size_t w, const WordTable (&t)[3]) {
  constexpr size_t kRun = 256;
  alignas(64) uint8_t planes[3][kRun];
  for (size_t x0 = 0; x0 < w; x0 += kRun) {
    const size_t m = w - x0 < kRun ? w - x0 : kRun;
    host::splitRgb8(s + 3 * x0, planes[0], planes[1], planes[2], m);
    for (int c = 0; c < 3; ++c) lookupWords(planes[c], d[c] + x0, m, t[c], t[c]);
  }
}

// The 8-bit to 16-bit lookups of grey, Bayer and RGB8 images through the
// permutes, the tables made once for the image; false where the processor
// lacks them.
template <class T>
bool lutWordsByPermutes(const LutArgs& a) {
  if (!wordPermutes()) return false;
  const uint32_t w = a.src.width;
  const bool rgb = a.src.format == OPIX_RGB8;
  if (a.bayer) {
    WordTable tables[4];  // by the table index of each cell position
    for (int k = 0; k < 4; ++k)
      withLookup<T>(a, lutBayerTable(a.pattern, k & 1, k >> 1),
                    [&](const auto& f) { tables[k] = tableOf<uint16_t>(f); });
    host::parallelRows(a.src.height, [&](int64_t y) {
      const int r = 2 * int(y & 1);
      lookupWords(rowOf<uint8_t>(a.src.plane[0], a.src.pitch, y), rowOf<uint16_t>(a.dst.plane[0], a.dst.pitch, y), w,
                  tables[r], tables[r + 1]);
    });
    return true;
  }
  WordTable tables[3];
  for (int k = 0; k < 3; ++k)
    withLookup<T>(a, k < a.tables ? k : 0, [&](const auto& f) { tables[k] = tableOf<uint16_t>(f); });
  host::parallelRows(a.src.height, [&](int64_t y) {
    const uint8_t* s = rowOf<uint8_t>(a.src.plane[0], a.src.pitch, y);
    if (rgb) {
      uint16_t* const d[3] = {rowOf<uint16_t>(a.dst.plane[0], a.dst.pitch, y),
                              rowOf<uint16_t>(a.dst.plane[1], a.dst.pitch, y),
                              rowOf<uint16_t>(a.dst.plane[2], a.dst.pitch, y)};
      lookupPixelWords(s, d, w, tables);
    } else {
      lookupWords(s, rowOf<uint16_t>(a.dst.plane[0], a.dst.pitch, y), w, tables[0], tables[0]);
    }
  });
  return true;
}

// The 8-bit to 8-bit lookups of grey and RGB8 images through the permutes,
// the tables made once for the image; false where the processor lacks them
// (or for Bayer tables, which the rows below look up).
template <class T>
bool lutBytesByPermutes(const LutArgs& a) {
  if (a.bayer || !bytePermutes()) return false;
  ByteTable tables[3];
  for (int k = 0; k < 3; ++k)
    withLookup<T>(a, k < a.tables ? k : 0, [&](const auto& f) { tables[k] = tableOf<uint8_t>(f); });
  const uint32_t w = a.src.width;
  const bool rgb = a.src.format == OPIX_RGB8;
  host::parallelRows(a.src.height, [&](int64_t y) {
    const uint8_t* s = rowOf<uint8_t>(a.src.plane[0], a.src.pitch, y);
    uint8_t* d = rowOf<uint8_t>(a.dst.plane[0], a.dst.pitch, y);
    if (rgb && a.tables == 3)
      lookupPixelBytes(s, d, w, tables);
    else
      lookupBytes(s, d, rgb ? 3 * size_t(w) : w, tables[0]);
  });
  return true;
}
#endif

template <class S, class D, class T>
void lutRows(const LutArgs& a) {
#if OPIX_BYTE_PERMUTES
  if constexpr (sizeof(S) == 1 && sizeof(D) == 1)
    if (lutBytesByPermutes<T>(a)) return;
  if constexpr (sizeof(S) == 1 && sizeof(D) == 2)
    if (lutWordsByPermutes<T>(a)) return;
#endif
  const uint32_t w = a.src.width;
  const bool srcRgb8 = a.src.format == OPIX_RGB8, dstRgb8 = a.dst.format == OPIX_RGB8;
  const bool colour = opixFormatChannels(a.src.format) == 3;
  if (a.bayer) {
    host::parallelRows(a.src.height, [&](int64_t y) {
      const S* s = rowOf<S>(a.src.plane[0], a.src.pitch, y);
      D* d = rowOf<D>(a.dst.plane[0], a.dst.pitch, y);
      withLookup<T>(a, lutBayerTable(a.pattern, 0, int(y)), [&](const auto& even) {
        withLookup<T>(a, lutBayerTable(a.pattern, 1, int(y)), [&](const auto& odd) {
          uint32_t x = 0;
          for (; x + 1 < w; x += 2) {
            d[x] = static_cast<D>(even(s[x]));
            d[x + 1] = static_cast<D>(odd(s[x + 1]));
          }
          if (x < w) d[x] = static_cast<D>(even(s[x]));
        });
      });
    });
  } else if (srcRgb8 && dstRgb8 && a.tables == 1) {  // every byte through one table
    host::parallelRows(a.src.height, [&](int64_t y) {
      const S* s = rowOf<S>(a.src.plane[0], a.src.pitch, y);
      D* d = rowOf<D>(a.dst.plane[0], a.dst.pitch, y);
      withLookup<T>(a, 0, [&](const auto& f) { mapSpan(s, d, 3 * w, f); });
    });
  } else if (srcRgb8 || dstRgb8) {  // interleaved on one side: pixel by pixel
    host::parallelRows(a.src.height, [&](int64_t y) {
      const S* s[3];
      D* d[3];
      for (int c = 0; c < 3; ++c) {
        s[c] = srcRgb8 ? rowOf<S>(a.src.plane[0], a.src.pitch, y) + c : rowOf<S>(a.src.plane[c], a.src.pitch, y);
        d[c] = dstRgb8 ? rowOf<D>(a.dst.plane[0], a.dst.pitch, y) + c : rowOf<D>(a.dst.plane[c], a.dst.pitch, y);
      }
      withLookup<T>(a, 0, [&](const auto& f0) {
        withLookup<T>(a, 1, [&](const auto& f1) {
          withLookup<T>(a, 2, [&](const auto& f2) {
            if (srcRgb8 && dstRgb8)
              mapPixels<3, 3>(s, d, w, f0, f1, f2);
            else if (srcRgb8)
              mapPixels<3, 1>(s, d, w, f0, f1, f2);
            else
              mapPixels<1, 3>(s, d, w, f0, f1, f2);
          });
        });
      });
    });
  } else {  // single planes: one pass per plane
    const int planes = colour ? 3 : 1;
    host::parallelRows(a.src.height, [&](int64_t y) {
      for (int c = 0; c < planes; ++c) {
        const S* s = rowOf<S>(a.src.plane[c], a.src.pitch, y);
        D* d = rowOf<D>(a.dst.plane[c], a.dst.pitch, y);
        withLookup<T>(a, c, [&](const auto& f) { mapSpan(s, d, w, f); });
      }
    });
  }
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

namespace {

// The output bit depth of the type, in the source's layout: grey stays grey,
// colour becomes RGB8 or the planar format of the depth.
opixSurfaceFormat_t lutDestinationFormat(opixImageFilterType_t type, opixSurfaceFormat_t source) {
  const LutTraits s = lutTraits(type);
  if (opixFormatChannels(source) == 3)
    return s.outBits == 8 ? OPIX_RGB8 : s.outBits == 12 ? OPIX_RGB12_PLANAR : OPIX_RGB16_PLANAR;
  return s.outBits == 8 ? OPIX_I8 : s.outBits == 12 ? OPIX_I12 : OPIX_I16;
}

uint64_t lutBytes(opixImageFilterType_t type) { return lutRecordBytes(lutTraits(type)); }

constexpr FilterType kLutTypes[] = {
    {OPIX_LUT_8_8, "LUT 8->8", kI8 | kRgb8},
    {OPIX_LUT_8_8_C, "LUT 8->8 color", kRgb8},
    {OPIX_LUT_8_12, "LUT 8->12", kI8 | kRgb8},
    {OPIX_LUT_8_12_C, "LUT 8->12 color", kRgb8},
    {OPIX_LUT_8_16, "LUT 8->16", kI8 | kRgb8},
    {OPIX_LUT_8_16_C, "LUT 8->16 color", kRgb8},
    {OPIX_LUT_10_16, "LUT 10->16", kI10},
    {OPIX_LUT_12_8, "LUT 12->8", kI12 | kRgb12P},
    {OPIX_LUT_12_8_C, "LUT 12->8 color", kRgb12P},
    {OPIX_LUT_12_12, "LUT 12->12", kI12 | kRgb12P},
    {OPIX_LUT_12_12_C, "LUT 12->12 color", kRgb12P},
    {OPIX_LUT_12_16, "LUT 12->16", kI12 | kRgb12P},
    {OPIX_LUT_12_16_C, "LUT 12->16 color", kRgb12P},
    {OPIX_LUT_14_16, "LUT 14->16", kI14},
    {OPIX_LUT_16_16, "LUT 16->16", kI16 | kRgb16P},
    {OPIX_LUT_16_16_C, "LUT 16->16 color", kRgb16P},
    {OPIX_LUT_16_8, "LUT 16->8", kI16 | kRgb16P},
    {OPIX_LUT_16_8_C, "LUT 16->8 color", kRgb16P},
    {OPIX_LUT_16_16_FR, "LUT 16->16 (full range)", kI16 | kRgb16P},
    {OPIX_LUT_16_16_FR_C, "LUT 16->16 (full range, color)", kRgb16P},
};

}  // namespace

constexpr FilterType kLutBayerTypes[] = {
    {OPIX_LUT_8_16_BAYER, "LUT 8->16 bayer", kI8},    {OPIX_LUT_10_16_BAYER, "LUT 10->16 bayer", kI10},
    {OPIX_LUT_12_16_BAYER, "LUT 12->16 bayer", kI12}, {OPIX_LUT_14_16_BAYER, "LUT 14->16 bayer", kI14},
    {OPIX_LUT_16_16_BAYER, "LUT 16->16 bayer", kI16}, {OPIX_LUT_16_16_FR_BAYER, "LUT 16->16 (full range, bayer)", kI16},
};
// The LUT filters trace their records themselves, after their "Lut reinit" line.
extern const FilterDeclaration kLutFilter{kLutTypes, makeFilter<ImageFilterLut>, lutBytes, nullptr,
                                          lutDestinationFormat};
extern const FilterDeclaration kLutBayerFilter{kLutBayerTypes, makeFilter<ImageFilterLutBayer>, lutBytes, nullptr,
                                               lutDestinationFormat};

}  // namespace opix
