#include "ImageFilterColorSaturation.h"

#include "Checks.h"
#include "KernelLaunch.h"
#include "StreamGlobal.h"
#include "common/FilterRecords.h"
#include "common/FilterRegistry.h"
#include "device/Parallel.h"

#define OPIX_SOURCE "opix_imageFilters/ImageFilterColorSaturation"

namespace opix {

void ImageFilterColorSaturation::ComputeMemorySize() {
  ImageFilterBase::ComputeMemorySize();
  curves_.place(memSpace_, 3 * kSaturationEntries);
}

// Operations and channels outside their enumerations are refused before
// anything is copied.
void ImageFilterColorSaturation::ApplyParameters(const void* record) {
  const auto* r = static_cast<const opixColorSaturation_t*>(record);
  ColorSaturationOps ops{};
  for (int c = 0; c < 3; ++c) {
    if (r->operation[c] < OPIX_OP_REPLACE || r->operation[c] > OPIX_OP_MULTIPLY) OPIX_THROW(OPIX_INVALID_VALUE);
    if (r->channel[c] < OPIX_CHANNEL_HUE || r->channel[c] > OPIX_CHANNEL_LIGHTNESS) OPIX_THROW(OPIX_INVALID_VALUE);
    ops.operation[c] = r->operation[c];
    ops.channel[c] = r->channel[c];
  }
  ops.hsv = type_ == OPIX_COLOR_SATURATION_HSV;
  curves_.upload(&r->lut[0][0], 3 * kSaturationEntries);
  // The caller may reuse its record once the call returns.
  streamSynchronize();
  ops_ = ops;
}

void ImageFilterColorSaturation::Launch(const SurfaceView& source, const SurfaceView& destination) {
  const ColorSaturationArgs a{source, destination, static_cast<int>(opixFormatBits(source.format)), curves_.data(),
                              ops_};
  OPIX_KERNEL_LAUNCH(a.bits == 8 ? "GPUColorSaturation8" : "GPUColorSaturation12", launchColorSaturationCuda(a),
                     launchColorSaturationHost(a));
}

namespace {

// One row of the host driver, the pixel maths inlined into each clone (the
// AVX2 one is about a fifth faster: rounding and conversions are inline).
OPIX_HOST_AVX2_CLONE __attribute__((flatten)) void colorSaturationRow(const ColorSaturationArgs& a, int64_t y) {
  const float scale = a.bits == 8 ? 256.0f : a.bits == 12 ? 4096.0f : 65536.0f;
  const uint32_t hi = a.bits == 8 ? 255u : a.bits == 12 ? 4095u : 65535u;
  const uint32_t mask = a.bits == 12 ? 4095u : 0xFFFFu;
  for (uint32_t x = 0; x < a.src.width; ++x) {
    float rgb[3];
    if (a.bits == 8) {
      const uint8_t* s = a.src.plane[0] + y * a.src.pitch + 3 * x;
      for (int c = 0; c < 3; ++c) rgb[c] = static_cast<float>(s[c]) / scale;
    } else {
      for (int c = 0; c < 3; ++c)
        rgb[c] =
            static_cast<float>(reinterpret_cast<const uint16_t*>(a.src.plane[c] + y * a.src.pitch)[x] & mask) / scale;
    }
    colorSaturationPixel(a.curves, a.ops, rgb);
    if (a.bits == 8) {
      uint8_t* d = a.dst.plane[0] + y * a.dst.pitch + 3 * x;
      for (int c = 0; c < 3; ++c) d[c] = static_cast<uint8_t>(saturationSample(rgb[c], scale, hi));
    } else {
      for (int c = 0; c < 3; ++c)
        reinterpret_cast<uint16_t*>(a.dst.plane[c] + y * a.dst.pitch)[x] =
            static_cast<uint16_t>(saturationSample(rgb[c], scale, hi));
    }
  }
}

}  // namespace

void launchColorSaturationHost(const ColorSaturationArgs& a) {
  host::parallelRows(a.src.height, [&](int64_t y) { colorSaturationRow(a, y); });
}

constexpr FilterType kColorSaturationTypes[] = {
    {OPIX_COLOR_SATURATION_HSL, "color saturation HSL", kRgb8 | kRgb12P | kRgb16P},
    {OPIX_COLOR_SATURATION_HSV, "color saturation HSV", kRgb8 | kRgb12P | kRgb16P},
};
extern const FilterDeclaration kColorSaturationFilter{kColorSaturationTypes, makeFilter<ImageFilterColorSaturation>,
                                                      recordBytesOf<opixColorSaturation_t>,
                                                      trace::recordOf<opixColorSaturation_t>};

}  // namespace opix
