// How the host drivers walk a row of a Bayer image: sites alternate along a
// row, so pixels go in pairs and each call has its site fixed at compile
// time, with no branch per pixel.
#pragma once

#include <cstdint>

#include "DebayerMath.h"
#include "opixDeviceSurfaceBuffer.h"

namespace opix {

// For x in [0, width): store(x, px.template at<Site>(x)), where Site is
// rggbPhase(x + shiftX, y) for a row whose phased index is y.
template <class PixelAt, class Store>
void forEachSiteOfRow(int width, int shiftX, int y, const PixelAt& px, Store&& store) {
  const int rowSite = (y & 1) << 1;  // site of an even phased column
  auto one = [&](int x) {
    const bool odd = (x + shiftX) & 1;
    if (rowSite == 0)
      store(x, odd ? px.template at<1>(x) : px.template at<0>(x));
    else
      store(x, odd ? px.template at<3>(x) : px.template at<2>(x));
  };
  int x = 0;
  if (shiftX & 1) one(x++);  // from here the phased column is even
  if (rowSite == 0) {
    for (; x + 1 < width; x += 2) {
      store(x, px.template at<0>(x));
      store(x + 1, px.template at<1>(x + 1));
    }
  } else {
    for (; x + 1 < width; x += 2) {
      store(x, px.template at<2>(x));
      store(x + 1, px.template at<3>(x + 1));
    }
  }
  if (x < width) one(x);
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
