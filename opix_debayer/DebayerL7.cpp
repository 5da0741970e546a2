#include "DebayerL7.h"

#include "HostRows.h"
#include "KernelLaunch.h"
#include "L7Math.h"
#include "device/Parallel.h"

namespace opix {

void DebayerL7::Launch(opixBayerPattern_t pattern, const WorkView& work, const SurfaceView& destination) {
  OPIX_KERNEL_LAUNCH("GPUDebayerL7", launchL7Cuda(work, destination, pattern),
                     launchL7Host(work, destination, pattern));
}

namespace {

using L7Rows = RowWindow<uint16_t, kL7Reach>;

// Columns x0 + 2j and x0 + 2j + 1 for j in [0, pairs), of sites Even and Odd,
// rounded through selects: the loop has neither branch nor pitch arithmetic
// and vectorises.
template <int Even, int Odd>
inline void l7Pairs(const L7Rows& s, int x0, int pairs, int hi, uint16_t* __restrict r, uint16_t* __restrict g,
                    uint16_t* __restrict b) {
#pragma GCC ivdep
  for (int j = 0; j < pairs; ++j) {
    const int x = x0 + 2 * j;
    const Rgb e = l7Pixel<Even>(s, x, 0, hi, RoundHalfUpClampSelect{});
    const Rgb o = l7Pixel<Odd>(s, x + 1, 0, hi, RoundHalfUpClampSelect{});
    r[x] = uint16_t(e.r);
    g[x] = uint16_t(e.g);
    b[x] = uint16_t(e.b);
    r[x + 1] = uint16_t(o.r);
    g[x + 1] = uint16_t(o.g);
    b[x + 1] = uint16_t(o.b);
  }
}

// Row y, whose phased index is y + sy, from the rows around it, in the vector
// widths the processor has.
OPIX_HOST_SIMD_CLONES __attribute__((flatten)) void l7Row(const L7Rows& w, int y, int width, int sx, int sy, int hi,
                                                          const PlanarRow& out) {
  uint16_t *r = out.r, *g = out.g, *b = out.b;
  const bool redRow = ((y + sy) & 1) == 0;  // sites 0 and 1, else 2 and 3
  auto one = [&](int x) {
    const bool odd = (x + sx) & 1;
    const Rgb p = redRow ? (odd ? l7Pixel<1>(w, x, 0, hi) : l7Pixel<0>(w, x, 0, hi))
                         : (odd ? l7Pixel<3>(w, x, 0, hi) : l7Pixel<2>(w, x, 0, hi));
    r[x] = uint16_t(p.r);
    g[x] = uint16_t(p.g);
    b[x] = uint16_t(p.b);
  };
  int x = 0;
  if (sx & 1) one(x++);  // from here the phased column is even
  const int pairs = (width - x) / 2;
  if (redRow)
    l7Pairs<0, 1>(w, x, pairs, hi, r, g, b);
  else
    l7Pairs<2, 3>(w, x, pairs, hi, r, g, b);
  x += 2 * pairs;
  if (x < width) one(x);
}

}  // namespace

void launchL7Host(const WorkView& work, const SurfaceView& d, int pattern) {
  const int hi = maxEstimate(work.format);
  const PatternShift shift = bayerShift(pattern);
  // The work image keeps the source's phase: phased row y is image row y.
  host::parallelFor(d.height, [&](int64_t begin, int64_t end) {
    WorkRowReader<uint16_t> rows(work, 8);
    PlanarRows16 out(d);
    static_assert(2 * kL7Reach + 1 <= 8, "a row's window fits the ring");
    for (int64_t y = begin; y < end; ++y) {
      L7Rows w{};
      for (int dy = -kL7Reach; dy <= kL7Reach; ++dy) w.row[dy + kL7Reach] = rows.row(int(y) + dy);
      l7Row(w, int(y), static_cast<int>(d.width), shift.sx, shift.sy, hi, out.row(y));
      out.deliver(y);
    }
  });
}

}  // namespace opix
