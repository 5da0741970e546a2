// The per-pixel maths of the flat-field correction, shared by both kernel
// drivers: node gains, their bilinear blend inside a 4 x 4 cell, the sample.
#pragma once

#include <cstdint>

#include "FilterMath.h"
#include "Hd.h"

namespace opix {

// Node rows of a grid for `pixels` columns or rows: one node every 4 pixels
// and one past the last.
OPIX_HD uint32_t ffcNodes(uint32_t pixels) { return (pixels + 3) / 4 + 1; }
// Bytes between node rows: 16-bit nodes, rows padded to whole 32-bit words.
OPIX_HD uint32_t ffcRowBytes(uint32_t width) { return (2 * ffcNodes(width) + 3) / 4 * 4; }

OPIX_HD float ffcNodeGain(float divider, uint32_t node) { return divider / static_cast<float>(node); }

// Gain at (dx, dy) of a cell from the gains of its corners: top left, top
// right, bottom left, bottom right.
OPIX_HD float ffcGain(float g00, float g10, float g01, float g11, uint32_t dx, uint32_t dy) {
  const float fx = static_cast<float>(dx), fy = static_cast<float>(dy);
  const float top = ((4.0f - fx) * g00 + fx * g10) * 0.25f;
  const float bottom = ((4.0f - fx) * g01 + fx * g11) * 0.25f;
  return ((4.0f - fy) * top + fy * bottom) * 0.25f;
}

OPIX_HD uint32_t ffcSample(uint32_t p, float gain, uint32_t hi) { return roundClamp(static_cast<float>(p) * gain, hi); }

}  // namespace opix
