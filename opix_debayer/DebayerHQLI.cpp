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

// Every source row is split once into its even and its odd phased columns,
// in a ring of the five rows an output row reads, so that a row of output is
// two sites a pair of columns, each evaluated once and in vectors with no
// stride. Pair m holds phased columns 2m and 2m + 1 and sits at index m + 1
// of its halves; index 0 is pair -1. 8-bit halves are int16_t and their sums
// are taken in 16-bit lanes (they fit: see hqliPixel); 12- and 16-bit halves
// are uint16_t, summed in int.
template <class H>
struct Halves {
  const H* even[5];  // rows Y - 2 to Y + 2
  const H* odd[5];
};

// The sample dx columns and dy rows from the even column of pair j - 1;
// dx is known at compile time, so the half and the index fold away.
template <class H>
struct PairSamples {
  const Halves<H>& h;
  int j;
  int operator()(int dx, int dy) const {
    if (dx & 1) return h.odd[dy + 2][j + (dx >> 1)];
    return h.even[dy + 2][j + (dx >> 1)];
  }
};

// Source row `row` (phased column 0) into its halves, phased columns
// [-2, last] and none past last: a pair that reaches beyond it gets a zero,
// read only by a pixel that is not stored.
template <class T, class H>
OPIX_HOST_SIMD_CLONES void splitRow(const T* __restrict row, int last, H* __restrict even, H* __restrict odd) {
  const int pairs = (last + 3) >> 1;  // whole pairs from column -2
  const T* __restrict p = row - 2;
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
inline void hqliPairs8(const Halves<int16_t>& h, int pairs, const PairWords& out) {
  constexpr int kEven = 2 * P, kOdd = 2 * P + 1;
  uint16_t* __restrict w0 = out.w[0], * __restrict w1 = out.w[1], * __restrict w2 = out.w[2];
#pragma GCC ivdep
  for (int m = 0; m < pairs; ++m) {
    const PairSamples<int16_t> s{h, m + 1};
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

OPIX_HOST_SIMD_CLONES __attribute__((flatten)) void hqliRow8(const Halves<int16_t>& h, int Y, int pairs,
                                                             const PairWords& out) {
  static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the words of a pair are stored in host byte order");
  Y & 1 ? hqliPairs8<1>(h, pairs, out) : hqliPairs8<0>(h, pairs, out);
}

// The pair words of a plane's row: a pair's even column in the low half,
// the destination's sample order on a little-endian host.
struct PairPlanes {
  uint32_t* plane[3];
};

template <int P>
inline void hqliPairs16(const Halves<uint16_t>& h, int pairs, int hi, const PairPlanes& out) {
  constexpr int kEven = 2 * P, kOdd = 2 * P + 1;
  uint32_t* __restrict r = out.plane[0], * __restrict g = out.plane[1], * __restrict b = out.plane[2];
#pragma GCC ivdep
  for (int m = 0; m < pairs; ++m) {
    const PairSamples<uint16_t> s{h, m + 1};
    const Rgb e = hqliClamp<kEven>(hqliPixel<kEven>(s, 0, 0), hi);
    const Rgb o = hqliClamp<kOdd>(hqliPixel<kOdd>(s, 1, 0), hi);
    r[m] = uint32_t(e.r) | uint32_t(o.r) << 16;
    g[m] = uint32_t(e.g) | uint32_t(o.g) << 16;
    b[m] = uint32_t(e.b) | uint32_t(o.b) << 16;
  }
}

OPIX_HOST_SIMD_CLONES __attribute__((flatten)) void hqliRow16(const Halves<uint16_t>& h, int Y, int pairs, int hi,
                                                              const PairPlanes& out) {
  static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the samples of a pair are stored in host byte order");
  Y & 1 ? hqliPairs16<1>(h, pairs, hi, out) : hqliPairs16<0>(h, pairs, hi, out);
}

// Destination rows [begin, end) of width w: their source rows split once
// each into a ring of five, and emit(h, Y, y) makes destination row y from
// the halves of phased rows Y - 2 to Y + 2.
template <class T, class H, class Emit>
void hqliRingRows(const WorkView& work, int w, int sx, int sy, int64_t begin, int64_t end, const Emit& emit) {
  const int last = sx + w + 1;          // last phased column read
  const int n = ((last + 3) >> 1) + 1;  // halves' entries, a pair to spare
  std::vector<H> ring(size_t(10) * n);
  WorkRowReader<T> rows(work);
  auto split = [&](int Y) {
    const int slot = (Y + 10) % 5;  // Y >= -2
    splitRow(rows.row(Y), last, ring.data() + size_t(2 * slot) * n, ring.data() + size_t(2 * slot + 1) * n);
  };
  const int first = int(begin) + sy;
  for (int Y = first - 2; Y < first + 2; ++Y) split(Y);
  for (int64_t y = begin; y < end; ++y) {
    const int Y = int(y) + sy;
    split(Y + 2);
    Halves<H> h{};
    for (int k = 0; k < 5; ++k) {
      const int slot = (Y - 2 + k + 10) % 5;
      h.even[k] = ring.data() + size_t(2 * slot) * n;
      h.odd[k] = ring.data() + size_t(2 * slot + 1) * n;
    }
    emit(h, Y, y);
  }
}

// 8-bit rows: the pixels of a row to a row of words, copied from the pair of
// phased column sx.
void hqliRows8(const WorkView& work, const SurfaceView& d, int sx, int sy, int64_t begin, int64_t end) {
  const int w = static_cast<int>(d.width);
  const int pairs = ((sx + w - 1) >> 1) + 1;  // pairs holding a pixel
  std::vector<uint16_t> words(size_t(6) * pairs);
  const PairWords out{{words.data() + 3 * pairs, words.data() + 4 * pairs, words.data() + 5 * pairs}, words.data()};
  hqliRingRows<uint8_t, int16_t>(work, w, sx, sy, begin, end, [&](const Halves<int16_t>& h, int Y, int64_t y) {
    hqliRow8(h, Y, pairs, out);
    copyRgb8Pixels(d.plane[0] + y * d.pitch, reinterpret_cast<const unsigned char*>(words.data()) + 3 * (sx & 1), w,
                   isBgr8(d.format));
  });
}

// 12- and 16-bit rows: a plane's pairs to a row of words, copied from the
// pair of phased column sx (streamed where the frame outgrows the caches).
void hqliRows16(const WorkView& work, const SurfaceView& d, int sx, int sy, int hi, int64_t begin, int64_t end) {
  const int w = static_cast<int>(d.width);
  const int pairs = ((sx + w - 1) >> 1) + 1;
  std::vector<uint32_t> words(size_t(3) * pairs);
  const PairPlanes out{{words.data(), words.data() + pairs, words.data() + 2 * pairs}};
  const bool stream = streamsColour16(d);
  hqliRingRows<uint16_t, uint16_t>(work, w, sx, sy, begin, end, [&](const Halves<uint16_t>& h, int Y, int64_t y) {
    hqliRow16(h, Y, pairs, hi, out);
    const auto plane = [&](int c) { return reinterpret_cast<const uint16_t*>(out.plane[c]) + (sx & 1); };
    copyPlanarPixels(d, y, 0, plane(0), plane(1), plane(2), w, stream);
  });
  if (stream) host::streamFence();
}

}  // namespace

void launchHQLIHost(const WorkView& work, const SurfaceView& d, int sx, int sy) {
  if (work.format == OPIX_I8) {
    host::parallelFor(d.height, [&](int64_t begin, int64_t end) { hqliRows8(work, d, sx, sy, begin, end); });
  } else {
    const int hi = maxEstimate(work.format);
    host::parallelFor(d.height, [&](int64_t begin, int64_t end) { hqliRows16(work, d, sx, sy, hi, begin, end); });
  }
}

}  // namespace opix
