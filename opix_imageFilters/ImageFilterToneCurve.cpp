#include "ImageFilterToneCurve.h"

#include "Checks.h"
#include "FilterLaunch.h"
#include "StreamGlobal.h"
#include "ToneCurveMath.h"
#include "TraceFile.h"
#include "device/Parallel.h"

#define OPIX_SOURCE "opix_imageFilters/ImageFilterToneCurve"

namespace opix {

void ImageFilterToneCurve::ComputeMemorySize() {
  requireType(OPIX_TONE_CURVE);
  ImageFilterBase::ComputeMemorySize();
  curve_.place(memSpace_, kToneCurveEntries);
}

// The middle channel is placed with unsigned arithmetic between the curve's
// values of the smallest and largest: a decreasing curve would wrap around.
void ImageFilterToneCurve::ApplyParameters(const void* record) {
  const auto* curve = static_cast<const uint16_t*>(record);
  for (uint32_t i = 1; i < kToneCurveEntries; ++i)
    if (curve[i] < curve[i - 1]) checks::fail("Tone curve must not decrease", OPIX_INVALID_VALUE, __LINE__);
  if (trace::active()) trace::text("Tone curve reinit");
  curve_.upload(curve, kToneCurveEntries);
  // The caller may reuse its curve once the call returns.
  streamSynchronize();
}

void ImageFilterToneCurve::Launch(const SurfaceView& source, const SurfaceView& destination) {
  if (source.format != OPIX_RGB16_PLANAR) OPIX_THROW(OPIX_INTERNAL_ERROR);
  const ToneCurveArgs a{source, destination, curve_.data()};
  OPIX_FILTER_LAUNCH("GPUToneCurve", launchToneCurveCuda(a), launchToneCurveHost(a));
}

void launchToneCurveHost(const ToneCurveArgs& a) {
  host::parallelRows(a.src.height, [&](int64_t y) {
    const uint16_t* s[3];
    uint16_t* d[3];
    for (int c = 0; c < 3; ++c) {
      s[c] = reinterpret_cast<const uint16_t*>(a.src.plane[c] + y * a.src.pitch);
      d[c] = reinterpret_cast<uint16_t*>(a.dst.plane[c] + y * a.dst.pitch);
    }
    for (uint32_t x = 0; x < a.src.width; ++x) {
      uint32_t p[3] = {s[0][x], s[1][x], s[2][x]};
      toneCurvePixel(a.curve, p);
      for (int c = 0; c < 3; ++c) d[c][x] = static_cast<uint16_t>(p[c]);
    }
  });
}

}  // namespace opix
