// The per-pixel maths of the flat-field correction, shared by both kernel
// drivers: node gains, their bilinear blend inside a 4 x 4 cell, the sample.
#pragma once

#include <cstdint>

#include "Hd.h"
#include "common/FilterMath.h"

namespace opix {

// Node rows of a grid for `pixels` columns or rows: one node every 4 pixels
// and one past the last.
OPIX_HD uint32_t ffcNodes(uint32_t pixels) { return (pixels + 3) / 4 + 1; }
// Bytes between node rows: 16-bit nodes, rows padded to whole 32-bit words.
OPIX_HD uint32_t ffcRowBytes(uint32_t width) { return (2 * ffcNodes(width) + 3) / 4 * 4; }

OPIX_HD float ffcNodeGain(float divider, uint32_t node) { return divider / static_cast<float>(node); }

// Gain at dx along a cell's edge from the gains of its two corners.
OPIX_HD float ffcEdge(float g0, float g1, uint32_t dx) {
  const float fx = static_cast<float>(dx);
  return ((4.0f - fx) * g0 + fx * g1) * 0.25f;
}

// Gain at dy between the cell's top and bottom edge gains.
OPIX_HD float ffcBlend(float top, float bottom, uint32_t dy) {
  const float fy = static_cast<float>(dy);
  return ((4.0f - fy) * top + fy * bottom) * 0.25f;
}

// Gain at (dx, dy) of a cell from the gains of its corners: top left, top
// right, bottom left, bottom right.
OPIX_HD float ffcGain(float g00, float g10, float g01, float g11, uint32_t dx, uint32_t dy) {
  return ffcBlend(ffcEdge(g00, g10, dx), ffcEdge(g01, g11, dx), dy);
}

// p x gain + 0.5, truncated, within 0 ... hi (NaN gives 0): roundClamp
// written with selects only, which the host compiler vectorises.
OPIX_HD uint32_t ffcSample(uint32_t p, float gain, uint32_t hi) {
  const float v = static_cast<float>(p) * gain + 0.5f;
  const float hiF = static_cast<float>(hi);
  float r = v > 0.0f ? v : 0.0f;
  r = r < hiF ? r : hiF;
  return static_cast<uint32_t>(static_cast<int32_t>(r));
}

}  // namespace opix
