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

// The host rows go a chunk of pixels at a time: the samples to float arrays
// of the three channels, the pixel maths in its select form over the arrays
// in loops the compiler vectorises (hue, saturation and lightness or value
// with the curves' taps; then, after the curves are read at the taps, by
// gathers in the AVX2 and AVX-512 builds, the curves applied and back to
// RGB), the results back to samples.
constexpr int kChunk = 128;

struct ChannelChunk {
  float c[3][kChunk];                  // the pixels' channels, in and out
  float hsx[3][kChunk];                // hue, saturation, lightness or value
  int at[3][kChunk], next[3][kChunk];  // each curve's taps
  float f[3][kChunk];                  // and the weight of the second
  float lo[3][kChunk], hi[3][kChunk];  // the curves' entries at the taps
};

template <bool Hsv>
void saturationPixels(const ColorSaturationArgs& a, ChannelChunk& k, int n) {
  for (int i = 0; i < n; ++i) {
    float hsx[3];
    hsxSelect<Hsv>(k.c[0][i], k.c[1][i], k.c[2][i], hsx);
    for (int c = 0; c < 3; ++c) {
      k.hsx[c][i] = hsx[c];
      const CurveTap t = saturationCurveTap(saturationCurveInput(a.ops, c, hsx));
      k.at[c][i] = t.i;
      k.next[c][i] = t.next;
      k.f[c][i] = t.f;
    }
  }
  for (int c = 0; c < 3; ++c) {
    const float* curve = a.curves + c * kSaturationEntries;
    for (int i = 0; i < n; ++i) {
      k.lo[c][i] = curve[k.at[c][i]];
      k.hi[c][i] = curve[k.next[c][i]];
    }
  }
  for (int i = 0; i < n; ++i) {
    const float hsx[3] = {k.hsx[0][i], k.hsx[1][i], k.hsx[2][i]};
    float t[3], rgb[3];
    for (int c = 0; c < 3; ++c) t[c] = saturationCurveBetween(k.lo[c][i], k.hi[c][i], k.f[c][i]);
    saturationFromCurvesSelect<Hsv>(a.ops, hsx, t, rgb);
    for (int c = 0; c < 3; ++c) k.c[c][i] = rgb[c];
  }
}

template <int Bits>
void saturationRow(const ColorSaturationArgs& a, int64_t y) {
  constexpr float kScale = Bits == 8 ? 256.0f : Bits == 12 ? 4096.0f : 65536.0f;
  constexpr uint32_t kHi = Bits == 8 ? 255u : Bits == 12 ? 4095u : 65535u;
  constexpr uint32_t kMask = Bits == 12 ? 4095u : 0xFFFFu;
  ChannelChunk k;
  for (uint32_t x0 = 0; x0 < a.src.width; x0 += kChunk) {
    const int n = static_cast<int>(a.src.width - x0 < kChunk ? a.src.width - x0 : kChunk);
    if constexpr (Bits == 8) {
      const uint8_t* __restrict s = a.src.plane[0] + y * a.src.pitch + 3 * size_t{x0};
      for (int i = 0; i < n; ++i)
        for (int c = 0; c < 3; ++c) k.c[c][i] = static_cast<float>(s[3 * i + c]) / kScale;
    } else {
      for (int c = 0; c < 3; ++c) {
        const uint16_t* __restrict s = reinterpret_cast<const uint16_t*>(a.src.plane[c] + y * a.src.pitch) + x0;
        for (int i = 0; i < n; ++i) k.c[c][i] = static_cast<float>(s[i] & kMask) / kScale;
      }
    }
    if (a.ops.hsv)
      saturationPixels<true>(a, k, n);
    else
      saturationPixels<false>(a, k, n);
    if constexpr (Bits == 8) {
      uint8_t* __restrict d = a.dst.plane[0] + y * a.dst.pitch + 3 * size_t{x0};
      for (int i = 0; i < n; ++i)
        for (int c = 0; c < 3; ++c) d[3 * i + c] = static_cast<uint8_t>(saturationSampleSelect(k.c[c][i], kScale, kHi));
    } else {
      for (int c = 0; c < 3; ++c) {
        uint16_t* __restrict d = reinterpret_cast<uint16_t*>(a.dst.plane[c] + y * a.dst.pitch) + x0;
        for (int i = 0; i < n; ++i) d[i] = static_cast<uint16_t>(saturationSampleSelect(k.c[c][i], kScale, kHi));
      }
    }
  }
}

// One row, the maths inlined into each clone (AVX2 and AVX-512: eight or
// sixteen pixels a vector, with inline rounding, conversions and gathers of
// the curves).
OPIX_HOST_SIMD_CLONES __attribute__((flatten)) void colorSaturationRow(const ColorSaturationArgs& a, int64_t y) {
  if (a.bits == 8)
    saturationRow<8>(a, y);
  else if (a.bits == 12)
    saturationRow<12>(a, y);
  else
    saturationRow<16>(a, y);
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
