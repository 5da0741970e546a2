// How the host drivers walk a row of a Bayer image: sites alternate along a
// row, and each evaluation has its site fixed at compile time, with no
// branch per pixel.
#pragma once

#include <cstdint>

#include "DebayerMath.h"
#include "DeviceSurfaceBuffer.h"

namespace opix {

// One row of forEachPixelOfRow, its two sites Even and Odd.
template <int Even, int Odd, class PixelAt, class Store>
inline void bothSitesOfRow(int width, int shiftX, const PixelAt& px, const Store& store) {
#pragma GCC ivdep
  for (int x = 0; x < width; ++x) {
    const Rgb a = px.template at<Even>(x);
    const Rgb b = px.template at<Odd>(x);
    store(x, ((x + shiftX) & 1) ? b : a);
  }
}

// The same in vectors: both sites of the row are evaluated at every column
// and the column's own one kept, so that the loop vectorises with neither
// branch nor stride. The stores must not overlap what px reads.
template <class PixelAt, class Store>
inline void forEachPixelOfRow(int width, int shiftX, int y, const PixelAt& px, const Store& store) {
  if (y & 1)
    bothSitesOfRow<2, 3>(width, shiftX, px, store);
  else
    bothSitesOfRow<0, 1>(width, shiftX, px, store);
}

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
