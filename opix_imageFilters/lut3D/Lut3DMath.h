// The per-pixel maths of the three-dimensional look-up tables, shared by both
// kernel drivers. The three tables are read through float textures with
// linear filtering (textureLinear3D), so both drivers weigh the grid the same.
#pragma once

#include <cmath>
#include <cstdint>

#include "DeviceSurfaceBuffer.h"
#include "Hd.h"
#include "TextureRead.h"
#include "colorSaturation/ColorSaturationMath.h"

namespace opix {

// The host driver's copy of the three tables, node by node (ImageFilterLut3D.cpp).
struct Lut3DNodes;

// What both drivers of the pass receive.
struct Lut3DArgs {
  SurfaceView src, dst;  // RGB12_PLANAR or RGB16_PLANAR, same size
  int bits;              // 12 or 16
  bool hsv;              // HSV table (hue offset, saturation and value factors), else RGB
  TextureView table[3];  // H, S, V or R, G, B
  float scale[3];        // grid units per unit of the first, second and third coordinate
  // Host backend: the tables' copy, and the count of the tables put into the
  // arrays so far; the copy is remade from the arrays when it holds older ones.
  Lut3DNodes* nodes = nullptr;
  uint64_t tablesVersion = 0;
};

// A texture coordinate: v in grid units (scale: nodes per unit of v) to the
// unnormalised coordinate, node i centred at i + 0.5.
OPIX_HD float lut3DCoordinate(float scale, float v) { return scale * v + 0.5f; }

// A table result to a sample: + 0.5, truncated, within 0 ... hi.
OPIX_HD uint32_t lut3DSample(float v, uint32_t hi) {
  const float s = v + 0.5f;
  if (!(s > 0.0f)) return 0;
  return s >= static_cast<float>(hi) ? hi : static_cast<uint32_t>(s);
}

// The three tables at one point (their extents are the same).
OPIX_HD void lut3DFetch(const Lut3DArgs& a, float x, float y, float z, float (&v)[3]) {
#if defined(__CUDA_ARCH__)
  for (int c = 0; c < 3; ++c) v[c] = textureLinear3D(a.table[c], x, y, z);
#else
  const LinearTaps3D taps = linearTaps3D(a.table[0], x, y, z);
  for (int c = 0; c < 3; ++c) v[c] = textureLinear3D(a.table[c], taps);
#endif
}

// RGB table: the raw samples index the grid (R along its width, G its
// height, B its depth); the three tables give the new samples.
OPIX_HD void lut3DRgbPixel(const Lut3DArgs& a, uint32_t (&px)[3]) {
  const uint32_t hi = a.bits == 12 ? 4095u : 65535u;
  const float x = lut3DCoordinate(a.scale[0], static_cast<float>(px[0] & hi));
  const float y = lut3DCoordinate(a.scale[1], static_cast<float>(px[1] & hi));
  const float z = lut3DCoordinate(a.scale[2], static_cast<float>(px[2] & hi));
  float v[3];
  lut3DFetch(a, x, y, z, v);
  for (int c = 0; c < 3; ++c) px[c] = lut3DSample(v[c], hi);
}

// HSV table: the pixel's hue (degrees), saturation and value index the grid
// (hue along its width, saturation its height, value its depth); the hue
// table's value is added to the hue, which wraps around 360, the other two
// multiply saturation and value, which are kept within [0, 1].
OPIX_HD void lut3DHsvPixel(const Lut3DArgs& a, uint32_t (&px)[3]) {
  const uint32_t hi = a.bits == 12 ? 4095u : 65535u;
  const float unit = a.bits == 12 ? 4096.0f : 65536.0f;
  const float r = static_cast<float>(px[0] & hi) / unit;
  const float g = static_cast<float>(px[1] & hi) / unit;
  const float b = static_cast<float>(px[2] & hi) / unit;
  const float mx = r > g ? (r > b ? r : b) : (g > b ? g : b);
  const float mn = r < g ? (r < b ? r : b) : (g < b ? g : b);
  const float h = hueOf(r, g, b, mx, mn);
  const float hue = 360.0f * h;
  const float sat = mx == 0.0f ? 0.0f : 1.0f - mn / mx;
  const float val = mx;
  const float x = lut3DCoordinate(a.scale[0], hue);
  const float y = lut3DCoordinate(a.scale[1], sat);
  const float z = lut3DCoordinate(a.scale[2], val);
  float lut[3];
  lut3DFetch(a, x, y, z, lut);
  float h2 = hue + lut[0];
  h2 = h2 - 360.0f * floorf(h2 / 360.0f);
  const float ss = clampUnit(sat * lut[1]);
  const float vv = clampUnit(val * lut[2]);
  float rgb[3];
  hsvToRgb(h2 / 360.0f, ss, vv, rgb);
  for (int c = 0; c < 3; ++c) px[c] = saturationSample(rgb[c], unit, hi);
}

// ---------------------------------------------------------- select forms
// The steps of lut3DHsvPixel around its read of the tables, and the samples
// of both tables, through selects, for host rows that vectorise (the
// values of the shared steps for every input).

// A pixel's hue (degrees), saturation and value.
OPIX_HD void lut3DHsvOfSelect(float r, float g, float b, float (&hsv)[3]) {
  hsxSelect<true>(r, g, b, hsv);
  hsv[0] = 360.0f * hsv[0];
}

// The table's values applied to them, back to RGB.
OPIX_HD void lut3DHsvApplySelect(const float (&hsv)[3], const float (&lut)[3], float (&rgb)[3]) {
  float h2 = hsv[0] + lut[0];
  h2 = h2 - 360.0f * floorf(h2 / 360.0f);
  const float ss = clampUnit(hsv[1] * lut[1]);
  const float vv = clampUnit(hsv[2] * lut[2]);
  hsvToRgbSelect(h2 / 360.0f, ss, vv, rgb);
}

// lut3DSample (hi below 2^24).
OPIX_HD uint32_t lut3DSampleSelect(float v, uint32_t hi) {
  return static_cast<uint32_t>(saturateTruncateSelect(v + 0.5f, static_cast<int>(hi)));
}

OPIX_HD void lut3DPixel(const Lut3DArgs& a, uint32_t (&px)[3]) {
  if (a.hsv)
    lut3DHsvPixel(a, px);
  else
    lut3DRgbPixel(a, px);
}

}  // namespace opix
