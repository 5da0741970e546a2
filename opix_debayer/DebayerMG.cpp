#include "DebayerMG.h"

#include <algorithm>
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

// The host driver works through bands of rows; each band keeps the planes
// its positions read (gradients, D, greens) over the band and the margin
// they reach, so every value is computed once per band (D in the margin
// rows once per band that reads it). D stays in the band: only the weights
// and greens go to the buffers, which pass 2 reads.
namespace {

constexpr int kBand = 32;

// A plane of values over columns [x0, x0 + width) and rows [y0, y0 + rows).
template <class T>
struct Plane {
  std::vector<T> v;
  int x0 = 0, y0 = 0, width = 0;
  void shape(int left, int top, int w, int rows) {
    x0 = left;
    y0 = top;
    width = w;
    v.resize(size_t(w) * size_t(rows));
  }
  T operator()(int x, int y) const { return v[size_t(y - y0) * size_t(width) + size_t(x - x0)]; }
  T* row(int y) { return v.data() + (ptrdiff_t(y - y0) * width - x0); }  // indexed by x
  const T* row(int y) const { return v.data() + (ptrdiff_t(y - y0) * width - x0); }
};

template <class T>
WorkSamples<T> imageSamples(const WorkView& w) {
  const int64_t pitch = w.pitch / sizeof(T);
  return {reinterpret_cast<const T*>(w.base) + int64_t(w.apron + w.cy) * pitch + (w.apron + w.cx), pitch};
}

// A row of buffer entries by column: cell (x + 2) / 2 of the cell row of y.
struct CellRow {
  float* p;
  float& operator[](int x) const { return p[(x + 2) >> 1]; }
};
CellRow cellRow(float* buffer, const MgBuffers& b, int y) { return {buffer + mgCell(b, -2, y)}; }

// The column parity of the greens of row y.
int greenParity(int pattern, int y) { return mgIsGreen(pattern, 0, y) ? 0 : 1; }

struct Pass1Planes {
  Plane<int> V, H, kv, acrossV, acrossH;
  Plane<float> D;
  std::vector<int> colV, colH, kh;
  std::vector<float> weightV, weightH;
};

// Rows of samples around row y: at(k) is row y + k.
template <class T>
struct SampleRows {
  const WorkSamples<T>& s;
  int y;
  const T* at(int k) const { return s.origin + int64_t(y + k) * s.pitch; }
};

// Pass 1 over rows [y0, y1): D at the sites of rows [y0 - 2, y1 + 2), the
// two-direction weights of the greens and then the green of the sites. The
// steps run over whole rows, sites and greens alike where that lets the
// loops vectorise; every value is an integer until the weights.
template <class T>
void pass1Band(const WorkSamples<T>& s, const MgBuffers& b, int pattern, int w, int y0, int y1, const MgConstants& c,
               Pass1Planes& p) {
  const int rows = y1 - y0;
  p.V.shape(-4, y0 - 4, w + 8, rows + 8);
  p.H.shape(-4, y0 - 4, w + 8, rows + 8);
  p.kv.shape(-3, y0 - 3, w + 6, rows + 6);
  for (int y = y0 - 4; y < y1 + 4; ++y) {
    const T* r[11];
    for (int k = -5; k <= 5; ++k) r[k + 5] = SampleRows<T>{s, y}.at(k);
    int *v = p.V.row(y), *h = p.H.row(y);
    for (int x = -4; x < w + 4; ++x) {
      v[x] = mgGradient([&](int k) { return int(r[k + 5][x]); });
      h[x] = mgGradient([&](int k) { return int(r[5][x + k]); });
    }
    if (y < y0 - 3 || y >= y1 + 3) continue;
    // Four times the column colour difference, for the smoothing of D.
    int* kv = p.kv.row(y);
    const int green = greenParity(pattern, y);
    for (int x = -3; x < w + 3; ++x)
      kv[x] = mgDifference4([&](int k) { return int(r[k + 5][x]); }, ((x - green) & 1) != 0);
  }
  p.D.shape(-2, y0 - 2, w + 4, rows + 4);
  p.colV.resize(size_t(w) + 8);
  p.colH.resize(size_t(w) + 8);
  p.kh.resize(size_t(w) + 6);
  p.weightV.resize(size_t(w) + 4);
  p.weightH.resize(size_t(w) + 4);
  int *cv = p.colV.data() + 4, *ch = p.colH.data() + 4, *kh = p.kh.data() + 3;  // indexed by x
  float *wV = p.weightV.data() + 2, *wH = p.weightH.data() + 2;
  for (int y = y0 - 2; y < y1 + 2; ++y) {
    const int *v0 = p.V.row(y - 2), *v1 = p.V.row(y - 1), *v2 = p.V.row(y), *v3 = p.V.row(y + 1), *v4 = p.V.row(y + 2);
    const int *h0 = p.H.row(y - 2), *h1 = p.H.row(y - 1), *h2 = p.H.row(y), *h3 = p.H.row(y + 1), *h4 = p.H.row(y + 2);
    for (int x = -4; x < w + 4; ++x) {
      cv[x] = v0[x] + v1[x] + v2[x] + v3[x] + v4[x];
      ch[x] = h0[x] + h1[x] + h2[x] + h3[x] + h4[x];
    }
    for (int x = -2; x < w + 2; ++x) {
      const MgWeights wt = mgTwoDirWeights(MgTwoDirSums{cv[x - 2] + cv[x - 1] + cv[x] + cv[x + 1] + cv[x + 2],
                                                        ch[x - 2] + ch[x - 1] + ch[x] + ch[x + 1] + ch[x + 2]},
                                           c);
      wV[x] = wt.v;
      wH[x] = wt.h;
    }
    const int green = greenParity(pattern, y);
    const T* row = SampleRows<T>{s, y}.at(0);
    for (int x = -3; x < w + 3; ++x)
      kh[x] = mgDifference4([&](int k) { return int(row[x + k]); }, ((x - green) & 1) != 0);
    const int *ku = p.kv.row(y - 1), *k0 = p.kv.row(y), *kd = p.kv.row(y + 1);
    float* d = p.D.row(y);
    for (int x = green == 0 ? -1 : -2; x < w + 2; x += 2)
      d[x] = mgSiteDifference(mgSmooth(ku[x], k0[x], kd[x]), mgSmooth(kh[x - 1], kh[x], kh[x + 1]), {wV[x], wH[x]});
    if (y < y0 || y >= y1) continue;
    const int greenPhase = bayerPhase(pattern, green, y);
    const CellRow cellV = cellRow(mgWeightV(b, greenPhase), b, y), cellH = cellRow(mgWeightH(b, greenPhase), b, y);
    for (int x = green; x < w; x += 2) {
      cellV[x] = wV[x];
      cellH[x] = wH[x];
    }
  }
  // The four-direction sums from the terms across each line.
  p.acrossV.shape(0, y0 - 3, w, rows + 6);
  p.acrossH.shape(-3, y0, w + 6, rows);
  for (int y = y0 - 3; y < y1 + 3; ++y) {
    const int* v = p.V.row(y);
    int* a = p.acrossV.row(y);
    for (int x = 0; x < w; ++x) a[x] = mgAcross(v[x], v[x - 1], v[x + 1]);
  }
  for (int y = y0; y < y1; ++y) {
    const int *h = p.H.row(y), *hu = p.H.row(y - 1), *hd = p.H.row(y + 1);
    int* a = p.acrossH.row(y);
    for (int x = -3; x < w + 3; ++x) a[x] = mgAcross(h[x], hu[x], hd[x]);
  }
  static_assert(kMgFourDirLength == 4, "the sums below take four terms");
  for (int y = y0; y < y1; ++y) {
    const int *n0 = p.acrossV.row(y), *n1 = p.acrossV.row(y - 1), *n2 = p.acrossV.row(y - 2),
              *n3 = p.acrossV.row(y - 3), *s1 = p.acrossV.row(y + 1), *s2 = p.acrossV.row(y + 2),
              *s3 = p.acrossV.row(y + 3), *e = p.acrossH.row(y);
    const T* row = SampleRows<T>{s, y}.at(0);
    const int first = 1 - greenParity(pattern, y);
    const CellRow red = cellRow(mgGreen(b, kPhaseR), b, y), blue = cellRow(mgGreen(b, kPhaseB), b, y);
    const CellRow& out = bayerPhase(pattern, first, y) == kPhaseR ? red : blue;
    for (int x = first; x < w; x += 2) {
      const MgFourDirSums sums{n0[x] + n1[x] + n2[x] + n3[x], n0[x] + s1[x] + s2[x] + s3[x],
                               e[x] + e[x - 1] + e[x - 2] + e[x - 3], e[x] + e[x + 1] + e[x + 2] + e[x + 3]};
      out[x] = mgSiteGreenFrom(int(row[x]), p.D, sums, x, y, c);
    }
  }
}

struct Pass2Planes {
  Plane<float> G, S, GS, opp;
};

// Pass 2 over rows [y0, y1).
template <class T, class RowStore>
void pass2Band(const WorkSamples<T>& s, const MgBuffers& b, int pattern, int w, int h, int y0, int y1, int hi,
               Pass2Planes& p, RowStore&& rowStore) {
  p.G.shape(-4, y0 - 4, w + 8, y1 - y0 + 8);
  p.S.shape(-4, y0 - 4, w + 8, y1 - y0 + 8);
  p.GS.shape(-4, y0 - 4, w + 8, y1 - y0 + 8);
  for (int y = y0 - 4; y < y1 + 4; ++y) {
    const int my = mgMirror(y, h);
    const int green = greenParity(pattern, my);
    const CellRow site[2] = {cellRow(mgGreen(b, kPhaseR), b, my), cellRow(mgGreen(b, kPhaseB), b, my)};
    const CellRow& g1 = site[bayerPhase(pattern, 1 - green, my) == kPhaseR ? 0 : 1];
    float *g = p.G.row(y), *sr = p.S.row(y), *gs = p.GS.row(y);
    for (int x = -4; x < w + 4; ++x) {
      const int mx = x >= 0 && x < w ? x : mgMirror(x, w);
      const float sample = float(s(mx, my));
      sr[x] = sample;
      g[x] = ((mx - green) & 1) == 0 ? sample : g1[mx];
      gs[x] = g[x] - sample;
    }
  }
  p.opp.shape(-1, y0 - 1, w + 2, y1 - y0 + 2);
  for (int y = y0 - 1; y < y1 + 1; ++y) {
    const int my = mgMirror(y, h);
    const int green = greenParity(pattern, my);
    float* o = p.opp.row(y);
    // The differences G - S of mgOppositeAt, taken once per position.
    auto opposite = [&](int x) {
      return mgOpposite(p.G(x, my), [&](int dx, int dy) { return p.GS(x + dx, my + dy); });
    };
    for (int x = 1 - green; x < w; x += 2) o[x] = opposite(x);
    o[-1] = ((1 - green) & 1) ? o[1] : 0.0f;         // w is even: the margins mirror
    o[w] = ((w - 2 - green) & 1) ? o[w - 2] : 0.0f;  // positions of the same site
  }
  for (int y = y0; y < y1; ++y) {
    const int green = greenParity(pattern, y);
    const int greenPhase = bayerPhase(pattern, green, y);
    const CellRow wv = cellRow(mgWeightV(b, greenPhase), b, y), wh = cellRow(mgWeightH(b, greenPhase), b, y);
    const auto store = rowStore(y);
    for (int x = 0; x < w; ++x) {
      auto weights = [&] { return MgWeights{wv[x], wh[x]}; };
      store(x, mgPixel(pattern, p.G, p.S, p.opp, weights, x, y, h, hi));
    }
  }
}

template <class T>
void pass1(const WorkView& work, const MgBuffers& b, int pattern, int w, int h) {
  const WorkSamples<T> s = imageSamples<T>(work);
  const MgConstants c = mgConstants(maxEstimate(work.format));
  host::parallelFor((h + kBand - 1) / kBand, [&](int64_t first, int64_t last) {
    Pass1Planes planes;
    for (int64_t band = first; band < last; ++band) {
      const int y0 = int(band) * kBand;
      pass1Band(s, b, pattern, w, y0, std::min(y0 + kBand, h), c, planes);
    }
  });
}

template <class T, class RowStore>
void pass2(const WorkView& work, const MgBuffers& b, int pattern, int w, int h, RowStore&& rowStore) {
  const WorkSamples<T> s = imageSamples<T>(work);
  const int hi = maxEstimate(work.format);
  host::parallelFor((h + kBand - 1) / kBand, [&](int64_t first, int64_t last) {
    Pass2Planes planes;
    for (int64_t band = first; band < last; ++band) {
      const int y0 = int(band) * kBand;
      pass2Band(s, b, pattern, w, h, y0, std::min(y0 + kBand, h), hi, planes, rowStore);
    }
  });
}

}  // namespace

void launchMGHostPass1(const WorkView& work, const MgBuffers& buffers, int pattern, uint32_t width, uint32_t height) {
  if (work.format == OPIX_I8)
    pass1<uint8_t>(work, buffers, pattern, int(width), int(height));
  else
    pass1<uint16_t>(work, buffers, pattern, int(width), int(height));
}

void launchMGHostPass2(const WorkView& work, const MgBuffers& buffers, const SurfaceView& d, int pattern) {
  const int w = int(d.width), h = int(d.height);
  if (work.format == OPIX_I8) {
    pass2<uint8_t>(work, buffers, pattern, w, h, [&](int y) { return Rgb8Row{d.plane[0] + int64_t(y) * d.pitch}; });
  } else {
    pass2<uint16_t>(work, buffers, pattern, w, h, [&](int y) { return planarRow(d, y); });
  }
}

}  // namespace opix
