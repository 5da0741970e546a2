#include "HostRows.h"

#include "device/Parallel.h"

namespace opix {

OPIX_HOST_SIMD_CLONES void copyRgb8Pixels(unsigned char* out, const unsigned char* rgb, int n, bool bgr) {
  const size_t bytes = 3 * size_t(n);
  if (!bgr) {
    if (out != rgb) std::memmove(out, rgb, bytes);
    return;
  }
  // Five pixels a 16-byte block, blocks 15 bytes apart: a block's last byte
  // (the next pixel's first) goes out unchanged and the next block writes it
  // again, swapped, so the swap also runs in place.
  typedef unsigned char Bytes16 __attribute__((vector_size(16)));
  const Bytes16 swap = {2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15};
  size_t i = 0;
  for (; i + 16 <= bytes; i += 15) {
    Bytes16 v;
    std::memcpy(&v, rgb + i, 16);
    v = __builtin_shuffle(v, swap);
    std::memcpy(out + i, &v, 16);
  }
  for (; i < bytes; i += 3) {
    const unsigned char r = rgb[i];
    out[i] = rgb[i + 2];
    out[i + 1] = rgb[i + 1];
    out[i + 2] = r;
  }
}

OPIX_HOST_SIMD_CLONES void copyPlanarPixels(const SurfaceView& d, int64_t y, int x0, const uint16_t* r,
                                            const uint16_t* g, const uint16_t* b, int n) {
  if (!isInterleaved16(d)) {
    const PlanarRow o = planarRow(d, y);
    std::memcpy(o.r + x0, r, 2 * size_t(n));
    std::memcpy(o.g + x0, g, 2 * size_t(n));
    std::memcpy(o.b + x0, b, 2 * size_t(n));
    return;
  }
  uint16_t* __restrict o = reinterpret_cast<uint16_t*>(d.plane[0] + y * d.pitch) + 3 * int64_t(x0);
  for (int x = 0; x < n; ++x) {
    o[3 * x] = r[x];
    o[3 * x + 1] = g[x];
    o[3 * x + 2] = b[x];
  }
}

}  // namespace opix
