#include "DebayerDFPD.h"

#include <cstring>
#include <memory>
#include <vector>

#include "BayerTraits.h"
#include "DFPDMath.h"
#include "HostRows.h"
#include "KernelLaunch.h"
#include "MemSpace.h"
#include "device/Parallel.h"

#define OPIX_SOURCE "opix_debayer/DebayerDFPD"

namespace opix {

void DebayerDFPD8::Launch(opixBayerPattern_t pattern, const WorkView& work, const SurfaceView& destination) {
  const PatternShift s = bayerShift(pattern);
  OPIX_KERNEL_LAUNCH("GPUMenonDebayer8Bit", launchDFPD8Cuda(work, destination, s.sx, s.sy),
                     launchDFPDHost(work, destination, s.sx, s.sy));
}

void DebayerDFPD16::Init(opixSurfaceFormat_t sourceFormat, opixDebayerType_t type, uint32_t maxWidth,
                         uint32_t maxHeight, opixDeviceSurfaceBufferHandle_t source,
                         opixDeviceSurfaceBufferHandle_t* destination) {
  maxWidth_ = maxWidth;
  maxHeight_ = maxHeight;
  Debayer<OPIX_DFPD>::Init(sourceFormat, type, maxWidth, maxHeight, source, destination);
}

void DebayerDFPD16::ComputeMemorySize() {
  Debayer<OPIX_DFPD>::ComputeMemorySize();
  const uint64_t w2 = uint64_t{maxWidth_} + kTileWidth + 5;
  const uint64_t rows = (uint64_t{maxHeight_} + kTileHeight + 6) / 2;
  const uint64_t greenBytes = alignUp(w2 & ~uint64_t{1}, 128) * rows;
  const uint64_t flagBytes = alignUp(w2 / 2, 128) * rows;
  for (int i = 0; i < 4; ++i) planeOffset_[i] = memSpace_.reserve(i < 2 ? greenBytes : flagBytes);
}

void DebayerDFPD16::Launch(opixBayerPattern_t pattern, const WorkView& work, const SurfaceView& destination) {
  const PatternShift s = bayerShift(pattern);
  if (!cudaDrivers()) {
    host::launch([&] { launchDFPDHost(work, destination, s.sx, s.sy); });
    launchCheck("GPUMenonDebayer 2");
    return;
  }
  const uint32_t halfWidth = (destination.width + 5 + kTileWidth) / 2;
  const uint32_t halfHeight = (destination.height + 5 + s.sy + kTileHeight) / 2;
  [[maybe_unused]] const DFPDPlanes planes{{sliceAddress(memSpace_.pointerField(), planeOffset_[0]),
                                            sliceAddress(memSpace_.pointerField(), planeOffset_[1])},
                                           {sliceAddress(memSpace_.pointerField(), planeOffset_[2]),
                                            sliceAddress(memSpace_.pointerField(), planeOffset_[3])},
                                           static_cast<uint32_t>(alignUp(2 * uint64_t{halfWidth}, 128)),
                                           static_cast<uint32_t>(alignUp(halfWidth, 128)),
                                           halfWidth,
                                           halfHeight};
  OPIX_CUDA_DRIVER(launchDFPD16Cuda(work, planes, destination, s.sx, s.sy));
}

// The host driver works through tiles: bands of output rows cut into strips
// of columns. In a tile it evaluates every step once per position, over rows
// of half-resolution arrays (one entry per site, or per green, of a row), a
// row of each step at a time, each step a fixed number of rows behind the one
// it reads: once the estimates of phased row e are done, the gradients along
// row e and down row e - 2, the decisions of row e - 2, the colours of the
// greens of row e - 3 and the pixels of row e - 4 follow. Each array then
// keeps only its last kRing rows, and what a step reads was written a few
// rows before, in the core's first-level cache.
namespace {

constexpr int kBand = 64;
constexpr int kStrip = 4096;  // columns, even so that a strip keeps the row's phases
constexpr int kReach = 4;     // rows of estimates beyond the band
constexpr int kFirst = -3;    // half index of entry 0: position 2 * (n + kFirst) + parity
constexpr int kRing = 8;      // rows of an array kept, a power of two above the oldest row read (e - 5)

// The integer types of a tile's arrays and steps: V holds the values limited
// to the samples' range (samples, estimates, gradients, greens, colours), I
// the differences and every step's intermediate results, C the classifier
// sums. The bounds that make each fit are in DFPDMath.h.
template <class V_, class I_, class C_>
struct Lanes {
  using V = V_;
  using I = I_;
  using C = C_;
};
using Lanes8 = Lanes<int16_t, int16_t, int16_t>;
using Lanes12 = Lanes<int16_t, int16_t, uint16_t>;  // 12-bit samples below 4096
using Lanes16 = Lanes<uint16_t, int, int>;          // any 16-bit samples, any limit

// The rows of a half-resolution array around the sites of a row, dy = -2 to
// 2: the entry of the site dx columns and dy rows from site k is entry
// k + (dx >> 1) of rows[dy + 2]. Rows of the other parity are moved by the
// row's parity to make it so.
template <class V>
struct SitesAround {
  const V* rows[5];
};

template <class L>
struct BandRows {
  using V = typename L::V;
  using I = typename L::I;
  int n;  // entries per row
  std::vector<V> sample, gh, gv, dh, dv, green, rowColour, colColour;
  std::vector<I> ch, cv, diff, greenDiff;
  std::vector<unsigned char> horizontal;
  std::vector<uint16_t> pairs;  // one output row in pairs of pixels, from the row's first pair
  BandRows(int entries, int width)
      : n(entries),
        sample(size_t(n) * kRing),
        gh(sample),
        gv(sample),
        dh(sample),
        dv(sample),
        green(sample),
        rowColour(sample),
        colColour(sample),
        ch(sample.size()),
        cv(ch),
        diff(ch),
        greenDiff(ch),
        horizontal(sample.size()),
        pairs(3 * (size_t(width) + 2)) {}
  // Row r of an array, r counted from the band's first row minus kReach.
  template <class T>
  T* row(std::vector<T>& a, int r) {
    return a.data() + size_t(r & (kRing - 1)) * n;
  }
  SitesAround<V> around(std::vector<V>& a, int r, int p) {
    return {{row(a, r - 2), row(a, r - 1) + p, row(a, r), row(a, r + 1) + p, row(a, r + 2)}};
  }
};

// The phased rows a tile reads: the slots of a ring, row y in slot
// y & (kRing - 1).
template <class T>
struct PhasedRows {
  const unsigned char* base;  // phased row 0, phased column 0
  int64_t pitch;
  const T* row(int y) const { return reinterpret_cast<const T*>(base + int64_t(y & (kRing - 1)) * pitch); }
};

// The host driver's rows of the work image, made from the source
// (WorkView::source): the rows of the strip a thread works on, each
// assembled as the work image would hold it (the image row it mirrors, its
// margins mirrored as the apron fill makes them) when a step first needs it,
// in a ring of kRing slots, so the tile's steps read them from the cache. A
// tile reads rows e - 4 to e + 2 at its step e.
template <class T>
class SourceRing {
 public:
  static constexpr int kLeft = 8;  // columns kept left of the strip's column 0

  SourceRing(const WorkView& work, int sx, int strip)
      : source_(work.source),
        pitch_(work.sourcePitch),
        width_(int(work.imageWidth)),
        height_(int(work.imageHeight)),
        firstCol_(work.apron + work.cx),
        firstRow_(work.apron + work.cy),
        apron_(work.apron),
        col0_(work.apron + work.cx - sx),
        n_(kLeft + strip + sx + 8),
        pre_(work.pre),
        rows_(size_t(n_) * kRing) {}

  // The ring as the rows of the strip from phased column x0 on.
  PhasedRows<T> strip(int x0) {
    x0_ = x0;
    return {reinterpret_cast<const unsigned char*>(rows_.data() + kLeft), int64_t(n_) * int64_t(sizeof(T))};
  }

  // Phased row y of the current strip into its slot.
  void fill(int y) {
    const int r = apronSourceRow(apron_ + y, firstRow_, height_);
    const T* __restrict s = reinterpret_cast<const T*>(source_ + int64_t(r) * pitch_);
    // Slot entry k is work column col0_ + x0_ - kLeft + k.
    assembleWorkRow(s, width_, firstCol_, col0_ + x0_ - kLeft, n_, rows_.data() + size_t(y & (kRing - 1)) * n_, pre_,
                    r);
  }

  // Whether every source sample of phased rows [y0, y1) and strip columns
  // [c0, c1) lies below 4096: the image rows and columns they mirror all lie
  // in the image's part of the range widened by its margins, which is read.
  bool below4096(int y0, int y1, int c0, int c1) const {
    // Each pre-operation limits its samples to the format's largest, 4095.
    if (pre_) return true;
    const auto inside = [](int v, int n) { return v < 0 ? 0 : (v > n ? n : v); };
    // Phased row y is image row apron_ + y - firstRow_ (mirrored).
    const int r0 = inside(y0 - firstRow_, height_);
    const int r1 = inside(y1 - firstRow_ + 2 * apron_, height_);
    const int x0 = inside(col0_ + x0_ + c0 - firstCol_ - apron_, width_);
    const int x1 = inside(col0_ + x0_ + c1 - firstCol_ + apron_, width_);
    uint16_t bits = 0;
    for (int r = r0; r < r1; ++r) {
      const T* __restrict s = reinterpret_cast<const T*>(source_ + int64_t(r) * pitch_);
#pragma GCC ivdep
      for (int x = x0; x < x1; ++x) bits = uint16_t(bits | s[x]);
    }
    return bits < 4096;
  }

 private:
  const unsigned char* source_;
  uint32_t pitch_;
  int width_, height_, firstCol_, firstRow_, apron_, col0_, n_;
  const PreOperations* pre_;
  int x0_ = 0;
  std::vector<T> rows_;
};

// Estimates and colour differences of phased row y (band row r) at sites in
// [sx - 4, sx + w + 3].
template <class L, class T>
inline void dfpdEstimatesRow(const PhasedRows<T>& img, BandRows<L>& b, int y, int r, int w, int sx, int hi) {
  using V = typename L::V;
  using I = typename L::I;
  const int p = y & 1;
  const T* __restrict s = img.row(y), * __restrict u1 = img.row(y - 1), * __restrict u2 = img.row(y - 2), * __restrict d1 = img.row(y + 1), * __restrict d2 = img.row(y + 2);
  V* __restrict S = b.row(b.sample, r), * __restrict GH = b.row(b.gh, r), * __restrict GV = b.row(b.gv, r);
  I* __restrict CH = b.row(b.ch, r), * __restrict CV = b.row(b.cv, r);
  const int iLo = (sx - 4 - p + 1) >> 1, iHi = (sx + w + 3 - p) >> 1;
#pragma GCC ivdep
  for (int i = iLo; i <= iHi; ++i) {
    const int x = 2 * i + p, k = i - kFirst;
    const int c = s[x];
    const int h = dfpdEstimate<I>(c, s[x - 1], s[x + 1], s[x - 2], s[x + 2], hi);
    const int v = dfpdEstimate<I>(c, u1[x], d1[x], u2[x], d2[x], hi);
    S[k] = V(c);
    GH[k] = V(h);
    GV[k] = V(v);
    CH[k] = I(c - h);
    CV[k] = I(c - v);
  }
}

// Gradients to the next site of the same colour: along band row r, and down
// from band row r - 2 if `down`.
template <class L>
inline void dfpdGradientsRow(BandRows<L>& b, int r, bool down, int gmax) {
  using V = typename L::V;
  using I = typename L::I;
  const int n = b.n;
  const I* __restrict CH = b.row(b.ch, r), * __restrict CV0 = b.row(b.cv, r - 2), * __restrict CV2 = b.row(b.cv, r);
  V* __restrict DH = b.row(b.dh, r), * __restrict DV = b.row(b.dv, r - 2);
#pragma GCC ivdep
  for (int k = 0; k + 1 < n; ++k) DH[k] = V(dfpdGradient<I>(CH[k], CH[k + 1], gmax));
  if (!down) return;
#pragma GCC ivdep
  for (int k = 0; k < n; ++k) DV[k] = V(dfpdGradient<I>(CV0[k], CV2[k], gmax));
}

// Decisions and final green of phased row y (band row r).
template <class L>
inline void dfpdDecisionsRow(BandRows<L>& b, int y, int r) {
  using V = typename L::V;
  using I = typename L::I;
  using C = typename L::C;
  const int n = b.n, p = y & 1;
  const SitesAround<V> dh = b.around(b.dh, r, p), dv = b.around(b.dv, r, p);
  // The rows in locals of their own: held in the record, they would be
  // reloaded after every byte store to HZ, which keeps the loop scalar.
  const V* __restrict h0 = dh.rows[0], * __restrict h1 = dh.rows[1], * __restrict h2 = dh.rows[2], * __restrict h3 = dh.rows[3], * __restrict h4 = dh.rows[4];
  const V* __restrict v0 = dv.rows[0], * __restrict v1 = dv.rows[1], * __restrict v2 = dv.rows[2];
  const V* __restrict S = b.row(b.sample, r), * __restrict GH = b.row(b.gh, r), * __restrict GV = b.row(b.gv, r);
  V* __restrict G = b.row(b.green, r);
  I* __restrict D = b.row(b.diff, r);
  unsigned char* __restrict HZ = b.row(b.horizontal, r);
#pragma GCC ivdep
  for (int k = 1; k + 1 < n; ++k) {
    const auto dhAt = [&](int dx, int dy) {
      const V* row = dy == -2 ? h0 : dy == -1 ? h1 : dy == 0 ? h2 : dy == 1 ? h3 : h4;
      return int(row[k + (dx >> 1)]);
    };
    // The column sums read the rows up to this one only.
    const auto dvAt = [&](int dx, int dy) {
      const V* row = dy == -2 ? v0 : dy == -1 ? v1 : v2;
      return int(row[k + (dx >> 1)]);
    };
    const bool horizontal = dfpdHorizontal<C>(dhAt, dvAt);
    // Both estimates loaded, then a select: a conditional load is control
    // flow, which keeps the 16-bit AVX2 build of this loop scalar.
    const int gh = GH[k], gv = GV[k];
    const int g = horizontal ? gh : gv;
    HZ[k] = static_cast<unsigned char>(horizontal ? 1 : 0);
    G[k] = V(g);
    D[k] = I(S[k] - g);
  }
}

// Colours of the greens of phased row y (band row r): green j of a row is at
// 2j + 1 - parity; its row neighbours are sites j - parity and j - parity + 1,
// its column neighbours sites j of the rows above and below.
template <class L, class T>
inline void dfpdGreenColoursRow(const PhasedRows<T>& img, BandRows<L>& b, int y, int r, int w, int sx, int hi) {
  using V = typename L::V;
  using I = typename L::I;
  const int p = y & 1;
  const T* __restrict s = img.row(y);
  const I* __restrict D = b.row(b.diff, r), * __restrict Du = b.row(b.diff, r - 1), * __restrict Dd = b.row(b.diff, r + 1);
  V* __restrict RC = b.row(b.rowColour, r), * __restrict CC = b.row(b.colColour, r);
  I* __restrict GD = b.row(b.greenDiff, r);
  const int jLo = (sx - 1 - 1 + p + 1) >> 1, jHi = (sx + w - 1 + p) >> 1;
#pragma GCC ivdep
  for (int j = jLo; j <= jHi; ++j) {
    const int k = j - kFirst;
    const GreenColours c = dfpdGreenColours<I>(s[2 * j + 1 - p], D[k - p], D[k - p + 1], Du[k], Dd[k], hi);
    RC[k] = V(c.row);
    CC[k] = V(c.column);
    GD[k] = I(c.column - c.row);
  }
}

// The pixels of band row r, of parity P, at phased columns [sx, sx + w):
// pair m holds phased columns 2m and 2m + 1, the site and the green of
// entry m - kFirst (the green first in a row of parity 1).
// Interleaved: o0 receives the pairs from the row's first one, whole, 3
// words a pair, (r0, g0), (b0, r1), (g1, b1). Planar: o0, o1 and o2 are the
// destination rows of the three planes at phased column sx, which get the
// tile's pixels only.
template <int P, bool Planar, class L, class T>
inline void dfpdRowPixels(const T* __restrict s, BandRows<L>& b, int r, int w, int sx, int hi, uint16_t* __restrict o0,
                          uint16_t* __restrict o1, uint16_t* __restrict o2) {
  using V = typename L::V;
  using I = typename L::I;
  const V* __restrict S = b.row(b.sample, r), * __restrict G = b.row(b.green, r), * __restrict RC = b.row(b.rowColour, r), * __restrict CC = b.row(b.colColour, r);
  const I* __restrict GD = b.row(b.greenDiff, r), * __restrict GDu = b.row(b.greenDiff, r - 1), * __restrict GDd = b.row(b.greenDiff, r + 1);
  const unsigned char* __restrict HZ = b.row(b.horizontal, r);
  // The pixels of pair m, at phased columns 2m and 2m + 1.
  const auto pair = [&](int m, Rgb& first, Rgb& second) {
    const int k = m - kFirst;
    const int c = S[k];
    const int alongRow = dfpdMissingAlongRow<I>(c, GD[k - 1 + P], GD[k + P], hi);
    const int alongColumn = dfpdMissingAlongColumn<I>(c, GDu[k], GDd[k], hi);
    const Rgb site = P ? Rgb{HZ[k] ? alongRow : alongColumn, G[k], c} : Rgb{c, G[k], HZ[k] ? alongRow : alongColumn};
    const int gs = s[2 * m + 1 - P];
    // In a red row the row colour is red, in a blue row blue.
    const Rgb green = P ? Rgb{CC[k], gs, RC[k]} : Rgb{RC[k], gs, CC[k]};
    first = P ? green : site;
    second = P ? site : green;
  };
  const int mLo = sx >> 1, mHi = (sx + w - 1) >> 1;
  if constexpr (!Planar) {
#pragma GCC ivdep
    for (int m = mLo; m <= mHi; ++m) {
      Rgb a, c;
      pair(m, a, c);
      uint16_t* t = o0 + 3 * (m - mLo);
      t[0] = static_cast<uint16_t>(a.r | (a.g << 8));
      t[1] = static_cast<uint16_t>(a.b | (c.r << 8));
      t[2] = static_cast<uint16_t>(c.g | (c.b << 8));
    }
  } else {
    // The pairs wholly inside the tile, then a pixel at either end.
    const int mA = (sx + 1) >> 1, mB = ((sx + w) >> 1) - 1;
#pragma GCC ivdep
    for (int m = mA; m <= mB; ++m) {
      Rgb a, c;
      pair(m, a, c);
      const int x = 2 * m - sx;
      o0[x] = static_cast<uint16_t>(a.r);
      o0[x + 1] = static_cast<uint16_t>(c.r);
      o1[x] = static_cast<uint16_t>(a.g);
      o1[x + 1] = static_cast<uint16_t>(c.g);
      o2[x] = static_cast<uint16_t>(a.b);
      o2[x + 1] = static_cast<uint16_t>(c.b);
    }
    Rgb a, c;
    if (sx & 1) {
      pair(mLo, a, c);
      PlanarRow{o0, o1, o2}(0, c);
    }
    if ((sx + w) & 1) {
      pair(mHi, a, c);
      PlanarRow{o0, o1, o2}(w - 1, a);
    }
  }
}

// Row stores of a tile's pixels: destination row y - sy from column x0.
// Interleaved 8-bit pixels go a row of whole pairs at a time to a row of
// their own, from the pair of phased column sx, and from there the tile's
// columns to the destination.
struct Rgb8Rows {
  const SurfaceView& d;
  int sy, x0;
  uint16_t* pairs;
  template <int P, class L, class T>
  void row(const T* s, BandRows<L>& b, int y, int r, int w, int sx, int hi) const {
    dfpdRowPixels<P, false>(s, b, r, w, sx, hi, pairs, nullptr, nullptr);
    unsigned char* out = d.plane[0] + int64_t(y - sy) * d.pitch + 3 * int64_t(x0);
    copyRgb8Pixels(out, reinterpret_cast<const unsigned char*>(pairs) + 3 * (sx & 1), w, isBgr8(d.format));
  }
};

// Planar pixels go straight to the destination's planes, or, where `stream`,
// to a row of each plane of their own first, and from there to the
// destination in stores that bypass the caches: a destination too large to
// stay in them is then written without being read first. An interleaved
// destination takes them from those rows too, interleaved on the way (and
// streamed likewise).
struct PlanarRows {
  const SurfaceView& d;
  int sy, x0;
  bool stream;
  template <int P, class L, class T>
  void row(const T* s, BandRows<L>& b, int y, int r, int w, int sx, int hi) const {
    const bool interleaved = isInterleaved16(d.format);
    if (!stream && !interleaved) {
      const PlanarRow o = planarRow(d, y - sy);
      dfpdRowPixels<P, true>(s, b, r, w, sx, hi, o.r + x0, o.g + x0, o.b + x0);
      return;
    }
    uint16_t* t = b.pairs.data();
    const size_t plane = b.pairs.size() / 3;
    dfpdRowPixels<P, true>(s, b, r, w, sx, hi, t, t + plane, t + 2 * plane);
    if (interleaved) {
      host::interleave16(t, t + plane, t + 2 * plane, d.plane[0] + int64_t(y - sy) * d.pitch + 6 * int64_t(x0),
                         size_t(w), stream);
      return;
    }
    const PlanarRow o = planarRow(d, y - sy);
    streamCopy(o.r + x0, t, w);
    streamCopy(o.g + x0, t + plane, w);
    streamCopy(o.b + x0, t + 2 * plane, w);
  }
};

// The tile of output rows [y0 - sy, y1 - sy) and columns [0, w) of `img`:
// the steps of phased row e and those of the rows they complete.
template <class L, class T, class Store>
inline void dfpdBand(const PhasedRows<T>& img, BandRows<L>& b, int y0, int y1, int w, int sx, int hi,
                     const Store& store, SourceRing<T>& ring) {
  const int top = y0 - kReach;  // phased row of band row 0
  const int gmax = dfpdGradientMax(hi);
  for (int y = top - 2; y < top + 2; ++y) ring.fill(y);
  for (int e = y0 - kReach; e < y1 + kReach; ++e) {
    const int r = e - top;
    ring.fill(e + 2);
    dfpdEstimatesRow(img, b, e, r, w, sx, hi);
    dfpdGradientsRow(b, r, r >= 2, gmax);
    // Decisions two rows beyond the band, green colours one.
    if (e - 2 >= y0 - 2) dfpdDecisionsRow(b, e - 2, r - 2);
    if (e - 3 >= y0 - 1) dfpdGreenColoursRow(img, b, e - 3, r - 3, w, sx, hi);
    const int y = e - 4;
    if (y >= y0) {
      if (y & 1)
        store.template row<1>(img.row(y), b, y, r - 4, w, sx, hi);
      else
        store.template row<0>(img.row(y), b, y, r - 4, w, sx, hi);
    }
  }
}

// The tile in the vector widths the processor has.
OPIX_HOST_SIMD_CLONES __attribute__((flatten)) void dfpdBand8(const PhasedRows<uint8_t>& img, BandRows<Lanes8>& b,
                                                              int y0, int y1, int w, int sx, const Rgb8Rows& store,
                                                              SourceRing<uint8_t>& ring) {
  dfpdBand(img, b, y0, y1, w, sx, 255, store, ring);
}

// 12-bit sources in 16-bit lanes, if every sample of the tile is a 12-bit
// value; false, with nothing written, if not.
OPIX_HOST_SIMD_CLONES __attribute__((flatten)) bool dfpdBand12(const PhasedRows<uint16_t>& img, BandRows<Lanes12>& b,
                                                               int y0, int y1, int w, int sx, const PlanarRows& store,
                                                               SourceRing<uint16_t>& ring) {
  // Estimates read two rows and columns beyond theirs.
  if (!ring.below4096(y0 - kReach - 2, y1 + kReach + 2, sx - 6, sx + w + 6)) return false;
  dfpdBand(img, b, y0, y1, w, sx, 4095, store, ring);
  return true;
}

OPIX_HOST_SIMD_CLONES __attribute__((flatten)) void dfpdBand16(const PhasedRows<uint16_t>& img, BandRows<Lanes16>& b,
                                                               int y0, int y1, int w, int sx, int hi,
                                                               const PlanarRows& store, SourceRing<uint16_t>& ring) {
  dfpdBand(img, b, y0, y1, w, sx, hi, store, ring);
}

// Tiles spread over the cores; band(img, y0, y1, x0, w, ring) computes the
// tile of phased rows [y0, y1) and destination columns [x0, x0 + w) with the
// scratch rows of its thread, which makeRows(entries, strip) gives, and its
// ring of source rows.
template <class T, class MakeRows, class Band>
void dfpdHost(const WorkView& work, const SurfaceView& d, int sx, int sy, const MakeRows& makeRows, const Band& band) {
  const int w = int(d.width), h = int(d.height);
  const int strip = w < kStrip ? w : kStrip;
  const int entries = (strip + sx + 8) / 2 + 3 - kFirst;
  const int64_t bands = (h + kBand - 1) / kBand, strips = (w + kStrip - 1) / kStrip;
  host::parallelFor(bands * strips, [&](int64_t first, int64_t last) {
    auto rows = makeRows(entries, strip);
    SourceRing<T> ring(work, sx, strip);
    for (int64_t i = first; i < last; ++i) {
      const int y0 = int(i / strips) * kBand, x0 = int(i % strips) * kStrip;
      const int y1 = y0 + kBand < h ? y0 + kBand : h;
      band(ring.strip(x0), rows, y0 + sy, y1 + sy, x0, w - x0 < kStrip ? w - x0 : kStrip, ring);
    }
    host::streamFence();  // the streamed stores, before the tiles count as done
  });
}

}  // namespace

void launchDFPDHost(const WorkView& work, const SurfaceView& d, int sx, int sy) {
  if (work.format == OPIX_I8) {
    dfpdHost<uint8_t>(
        work, d, sx, sy, [](int entries, int strip) { return BandRows<Lanes8>(entries, strip); },
        [&](const PhasedRows<uint8_t>& img, BandRows<Lanes8>& b, int y0, int y1, int x0, int w,
            SourceRing<uint8_t>& ring) {
          dfpdBand8(img, b, y0, y1, w, sx, Rgb8Rows{d, sy, x0, b.pairs.data()}, ring);
        });
    return;
  }
  const int hi = maxEstimate(work.format);
  // Planes larger than the caches are streamed to memory.
  const bool stream = streamsColour16(d);
  if (work.format == OPIX_I12) {
    // The 16-bit lanes take the tiles with a sample above 4095.
    struct Rows {
      BandRows<Lanes12> narrow;
      std::unique_ptr<BandRows<Lanes16>> wide;
    };
    dfpdHost<uint16_t>(
        work, d, sx, sy,
        [](int entries, int strip) {
          return Rows{BandRows<Lanes12>(entries, strip), nullptr};
        },
        [&](const PhasedRows<uint16_t>& img, Rows& b, int y0, int y1, int x0, int w, SourceRing<uint16_t>& ring) {
          const PlanarRows store{d, sy, x0, stream};
          if (dfpdBand12(img, b.narrow, y0, y1, w, sx, store, ring)) return;
          if (!b.wide) b.wide = std::make_unique<BandRows<Lanes16>>(b.narrow.n, w);
          dfpdBand16(img, *b.wide, y0, y1, w, sx, hi, store, ring);
        });
    return;
  }
  dfpdHost<uint16_t>(
      work, d, sx, sy, [](int entries, int strip) { return BandRows<Lanes16>(entries, strip); },
      [&](const PhasedRows<uint16_t>& img, BandRows<Lanes16>& b, int y0, int y1, int x0, int w,
          SourceRing<uint16_t>& ring) {
        dfpdBand16(img, b, y0, y1, w, sx, hi, PlanarRows{d, sy, x0, stream}, ring);
      });
}

}  // namespace opix
