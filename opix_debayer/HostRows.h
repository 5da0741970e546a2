// How the host drivers reach the rows of a work image and store rows of
// the debayer's destination formats.
#pragma once

#include <cstdint>

#include "DebayerMath.h"
#include "DeviceSurfaceBuffer.h"

namespace opix {

// The rows Y - R to Y + R of a work image around phased row Y, by row
// pointer: s(x, dy) is the sample at phased column x of row Y + dy. A row's
// loop over them has no pitch arithmetic, so the compiler vectorises it.
template <class T, int R>
struct RowWindow {
  const T* row[2 * R + 1];
  int operator()(int x, int dy) const { return row[dy + R][x]; }
};

template <int R, class T>
RowWindow<T, R> rowWindow(const WorkSamples<T>& s, int Y) {
  RowWindow<T, R> w{};
  for (int dy = -R; dy <= R; ++dy) w.row[dy + R] = s.origin + int64_t(Y + dy) * s.pitch;
  return w;
}

// The samples of a work image by phased position, (0, 0) at work (A, A).
template <class T>
WorkSamples<T> phasedSamples(const WorkView& work) {
  const int64_t pitch = work.pitch / sizeof(T);
  return {reinterpret_cast<const T*>(work.base) + int64_t(work.apron) * pitch + work.apron, pitch};
}

// Row stores into the destination formats of the debayer.
struct Rgb8Row {
  unsigned char* out;
  void operator()(int x, Rgb p) const {
    out[3 * x] = static_cast<unsigned char>(p.r);
    out[3 * x + 1] = static_cast<unsigned char>(p.g);
    out[3 * x + 2] = static_cast<unsigned char>(p.b);
  }
};

struct PlanarRow {
  uint16_t* r;
  uint16_t* g;
  uint16_t* b;
  void operator()(int x, Rgb p) const {
    r[x] = static_cast<uint16_t>(p.r);
    g[x] = static_cast<uint16_t>(p.g);
    b[x] = static_cast<uint16_t>(p.b);
  }
};

inline PlanarRow planarRow(const SurfaceView& d, int64_t y) {
  return {reinterpret_cast<uint16_t*>(d.plane[0] + y * d.pitch), reinterpret_cast<uint16_t*>(d.plane[1] + y * d.pitch),
          reinterpret_cast<uint16_t*>(d.plane[2] + y * d.pitch)};
}

}  // namespace opix
