// The 3 x 3 Gaussian filters' convolution. The kernel is symmetric, so a
// sample is the centre weight times itself plus the edge weight times the sum
// of its four edge neighbours plus the corner weight times the sum of its four
// corners; the sums are exact integers, so both drivers agree bit for bit.
#pragma once

#include <cstdint>

#include "common/FilterMath.h"

namespace opix {

struct GaussianWeights {
  float centre, edge, corner;
};

// Rounded half up and clamped to 0 ... hi like every float filter result
// (NaN gives 0), written as selects so that host loops vectorise.
OPIX_HD uint32_t gaussianSample(uint32_t centre, uint32_t edgeSum, uint32_t cornerSum, const GaussianWeights& w,
                                uint32_t hi) {
  // The sums are below 2^18: converted through int32_t, the same values, and
  // a conversion the vector units have.
  const float v = w.centre * static_cast<float>(static_cast<int32_t>(centre)) +
                  w.edge * static_cast<float>(static_cast<int32_t>(edgeSum)) +
                  w.corner * static_cast<float>(static_cast<int32_t>(cornerSum));
  float t = v + 0.5f;
  t = t > 0.0f ? t : 0.0f;
  t = t < static_cast<float>(hi) ? t : static_cast<float>(hi);
  return static_cast<uint32_t>(static_cast<int32_t>(t));
}

}  // namespace opix
