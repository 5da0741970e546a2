// CUDA drivers of DFPD: each step of the method once per position of a tile
// and the halo the next step needs, through half-resolution planes in shared
// memory, the tiles loaded as aligned 32-bit words. 8-bit: one kernel, the
// 128 x 16 tile and its apron of 6. 16-bit: pass 1 computes the final green
// and the decision of every site into the half-resolution device planes,
// pass 2 rebuilds the pixels from the samples and those planes. Each warp
// stores whole rows of the tile, as 16-byte words where the layout is
// interleaved.
#include "CudaKernel.cuh"
#include "DFPDMath.h"
#include "DebayerDFPD.h"
#include "PixelStores.cuh"
#include "StreamGlobal.h"
#include "WorkTile.cuh"

namespace opix::OPIX_CUDA_NS {

namespace {

constexpr int kThreads = 256, kWarps = kThreads / 32;

// Tile positions (tx, ty) of a block: tile sample (tx, ty) lies at phased
// (tx + ox, ty + oy), and `par` is (ox + oy) & 1, so that the sites are the
// positions with tx + ty + par even. Every half-resolution plane is indexed
// by entry(tx, ty): the sites of a row share a column parity, as do its
// greens, so tx / 2 tells them apart.
template <class T, int Stride, int PlaneStride, int PlaneRow0>
struct DFPDTile {
  const T* s;
  int par;
  __device__ int operator()(int tx, int ty) const { return s[ty * Stride + tx]; }
  static __device__ int entry(int tx, int ty) { return (ty - PlaneRow0) * PlaneStride + (tx >> 1); }
  __device__ bool site(int tx, int ty) const { return ((tx + ty + par) & 1) == 0; }
};

// Calls f(tx, ty) for the sites (or the greens) of tile rows [r0, r0 + Rows)
// in columns [a, a + 2 Count): Count of each per row. The block's threads
// share them out in a fixed number of rounds, unrolled.
template <int Count, int Rows, bool Greens, class F>
__device__ void eachPosition(int a, int r0, int par, const F& f) {
  constexpr int n = Count * Rows;
  OPIX_UNROLL
  for (int k = 0; k < (n + kThreads - 1) / kThreads; ++k) {
    const int item = int(threadIdx.x) + k * kThreads;
    if (n % kThreads == 0 || item < n) {
      const int ty = r0 + item / Count;
      f(a + ((a + ty + par + Greens) & 1) + 2 * (item % Count), ty);
    }
  }
}

// The steps of the method over a tile, each once per position, each into
// its planes. Directional green estimates at sites:
template <int Count, int Rows, class Tile, class P>
__device__ void tileEstimates(const Tile& t, P* gh, P* gv, int a, int r0, int hi) {
  eachPosition<Count, Rows, false>(a, r0, t.par, [&](int tx, int ty) {
    const int c = t(tx, ty), e = Tile::entry(tx, ty);
    gh[e] = P(dfpdEstimate(c, t(tx - 1, ty), t(tx + 1, ty), t(tx - 2, ty), t(tx + 2, ty), hi));
    gv[e] = P(dfpdEstimate(c, t(tx, ty - 1), t(tx, ty + 1), t(tx, ty - 2), t(tx, ty + 2), hi));
  });
}

// Gradients to the next site of the same colour along the row in columns
// before dhEnd, and along the column in the first dvRows rows.
template <int Count, int Rows, class Tile, class P>
__device__ void tileGradients(const Tile& t, const P* gh, const P* gv, P* dh, P* dv, int a, int r0, int dhEnd,
                              int dvRows, int gmax) {
  eachPosition<Count, Rows, false>(a, r0, t.par, [&](int tx, int ty) {
    const int c = t(tx, ty), e = Tile::entry(tx, ty);
    if (tx < dhEnd) dh[e] = P(dfpdGradient(c - gh[e], t(tx + 2, ty) - gh[e + 1], gmax));
    if (ty < r0 + dvRows) dv[e] = P(dfpdGradient(c - gv[e], t(tx, ty + 2) - gv[Tile::entry(tx, ty + 2)], gmax));
  });
}

// The decision and the final green at sites, handed to store(tx, ty, green,
// horizontal), which may overwrite the site's own estimates.
template <int Count, int Rows, class Tile, class P, class Store>
__device__ void tileDecisions(const Tile& t, const P* gh, const P* gv, const P* dh, const P* dv, int a, int r0,
                              const Store& store) {
  eachPosition<Count, Rows, false>(a, r0, t.par, [&](int tx, int ty) {
    const bool horizontal = dfpdHorizontal([&](int dx, int dy) -> int { return dh[Tile::entry(tx + dx, ty + dy)]; },
                                           [&](int dx, int dy) -> int { return dv[Tile::entry(tx + dx, ty + dy)]; });
    const int e = Tile::entry(tx, ty);
    store(tx, ty, horizontal ? int(gh[e]) : int(gv[e]), horizontal);
  });
}

// The colours of the greens from the final green of the sites around them.
template <int Count, int Rows, class Tile, class G, class C>
__device__ void tileGreenColours(const Tile& t, const G* green, C* rowColour, C* colColour, int a, int r0, int hi) {
  eachPosition<Count, Rows, true>(a, r0, t.par, [&](int tx, int ty) {
    auto diff = [&](int x, int y) { return t(x, y) - int(green[Tile::entry(x, y)]); };
    const GreenColours c =
        dfpdGreenColours(t(tx, ty), diff(tx - 1, ty), diff(tx + 1, ty), diff(tx, ty - 1), diff(tx, ty + 1), hi);
    const int e = Tile::entry(tx, ty);
    rowColour[e] = C(c.row);
    colColour[e] = C(c.column);
  });
}

// The pixel at a tile position from the planes: the final green and the
// decision of sites, the colours of greens.
template <class Tile, class G, class H, class C>
__device__ Rgb tilePixel(const Tile& t, const G* green, const H* horizontal, const C* rowColour, const C* colColour,
                         int tx, int ty, bool blueRow, int hi) {
  const int c = t(tx, ty), e = Tile::entry(tx, ty);
  if (!t.site(tx, ty)) {
    const int row = rowColour[e], column = colColour[e];
    return blueRow ? Rgb{column, c, row} : Rgb{row, c, column};
  }
  auto colourDiff = [&](int x, int y) {
    const int k = Tile::entry(x, y);
    return int(colColour[k]) - int(rowColour[k]);
  };
  const int other = horizontal[e] ? dfpdMissingAlongRow(c, colourDiff(tx - 1, ty), colourDiff(tx + 1, ty), hi)
                                  : dfpdMissingAlongColumn(c, colourDiff(tx, ty - 1), colourDiff(tx, ty + 1), hi);
  const int g = green[e];
  return blueRow ? Rgb{other, g, c} : Rgb{c, g, other};
}

constexpr int kTw8 = 128, kTh8 = 16, kApron = 6;
static_assert(kTw8 / 4 == 32, "a warp stores a row of the tile");
constexpr int kWords8 = (kTw8 + 2 * kApron + 4) / 4;  // one more word for the column shift
constexpr int kRows8 = kTh8 + 2 * kApron;
// The planes cover tile rows [2, 26) and every tile column.
constexpr int kPlaneRow8 = kApron - 4, kPlaneRows8 = kTh8 + 8, kPlaneStride8 = 2 * kWords8;
using Tile8 = DFPDTile<uint8_t, 4 * kWords8, kPlaneStride8, kPlaneRow8>;

// Each step once per position of the tile and the halo the next step needs,
// into byte planes in shared memory. With c0 the tile column of the block's
// first output pixel and tile row 6 its first row: estimates at columns
// [c0 - 4, c0 + 134), gradients [c0 - 4, c0 + 132), rows [2, 26) (vertical
// ones [2, 24)); decisions and final green [c0 - 2, c0 + 130), rows [4, 24);
// colours of the greens [c0 - 1, c0 + 129), rows [5, 23); then the pixels.
// Eight blocks an SM: 32 registers a thread.
// kernel-report MenonKernel8: block 256, 8 px per thread, reads 1 B/px, writes 3 B/px; budget 32 regs, 310 SASS/px
template <bool Corrected>
__global__ void __launch_bounds__(kThreads, 8) MenonKernel8(WorkView w, SurfaceView d, int sx, int sy) {
  __shared__ uint32_t tile[kRows8 * kWords8];
  __shared__ uint8_t planes[4][kPlaneRows8 * kPlaneStride8];
  const int x0 = blockIdx.x * kTw8, y0 = blockIdx.y * kTh8;
  // Phased column X lies at work column apron + cx - sx + X (cx = sx for 8 bits).
  loadTile<uint8_t, Corrected, kRows8, kWords8, kThreads>(tile, w, x0 / 4, y0 + sy);
  __syncthreads();

  // Tile sample (0, 0) is phased (x0 - apron - cx + sx, y0 + sy - apron).
  const Tile8 t{reinterpret_cast<const uint8_t*>(tile), (w.cx + sx + sy) & 1};
  const int c0 = kApron + w.cx;
  uint8_t *gh = planes[0], *gv = planes[1], *dh = planes[2], *dv = planes[3];
  tileEstimates<69, 24>(t, gh, gv, c0 - 4, 2, 255);
  __syncthreads();
  tileGradients<68, 24>(t, gh, gv, dh, dv, c0 - 4, 2, c0 + 132, 22, 255);
  __syncthreads();
  // The final green and the decision replace the site's estimates.
  uint8_t *green = gh, *horizontal = gv;
  tileDecisions<66, 20>(t, gh, gv, dh, dv, c0 - 2, 4, [&](int tx, int ty, int g, bool h) {
    const int e = Tile8::entry(tx, ty);
    green[e] = uint8_t(g);
    horizontal[e] = h;
  });
  __syncthreads();
  // The gradients are spent: the colours of the greens take their planes.
  uint8_t *rowColour = dh, *colColour = dv;
  tileGreenColours<65, 18>(t, green, rowColour, colColour, c0 - 1, 5, 255);
  __syncthreads();

  // Warp v stores tile rows v + kWarps x j.
  const int col = 4 * (int(threadIdx.x) % 32), warp = int(threadIdx.x) / 32;
  storeWarpRows<uint8_t, kWarps, kTh8 / kWarps>(d, x0, y0 + warp, kWarps, [&](int i, int j) {
    const int row = warp + kWarps * j;
    return tilePixel(t, green, horizontal, rowColour, colColour, c0 + col + i, kApron + row, (y0 + row + sy) & 1, 255);
  });
}

// Phased column X of a 16-bit work image lies at work column
// apron + cx - sx + X, phased row Y at work row apron + Y. Plane cell
// (ci, cj) holds the sites of work columns cx + 4 + 2ci, cx + 5 + 2ci and
// rows 4 + 2cj, 5 + 2cj: one red site (even row) and one blue site.
constexpr int kTw16 = 64, kTh16 = 32;
static_assert(kTw16 / 2 == 32, "a warp stores a row of the tile");

// Pass 1 over the sites of 32 x 16 cells, from a tile of the work image at
// the block's first cell column and row less the apron of 4; tiles start at
// an even work column and hold one more word for the column shift. With
// a = 2 + cx: estimates at tile columns [a, a + 68), gradients along rows
// [a, a + 66) and along columns [a, a + 68), rows [2, 38) (along columns
// [2, 36)), decisions and final green [a + 2, a + 66), rows [4, 36).
constexpr int kWords1 = (kTw16 + 8) / 2 + 1, kRows1 = kTh16 + 8;
constexpr int kPlaneStride1 = 36, kPlaneRow1 = 2, kPlaneRows1 = kTh16 + 4;
using Tile16a = DFPDTile<uint16_t, 2 * kWords1, kPlaneStride1, kPlaneRow1>;

// kernel-report MenonGpuGrGbKernel16: block 256, 8 px per thread, reads 2 B/px, writes 1.5 B/px; budget 48 regs, 180 SASS/px
template <int Hi, bool Corrected>
__global__ void __launch_bounds__(kThreads, 4)
    MenonGpuGrGbKernel16(WorkView w, DFPDPlanes planes, int sx, int needW, int needH) {
  __shared__ uint32_t tile[kRows1 * kWords1];
  __shared__ uint16_t estimates[4][kPlaneRows1 * kPlaneStride1];
  const int c0 = blockIdx.x * kTw16, r0 = blockIdx.y * kTh16;  // work column and row of the input tile
  loadTile<uint16_t, Corrected, kRows1, kWords1, kThreads>(tile, w, c0 / 2, r0);
  __syncthreads();

  // Tile sample (0, 0) is phased (c0 - 6 - cx + sx, r0 - 6), c0 and r0 even.
  const Tile16a t{reinterpret_cast<const uint16_t*>(tile), (w.cx + sx) & 1};
  const int a = 2 + w.cx;
  uint16_t *gh = estimates[0], *gv = estimates[1], *dh = estimates[2], *dv = estimates[3];
  tileEstimates<34, 36>(t, gh, gv, a, 2, Hi);
  __syncthreads();
  tileGradients<34, 36>(t, gh, gv, dh, dv, a, 2, a + 66, 34, dfpdGradientMax(Hi));
  __syncthreads();
  const int ci0 = blockIdx.x * (kTw16 / 2), cj0 = blockIdx.y * (kTh16 / 2);
  tileDecisions<32, 32>(t, gh, gv, dh, dv, a + 2, 4, [&](int tx, int ty, int g, bool h) {
    const int ci = ci0 + ((tx - a - 2) >> 1), cj = cj0 + ((ty - 4) >> 1);
    if (ci >= needW || cj >= needH) return;
    const bool blue = ty & 1;
    unsigned char* green = (blue ? planes.green[1] : planes.green[0]) + size_t(cj) * planes.greenPitch;
    unsigned char* flag = (blue ? planes.horizontal[1] : planes.horizontal[0]) + size_t(cj) * planes.flagPitch;
    reinterpret_cast<uint16_t*>(green)[ci] = uint16_t(g);
    flag[ci] = h;
  });
}

// Pass 2 over a 64 x 32 tile with an apron of 2 (and cx): the final green
// and the decision of its sites from the planes, the colours of the greens
// at tile columns [cx + 1, cx + 67), rows [1, 35), then the pixels.
constexpr int kWords2 = (kTw16 + 6) / 2, kRows2 = kTh16 + 4;
constexpr int kPlaneStride2 = kWords2;
using Tile16b = DFPDTile<uint16_t, 2 * kWords2, kPlaneStride2, 0>;

// Eight blocks an SM: 32 registers a thread.
// kernel-report MenonGpuRgbKernel16: block 256, 8 px per thread, reads 3.5 B/px, writes 6 B/px; budget 32 regs, 244 SASS/px
template <int Hi, bool Corrected>
__global__ void __launch_bounds__(kThreads, 8)
    MenonGpuRgbKernel16(WorkView w, DFPDPlanes planes, SurfaceView d, int sx, int sy) {
  __shared__ uint32_t tile[kRows2 * kWords2];
  __shared__ uint16_t green[kRows2 * kPlaneStride2], rowColour[kRows2 * kPlaneStride2],
      colColour[kRows2 * kPlaneStride2];
  __shared__ uint8_t horizontal[kRows2 * kPlaneStride2];
  const int x0 = blockIdx.x * kTw16, y0 = blockIdx.y * kTh16;
  // Output column x lies at work column apron + cx + x, row y at apron + sy + y.
  const int c0 = x0 + w.apron - 2, r0 = y0 + sy + w.apron - 2;
  loadTile<uint16_t, Corrected, kRows2, kWords2, kThreads>(tile, w, c0 / 2, r0);
  // Tile sample (0, 0) is phased (x0 - cx + sx - 2, y0 + sy - 2).
  const Tile16b t{reinterpret_cast<const uint16_t*>(tile), (w.cx + sx + sy) & 1};
  eachPosition<kWords2, kRows2, false>(0, 0, t.par, [&](int tx, int ty) {
    const int ci = (c0 + tx - w.cx - 4) >> 1, cj = (r0 + ty - 4) >> 1;
    const bool blue = (r0 + ty) & 1;
    const bool inside = ci >= 0 && ci < int(planes.halfWidth) && cj < int(planes.halfHeight);
    const unsigned char* g = (blue ? planes.green[1] : planes.green[0]) + size_t(cj) * planes.greenPitch;
    const unsigned char* h = (blue ? planes.horizontal[1] : planes.horizontal[0]) + size_t(cj) * planes.flagPitch;
    const int e = Tile16b::entry(tx, ty);
    green[e] = inside ? reinterpret_cast<const uint16_t*>(g)[ci] : 0;
    horizontal[e] = inside ? h[ci] : 0;
  });
  __syncthreads();
  tileGreenColours<33, 34>(t, green, rowColour, colColour, 1 + w.cx, 1, Hi);
  __syncthreads();

  // Warp v stores tile rows v + kWarps x j.
  const int col = 2 * (int(threadIdx.x) % 32), warp = int(threadIdx.x) / 32;
  storeWarpRows<uint16_t, kWarps, kTh16 / kWarps>(d, x0, y0 + warp, kWarps, [&](int i, int j) {
    const int row = warp + kWarps * j;
    return tilePixel(t, green, horizontal, rowColour, colColour, 2 + w.cx + col + i, 2 + row, (y0 + row + sy) & 1, Hi);
  });
}

template <int Hi, bool Corrected>
void launch16(const WorkView& work, const DFPDPlanes& planes, const SurfaceView& d, int sx, int sy) {
  const int w = int(d.width), h = int(d.height);
  // Sites needed by pass 2: work columns [4, w + 8) and rows [4 + sy, h + sy + 8).
  const int needW = (w + 5) / 2, needH = (h + sy + 5) / 2;
  const dim3 grid1(ceilDiv(w + 8, kTw16), ceilDiv(h + 9, kTh16), 1);
  launchKernel(MenonGpuGrGbKernel16<Hi, Corrected>, grid1, kThreads, work, planes, sx, needW, needH);
  launchCheck("GPUMenonDebayer 1");
  const dim3 grid2(ceilDiv(w, kTw16), ceilDiv(h + 1, kTh16), 1);
  launchKernel(MenonGpuRgbKernel16<Hi, Corrected>, grid2, kThreads, work, planes, d, sx, sy);
  launchCheck("GPUMenonDebayer 2");
}

}  // namespace

void launchDFPD8Cuda(const WorkView& work, const SurfaceView& d, int sx, int sy) {
  const dim3 grid(ceilDiv(work.width - 2 * kApron, kTw8), ceilDiv(work.height - 2 * kApron, kTh8), 1);
  if (work.corrections.any())
    launchKernel(MenonKernel8<true>, grid, kThreads, work, d, sx, sy);
  else
    launchKernel(MenonKernel8<false>, grid, kThreads, work, d, sx, sy);
}

void launchDFPD16Cuda(const WorkView& work, const DFPDPlanes& planes, const SurfaceView& d, int sx, int sy) {
  const bool corrected = work.corrections.any();
  if (work.format == OPIX_I12)
    corrected ? launch16<4095, true>(work, planes, d, sx, sy) : launch16<4095, false>(work, planes, d, sx, sy);
  else
    corrected ? launch16<65535, true>(work, planes, d, sx, sy) : launch16<65535, false>(work, planes, d, sx, sy);
}

}  // namespace opix::OPIX_CUDA_NS
