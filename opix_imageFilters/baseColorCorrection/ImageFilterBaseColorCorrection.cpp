#include "ImageFilterBaseColorCorrection.h"

#include "BaseColorCorrectionMath.h"
#include "KernelLaunch.h"
#include "common/FilterRecords.h"
#include "common/FilterRegistry.h"
#include "device/Parallel.h"
#include "device/Rgb8Planes.h"

#define OPIX_SOURCE "opix_imageFilters/ImageFilterBaseColorCorrection"

namespace opix {

void ImageFilterBaseColorCorrection::ComputeMemorySize() {
  ImageFilterBase::ComputeMemorySize();
  matrix_.place(memSpace_, 12);
  white_.place(memSpace_, 3);
}

void ImageFilterBaseColorCorrection::ApplyParameters(const void* record) {
  parameters_ = *static_cast<const opixBaseColorCorrection_t*>(record);
  matrix_.upload(parameters_.matrix, 12);
  white_.upload(parameters_.whiteLevel, 3);
}

void ImageFilterBaseColorCorrection::Launch(const SurfaceView& source, const SurfaceView& destination) {
  const bool planar = isPlanar(source.format);
  if (!source.plane[0] || !destination.plane[0]) OPIX_THROW(OPIX_INTERNAL_ERROR);
  if (planar && (!source.plane[1] || !source.plane[2] || !destination.plane[1] || !destination.plane[2]))
    OPIX_THROW(OPIX_INTERNAL_ERROR);
  const ColorCorrectionArgs a{source, destination, static_cast<int>(opixFormatBits(source.format)), matrix_.data(),
                              white_.data()};
  OPIX_KERNEL_LAUNCH("GPUColorCorrection", launchColorCorrectionCuda(a), launchColorCorrectionHost(a));
}

namespace {

// The record's matrix and white levels, copied next to the rows so that the
// stores of a row cannot alias them.
struct Correction {
  float m[12];
  int32_t white[3];
  explicit Correction(const ColorCorrectionArgs& a) {
    for (int i = 0; i < 12; ++i) m[i] = a.matrix[i];
    for (int c = 0; c < 3; ++c) white[c] = a.white[c];
  }
};

template <class T>
inline void grayRun(const T* s, T* d, uint32_t n, const Correction& k, uint32_t hi) {
  const Correction q = k;
  for (uint32_t x = 0; x < n; ++x) d[x] = static_cast<T>(colorCorrectGray(s[x], q.m, hi, RoundHalfUpClampSelect{}));
}
OPIX_HOST_SIMD_CLONES __attribute__((flatten)) void grayRow(const uint8_t* s, uint8_t* d, uint32_t n,
                                                            const Correction& k, uint32_t hi) {
  grayRun(s, d, n, k, hi);
}
OPIX_HOST_SIMD_CLONES __attribute__((flatten)) void grayRow(const uint16_t* s, uint16_t* d, uint32_t n,
                                                            const Correction& k, uint32_t hi) {
  grayRun(s, d, n, k, hi);
}

// Interleaved pixels in runs: each run's channels are parted into planes,
// corrected plane-wise (the loop the planar rows run, which vectorises) and
// interleaved again, all in the cache.
OPIX_HOST_SIMD_CLONES __attribute__((flatten)) void rgb8Row(const unsigned char* __restrict s,
                                                            unsigned char* __restrict d, uint32_t n,
                                                            const Correction& k) {
  constexpr uint32_t kRun = 256;
  const Correction q = k;
  alignas(64) uint8_t in[3][kRun], out[3][kRun];
  for (uint32_t x0 = 0; x0 < n; x0 += kRun) {
    const uint32_t m = n - x0 < kRun ? n - x0 : kRun;
    host::splitRgb8(s + 3 * size_t(x0), in[0], in[1], in[2], m);
    for (uint32_t i = 0; i < m; ++i) {
      const Rgb3 p = colorCorrectRgb(in[0][i], in[1][i], in[2][i], q.m, q.white, 255u, RoundHalfUpClampSelect{});
      out[0][i] = static_cast<uint8_t>(p.c[0]);
      out[1][i] = static_cast<uint8_t>(p.c[1]);
      out[2][i] = static_cast<uint8_t>(p.c[2]);
    }
    host::joinRgb8(out[0], out[1], out[2], d + 3 * size_t(x0), m);
  }
}

OPIX_HOST_SIMD_CLONES __attribute__((flatten)) void planarRow(const uint16_t* s0, const uint16_t* s1,
                                                              const uint16_t* s2, uint16_t* __restrict d0,
                                                              uint16_t* __restrict d1, uint16_t* __restrict d2,
                                                              uint32_t n, const Correction& k, uint32_t hi) {
  const Correction q = k;
  for (uint32_t x = 0; x < n; ++x) {
    const Rgb3 p = colorCorrectRgb(s0[x], s1[x], s2[x], q.m, q.white, hi, RoundHalfUpClampSelect{});
    d0[x] = static_cast<uint16_t>(p.c[0]);
    d1[x] = static_cast<uint16_t>(p.c[1]);
    d2[x] = static_cast<uint16_t>(p.c[2]);
  }
}

template <class T>
void grayRows(const ColorCorrectionArgs& a) {
  const uint32_t hi = maxSample(a.bits);
  const Correction k(a);
  host::parallelRows(a.src.height, [&](int64_t y) {
    grayRow(reinterpret_cast<const T*>(a.src.plane[0] + y * a.src.pitch),
            reinterpret_cast<T*>(a.dst.plane[0] + y * a.dst.pitch), a.src.width, k, hi);
  });
}

void rgb8Rows(const ColorCorrectionArgs& a) {
  const Correction k(a);
  host::parallelRows(a.src.height, [&](int64_t y) {
    rgb8Row(a.src.plane[0] + y * a.src.pitch, a.dst.plane[0] + y * a.dst.pitch, a.src.width, k);
  });
}

void planarRows(const ColorCorrectionArgs& a) {
  const uint32_t hi = maxSample(a.bits);
  const Correction k(a);
  host::parallelRows(a.src.height, [&](int64_t y) {
    const auto row = [&](const SurfaceView& v, int c) { return reinterpret_cast<uint16_t*>(v.plane[c] + y * v.pitch); };
    planarRow(row(a.src, 0), row(a.src, 1), row(a.src, 2), row(a.dst, 0), row(a.dst, 1), row(a.dst, 2), a.src.width, k,
              hi);
  });
}

}  // namespace

void launchColorCorrectionHost(const ColorCorrectionArgs& a) {
  switch (a.src.format) {
    case OPIX_I8: grayRows<uint8_t>(a); break;
    case OPIX_RGB8: rgb8Rows(a); break;
    case OPIX_RGB12_PLANAR:
    case OPIX_RGB16_PLANAR: planarRows(a); break;
    default: grayRows<uint16_t>(a); break;
  }
}

constexpr FilterType kBaseColorCorrectionTypes[] = {
    {OPIX_BASE_COLOR_CORRECTION, "base color correction", kI8 | kI12 | kI16 | kRgb8 | kRgb12P | kRgb16P},
};
extern const FilterDeclaration kBaseColorCorrectionFilter{
    kBaseColorCorrectionTypes, makeFilter<ImageFilterBaseColorCorrection>, recordBytesOf<opixBaseColorCorrection_t>,
    trace::recordOf<opixBaseColorCorrection_t>};

}  // namespace opix
