// Maths shared by the neighbourhood filters' drivers: where a window reaches
// past the image, and the small min/max helpers of their networks.
#pragma once

#include <cstdint>

#include "Hd.h"

namespace opix {

template <class T>
OPIX_HD T minOf(T a, T b) {
  return a < b ? a : b;
}
template <class T>
OPIX_HD T maxOf(T a, T b) {
  return a < b ? b : a;
}

// Index i of a window over n samples, replaced by the nearest edge index.
OPIX_HD int clampIndex(int i, int n) { return i < 0 ? 0 : (i >= n ? n - 1 : i); }

// Index i mirrored about the first and last sample without repeating them
// (-1 reads 1, n reads n - 2), so a Bayer site keeps its colour; a line too
// short to mirror reads its edge sample.
OPIX_HD int mirrorIndex(int i, int n) {
  if (i < 0) i = -i;
  if (i >= n) i = 2 * (n - 1) - i;
  return clampIndex(i, n);
}

}  // namespace opix
