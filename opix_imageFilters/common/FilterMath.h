// The rounding of every float filter result and the largest sample of a bit
// depth. Both kernel drivers of every filter call these, so the backends agree
// bit for bit (no compiler contracts float expressions here; fmaf is written
// where one fused multiply-add is meant).
#pragma once

#include <cmath>
#include <cstdint>

#include "BayerTraits.h"
#include "Hd.h"
#include "PixelMath.h"

namespace opix {

// Round half up by adding 0.5 and truncating, clamped to 0 ... hi (NaN gives 0).
OPIX_HD uint32_t roundClamp(float v, uint32_t hi) {
  return static_cast<uint32_t>(roundHalfUpClamp(v, static_cast<int>(hi)));
}

// Largest sample value of a bit depth.
OPIX_HD uint32_t maxSample(int bits) { return (1u << bits) - 1u; }

// Host rows of a per-site step on a Bayer row: d[x] = fn(sample, e) at even
// columns and fn(sample, o) at odd ones, a pair of columns at a time so the
// loop vectorises. In place (in == d) the row is read through d itself, so
// the loop needs no overlap test.
template <bool InPlace, class T, class Fn>
inline void sitePairRun(const T* in, T* d, int64_t n, float e, float o, const Fn& fn) {
  const T* src = InPlace ? d : in;
  int64_t x = 0;
  for (; x + 1 < n; x += 2) {
    d[x] = static_cast<T>(fn(src[x], e));
    d[x + 1] = static_cast<T>(fn(src[x + 1], o));
  }
  if (x < n) d[x] = static_cast<T>(fn(src[x], e));
}
template <class T, class Fn>
inline void sitePairRow(const T* in, T* d, int64_t n, float e, float o, const Fn& fn) {
  if (in == d)
    sitePairRun<true>(in, d, n, e, o, fn);
  else
    sitePairRun<false>(in, d, n, e, o, fn);
}

}  // namespace opix
