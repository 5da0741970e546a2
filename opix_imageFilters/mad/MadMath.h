// The SAM filter's per-sample maths, shared by its two kernel drivers.
#pragma once

#include <cstdint>

#include "common/FilterMath.h"

namespace opix {

// Bytes per black shift matrix row for a frame width (below 65536): the
// kernels read whole 32-bit words, four 8-bit or two 16-bit values each.
inline uint32_t madShiftPitch(bool wideShift, uint32_t width) { return (width * (wideShift ? 2u : 1u) + 3u) / 4u * 4u; }

// SAM before the rounding: the black shift b is skipped for a saturated
// sample (p == hi). The shift is masked off rather than picked, so both
// conversions are always made (p - 0 is p exactly) and host rows vectorise:
// a conversion the compiler would otherwise move into one branch is one it
// may not execute speculatively.
OPIX_HD float madValue(uint32_t p, bool hasShift, int32_t b, bool hasFactor, float a, uint32_t hi) {
  const int32_t used = hasShift ? b & -static_cast<int32_t>(p != hi) : 0;
  const float v = static_cast<float>(p) - static_cast<float>(used);
  return hasFactor ? v * a : v;
}

OPIX_HD uint32_t madSample(uint32_t p, bool hasShift, int32_t b, bool hasFactor, float a, uint32_t hi) {
  return roundClamp(madValue(p, hasShift, b, hasFactor, a, hi), hi);
}

// The same value through selects, for host rows that vectorise (and the
// debayer's fused pre-operation copy on both drivers).
OPIX_HD uint32_t madSampleSelect(uint32_t p, bool hasShift, int32_t b, bool hasFactor, float a, uint32_t hi) {
  return static_cast<uint32_t>(
      roundHalfUpClampSelect(madValue(p, hasShift, b, hasFactor, a, hi), static_cast<int>(hi)));
}

// A row of n samples through madSampleSelect for host rows: b and f are the
// row's shift and factor matrices or null, and each presence gets a loop of
// its own, so the loops have no branch and vectorise.
template <bool Shift, bool Factor, class T, class S>
inline void madRunSelect(const T* s, T* d, const S* b, const float* f, int64_t n, uint32_t hi) {
  for (int64_t x = 0; x < n; ++x)
    d[x] = static_cast<T>(madSampleSelect(s[x], Shift, Shift ? b[x] : 0, Factor, Factor ? f[x] : 1.0f, hi));
}
template <class T, class S>
inline void madRowSelect(const T* s, T* d, const S* b, const float* f, int64_t n, uint32_t hi) {
  if (b && f)
    madRunSelect<true, true>(s, d, b, f, n, hi);
  else if (b)
    madRunSelect<true, false>(s, d, b, f, n, hi);
  else if (f)
    madRunSelect<false, true>(s, d, b, f, n, hi);
  else
    madRunSelect<false, false>(s, d, b, f, n, hi);
}

}  // namespace opix
