#include "ImageFilterToneCurve.h"

#include <algorithm>

#include "Checks.h"
#include "KernelLaunch.h"
#include "StreamGlobal.h"
#include "ToneCurveMath.h"
#include "TraceFile.h"
#include "common/FilterRegistry.h"
#include "device/Parallel.h"

#define OPIX_SOURCE "opix_imageFilters/ImageFilterToneCurve"

namespace opix {

void ImageFilterToneCurve::ComputeMemorySize() {
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
  // The host driver reads every input's value from a table made with the
  // same maths.
  expanded_.resize(65536);
  for (uint32_t v = 0; v < 65536; ++v) expanded_[v] = static_cast<uint16_t>(toneCurveValue(curve, v));
  // The caller may reuse its curve once the call returns.
  streamSynchronize();
}

void ImageFilterToneCurve::Launch(const SurfaceView& source, const SurfaceView& destination) {
  if (source.format != OPIX_RGB16_PLANAR) OPIX_THROW(OPIX_INTERNAL_ERROR);
  const ToneCurveArgs a{source, destination, curve_.data(), expanded_.data()};
  OPIX_KERNEL_LAUNCH("GPUToneCurve", launchToneCurveCuda(a), launchToneCurveHost(a));
}

namespace {

constexpr uint32_t kRun = 256;

// n <= kRun pixels of a row, one step of the pixel maths at a time over the
// run, so that the compiler can vectorise all but the curve's lookups.
OPIX_HOST_AVX2_CLONE void toneCurveRun(const uint16_t* const (&s)[3], uint16_t* const (&d)[3], uint32_t n,
                                       const uint16_t* expanded) {
  uint16_t maxIn[kRun], minIn[kRun], midIn[kRun], maxOut[kRun], minOut[kRun], midOut[kRun];
  for (uint32_t i = 0; i < n; ++i) {
    const uint16_t p0 = s[0][i], p1 = s[1][i], p2 = s[2][i];
    maxIn[i] = std::max(p0, std::max(p1, p2));
    minIn[i] = std::min(p0, std::min(p1, p2));
    midIn[i] = static_cast<uint16_t>(p0 + p1 + p2 - maxIn[i] - minIn[i]);
  }
  for (uint32_t i = 0; i < n; ++i) {
    maxOut[i] = expanded[maxIn[i]];
    minOut[i] = expanded[minIn[i]];
  }
  for (uint32_t i = 0; i < n; ++i)
    midOut[i] = static_cast<uint16_t>(toneCurveMiddle(maxIn[i], minIn[i], midIn[i], maxOut[i], minOut[i]));
  for (int c = 0; c < 3; ++c)
    for (uint32_t i = 0; i < n; ++i)
      d[c][i] = static_cast<uint16_t>(toneCurveChannel(s[c][i], maxIn[i], minIn[i], maxOut[i], minOut[i], midOut[i]));
}

}  // namespace

void launchToneCurveHost(const ToneCurveArgs& a) {
  host::parallelRows(a.src.height, [&](int64_t y) {
    for (uint32_t x0 = 0; x0 < a.src.width; x0 += kRun) {
      const uint32_t n = a.src.width - x0 < kRun ? a.src.width - x0 : kRun;
      const uint16_t* s[3];
      uint16_t* d[3];
      for (int c = 0; c < 3; ++c) {
        s[c] = reinterpret_cast<const uint16_t*>(a.src.plane[c] + y * a.src.pitch) + x0;
        d[c] = reinterpret_cast<uint16_t*>(a.dst.plane[c] + y * a.dst.pitch) + x0;
      }
      toneCurveRun(s, d, n, a.expanded);
    }
  });
}

namespace {

uint64_t toneCurveRecordBytes(opixImageFilterType_t) { return kToneCurveEntries * sizeof(uint16_t); }

}  // namespace

constexpr FilterType kToneCurveTypes[] = {
    {OPIX_TONE_CURVE, "Tone Curve", kRgb16P},
};
extern const FilterDeclaration kToneCurveFilter{kToneCurveTypes, makeFilter<ImageFilterToneCurve>,
                                                toneCurveRecordBytes};

}  // namespace opix
