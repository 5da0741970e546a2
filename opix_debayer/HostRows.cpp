#include "HostRows.h"

namespace opix {

void copyPlanarPixels(const SurfaceView& d, int64_t y, int x0, const uint16_t* r, const uint16_t* g, const uint16_t* b,
                      int n, bool stream) {
  if (!isInterleaved16(d.format)) {
    const PlanarRow o = planarRow(d, y);
    if (stream) {
      streamCopy(o.r + x0, r, n);
      streamCopy(o.g + x0, g, n);
      streamCopy(o.b + x0, b, n);
      return;
    }
    std::memcpy(o.r + x0, r, 2 * size_t(n));
    std::memcpy(o.g + x0, g, 2 * size_t(n));
    std::memcpy(o.b + x0, b, 2 * size_t(n));
    return;
  }
  host::interleave16(r, g, b, d.plane[0] + y * d.pitch + 6 * int64_t(x0), size_t(n), stream);
}

}  // namespace opix
