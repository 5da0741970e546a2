// The 3 x 3 median as a min/max network: each column of the window is sorted
// once, then the median is the middle of the columns' largest minimum,
// middle median and smallest maximum.
#pragma once

#include "common/NeighbourMath.h"

namespace opix {

template <class T>
struct Sorted3 {
  T lo, mid, hi;
};

template <class T>
OPIX_HD Sorted3<T> sort3(T a, T b, T c) {
  const T lo1 = minOf(a, b), hi1 = maxOf(a, b);
  const T t = maxOf(lo1, c);
  return {minOf(lo1, c), minOf(t, hi1), maxOf(t, hi1)};
}

template <class T>
OPIX_HD T median3(T a, T b, T c) {
  return maxOf(minOf(a, b), minOf(maxOf(a, b), c));
}

// Median of the nine samples of three sorted columns.
template <class T>
OPIX_HD T median9(const Sorted3<T>& l, const Sorted3<T>& c, const Sorted3<T>& r) {
  const T maxLo = maxOf(maxOf(l.lo, c.lo), r.lo);
  const T minHi = minOf(minOf(l.hi, c.hi), r.hi);
  return median3(maxLo, median3(l.mid, c.mid, r.mid), minHi);
}

}  // namespace opix
