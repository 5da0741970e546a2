#include "ImageFilterBaseColorCorrection.h"

#include "BaseColorCorrectionMath.h"
#include "KernelLaunch.h"
#include "common/FilterRecords.h"
#include "common/FilterRegistry.h"
#include "device/Parallel.h"

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

template <class T>
void grayRows(const ColorCorrectionArgs& a) {
  const uint32_t hi = maxSample(a.bits);
  host::parallelRows(a.src.height, [&](int64_t y) {
    const T* s = reinterpret_cast<const T*>(a.src.plane[0] + y * a.src.pitch);
    T* d = reinterpret_cast<T*>(a.dst.plane[0] + y * a.dst.pitch);
    for (uint32_t x = 0; x < a.src.width; ++x) d[x] = static_cast<T>(colorCorrectGray(s[x], a.matrix, hi));
  });
}

void rgb8Rows(const ColorCorrectionArgs& a) {
  host::parallelRows(a.src.height, [&](int64_t y) {
    const unsigned char* s = a.src.plane[0] + y * a.src.pitch;
    unsigned char* d = a.dst.plane[0] + y * a.dst.pitch;
    for (uint32_t x = 0; x < a.src.width; ++x) {
      const Rgb3 p = colorCorrectRgb(s[3 * x], s[3 * x + 1], s[3 * x + 2], a.matrix, a.white, 255u);
      for (int c = 0; c < 3; ++c) d[3 * x + c] = static_cast<unsigned char>(p.c[c]);
    }
  });
}

void planarRows(const ColorCorrectionArgs& a) {
  const uint32_t hi = maxSample(a.bits);
  host::parallelRows(a.src.height, [&](int64_t y) {
    const uint16_t* s[3];
    uint16_t* d[3];
    for (int c = 0; c < 3; ++c) {
      s[c] = reinterpret_cast<const uint16_t*>(a.src.plane[c] + y * a.src.pitch);
      d[c] = reinterpret_cast<uint16_t*>(a.dst.plane[c] + y * a.dst.pitch);
    }
    for (uint32_t x = 0; x < a.src.width; ++x) {
      const Rgb3 p = colorCorrectRgb(s[0][x], s[1][x], s[2][x], a.matrix, a.white, hi);
      for (int c = 0; c < 3; ++c) d[c][x] = static_cast<uint16_t>(p.c[c]);
    }
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
