// The per-sample maths of the one-dimensional look-up tables, shared by both
// kernel drivers.
#pragma once

#include <cstdint>

#include "BayerTraits.h"
#include "Hd.h"

namespace opix {

// How a sample indexes its table.
enum class LutIndexing : int {
  Masked,        // T[v & (entries - 1)]: 8-, 10-, 12- and 14-bit inputs
  Interpolated,  // 16 bits to 16 bits: 16384 entries (and a repeated last one), 2 fraction bits
  Shifted,       // 16 bits to 8 bits: T[v >> 2]
  FullRange,     // T[v] over 65536 entries, read through a texture
};

template <class T>
OPIX_HD uint32_t lutMasked(const T* table, uint32_t v, uint32_t mask) {
  return table[v & mask];
}

// The table holds 16385 entries, the last a copy of entry 16383.
template <class T>
OPIX_HD uint32_t lutInterpolated(const T* table, uint32_t v) {
  const uint32_t i = (v >> 2) & 16383u, f = v & 3u;
  return ((4u - f) * uint32_t(table[i]) + f * uint32_t(table[i + 1])) >> 2;
}

template <class T>
OPIX_HD uint32_t lutShifted(const T* table, uint32_t v) {
  return table[(v >> 2) & 16383u];
}

template <class T>
OPIX_HD uint32_t lutLookup(LutIndexing indexing, const T* table, uint32_t v, uint32_t mask) {
  switch (indexing) {
    case LutIndexing::Interpolated: return lutInterpolated(table, v);
    case LutIndexing::Shifted: return lutShifted(table, v);
    default: return lutMasked(table, v, mask);
  }
}

// The table (0 red, 1 green, 2 blue) of a raw sample at (x, y) under a Bayer
// pattern: both green sites share the green table.
OPIX_HD int lutBayerTable(int pattern, int x, int y) { return cellSiteColour(bayerCellSite(pattern, x, y)); }

}  // namespace opix
