// The two drivers of the per-pixel filters: gray (one sample per pixel) and
// colour (RGB8 interleaved or three 16-bit planes), with one launcher that
// dispatches by backend.
#pragma once

#include <cstdint>

#include "DebayerMath.h"
#include "KernelLaunch.h"
#include "device/Parallel.h"
#include "opixDeviceSurfaceBuffer.h"

namespace opix {

struct GrayView {
  const unsigned char* src;
  uint32_t srcPitch;
  unsigned char* dst;
  uint32_t dstPitch;
  uint32_t width, height;
};

// Channel c of pixel x in row y is at plane[c] + y * pitch + x * step samples.
struct ColourView {
  const unsigned char* src[3];
  unsigned char* dst[3];
  uint32_t pitch;
  int step;
  uint32_t width, height;
};

template <class T, class Op>
void launchGrayCuda(const GrayView& v, const Op& op);
template <class T, class Op>
void launchColourCuda(const ColourView& v, const Op& op);

template <class T, class Op>
void launchGrayHost(const GrayView& v, const Op& op) {
  host::parallelRows(v.height, [&](int64_t y) {
    const T* s = reinterpret_cast<const T*>(v.src + y * v.srcPitch);
    T* d = reinterpret_cast<T*>(v.dst + y * v.dstPitch);
    for (uint32_t x = 0; x < v.width; ++x) d[x] = static_cast<T>(op(int(x), int(y), int(s[x])));
  });
}

template <class T, class Op>
void launchColourHost(const ColourView& v, const Op& op) {
  host::parallelRows(v.height, [&](int64_t y) {
    const T* s[3];
    T* d[3];
    for (int c = 0; c < 3; ++c) {
      s[c] = reinterpret_cast<const T*>(v.src[c] + y * v.pitch);
      d[c] = reinterpret_cast<T*>(v.dst[c] + y * v.pitch);
    }
    for (uint32_t x = 0; x < v.width; ++x) {
      const size_t i = size_t(x) * v.step;
      const Rgb o = op(int(s[0][i]), int(s[1][i]), int(s[2][i]));
      d[0][i] = static_cast<T>(o.r);
      d[1][i] = static_cast<T>(o.g);
      d[2][i] = static_cast<T>(o.b);
    }
  });
}

template <class T, class Op>
void runGray(const GrayView& v, const Op& op, const char* label) {
  if (onCuda())
    OPIX_CUDA_DRIVER((launchGrayCuda<T, Op>(v, op)));
  else
    host::launch([&] { launchGrayHost<T>(v, op); });
  launchCheck(label);
}

template <class T, class Op>
void runColour(const ColourView& v, const Op& op, const char* label) {
  if (onCuda())
    OPIX_CUDA_DRIVER((launchColourCuda<T, Op>(v, op)));
  else
    host::launch([&] { launchColourHost<T>(v, op); });
  launchCheck(label);
}

// Views of a source and destination surface of the same format.
inline GrayView grayView(const SurfaceView& s, const SurfaceView& d) {
  return {s.plane[0], s.pitch, d.plane[0], d.pitch, s.width, s.height};
}

inline ColourView colourView(const SurfaceView& s, const SurfaceView& d) {
  if (s.format == OPIX_RGB8)
    return {{s.plane[0], s.plane[0] + 1, s.plane[0] + 2}, {d.plane[0], d.plane[0] + 1, d.plane[0] + 2}, s.pitch, 3,
            s.width, s.height};
  return {{s.plane[0], s.plane[1], s.plane[2]}, {d.plane[0], d.plane[1], d.plane[2]}, s.pitch, 1, s.width, s.height};
}

}  // namespace opix
