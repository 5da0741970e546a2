#include "DebayerMG.h"

#include <algorithm>
#include <climits>
#include <type_traits>
#include <vector>

#include "BayerTraits.h"
#include "Checks.h"
#include "DeviceContext.h"
#include "HostRows.h"
#include "KernelLaunch.h"
#include "MemSpace.h"
#include "device/Parallel.h"

#define OPIX_SOURCE "opix_debayer/DebayerMG"

namespace opix {

constexpr uint64_t kLargeSharedMemory = 98304;

void DebayerMG16::Init(opixSurfaceFormat_t sourceFormat, opixDebayerType_t type, uint32_t maxWidth, uint32_t maxHeight,
                       opixDeviceSurfaceBufferHandle_t source, opixDeviceSurfaceBufferHandle_t* destination) {
  geometry_ = mgGeometry(maxWidth, maxHeight);
  Debayer<OPIX_MG>::Init(sourceFormat, type, maxWidth, maxHeight, source, destination);
  device::DeviceProperties props{};
  // The host backend has one device and selects none.
  const int current = deviceContext().device < 0 ? 0 : deviceContext().device;
  if (device::getDeviceProperties(&props, current) != device::kSuccess) OPIX_THROW(OPIX_INTERNAL_ERROR);
  sharedMemoryPerMultiprocessor_ = props.sharedMemPerMultiprocessor;
}

void DebayerMG16::ComputeMemorySize() {
  Debayer<OPIX_MG>::ComputeMemorySize();
  const uint64_t n = 16 * 32 * geometry_.gx1 * geometry_.gy1;
  for (uint64_t& offset : bufferOffset_) offset = memSpace_.reserve(4 * n);
}

void DebayerMG16::Launch(opixBayerPattern_t pattern, const WorkView& work, const SurfaceView& destination) {
  if (destination.width % 2 != 0) checks::fail("Unsupported odd image width", OPIX_INVALID_SIZE, __LINE__);
  // The passes' grids and buffer cells are laid out from the image size; an
  // empty side leaves no cell to work on.
  if (destination.width == 0 || destination.height == 0)
    checks::fail("Unsupported empty image", OPIX_INVALID_SIZE, __LINE__);
  geometry_ = mgGeometry(destination.width, destination.height);
  MgBuffers buffers{};
  auto buffer = [&](int i) {
    return reinterpret_cast<float*>(sliceAddress(memSpace_.pointerField(), bufferOffset_[i]));
  };
  for (int slot = 0; slot < 2; ++slot) {
    buffers.weightV[slot] = buffer(slot);
    buffers.weightH[slot] = buffer(2 + slot);
    buffers.green[slot] = buffer(4 + slot);
  }
  buffers.stride = static_cast<uint32_t>(32 * geometry_.gx1);
  [[maybe_unused]] const bool largeShared = sharedMemoryPerMultiprocessor_ >= kLargeSharedMemory;
  OPIX_KERNEL_LAUNCH("GPUMGDebayer1",
                     launchMGCudaPass1(work, buffers, pattern, destination.width, destination.height, largeShared),
                     launchMGHostPass1(work, buffers, pattern, destination.width, destination.height));
  OPIX_KERNEL_LAUNCH("GPUMGDebayer2", launchMGCudaPass2(work, buffers, destination, pattern),
                     launchMGHostPass2(work, buffers, destination, pattern));
}

// The host driver streams through its rows. Each thread takes a run of rows
// and keeps of every plane only the rows that later rows of the run still
// read (a ring of rows), so each value is computed once per run (the first
// rows of a run repeat the last ones of the run before) and the planes stay
// in cache. The steps taken at every position (gradients, their window sums,
// the two-direction weights) go along whole rows; the steps of the sites or
// of the greens alone (D, the greens, step 6, the pixels) go along the
// row's cells, the site's column in its cell fixed at compile time, so that
// every loop vectorises. D stays in pass 1: only the weights and greens go
// to the buffers, which pass 2 reads.
namespace {

// Rows of a plane over columns [left, right): row y in slot y mod `rows` (a
// power of two), so the last `rows` rows are kept.
template <class V>
class Ring {
 public:
  void shape(int left, int right, int rows) {
    origin_ = -left;
    stride_ = (right - left + 15) & ~15;
    mask_ = rows - 1;
    v_.assign(size_t(stride_) * size_t(rows), V{});
  }
  V* row(int y) { return v_.data() + ptrdiff_t(y & mask_) * stride_ + origin_; }

 private:
  std::vector<V> v_;
  int origin_ = 0, stride_ = 0, mask_ = 0;
};

// The rows of the image by image row: the rows the work image would hold,
// assembled from the source in a ring that holds the rows a run reads at a
// step (pass 1 reads rows r - 5 to r + 5, mirrored rows and margins
// included), or, for a pass that reads inside the image only (pass 2), the
// source's own rows when there are no pre-operations to apply.
template <class T>
class ImageRows {
 public:
  static constexpr int kSlots = 16;
  ImageRows(const WorkView& w, bool insideOnly)
      : direct_(insideOnly && !w.pre ? reinterpret_cast<const T*>(w.source) : nullptr),
        reader_(w, direct_ ? 1 : kSlots),
        pitch_(int64_t(w.sourcePitch / sizeof(T))),
        cx_(w.cx),
        cy_(w.cy) {}
  const T* row(int y) { return direct_ ? direct_ + int64_t(y) * pitch_ : reader_.row(y + cy_) + cx_; }

 private:
  const T* direct_;
  WorkRowReader<T> reader_;
  int64_t pitch_;
  int cx_, cy_;
};

// The buffer entries of row y by cell: cell i holds the positions 2i - 2 and
// 2i - 1, so the site or green of the row at columns [0, w) is in cells 1 to
// w / 2.
float* cellRow(float* buffer, const MgBuffers& b, int y) { return buffer + mgCell(b, -2, y); }

// The column (0 or 1) of the first site of row y: the site of cell i is at
// column 2i - 2 + siteParity, the green at 2i - 1 - siteParity.
int siteParity(int pattern, int y) { return mgIsGreen(pattern, 0, y) ? 1 : 0; }

// --- Pass 1 ---

struct Pass1Rows {
  Ring<int> V, H, acrossV, kv;  // by column
  Ring<float> D;                // by cell
  std::vector<int> colV, colH, kh, acrossH, east;
  std::vector<float> weightV, weightH;
};

// Pass 1 reads the samples along a column or a row through each of a pair of
// columns at even x; half<H> picks the pair's column x + H.
template <int H>
using Half = std::integral_constant<int, H>;

// rows[k] is row r + k - 5; column(x, half)(k) is the sample k rows below
// row r, along(row, x, half)(k) the sample k columns right on `row`.
template <class T>
struct PairLines {
  const T* const* rows;
  template <int H>
  auto column(int x, Half<H>) const {
    return [rows = rows, x](int k) { return int(rows[k + 5][x + H]); };
  }
  template <int H>
  static auto along(const T* row, int x, Half<H>) {
    return [row, x](int k) { return int(row[x + H + k]); };
  }
};

// 16-bit samples: each pair of samples is read as one 32-bit word and split
// by mask and shift. Read sample by sample into 32-bit lanes, every sample
// would be widened by shuffles at each of its reads (22 for the gradients
// alone), and those were most of pass 1's work.
typedef uint32_t SamplePair __attribute__((may_alias, aligned(2)));

// The sample d columns right of the even column of p.
inline int pairSample(const uint16_t* p, int d) {
  static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the first sample of a pair is the low half");
  const uint32_t w = *reinterpret_cast<const SamplePair*>(p + (d & ~1));
  return int(d & 1 ? w >> 16 : w & 0xffffu);
}

template <>
struct PairLines<uint16_t> {
  const uint16_t* const* rows;
  template <int H>
  auto column(int x, Half<H>) const {
    return [rows = rows, x](int k) { return pairSample(rows[k + 5] + x, H); };
  }
  template <int H>
  static auto along(const uint16_t* row, int x, Half<H>) {
    return [row, x](int k) { return pairSample(row + x, H + k); };
  }
};

// V and H of row r over columns [lo, hi).
template <class T>
inline void gradientRow(const PairLines<T>& lines, int lo, int hi, int* v, int* h) {
  const T* const* rows = lines.rows;
#pragma GCC ivdep
  for (int x = lo; x < hi; ++x) {
    v[x] = mgGradient([&](int k) { return int(rows[k + 5][x]); });
    h[x] = mgGradient([&](int k) { return int(rows[5][x + k]); });
  }
}

// 16-bit over an even range, a pair of columns at a time.
inline void gradientRow(const PairLines<uint16_t>& lines, int lo, int hi, int* v, int* h) {
  const uint16_t* row = lines.rows[5];
#pragma GCC ivdep
  for (int x = lo; x < hi; x += 2) {
    const int ve = mgGradient(lines.column(x, Half<0>{})), vo = mgGradient(lines.column(x, Half<1>{}));
    const int he = mgGradient(lines.along(row, x, Half<0>{})), ho = mgGradient(lines.along(row, x, Half<1>{}));
    v[x] = ve;
    v[x + 1] = vo;
    h[x] = he;
    h[x + 1] = ho;
  }
}

// Four times the colour difference at the columns [lo, hi) (lo even) of a
// row; line(x, half)(k) is the sample k steps along the line from the pair's
// column x + H. The columns go in pairs, the site's one fixed, so the loop
// has no select.
template <bool EvenIsSite, class Line>
inline void differencePairs(const Line& line, int lo, int hi, int* out) {
#pragma GCC ivdep
  for (int x = lo; x < hi; x += 2) {
    const int first = mgDifference4(line(x, Half<0>{}), EvenIsSite);
    const int second = mgDifference4(line(x, Half<1>{}), !EvenIsSite);
    out[x] = first;
    out[x + 1] = second;
  }
}

template <class Line>
inline void differenceRow(const Line& line, int sitePar, int lo, int hi, int* out) {
  if (sitePar)
    differencePairs<false>(line, lo, hi, out);
  else
    differencePairs<true>(line, lo, hi, out);
}

inline void acrossRow(const int* v, int lo, int hi, int* a) {
#pragma GCC ivdep
  for (int x = lo; x < hi; ++x) a[x] = mgAcross(v[x], v[x - 1], v[x + 1]);
}

// The two-direction weights of row q over [-2, w + 2) from the gradients of
// rows q - 2 to q + 2: sums down the columns, then along the row.
inline void twoDirWeightsRow(Pass1Rows& p, int q, int w, const MgConstants& c) {
  const int *v0 = p.V.row(q - 2), *v1 = p.V.row(q - 1), *v2 = p.V.row(q), *v3 = p.V.row(q + 1), *v4 = p.V.row(q + 2);
  const int *h0 = p.H.row(q - 2), *h1 = p.H.row(q - 1), *h2 = p.H.row(q), *h3 = p.H.row(q + 1), *h4 = p.H.row(q + 2);
  int *cv = p.colV.data() + 4, *ch = p.colH.data() + 4;  // indexed by x
  float *wV = p.weightV.data() + 2, *wH = p.weightH.data() + 2;
#pragma GCC ivdep
  for (int x = -4; x < w + 4; ++x) {
    cv[x] = v0[x] + v1[x] + v2[x] + v3[x] + v4[x];
    ch[x] = h0[x] + h1[x] + h2[x] + h3[x] + h4[x];
  }
#pragma GCC ivdep
  for (int x = -2; x < w + 2; ++x) {
    const MgWeights wt = mgTwoDirWeights(MgTwoDirSums{cv[x - 2] + cv[x - 1] + cv[x] + cv[x + 1] + cv[x + 2],
                                                      ch[x - 2] + ch[x - 1] + ch[x] + ch[x + 1] + ch[x + 2]},
                                         c);
    wV[x] = wt.v;
    wH[x] = wt.h;
  }
}

// D at the sites of a row, cells [0, cells); ku, k0, kd the column
// differences of the rows above, at and below, kh the row differences.
template <int P>
inline void siteDifferenceRow(int cells, const int* ku, const int* k0, const int* kd, const int* kh, const float* wV,
                              const float* wH, float* d) {
#pragma GCC ivdep
  for (int i = 0; i < cells; ++i) {
    const int x = 2 * i - 2 + P;
    d[i] = mgSiteDifference(mgSmooth(ku[x], k0[x], kd[x]), mgSmooth(kh[x - 1], kh[x], kh[x + 1]), {wV[x], wH[x]});
  }
}

// The green (step 5) at the sites of row y, cells [1, cells]: `across` the
// terms across the columns of rows y - 3 to y + 3, east(x) the sum of the
// four terms across the row from x eastwards, d the D of rows y - 2, y, y + 2.
template <int P, class T>
inline void siteGreenRow(int cells, const T* row, const int* const (&across)[7], const int* east,
                         const float* const (&d)[3], const MgConstants& c, float* out) {
  const int *n3 = across[0], *n2 = across[1], *n1 = across[2], *n0 = across[3], *s1 = across[4], *s2 = across[5],
            *s3 = across[6];
  const float *dn = d[0], *d0 = d[1], *ds = d[2];
#pragma GCC ivdep
  for (int i = 1; i <= cells; ++i) {
    const int x = 2 * i - 2 + P;
    const MgFourDirSums sums{n0[x] + n1[x] + n2[x] + n3[x], n0[x] + s1[x] + s2[x] + s3[x], east[x - 3], east[x]};
    // D(dx, dy): the site dx, dy away (two away, or this one). The row and
    // the cell are picked in two statements: GCC 12's UBSan at -O0 (the
    // sanitizer build) miscompiles a subscript of a nested conditional whose
    // index is itself checked arithmetic, reading through a wrong address.
    auto D = [&](int dx, int dy) {
      const float* rowD = dy < 0 ? dn : dy > 0 ? ds : d0;
      const int cell = i + dx / 2;
      return rowD[cell];
    };
    out[i] = mgSiteGreenFrom(int(row[x]), D, sums, 0, 0, c);
  }
}

// Pass 1 over rows [y0, y1). Row r of the gradients comes first, then the
// weights and D of row r - 2, then the greens of row r - 4, the last row
// whose window is complete.
template <class T>
inline void pass1Run(ImageRows<T>& s, const MgBuffers& b, int pattern, int w, int y0, int y1, const MgConstants& c,
                     Pass1Rows& p) {
  const int cells = w / 2;
  p.V.shape(-4, w + 4, 8);  // rows r - 7 to r are read
  p.H.shape(-4, w + 4, 8);
  p.acrossV.shape(0, w, 8);
  p.kv.shape(-4, w + 4, 8);
  p.D.shape(0, cells + 2, 8);
  p.colV.resize(size_t(w) + 8);
  p.colH.resize(size_t(w) + 8);
  p.kh.resize(size_t(w) + 8);
  p.acrossH.resize(size_t(w) + 6);
  p.east.resize(size_t(w) + 3);
  p.weightV.resize(size_t(w) + 4);
  p.weightH.resize(size_t(w) + 4);
  int *kh = p.kh.data() + 4, *acrossH = p.acrossH.data() + 3, *east = p.east.data() + 3;  // indexed by x
  const float *wV = p.weightV.data() + 2, *wH = p.weightH.data() + 2;
  for (int r = y0 - 4; r < y1 + 4; ++r) {
    const T* rows[11];
    for (int k = 0; k < 11; ++k) rows[k] = s.row(r + k - 5);
    const PairLines<T> lines{rows};
    gradientRow(lines, -4, w + 4, p.V.row(r), p.H.row(r));
    if (r >= y0 - 3 && r < y1 + 3) {
      acrossRow(p.V.row(r), 0, w, p.acrossV.row(r));
      // Four times the column colour difference, for the smoothing of D.
      differenceRow([&lines](int x, auto half) { return lines.column(x, half); }, siteParity(pattern, r), -4, w + 4,
                    p.kv.row(r));
    }
    const int q = r - 2;  // weights and D
    if (q >= y0 - 2) {
      twoDirWeightsRow(p, q, w, c);
      const int P = siteParity(pattern, q);
      const T* row = rows[3];  // row q
      differenceRow([row](int x, auto half) { return PairLines<T>::along(row, x, half); }, P, -4, w + 4, kh);
      const int *ku = p.kv.row(q - 1), *k0 = p.kv.row(q), *kd = p.kv.row(q + 1);
      if (P)
        siteDifferenceRow<1>(cells + 2, ku, k0, kd, kh, wV, wH, p.D.row(q));
      else
        siteDifferenceRow<0>(cells + 2, ku, k0, kd, kh, wV, wH, p.D.row(q));
      if (q >= y0 && q < y1) {
        const int greenPhase = bayerPhase(pattern, 1 - P, q);
        float *cellV = cellRow(mgWeightV(b, greenPhase), b, q), *cellH = cellRow(mgWeightH(b, greenPhase), b, q);
        const float *gv = wV + (1 - P) - 2, *gh = wH + (1 - P) - 2;  // gv[2i]: the green of cell i
#pragma GCC ivdep
        for (int i = 1; i <= cells; ++i) {
          cellV[i] = gv[2 * i];
          cellH[i] = gh[2 * i];
        }
      }
    }
    const int y = r - 4;  // greens
    if (y < y0) continue;
    {  // the terms across the row, and their sums of four
      const int *h = p.H.row(y), *hu = p.H.row(y - 1), *hd = p.H.row(y + 1);
#pragma GCC ivdep
      for (int x = -3; x < w + 3; ++x) acrossH[x] = mgAcross(h[x], hu[x], hd[x]);
#pragma GCC ivdep
      for (int x = -3; x < w; ++x) east[x] = acrossH[x] + acrossH[x + 1] + acrossH[x + 2] + acrossH[x + 3];
    }
    static_assert(kMgFourDirLength == 4, "the sums take four terms");
    const int* across[7];
    for (int k = 0; k < 7; ++k) across[k] = p.acrossV.row(y + k - 3);
    const float* d[3] = {p.D.row(y - 2), p.D.row(y), p.D.row(y + 2)};
    const int P = siteParity(pattern, y);
    float* out = cellRow(mgGreen(b, bayerPhase(pattern, P, y)), b, y);
    if (P)
      siteGreenRow<1>(cells, rows[1], across, east, d, c, out);  // rows[1]: row y
    else
      siteGreenRow<0>(cells, rows[1], across, east, d, c, out);
  }
}

// The run in the vector widths the processor has.
OPIX_HOST_SIMD_CLONES __attribute__((flatten)) void pass1Run8(ImageRows<uint8_t>& s, const MgBuffers& b, int pattern,
                                                              int w, int y0, int y1, const MgConstants& c,
                                                              Pass1Rows& p) {
  pass1Run(s, b, pattern, w, y0, y1, c, p);
}

OPIX_HOST_SIMD_CLONES __attribute__((flatten)) void pass1Run16(ImageRows<uint16_t>& s, const MgBuffers& b, int pattern,
                                                               int w, int y0, int y1, const MgConstants& c,
                                                               Pass1Rows& p) {
  pass1Run(s, b, pattern, w, y0, y1, c, p);
}

// --- Pass 2 ---

constexpr int kGreenRows = 16, kOppositeRows = 4;  // ring sizes, powers of two

// Rows by cell. The green rows are by position row (outside the image the
// mirror image's values) and hold, at the sites, G and G - S over cells
// [-1, cells + 3), columns -4 to w + 3. The opposite rows are by image row
// and hold step 6 and G minus it at the sites, cells [0, cells + 2).
struct Pass2Rows {
  Ring<float> G, GS, opp, GO;
  int greenRow[kGreenRows], oppositeRow[kOppositeRows];  // the row each slot holds
  std::vector<float> zero;
  std::vector<uint16_t> words;  // 8-bit pixels: the three words of each cell, a plane each
};

// Where pass 2 puts the pixels of a row, a cell at a time: (i, a, b) are the
// pixels at columns 2i - 2 and 2i - 1.
//
// 16-bit planes: the two values of a cell as one word in each plane.
typedef uint32_t ValuePair __attribute__((may_alias, aligned(2)));

struct PlanarPairs {
  uint16_t *r, *g, *b;
  static void put(uint16_t* to, int first, int second) {
    *reinterpret_cast<ValuePair*>(to) = uint32_t(first) | uint32_t(second) << 16;
  }
  void operator()(int i, Rgb a, Rgb c) const {
    put(r + 2 * i - 2, a.r, c.r);
    put(g + 2 * i - 2, a.g, c.g);
    put(b + 2 * i - 2, a.b, c.b);
  }
};

// 8-bit interleaved: the six bytes of a cell as three words, (r0, g0),
// (b0, r1), (g1, b1) in the destination's byte order on a little-endian host,
// a plane each, interleaved in a loop of their own (stores three apart in the
// loop of the maths leave it element by element in some clones).
typedef uint16_t RowWord __attribute__((may_alias, aligned(1)));  // a destination row at any address

struct Rgb8Pairs {
  uint16_t *w0, *w1, *w2;
  void operator()(int i, Rgb a, Rgb c) const {
    w0[i - 1] = static_cast<uint16_t>(a.r | a.g << 8);
    w1[i - 1] = static_cast<uint16_t>(a.b | c.r << 8);
    w2[i - 1] = static_cast<uint16_t>(c.g | c.b << 8);
  }
};

template <class T>
struct Pass2 {
  ImageRows<T>& s;
  const MgBuffers& b;
  int pattern, w, h, cells, hi;
  Pass2Rows& p;

  // The green row of position row u.
  void greenRow(int u) {
    int& held = p.greenRow[u & (kGreenRows - 1)];
    if (held == u) return;
    held = u;
    float *g = p.G.row(u), *gs = p.GS.row(u);
    // An image one row high has no other row: its mirror images keep the
    // row's parity, and there the row's greens, where G - S is 0.
    if (h == 1 && u != 0) {
      for (int i = -1; i < cells + 3; ++i) g[i] = gs[i] = 0.0f;
      return;
    }
    const int m = mgMirror(u, h), P = siteParity(pattern, m);
    const float* cell = cellRow(mgGreen(b, bayerPhase(pattern, P, m)), b, m);
    const T* row = s.row(m);
    const T* site = row + P - 2;  // site[2i]: the sample of cell i
#pragma GCC ivdep
    for (int i = 1; i <= cells; ++i) {
      g[i] = cell[i];
      gs[i] = cell[i] - float(site[2 * i]);
    }
    for (int i : {-1, 0, cells + 1, cells + 2}) {
      const int mx = mgMirror(2 * i - 2 + P, w);
      g[i] = cell[(mx + 2) >> 1];
      gs[i] = g[i] - float(row[mx]);
    }
  }

  template <int P>
  void oppositeCells(const float* g, const float* const (&gs)[4], float* o, float* go) const {
    const float *u3 = gs[0], *u1 = gs[1], *d1 = gs[2], *d3 = gs[3];
#pragma GCC ivdep
    for (int i = 1; i <= cells; ++i) {
      // The site dx, dy away (both odd) is in cell i + (P + dx) / 2 (rounded
      // down) of its row (row and cell picked apart, as in siteGreenRow).
      auto d = [&](int dx, int dy) {
        const float* rowD = dy == -3 ? u3 : dy == -1 ? u1 : dy == 1 ? d1 : d3;
        const int cell = i + ((P + dx) >> 1);
        return rowD[cell];
      };
      o[i] = mgOpposite(g[i], d);
      go[i] = g[i] - o[i];
    }
  }

  // Step 6 at the sites of image row m.
  void oppositeRow(int m) {
    int& held = p.oppositeRow[m & (kOppositeRows - 1)];
    if (held == m) return;
    held = m;
    for (int k : {-3, -1, 0, 1, 3}) greenRow(m + k);
    const float* gs[4] = {p.GS.row(m - 3), p.GS.row(m - 1), p.GS.row(m + 1), p.GS.row(m + 3)};
    float *o = p.opp.row(m), *go = p.GO.row(m);
    const int P = siteParity(pattern, m);
    if (P)
      oppositeCells<1>(p.G.row(m), gs, o, go);
    else
      oppositeCells<0>(p.G.row(m), gs, o, go);
    // Columns -1 and w mirror 1 and w - 2 (w is even); each is a site in
    // one parity of the row.
    o[0] = go[0] = 0.0f;
    o[cells + 1] = go[cells + 1] = 0.0f;
    if (P) {
      o[0] = o[1];
      go[0] = go[1];
    } else {
      o[cells + 1] = o[cells];
      go[cells + 1] = go[cells];
    }
  }

  // The pixels of row y to `put`: the site of each cell and its green. At a green, the colour of the row's sites comes
  // from G - S of its row neighbours and G - step 6 of its column
  // neighbours, the other colour the other way round.
  // mgRound through selects (roundHalfUpClampSelect, the same values).
  template <int P, class Put>
  void pixelCells(int y, const float* const (&rows)[8], const float* wv, const float* wh, bool siteRed,
                  const Put& put) const {
    const float *g = rows[0], *gs = rows[1], *gsUp = rows[2], *gsDown = rows[3];
    const float *o = rows[4], *go = rows[5], *goUp = rows[6], *goDown = rows[7];
    const T* row = s.row(y);
#pragma GCC ivdep
    for (int i = 1; i <= cells; ++i) {
      const int xs = 2 * i - 2 + P, xg = 2 * i - 1 - P;
      const int c = row[xs];
      const int other = roundHalfUpClampSelect(o[i], hi);
      const Rgb site{siteRed ? c : other, roundHalfUpClampSelect(g[i], hi), siteRed ? other : c};
      const float cf = float(row[xg]);
      const MgWeights wt{wv[i], wh[i]};
      const float own = mgAtGreen(cf, goUp[i], goDown[i], gs[i - P], gs[i + 1 - P], wt);
      const float across = mgAtGreen(cf, gsUp[i], gsDown[i], go[i - P], go[i + 1 - P], wt);
      const Rgb green{roundHalfUpClampSelect(siteRed ? own : across, hi), int(row[xg]),
                      roundHalfUpClampSelect(siteRed ? across : own, hi)};
      if (P)
        put(i, green, site);
      else
        put(i, site, green);
    }
  }

  // Row y to `put`.
  template <class Put>
  void pixelRow(int y, const Put& put) {
    const int up = mgMirror(y - 1, h), down = mgMirror(y + 1, h);
    oppositeRow(up);
    oppositeRow(y);
    oppositeRow(down);
    for (int k = -1; k <= 1; ++k) greenRow(y + k);
    const float* zero = p.zero.data() + 1;
    // One row high: the column neighbours count 0.
    const bool flat = h == 1;
    const float* rows[8] = {p.G.row(y),   p.GS.row(y), flat ? zero : p.GS.row(y - 1), flat ? zero : p.GS.row(y + 1),
                            p.opp.row(y), p.GO.row(y), flat ? zero : p.GO.row(up),    flat ? zero : p.GO.row(down)};
    const int P = siteParity(pattern, y);
    const int greenPhase = bayerPhase(pattern, 1 - P, y);
    const float *wv = cellRow(mgWeightV(b, greenPhase), b, y), *wh = cellRow(mgWeightH(b, greenPhase), b, y);
    const bool siteRed = bayerPhase(pattern, P, y) == kPhaseR;
    if (P)
      pixelCells<1>(y, rows, wv, wh, siteRed, put);
    else
      pixelCells<0>(y, rows, wv, wh, siteRed, put);
  }
};

inline void pass2Shape(Pass2Rows& p, int w) {
  const int cells = w / 2;
  p.G.shape(-1, cells + 3, kGreenRows);
  p.GS.shape(-1, cells + 3, kGreenRows);
  p.opp.shape(0, cells + 2, kOppositeRows);
  p.GO.shape(0, cells + 2, kOppositeRows);
  for (int& r : p.greenRow) r = INT_MIN;
  for (int& r : p.oppositeRow) r = INT_MIN;
  p.zero.assign(size_t(cells) + 4, 0.0f);
  p.words.resize(size_t(3) * size_t(cells));
}

OPIX_HOST_SIMD_CLONES __attribute__((flatten)) void pass2Run8(ImageRows<uint8_t>& s, const MgBuffers& b, int pattern,
                                                              int w, int h, int y0, int y1, const SurfaceView& d,
                                                              Pass2Rows& p) {
  pass2Shape(p, w);
  static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the words of a cell are stored in host byte order");
  const int cells = w / 2;
  Pass2<uint8_t> pass{s, b, pattern, w, h, cells, 255, p};
  uint16_t* __restrict w0 = p.words.data(), * __restrict w1 = w0 + cells, * __restrict w2 = w1 + cells;
  for (int y = y0; y < y1; ++y) {
    pass.pixelRow(y, Rgb8Pairs{w0, w1, w2});
    RowWord* __restrict row = reinterpret_cast<RowWord*>(d.plane[0] + int64_t(y) * d.pitch);
    for (int m = 0; m < cells; ++m) {
      row[3 * m] = w0[m];
      row[3 * m + 1] = w1[m];
      row[3 * m + 2] = w2[m];
    }
    if (isBgr8(d.format)) {
      unsigned char* out = reinterpret_cast<unsigned char*>(row);
      copyRgb8Pixels(out, out, int(d.width), true);
    }
  }
}

OPIX_HOST_SIMD_CLONES __attribute__((flatten)) void pass2Run16(ImageRows<uint16_t>& s, const MgBuffers& b, int pattern,
                                                               int w, int h, int y0, int y1, int hi,
                                                               const SurfaceView& d, Pass2Rows& p) {
  pass2Shape(p, w);
  Pass2<uint16_t> pass{s, b, pattern, w, h, w / 2, hi, p};
  PlanarRows16 rows(d);
  for (int y = y0; y < y1; ++y) {
    const PlanarRow out = rows.row(y);
    pass.pixelRow(y, PlanarPairs{out.r, out.g, out.b});
    rows.deliver(y);
  }
}

}  // namespace

void launchMGHostPass1(const WorkView& work, const MgBuffers& buffers, int pattern, uint32_t width, uint32_t height) {
  const int w = int(width);
  const MgConstants c = mgConstants(maxEstimate(work.format));
  host::parallelFor(height, [&](int64_t y0, int64_t y1) {
    Pass1Rows rows;
    if (work.format == OPIX_I8) {
      ImageRows<uint8_t> samples(work, false);
      pass1Run8(samples, buffers, pattern, w, int(y0), int(y1), c, rows);
    } else {
      ImageRows<uint16_t> samples(work, false);
      pass1Run16(samples, buffers, pattern, w, int(y0), int(y1), c, rows);
    }
  });
}

void launchMGHostPass2(const WorkView& work, const MgBuffers& buffers, const SurfaceView& d, int pattern) {
  const int w = int(d.width), h = int(d.height);
  host::parallelFor(h, [&](int64_t y0, int64_t y1) {
    Pass2Rows rows;
    if (work.format == OPIX_I8) {
      ImageRows<uint8_t> samples(work, true);
      pass2Run8(samples, buffers, pattern, w, h, int(y0), int(y1), d, rows);
    } else {
      ImageRows<uint16_t> samples(work, true);
      pass2Run16(samples, buffers, pattern, w, h, int(y0), int(y1), maxEstimate(work.format), d, rows);
    }
  });
}

}  // namespace opix
