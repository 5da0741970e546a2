#include "DebayerHQLI.h"

#include <cstring>
#include <vector>

#include "BayerTraits.h"
#include "HQLIMath.h"
#include "HostRows.h"
#include "KernelLaunch.h"
#include "device/Parallel.h"

namespace opix {

void DebayerHQLI::Launch(opixBayerPattern_t pattern, const WorkView& work, const SurfaceView& destination) {
  const PatternShift s = bayerShift(pattern);
  OPIX_KERNEL_LAUNCH("GPUMalvarDebayer", launchHQLICuda(work, destination, s.sx, s.sy),
                     launchHQLIHost(work, destination, s.sx, s.sy));
}

namespace {

// The pixels of a row from its five rows of samples; x is the destination
// column, phased column x + sx.
template <class T>
struct HQLIRowPixels {
  RowWindow<T, 2> s;
  int sx, hi;
  template <int Site>
  Rgb at(int x) const {
    return hqliClamp<Site>(hqliPixel<Site>(s, x + sx, 0), hi);
  }
};

OPIX_HOST_SIMD_CLONES __attribute__((flatten)) void hqliRow16(const RowWindow<uint16_t, 2>& s, int sx, int Y, int width,
                                                              int hi, const PlanarRow& out) {
  forEachPixelOfRow(width, sx, Y, HQLIRowPixels<uint16_t>{s, sx, hi}, out);
}

// 8-bit rows: every source row is split once into its even and its odd
// phased columns as int16_t, in a ring of the five rows an output row reads,
// so that a row of output is two sites a pair of columns, each evaluated once,
// in 16-bit lanes (the sums fit: see hqliPixel). Pair m holds phased columns
// 2m and 2m + 1 and sits at index m + 1 of its halves; index 0 is pair -1.
struct Halves8 {
  const int16_t* even[5];  // rows Y - 2 to Y + 2
  const int16_t* odd[5];
};

// The sample dx columns and dy rows from the even column of pair j - 1;
// dx is known at compile time, so the half and the index fold away.
struct PairSamples8 {
  const Halves8& h;
  int j;
  int operator()(int dx, int dy) const {
    if (dx & 1) return h.odd[dy + 2][j + (dx >> 1)];
    return h.even[dy + 2][j + (dx >> 1)];
  }
};

// Source row `row` (phased column 0) into its halves, phased columns
// [-2, last] and none past last: a pair that reaches beyond it gets a zero,
// read only by a pixel that is not stored.
OPIX_HOST_SIMD_CLONES void splitRow8(const uint8_t* __restrict row, int last, int16_t* __restrict even,
                                     int16_t* __restrict odd) {
  const int pairs = (last + 3) >> 1;  // whole pairs from column -2
  const uint8_t* __restrict p = row - 2;
  for (int j = 0; j < pairs; ++j) {
    even[j] = p[2 * j];
    odd[j] = p[2 * j + 1];
  }
  if (!((last + 3) & 1)) return;
  even[pairs] = p[2 * pairs];
  odd[pairs] = 0;
}

// The words of a row's pairs, three a pair: (r0, g0), (b0, r1), (g1, b1),
// the destination's byte order on a little-endian host.
struct PairWords {
  uint16_t* w[3];  // the pairs' first, second and third words, a plane each
  uint16_t* row;   // interleaved
};

// Pairs [0, pairs) of a row of parity P. The words go to planes first, then
// are interleaved in a loop of their own: stores three apart in the same loop
// as the maths were left element by element in some of the clones.
template <int P>
inline void hqliPairs8(const Halves8& h, int pairs, const PairWords& out) {
  constexpr int kEven = 2 * P, kOdd = 2 * P + 1;
  uint16_t* __restrict w0 = out.w[0], * __restrict w1 = out.w[1], * __restrict w2 = out.w[2];
#pragma GCC ivdep
  for (int m = 0; m < pairs; ++m) {
    const PairSamples8 s{h, m + 1};
    const Rgb a = hqliClamp<kEven>(hqliPixel<kEven, int16_t>(s, 0, 0), 255);
    const Rgb b = hqliClamp<kOdd>(hqliPixel<kOdd, int16_t>(s, 1, 0), 255);
    w0[m] = static_cast<uint16_t>(a.r | (a.g << 8));
    w1[m] = static_cast<uint16_t>(a.b | (b.r << 8));
    w2[m] = static_cast<uint16_t>(b.g | (b.b << 8));
  }
  uint16_t* __restrict row = out.row;
  for (int m = 0; m < pairs; ++m) {
    row[3 * m] = w0[m];
    row[3 * m + 1] = w1[m];
    row[3 * m + 2] = w2[m];
  }
}

OPIX_HOST_SIMD_CLONES __attribute__((flatten)) void hqliRow8(const Halves8& h, int Y, int pairs, const PairWords& out) {
  static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the words of a pair are stored in host byte order");
  Y & 1 ? hqliPairs8<1>(h, pairs, out) : hqliPairs8<0>(h, pairs, out);
}

// Destination rows [begin, end): their source rows split once each into a
// ring of five, the pixels of a row to a row of words, copied from the pair
// of phased column sx.
void hqliRows8(const WorkSamples<uint8_t>& s, const SurfaceView& d, int sx, int sy, int64_t begin, int64_t end) {
  const int w = static_cast<int>(d.width);
  const int last = sx + w + 1;                // last phased column read
  const int n = ((last + 3) >> 1) + 1;        // halves' entries, a pair to spare
  const int pairs = ((sx + w - 1) >> 1) + 1;  // pairs holding a pixel
  std::vector<int16_t> ring(size_t(10) * n);
  std::vector<uint16_t> words(size_t(6) * pairs);
  const PairWords out{{words.data() + 3 * pairs, words.data() + 4 * pairs, words.data() + 5 * pairs}, words.data()};
  auto split = [&](int Y) {
    const int slot = (Y + 10) % 5;  // Y >= -2
    splitRow8(s.origin + int64_t(Y) * s.pitch, last, ring.data() + size_t(2 * slot) * n,
              ring.data() + size_t(2 * slot + 1) * n);
  };
  const int first = int(begin) + sy;
  for (int Y = first - 2; Y < first + 2; ++Y) split(Y);
  for (int64_t y = begin; y < end; ++y) {
    const int Y = int(y) + sy;
    split(Y + 2);
    Halves8 h{};
    for (int k = 0; k < 5; ++k) {
      const int slot = (Y - 2 + k + 10) % 5;
      h.even[k] = ring.data() + size_t(2 * slot) * n;
      h.odd[k] = ring.data() + size_t(2 * slot + 1) * n;
    }
    hqliRow8(h, Y, pairs, out);
    std::memcpy(d.plane[0] + y * d.pitch, reinterpret_cast<const unsigned char*>(words.data()) + 3 * (sx & 1),
                3 * size_t(w));
  }
}

}  // namespace

void launchHQLIHost(const WorkView& work, const SurfaceView& d, int sx, int sy) {
  const int w = static_cast<int>(d.width);
  if (work.format == OPIX_I8) {
    const WorkSamples<uint8_t> s = phasedSamples<uint8_t>(work);
    host::parallelFor(d.height, [&](int64_t begin, int64_t end) { hqliRows8(s, d, sx, sy, begin, end); });
  } else {
    const int hi = maxEstimate(work.format);
    const WorkSamples<uint16_t> s = phasedSamples<uint16_t>(work);
    host::parallelRows(d.height, [&](int64_t y) {
      const int Y = int(y) + sy;
      hqliRow16(rowWindow<2>(s, Y), sx, Y, w, hi, planarRow(d, y));
    });
  }
}

}  // namespace opix
