// CUDA driver of MG: 32 x 8 threads per block, tiles of 64 x 32 pixels.
// Pass 1: MGKernel1_g computes D at every site and the two-direction weights
// at every green into the buffers; MGKernel1_hv then the green at every site.
// Both load their part of the tile with an apron of 8 samples as 32-bit
// words and keep the gradients V and H of it and 3 around it in shared
// memory (the "e" kernels take larger parts). Pass 2:
// MGKernel2 builds the mirrored green and sample planes of its tile and 4
// around it, step 6 at every site of the tile and 1 around it, and stores
// the pixels as 32-bit words.
#include "CudaKernel.cuh"
#include "DebayerMG.h"
#include "PixelStores.cuh"
#include "StreamGlobal.h"
#include "WorkTile.cuh"

namespace opix::OPIX_CUDA_NS {

namespace {

constexpr int kTileW = 64, kTileH = 32;
constexpr int kThreads = 256;

// A plane of shared memory over columns [x0, x0 + stride) and rows from y0.
template <class V>
struct SharedPlane {
  V* p;
  int x0, y0, stride;
  __device__ V operator()(int x, int y) const { return p[(y - y0) * stride + (x - x0)]; }
  __device__ V& at(int x, int y) const { return p[(y - y0) * stride + (x - x0)]; }
};

__device__ int threadIndex() { return int(threadIdx.y * blockDim.x + threadIdx.x); }

// Pass 1 works on slot (tx, ty), the positions [X0, X0 + 64) x
// [Y, Y + 32) with X0 = 64 tx - 2 and Y = 32 ty - 2, in parts of Rows rows:
// the part from Y0 loads the samples [X0 - 8, X0 + 72) x [Y0 - 8,
// Y0 + Rows + 8) and keeps the gradients of [X0 - 3, X0 + 67) x [Y0 - 3,
// Y0 + Rows + 3). The kernels of devices with much shared memory per
// multiprocessor take the slot whole, the others in halves; both compute
// every value alike.
constexpr int kRaw1Samples = 84;
constexpr int kGradW = kTileW + 6;

template <int Rows>
struct Pass1Shared {
  static constexpr int kRawRows = Rows + 16, kGradH = Rows + 6;
  uint32_t raw[kRawRows * kRaw1Samples / 2];
  int v[kGradW * kGradH], h[kGradW * kGradH];
};

template <class T>
struct Pass1Tile {
  SharedTile<T> s;
  SharedPlane<int> V, H;
};

template <class T, int Rows>
__device__ Pass1Tile<T> loadPass1Tile(Pass1Shared<Rows>& sh, const WorkView& w, int tx, int Y0) {
  using Shared = Pass1Shared<Rows>;
  constexpr int spw = 4 / int(sizeof(T));
  const int X0 = kTileW * tx - 2;
  // Image column x lies at work column x + apron + cx; X0 - 8 + apron >= 64 tx + 2.
  const int wx = kTileW * tx / spw, wy = Y0 - 8 + w.apron + w.cy;
  constexpr int words = kRaw1Samples / spw;
  const bool checked = wx + words > int(w.pitch / 4) || wy + Shared::kRawRows > int(w.height);
  loadTile(sh.raw, Shared::kRawRows, words, w, wx, wy, checked);
  __syncthreads();
  const Pass1Tile<T> t{
      {reinterpret_cast<const T*>(sh.raw), kRaw1Samples, wx * spw - w.apron - w.cx, wy - w.apron - w.cy},
      {sh.v, X0 - 3, Y0 - 3, kGradW},
      {sh.h, X0 - 3, Y0 - 3, kGradW}};
  for (int i = threadIndex(); i < kGradW * Shared::kGradH; i += kThreads) {
    const int x = X0 - 3 + i % kGradW, y = Y0 - 3 + i / kGradW;
    t.V.at(x, y) = mgGradientV(t.s, x, y);
    t.H.at(x, y) = mgGradientH(t.s, x, y);
  }
  __syncthreads();
  return t;
}

// D at the sites of [-2, w + 2) x [-2, h + 2), the two-direction weights at
// the greens of the image. The grid may be smaller than the slots: blocks
// stride over them.
template <class T, int Rows>
__device__ void pass1Differences(Pass1Shared<Rows>& sh, const WorkView& w, const MgBuffers& b, const MgConstants& c,
                                 int pattern, int width, int height, int gx1, int gy1) {
  for (int ty = int(blockIdx.y); ty < gy1; ty += int(gridDim.y))
    for (int tx = int(blockIdx.x); tx < gx1; tx += int(gridDim.x))
      for (int part = 0; part < kTileH; part += Rows) {
        const int Y0 = kTileH * ty - 2 + part;
        const Pass1Tile<T> t = loadPass1Tile<T, Rows>(sh, w, tx, Y0);
        for (int i = threadIndex(); i < kTileW * Rows; i += kThreads) {
          const int x = kTileW * tx - 2 + i % kTileW, y = Y0 + i / kTileW;
          if (x >= width + 2 || y >= height + 2) continue;
          const MgWeights wt = mgTwoDirWeights(mgTwoDirSums(t.V, t.H, x, y), c);
          const int phase = bayerPhase(pattern, x, y);
          const int64_t cell = mgCell(b, x, y);
          if (phase == kPhaseR || phase == kPhaseB) {
            mgDifference(b, phase)[cell] = mgSiteDifference(mgSmoothedV(t.s, x, y), mgSmoothedH(t.s, x, y), wt);
          } else if (x >= 0 && y >= 0 && x < width && y < height) {
            mgWeightV(b, phase)[cell] = wt.v;
            mgWeightH(b, phase)[cell] = wt.h;
          }
        }
        __syncthreads();  // the next part reuses the shared planes
      }
}

// The green at the sites of the image in slot (blockIdx.x, blockIdx.y).
template <class T, int Rows>
__device__ void pass1Greens(Pass1Shared<Rows>& sh, const WorkView& w, const MgBuffers& b, const MgConstants& c,
                            int pattern, int width, int height) {
  const int tx = int(blockIdx.x), ty = int(blockIdx.y);
  auto D = [&](int x, int y) { return mgDifference(b, bayerPhase(pattern, x, y))[mgCell(b, x, y)]; };
  for (int part = 0; part < kTileH; part += Rows) {
    const int Y0 = kTileH * ty - 2 + part;
    const Pass1Tile<T> t = loadPass1Tile<T, Rows>(sh, w, tx, Y0);
    for (int i = threadIndex(); i < kTileW * Rows; i += kThreads) {
      const int x = kTileW * tx - 2 + i % kTileW, y = Y0 + i / kTileW;
      if (x < 0 || y < 0 || x >= width || y >= height || mgIsGreen(pattern, x, y)) continue;
      mgGreen(b, bayerPhase(pattern, x, y))[mgCell(b, x, y)] = mgSiteGreen(t.s(x, y), D, t.V, t.H, x, y, c);
    }
    __syncthreads();
  }
}

// Per position: D (a float at half the sites) and two weights (floats at
// the greens); pass 1's second kernel reads D back and writes the green of
// the sites; pass 2 reads greens and weights. One position per pass of the
// main loop, whose inner loops count once.
// kernel-report MGKernel1_g<unsigned char>: block 256, 1 px per loop pass, reads 1 B/px, writes 6 B/px; budget 40 regs, 850 SASS/px, stack 120 B
// kernel-report MGKernel1_g<unsigned short>: block 256, 1 px per loop pass, reads 2 B/px, writes 6 B/px; budget 40 regs, 850 SASS/px, stack 120 B
// kernel-report MGKernel1e_g<unsigned char>: block 256, 1 px per loop pass, reads 1 B/px, writes 6 B/px; budget 40 regs, 450 SASS/px, stack 120 B
// kernel-report MGKernel1e_g<unsigned short>: block 256, 1 px per loop pass, reads 2 B/px, writes 6 B/px; budget 40 regs, 450 SASS/px, stack 120 B
// kernel-report MGKernel1_hv<unsigned char>: block 256, 1 px per loop pass, reads 3 B/px, writes 2 B/px; budget 40 regs, 750 SASS/px, stack 120 B
// kernel-report MGKernel1_hv<unsigned short>: block 256, 1 px per loop pass, reads 4 B/px, writes 2 B/px; budget 40 regs, 750 SASS/px, stack 120 B
// kernel-report MGKernel1e_hv<unsigned char>: block 256, 1 px per loop pass, reads 3 B/px, writes 2 B/px; budget 48 regs, 300 SASS/px, stack 120 B
// kernel-report MGKernel1e_hv<unsigned short>: block 256, 1 px per loop pass, reads 4 B/px, writes 2 B/px; budget 48 regs, 300 SASS/px, stack 120 B
template <class T>
__global__ void MGKernel1_g(WorkView w, MgBuffers b, MgConstants c, int pattern, int width, int height, int gx1,
                            int gy1) {
  __shared__ Pass1Shared<kTileH / 2> sh;
  pass1Differences<T>(sh, w, b, c, pattern, width, height, gx1, gy1);
}

template <class T>
__global__ void MGKernel1_hv(WorkView w, MgBuffers b, MgConstants c, int pattern, int width, int height) {
  __shared__ Pass1Shared<kTileH / 2> sh;
  pass1Greens<T>(sh, w, b, c, pattern, width, height);
}

template <class T>
__global__ void MGKernel1e_g(WorkView w, MgBuffers b, MgConstants c, int pattern, int width, int height, int gx1,
                             int gy1) {
  __shared__ Pass1Shared<kTileH> sh;
  pass1Differences<T>(sh, w, b, c, pattern, width, height, gx1, gy1);
}

template <class T>
__global__ void MGKernel1e_hv(WorkView w, MgBuffers b, MgConstants c, int pattern, int width, int height) {
  __shared__ Pass1Shared<kTileH> sh;
  pass1Greens<T>(sh, w, b, c, pattern, width, height);
}

// Pass 2 tiles: pixels [x0, x0 + 64) x [y0, y0 + 32); samples of
// [x0 - 4, x0 + 68) x [y0 - 4, y0 + 36) from the work image, the mirrored
// planes over the same area, step 6 over [x0 - 1, x0 + 65) x [y0 - 1, y0 + 33).
constexpr int kRaw2Samples = 76, kRaw2Rows = kTileH + 8;
constexpr int kPlaneW = kTileW + 8, kPlaneH = kTileH + 8;
constexpr int kOppW = kTileW + 2, kOppH = kTileH + 2;

// Whole kernel per thread: its loops count once.
// kernel-report MGKernel2<unsigned char>: block 256, 4 px per thread, reads 7 B/px, writes 3 B/px; budget 56 regs, 480 SASS/px, stack 120 B
// kernel-report MGKernel2<unsigned short>: block 256, 2 px per thread, reads 8 B/px, writes 6 B/px; budget 48 regs, 660 SASS/px, stack 120 B
template <class T>
__global__ void MGKernel2(WorkView w, MgBuffers b, SurfaceView d, int pattern, int hi) {
  __shared__ uint32_t raw[kRaw2Rows * kRaw2Samples / 2];
  __shared__ float gPlane[kPlaneW * kPlaneH], sPlane[kPlaneW * kPlaneH], oppPlane[kOppW * kOppH];
  constexpr int spw = 4 / int(sizeof(T));
  const int width = int(d.width), height = int(d.height);
  const int x0 = kTileW * int(blockIdx.x), y0 = kTileH * int(blockIdx.y);
  const int wx = (x0 - 4 + w.apron) / spw, wy = y0 - 4 + w.apron + w.cy;
  constexpr int words = kRaw2Samples / spw;
  const bool checked = wx + words > int(w.pitch / 4) || wy + kRaw2Rows > int(w.height);
  loadTile(raw, kRaw2Rows, words, w, wx, wy, checked);
  __syncthreads();

  const SharedTile<T> s{reinterpret_cast<const T*>(raw), kRaw2Samples, wx * spw - w.apron - w.cx, wy - w.apron - w.cy};
  const SharedPlane<float> G{gPlane, x0 - 4, y0 - 4, kPlaneW}, S{sPlane, x0 - 4, y0 - 4, kPlaneW};
  // Positions beyond the image that no pixel reaches stay unset.
  for (int i = threadIndex(); i < kPlaneW * kPlaneH; i += kThreads) {
    const int x = x0 - 4 + i % kPlaneW, y = y0 - 4 + i / kPlaneW;
    if (x >= width + 4 || y >= height + 4) continue;
    const int mx = mgMirror(x, width), my = mgMirror(y, height);
    const float sample = float(s(mx, my));
    S.at(x, y) = sample;
    G.at(x, y) = mgIsGreen(pattern, mx, my) ? sample : mgGreen(b, bayerPhase(pattern, mx, my))[mgCell(b, mx, my)];
  }
  __syncthreads();

  const SharedPlane<float> opp{oppPlane, x0 - 1, y0 - 1, kOppW};
  for (int i = threadIndex(); i < kOppW * kOppH; i += kThreads) {
    const int x = x0 - 1 + i % kOppW, y = y0 - 1 + i / kOppW;
    if (x >= width + 1 || y >= height + 1) continue;
    const int mx = mgMirror(x, width), my = mgMirror(y, height);
    opp.at(x, y) = mgIsGreen(pattern, mx, my) ? 0.0f : mgOppositeAt(G, S, mx, my);
  }
  __syncthreads();

  constexpr int per = kTileW / kStorePixels<T>;
  for (int i = threadIndex(); i < per * kTileH; i += kThreads) {
    const int x = x0 + kStorePixels<T> * (i % per), y = y0 + i / per;
    if (x >= width || y >= height) continue;
    storePixels<T>(d, x, y, [&](int k) {
      auto weights = [&] {
        const int phase = bayerPhase(pattern, x + k, y);
        const int64_t cell = mgCell(b, x + k, y);
        return MgWeights{mgWeightV(b, phase)[cell], mgWeightH(b, phase)[cell]};
      };
      return mgPixel(pattern, G, S, opp, weights, x + k, y, height, hi);
    });
  }
}

template <class T>
void pass1(const WorkView& work, const MgBuffers& b, int pattern, uint32_t width, uint32_t height, bool largeShared) {
  const MgGeometry g = mgGeometry(width, height);
  const MgConstants c = mgConstants(maxEstimate(work.format));
  const dim3 block(32, 8, 1);
  // The first kernel's grid is one block smaller each way; at least one.
  const dim3 gridG(g.gx1 > 1 ? uint32_t(g.gx1 - 1) : 1u, g.gy1 > 1 ? uint32_t(g.gy1 - 1) : 1u, 1);
  const dim3 grid(uint32_t(g.gx1), uint32_t(g.gy1), 1);
  const int w = int(width), h = int(height), gx1 = int(g.gx1), gy1 = int(g.gy1);
  if (largeShared)
    launchKernel(MGKernel1e_g<T>, gridG, block, work, b, c, pattern, w, h, gx1, gy1);
  else
    launchKernel(MGKernel1_g<T>, gridG, block, work, b, c, pattern, w, h, gx1, gy1);
  launchCheck("GPUMGDebayer1");
  if (largeShared)
    launchKernel(MGKernel1e_hv<T>, grid, block, work, b, c, pattern, w, h);
  else
    launchKernel(MGKernel1_hv<T>, grid, block, work, b, c, pattern, w, h);
}

}  // namespace

void launchMGCudaPass1(const WorkView& work, const MgBuffers& b, int pattern, uint32_t width, uint32_t height,
                       bool largeShared) {
  if (work.format == OPIX_I8)
    pass1<uint8_t>(work, b, pattern, width, height, largeShared);
  else
    pass1<uint16_t>(work, b, pattern, width, height, largeShared);
}

void launchMGCudaPass2(const WorkView& work, const MgBuffers& b, const SurfaceView& d, int pattern) {
  const dim3 block(32, 8, 1);
  const dim3 grid(ceilDiv(d.width, kTileW), ceilDiv(d.height, kTileH), 1);
  if (work.format == OPIX_I8)
    launchKernel(MGKernel2<uint8_t>, grid, block, work, b, d, pattern, maxEstimate(work.format));
  else
    launchKernel(MGKernel2<uint16_t>, grid, block, work, b, d, pattern, maxEstimate(work.format));
}

}  // namespace opix::OPIX_CUDA_NS
