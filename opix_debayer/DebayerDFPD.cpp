#include "DebayerDFPD.h"

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

// The host driver works through bands of output rows. For each band it
// evaluates every step once per position over whole rows of half-resolution
// arrays (one entry per site, or per green, of a row), each array holding
// the rows the next step needs: estimates and gradients reach four rows
// beyond the band, decisions two, green colours one.
namespace {

constexpr int kBand = 32;
constexpr int kReach = 4;   // rows of estimates beyond the band
constexpr int kFirst = -3;  // half index of entry 0: position 2 * (n + kFirst) + parity

// The entries of a half-resolution array around the sites of a row:
// at(k)(dx, dy) is the entry of the site dx columns and dy rows from site k,
// which is entry k + (dx >> 1) of row dy. Rows of the other parity are
// moved by the row's parity to make it so.
struct SitesAround {
  const int* rows[5];  // dy = -2 to 2
  struct At {
    const SitesAround& a;
    int k;
    int operator()(int dx, int dy) const { return a.rows[dy + 2][k + (dx >> 1)]; }
  };
  At at(int k) const { return {*this, k}; }
};

struct BandRows {
  int n;  // entries per row
  int rows;
  std::vector<int> sample, gh, gv, ch, cv, dh, dv, green, diff, rowColour, colColour, greenDiff;
  std::vector<unsigned char> horizontal;
  std::vector<int> out[3];  // one output row: own colour, green, other colour
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
        out{std::vector<int>(size_t(width)), std::vector<int>(size_t(width)), std::vector<int>(size_t(width))} {}
  // Row r of an array, r counted from the band's first row minus kReach.
  template <class T>
  T* row(std::vector<T>& a, int r) {
    return a.data() + size_t(r) * n;
  }
  SitesAround around(std::vector<int>& a, int r, int p) {
    return {{row(a, r - 2), row(a, r - 1) + p, row(a, r), row(a, r + 1) + p, row(a, r + 2)}};
  }
};

template <class T>
struct PhasedRows {
  const unsigned char* base;  // phased row 0, phased column 0
  int64_t pitch;
  const T* row(int y) const { return reinterpret_cast<const T*>(base + y * pitch); }
};

template <class T>
PhasedRows<T> phasedRows(const WorkView& w, int sx) {
  // The copy applied (cx, cy); cy equals the pattern's row shift.
  const int64_t col = int64_t(w.apron) + w.cx - sx;
  return {w.base + int64_t(w.apron) * w.pitch + col * int64_t(sizeof(T)), w.pitch};
}

template <class T, class Store>
inline void dfpdBand(const PhasedRows<T>& img, BandRows& b, int y0, int y1, int w, int sx, int hi, const Store& store) {
  const int n = b.n;
  const int top = y0 - kReach;  // phased row of band row 0
  const int gmax = dfpdGradientMax(hi);
  // Estimates and colour differences at sites in [sx - 4, sx + w + 3].
  for (int y = y0 - kReach; y < y1 + kReach; ++y) {
    const int p = y & 1, r = y - top;
    const T *s = img.row(y), *u1 = img.row(y - 1), *u2 = img.row(y - 2), *d1 = img.row(y + 1), *d2 = img.row(y + 2);
    int *S = b.row(b.sample, r), *GH = b.row(b.gh, r), *GV = b.row(b.gv, r), *CH = b.row(b.ch, r), *CV = b.row(b.cv, r);
    const int iLo = (sx - 4 - p + 1) >> 1, iHi = (sx + w + 3 - p) >> 1;
#pragma GCC ivdep
    for (int i = iLo; i <= iHi; ++i) {
      const int x = 2 * i + p, k = i - kFirst;
      const int c = s[x];
      const int h = dfpdEstimate(c, s[x - 1], s[x + 1], s[x - 2], s[x + 2], hi);
      const int v = dfpdEstimate(c, u1[x], d1[x], u2[x], d2[x], hi);
      S[k] = c;
      GH[k] = h;
      GV[k] = v;
      CH[k] = c - h;
      CV[k] = c - v;
    }
  }
  // Gradients to the next site of the same colour along the row and column.
  for (int r = 0; r < b.rows; ++r) {
    const int *CH = b.row(b.ch, r), *CV = b.row(b.cv, r), *CV2 = b.row(b.cv, r + 2 < b.rows ? r + 2 : r);
    int *DH = b.row(b.dh, r), *DV = b.row(b.dv, r);
#pragma GCC ivdep
    for (int k = 0; k + 1 < n; ++k) DH[k] = dfpdGradient(CH[k], CH[k + 1], gmax);
#pragma GCC ivdep
    for (int k = 0; k < n; ++k) DV[k] = dfpdGradient(CV[k], CV2[k], gmax);
  }
  // Decisions and final green, two rows beyond the band.
  for (int y = y0 - 2; y < y1 + 2; ++y) {
    const int p = y & 1, r = y - top;
    const SitesAround dh = b.around(b.dh, r, p), dv = b.around(b.dv, r, p);
    const int *S = b.row(b.sample, r), *GH = b.row(b.gh, r), *GV = b.row(b.gv, r);
    int *G = b.row(b.green, r), *D = b.row(b.diff, r);
    unsigned char* HZ = b.row(b.horizontal, r);
#pragma GCC ivdep
    for (int k = 1; k + 1 < n; ++k) {
      const bool horizontal = dfpdHorizontal(dh.at(k), dv.at(k));
      HZ[k] = horizontal;
      G[k] = horizontal ? GH[k] : GV[k];
      D[k] = S[k] - G[k];
    }
  }
  // Colours of the greens, one row beyond the band: green j of a row is at
  // 2j + 1 - parity; its row neighbours are sites j - parity and j - parity + 1,
  // its column neighbours sites j of the rows above and below.
  for (int y = y0 - 1; y < y1 + 1; ++y) {
    const int p = y & 1, r = y - top;
    const T* s = img.row(y);
    const int *D = b.row(b.diff, r), *Du = b.row(b.diff, r - 1), *Dd = b.row(b.diff, r + 1);
    int *RC = b.row(b.rowColour, r), *CC = b.row(b.colColour, r), *GD = b.row(b.greenDiff, r);
    const int jLo = (sx - 1 - 1 + p + 1) >> 1, jHi = (sx + w - 1 + p) >> 1;
#pragma GCC ivdep
    for (int j = jLo; j <= jHi; ++j) {
      const int k = j - kFirst;
      const GreenColours c = dfpdGreenColours(s[2 * j + 1 - p], D[k - p], D[k - p + 1], Du[k], Dd[k], hi);
      RC[k] = c.row;
      CC[k] = c.column;
      GD[k] = c.column - c.row;
    }
  }
  // The band's pixels: sites, then greens, into whole rows, then stored.
  for (int y = y0; y < y1; ++y) {
    const int p = y & 1, r = y - top;
    const int *S = b.row(b.sample, r), *G = b.row(b.green, r), *GD = b.row(b.greenDiff, r),
              *GDu = b.row(b.greenDiff, r - 1), *GDd = b.row(b.greenDiff, r + 1), *RC = b.row(b.rowColour, r),
              *CC = b.row(b.colColour, r);
    const unsigned char* HZ = b.row(b.horizontal, r);
    const T* s = img.row(y);
    int *own = b.out[0].data(), *green = b.out[1].data(), *other = b.out[2].data();
    const int iLo = (sx - p + 1) >> 1, iHi = (sx + w - 1 - p) >> 1;
#pragma GCC ivdep
    for (int i = iLo; i <= iHi; ++i) {
      const int k = i - kFirst, x = 2 * i + p - sx;
      const int c = S[k];
      const int alongRow = dfpdMissingAlongRow(c, GD[k - 1 + p], GD[k + p], hi);
      const int alongColumn = dfpdMissingAlongColumn(c, GDu[k], GDd[k], hi);
      own[x] = c;
      green[x] = G[k];
      other[x] = HZ[k] ? alongRow : alongColumn;
    }
    const int jLo = (sx - 1 + p + 1) >> 1, jHi = (sx + w - 2 + p) >> 1;
#pragma GCC ivdep
    for (int j = jLo; j <= jHi; ++j) {
      const int k = j - kFirst, x = 2 * j + 1 - p - sx;
      own[x] = RC[k];
      green[x] = s[x + sx];
      other[x] = CC[k];
    }
    // In a red row the own colour is red, in a blue row blue.
    const int *red = p ? other : own, *blue = p ? own : other;
    store(y, red, green, blue);
  }
}

// Row stores of the band's pixels: destination row y - sy.
struct Rgb8Rows {
  const SurfaceView& d;
  int sy, w;
  void operator()(int y, const int* red, const int* green, const int* blue) const {
    unsigned char* out = d.plane[0] + int64_t(y - sy) * d.pitch;
#pragma GCC ivdep
    for (int x = 0; x < w; ++x) {
      out[3 * x] = static_cast<unsigned char>(red[x]);
      out[3 * x + 1] = static_cast<unsigned char>(green[x]);
      out[3 * x + 2] = static_cast<unsigned char>(blue[x]);
    }
  }
};

struct PlanarRows {
  const SurfaceView& d;
  int sy, w;
  void operator()(int y, const int* red, const int* green, const int* blue) const {
    const PlanarRow out = planarRow(d, y - sy);
#pragma GCC ivdep
    for (int x = 0; x < w; ++x) out(x, Rgb{red[x], green[x], blue[x]});
  }
};

// The band in the vector widths the processor has.
OPIX_HOST_SIMD_CLONES __attribute__((flatten)) void dfpdBand8(const PhasedRows<uint8_t>& img, BandRows& b, int y0,
                                                              int y1, int sx, const Rgb8Rows& store) {
  dfpdBand(img, b, y0, y1, store.w, sx, 255, store);
}

OPIX_HOST_SIMD_CLONES __attribute__((flatten)) void dfpdBand16(const PhasedRows<uint16_t>& img, BandRows& b, int y0,
                                                               int y1, int sx, int hi, const PlanarRows& store) {
  dfpdBand(img, b, y0, y1, store.w, sx, hi, store);
}

template <class T, class Band>
void dfpdHost(const WorkView& work, const SurfaceView& d, int sx, int sy, const Band& band) {
  const PhasedRows<T> img = phasedRows<T>(work, sx);
  const int w = int(d.width), h = int(d.height);
  const int entries = (w + sx + 8) / 2 + 3 - kFirst;
  const int64_t bands = (h + kBand - 1) / kBand;
  host::parallelFor(bands, [&](int64_t first, int64_t last) {
    BandRows rows(entries, w);
    for (int64_t i = first; i < last; ++i) {
      const int y0 = int(i) * kBand;
      const int y1 = y0 + kBand < h ? y0 + kBand : h;
      band(img, rows, y0 + sy, y1 + sy);
    }
  });
}

}  // namespace

void launchDFPDHost(const WorkView& work, const SurfaceView& d, int sx, int sy) {
  const int w = int(d.width);
  if (work.format == OPIX_I8) {
    const Rgb8Rows store{d, sy, w};
    dfpdHost<uint8_t>(work, d, sx, sy, [&](const PhasedRows<uint8_t>& img, BandRows& b, int y0, int y1) {
      dfpdBand8(img, b, y0, y1, sx, store);
    });
  } else {
    const PlanarRows store{d, sy, w};
    const int hi = maxEstimate(work.format);
    dfpdHost<uint16_t>(work, d, sx, sy, [&](const PhasedRows<uint16_t>& img, BandRows& b, int y0, int y1) {
      dfpdBand16(img, b, y0, y1, sx, hi, store);
    });
  }
}

}  // namespace opix
