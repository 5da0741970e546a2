#include "DebayerDFPD.h"

#include <cstring>
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
// of columns, small enough that every array below stays in the core's cache.
// For each tile it evaluates every step once per position over whole rows of
// half-resolution arrays (one entry per site, or per green, of a row), each
// array holding the rows the next step needs: estimates and gradients reach
// four rows beyond the band, decisions two, green colours one. 8-bit sources
// keep their arrays in 16 bits, where every value of every step fits (the
// largest, a classifier sum, is 12 x 255), so the vectors hold twice the
// lanes; the operations and their results are those of 32-bit integers.
namespace {

constexpr int kBand = 64;
constexpr int kStrip = 512;  // columns, even so that a strip keeps the row's phases
constexpr int kReach = 4;    // rows of estimates beyond the band
constexpr int kFirst = -3;   // half index of entry 0: position 2 * (n + kFirst) + parity

// The rows of a half-resolution array around the sites of a row, dy = -2 to
// 2: the entry of the site dx columns and dy rows from site k is entry
// k + (dx >> 1) of rows[dy + 2]. Rows of the other parity are moved by the
// row's parity to make it so.
template <class V>
struct SitesAround {
  const V* rows[5];
};

// V: the integer type of the arrays.
template <class V>
struct BandRows {
  int n;  // entries per row
  int rows;
  std::vector<V> sample, gh, gv, ch, cv, dh, dv, green, diff, rowColour, colColour, greenDiff;
  std::vector<unsigned char> horizontal;
  std::vector<uint16_t> pairs;  // one output row in pairs of pixels, from the row's first pair
  BandRows(int entries, int width)
      : n(entries),
        rows(kBand + 2 * kReach),
        sample(size_t(n) * rows),
        gh(sample),
        gv(sample),
        ch(sample),
        cv(sample),
        dh(sample),
        dv(sample),
        green(sample),
        diff(sample),
        rowColour(sample),
        colColour(sample),
        greenDiff(sample),
        horizontal(sample.size()),
        pairs(3 * (size_t(width) + 2)) {}
  // Row r of an array, r counted from the band's first row minus kReach.
  template <class T>
  T* row(std::vector<T>& a, int r) {
    return a.data() + size_t(r) * n;
  }
  SitesAround<V> around(std::vector<V>& a, int r, int p) {
    return {{row(a, r - 2), row(a, r - 1) + p, row(a, r), row(a, r + 1) + p, row(a, r + 2)}};
  }
};

template <class T>
struct PhasedRows {
  const unsigned char* base;  // phased row 0, phased column 0
  int64_t pitch;
  const T* row(int y) const { return reinterpret_cast<const T*>(base + y * pitch); }
  // The same rows from phased column x (even) on.
  PhasedRows from(int x) const { return {base + int64_t(x) * int64_t(sizeof(T)), pitch}; }
};

template <class T>
PhasedRows<T> phasedRows(const WorkView& w, int sx) {
  // The copy applied (cx, cy); cy equals the pattern's row shift.
  const int64_t col = int64_t(w.apron) + w.cx - sx;
  return {w.base + int64_t(w.apron) * w.pitch + col * int64_t(sizeof(T)), w.pitch};
}

// The pixels of band row r, of parity P, at phased columns [sx, sx + w):
// pair m holds phased columns 2m and 2m + 1, the site and the green of
// entry m - kFirst (the green first in a row of parity 1). Whole pairs are
// evaluated, so the pair at either end may hold a pixel outside the tile,
// which is not stored. put(i, p0, p1) receives the i-th pair from the first.
template <int P, class T, class V, class Put>
inline void dfpdRowPixels(const T* s, BandRows<V>& b, int r, int w, int sx, int hi, const Put& put) {
  const V *S = b.row(b.sample, r), *G = b.row(b.green, r), *GD = b.row(b.greenDiff, r),
          *GDu = b.row(b.greenDiff, r - 1), *GDd = b.row(b.greenDiff, r + 1), *RC = b.row(b.rowColour, r),
          *CC = b.row(b.colColour, r);
  const unsigned char* HZ = b.row(b.horizontal, r);
  const int mLo = sx >> 1, mHi = (sx + w - 1) >> 1;
#pragma GCC ivdep
  for (int m = mLo; m <= mHi; ++m) {
    const int k = m - kFirst;
    const int c = S[k];
    const int alongRow = dfpdMissingAlongRow<V>(c, GD[k - 1 + P], GD[k + P], hi);
    const int alongColumn = dfpdMissingAlongColumn<V>(c, GDu[k], GDd[k], hi);
    const Rgb site = P ? Rgb{HZ[k] ? alongRow : alongColumn, G[k], c} : Rgb{c, G[k], HZ[k] ? alongRow : alongColumn};
    const int gs = s[2 * m + 1 - P];
    // In a red row the row colour is red, in a blue row blue.
    const Rgb green = P ? Rgb{CC[k], gs, RC[k]} : Rgb{RC[k], gs, CC[k]};
    if (P)
      put(m - mLo, green, site);
    else
      put(m - mLo, site, green);
  }
}

// The tile of output rows [y0 - sy, y1 - sy) and columns [0, w) of `img`.
template <class T, class V, class Store>
inline void dfpdBand(const PhasedRows<T>& img, BandRows<V>& b, int y0, int y1, int w, int sx, int hi,
                     const Store& store) {
  const int n = b.n;
  const int top = y0 - kReach;  // phased row of band row 0
  const int gmax = dfpdGradientMax(hi);
  // Estimates and colour differences at sites in [sx - 4, sx + w + 3].
  for (int y = y0 - kReach; y < y1 + kReach; ++y) {
    const int p = y & 1, r = y - top;
    const T* __restrict s = img.row(y), * __restrict u1 = img.row(y - 1), * __restrict u2 = img.row(y - 2), * __restrict d1 = img.row(y + 1), * __restrict d2 = img.row(y + 2);
    V* __restrict S = b.row(b.sample, r), * __restrict GH = b.row(b.gh, r), * __restrict GV = b.row(b.gv, r), * __restrict CH = b.row(b.ch, r), * __restrict CV = b.row(b.cv, r);
    const int iLo = (sx - 4 - p + 1) >> 1, iHi = (sx + w + 3 - p) >> 1;
#pragma GCC ivdep
    for (int i = iLo; i <= iHi; ++i) {
      const int x = 2 * i + p, k = i - kFirst;
      const int c = s[x];
      const int h = dfpdEstimate<V>(c, s[x - 1], s[x + 1], s[x - 2], s[x + 2], hi);
      const int v = dfpdEstimate<V>(c, u1[x], d1[x], u2[x], d2[x], hi);
      S[k] = V(c);
      GH[k] = V(h);
      GV[k] = V(v);
      CH[k] = V(c - h);
      CV[k] = V(c - v);
    }
  }
  // Gradients to the next site of the same colour along the row and column.
  for (int r = 0; r < b.rows; ++r) {
    const V* __restrict CH = b.row(b.ch, r), * __restrict CV = b.row(b.cv, r), * __restrict CV2 = b.row(b.cv, r + 2 < b.rows ? r + 2 : r);
    V* __restrict DH = b.row(b.dh, r), * __restrict DV = b.row(b.dv, r);
#pragma GCC ivdep
    for (int k = 0; k + 1 < n; ++k) DH[k] = V(dfpdGradient<V>(CH[k], CH[k + 1], gmax));
#pragma GCC ivdep
    for (int k = 0; k < n; ++k) DV[k] = V(dfpdGradient<V>(CV[k], CV2[k], gmax));
  }
  // Decisions and final green, two rows beyond the band.
  for (int y = y0 - 2; y < y1 + 2; ++y) {
    const int p = y & 1, r = y - top;
    const SitesAround<V> dh = b.around(b.dh, r, p), dv = b.around(b.dv, r, p);
    // The rows in locals of their own: held in the record, they would be
    // reloaded after every byte store to HZ, which keeps the loop scalar.
    const V* __restrict h0 = dh.rows[0], * __restrict h1 = dh.rows[1], * __restrict h2 = dh.rows[2], * __restrict h3 = dh.rows[3], * __restrict h4 = dh.rows[4];
    const V* __restrict v0 = dv.rows[0], * __restrict v1 = dv.rows[1], * __restrict v2 = dv.rows[2], * __restrict v3 = dv.rows[3], * __restrict v4 = dv.rows[4];
    const V* __restrict S = b.row(b.sample, r), * __restrict GH = b.row(b.gh, r), * __restrict GV = b.row(b.gv, r);
    V* __restrict G = b.row(b.green, r), * __restrict D = b.row(b.diff, r);
    unsigned char* __restrict HZ = b.row(b.horizontal, r);
#pragma GCC ivdep
    for (int k = 1; k + 1 < n; ++k) {
      const auto dhAt = [&](int dx, int dy) {
        const V* row = dy == -2 ? h0 : dy == -1 ? h1 : dy == 0 ? h2 : dy == 1 ? h3 : h4;
        return int(row[k + (dx >> 1)]);
      };
      const auto dvAt = [&](int dx, int dy) {
        const V* row = dy == -2 ? v0 : dy == -1 ? v1 : dy == 0 ? v2 : dy == 1 ? v3 : v4;
        return int(row[k + (dx >> 1)]);
      };
      const bool horizontal = dfpdHorizontal<V>(dhAt, dvAt);
      // Both estimates loaded, then a select: a conditional load is control
      // flow, which keeps the 16-bit AVX2 build of this loop scalar.
      const int gh = GH[k], gv = GV[k];
      const int g = horizontal ? gh : gv;
      HZ[k] = static_cast<unsigned char>(horizontal ? 1 : 0);
      G[k] = V(g);
      D[k] = V(S[k] - g);
    }
  }
  // Colours of the greens, one row beyond the band: green j of a row is at
  // 2j + 1 - parity; its row neighbours are sites j - parity and j - parity + 1,
  // its column neighbours sites j of the rows above and below.
  for (int y = y0 - 1; y < y1 + 1; ++y) {
    const int p = y & 1, r = y - top;
    const T* __restrict s = img.row(y);
    const V* __restrict D = b.row(b.diff, r), * __restrict Du = b.row(b.diff, r - 1), * __restrict Dd = b.row(b.diff, r + 1);
    V* __restrict RC = b.row(b.rowColour, r), * __restrict CC = b.row(b.colColour, r), * __restrict GD = b.row(b.greenDiff, r);
    const int jLo = (sx - 1 - 1 + p + 1) >> 1, jHi = (sx + w - 1 + p) >> 1;
#pragma GCC ivdep
    for (int j = jLo; j <= jHi; ++j) {
      const int k = j - kFirst;
      const GreenColours c = dfpdGreenColours<V>(s[2 * j + 1 - p], D[k - p], D[k - p + 1], Du[k], Dd[k], hi);
      RC[k] = V(c.row);
      CC[k] = V(c.column);
      GD[k] = V(c.column - c.row);
    }
  }
  // The band's pixels, a site and a green at a time, stored a row at a time.
  for (int y = y0; y < y1; ++y) {
    if (y & 1)
      dfpdRowPixels<1>(img.row(y), b, y - top, w, sx, hi, store.put());
    else
      dfpdRowPixels<0>(img.row(y), b, y - top, w, sx, hi, store.put());
    store.flush(y, w, sx);
  }
}

// Row stores of a tile's pixels: destination row y - sy from column x0. The
// pairs go to a row of their own first, from the pair of phased column sx, and
// from there the tile's columns to the destination.
struct Rgb8Rows {
  const SurfaceView& d;
  int sy, x0;
  uint16_t* pairs;  // 3 words a pair: (r0, g0), (b0, r1), (g1, b1)
  struct Put {
    uint16_t* t;
    void operator()(int i, Rgb a, Rgb b) const {
      t[3 * i] = static_cast<uint16_t>(a.r | (a.g << 8));
      t[3 * i + 1] = static_cast<uint16_t>(a.b | (b.r << 8));
      t[3 * i + 2] = static_cast<uint16_t>(b.g | (b.b << 8));
    }
  };
  Put put() const { return {pairs}; }
  void flush(int y, int w, int sx) const {
    unsigned char* out = d.plane[0] + int64_t(y - sy) * d.pitch + 3 * int64_t(x0);
    std::memcpy(out, reinterpret_cast<const unsigned char*>(pairs) + 3 * (sx & 1), 3 * size_t(w));
  }
};

struct PlanarRows {
  const SurfaceView& d;
  int sy, x0;
  uint16_t* pairs[3];  // the three planes of the pairs
  struct Put {
    uint16_t *r, *g, *b;
    void operator()(int i, Rgb p0, Rgb p1) const {
      r[2 * i] = static_cast<uint16_t>(p0.r);
      r[2 * i + 1] = static_cast<uint16_t>(p1.r);
      g[2 * i] = static_cast<uint16_t>(p0.g);
      g[2 * i + 1] = static_cast<uint16_t>(p1.g);
      b[2 * i] = static_cast<uint16_t>(p0.b);
      b[2 * i + 1] = static_cast<uint16_t>(p1.b);
    }
  };
  Put put() const { return {pairs[0], pairs[1], pairs[2]}; }
  void flush(int y, int w, int sx) const {
    const PlanarRow o = planarRow(d, y - sy);
    for (int c = 0; c < 3; ++c)
      std::memcpy((c == 0 ? o.r : c == 1 ? o.g : o.b) + x0, pairs[c] + (sx & 1), 2 * size_t(w));
  }
};

// The tile in the vector widths the processor has.
OPIX_HOST_SIMD_CLONES __attribute__((flatten)) void dfpdBand8(const PhasedRows<uint8_t>& img, BandRows<int16_t>& b,
                                                              int y0, int y1, int w, int sx, const Rgb8Rows& store) {
  dfpdBand(img, b, y0, y1, w, sx, 255, store);
}

OPIX_HOST_SIMD_CLONES __attribute__((flatten)) void dfpdBand16(const PhasedRows<uint16_t>& img, BandRows<int>& b,
                                                               int y0, int y1, int w, int sx, int hi,
                                                               const PlanarRows& store) {
  dfpdBand(img, b, y0, y1, w, sx, hi, store);
}

// Tiles spread over the cores; band(img, rows, y0, y1, x0, w) computes the
// tile of phased rows [y0, y1) and destination columns [x0, x0 + w).
template <class T, class V, class Band>
void dfpdHost(const WorkView& work, const SurfaceView& d, int sx, int sy, const Band& band) {
  const PhasedRows<T> img = phasedRows<T>(work, sx);
  const int w = int(d.width), h = int(d.height);
  const int strip = w < kStrip ? w : kStrip;
  const int entries = (strip + sx + 8) / 2 + 3 - kFirst;
  const int64_t bands = (h + kBand - 1) / kBand, strips = (w + kStrip - 1) / kStrip;
  host::parallelFor(bands * strips, [&](int64_t first, int64_t last) {
    BandRows<V> rows(entries, strip);
    for (int64_t i = first; i < last; ++i) {
      const int y0 = int(i / strips) * kBand, x0 = int(i % strips) * kStrip;
      const int y1 = y0 + kBand < h ? y0 + kBand : h;
      band(img.from(x0), rows, y0 + sy, y1 + sy, x0, w - x0 < kStrip ? w - x0 : kStrip);
    }
  });
}

}  // namespace

void launchDFPDHost(const WorkView& work, const SurfaceView& d, int sx, int sy) {
  if (work.format == OPIX_I8) {
    dfpdHost<uint8_t, int16_t>(
        work, d, sx, sy, [&](const PhasedRows<uint8_t>& img, BandRows<int16_t>& b, int y0, int y1, int x0, int w) {
          dfpdBand8(img, b, y0, y1, w, sx, Rgb8Rows{d, sy, x0, b.pairs.data()});
        });
  } else {
    const int hi = maxEstimate(work.format);
    dfpdHost<uint16_t, int>(
        work, d, sx, sy, [&](const PhasedRows<uint16_t>& img, BandRows<int>& b, int y0, int y1, int x0, int w) {
          uint16_t* p = b.pairs.data();
          const size_t plane = b.pairs.size() / 3;
          dfpdBand16(img, b, y0, y1, w, sx, hi, PlanarRows{d, sy, x0, {p, p + plane, p + 2 * plane}});
        });
  }
}

}  // namespace opix
