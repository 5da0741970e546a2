// CUDA driver of MG: 32 x 8 threads per block. Pass 1 (MGKernel1, or
// MGKernel1e on devices with much shared memory) computes, per block of 64
// columns, the gradients, their window sums, D and the weights in shared
// memory, and writes only what pass 2 reads: the weights at the greens and
// the green at the sites. Pass 2 (MGKernel2, tiles of 64 x 32) builds the
// mirrored green and sample planes of its tile and 4 around it, step 6 at
// every site of the tile and 1 around it, and stores the pixels as 32-bit
// words.
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

// The work of a block spread over its threads in unrolled rounds: f(i) for
// i in [0, N), a fixed number of rounds per thread.
template <int N, class F>
__device__ void forEachIndex(const F& f) {
  const int t = threadInBlock();
  OPIX_UNROLL
  for (int k = 0; k < (N + kThreads - 1) / kThreads; ++k) {
    const int i = t + k * kThreads;
    if (N % kThreads == 0 || i < N) f(i);
  }
}

// Pass 1 block: the positions [X0, X0 + 64) x [Y0, Y0 + Rows) of the image.
// Samples [X0 - 12 - cx, X0 + 76 - cx) x [Y0 - 9, Y0 + Rows + 9) (from work
// column X0, word-aligned; the copy's shift cx is 0 or 1) give the gradients V and H over
// [X0 - 4, X0 + 68) x [Y0 - 4, Y0 + Rows + 4) (they reach 5); their sums down
// 5 rows over rows [Y0 - 2, Y0 + Rows + 2) and 5 of those along the row give
// the window sums, hence the weights and D at the sites of
// [X0 - 2, X0 + 66) x [Y0 - 2, Y0 + Rows + 2) and the weights at the greens of
// the block; the green of the block's sites follows from D two away and the
// four-direction sums over V and H. Devices with much shared memory per
// multiprocessor take blocks of 16 rows, the others of 8; all values are
// alike.
template <class T, int Rows>
struct Pass1Shared {
  static constexpr int kRawW = kTileW + 24, kRawH = Rows + 18;
  static constexpr int kGradW = kTileW + 8, kGradH = Rows + 8;
  static constexpr int kSumH = Rows + 4;         // column sums, kGradW wide
  static constexpr int kSiteW = kTileW / 2 + 2;  // D: the sites of a row, 2 either side of the block
  uint32_t raw[kRawW * kRawH * sizeof(T) / 4];
  int v[kGradW * kGradH], h[kGradW * kGradH];
  int cv[kGradW * kSumH], ch[kGradW * kSumH];
  float d[kSiteW * kSumH];
};

// The column of the first site (0 or 1) of image row y.
__device__ int siteParity(int pattern, int y) { return mgIsGreen(pattern, 0, y) ? 1 : 0; }

template <class T, int Rows, bool Corrected>
__device__ void pass1Block(Pass1Shared<T, Rows>& sh, const WorkView& w, const MgBuffers& b, const MgConstants& c,
                           int pattern, int width, int height) {
  using Sh = Pass1Shared<T, Rows>;
  constexpr int spw = 4 / int(sizeof(T)), words = Sh::kRawW / spw, gw = Sh::kGradW, sw = Sh::kSiteW;
  const int X0 = kTileW * int(blockIdx.x), Y0 = Rows * int(blockIdx.y);
  const int wx = X0 / spw, wy = Y0 - 9 + w.apron + w.cy;
  loadTile<T, Corrected, Sh::kRawH, words, kThreads>(sh.raw, w, wx, wy, threadInBlock());
  __syncthreads();

  const SharedTile<T> s{reinterpret_cast<const T*>(sh.raw), Sh::kRawW, X0 - w.apron - w.cx, Y0 - 9};
  forEachIndex<gw * Sh::kGradH>([&](int i) {
    const int x = X0 - 4 + i % gw, y = Y0 - 4 + i / gw;
    sh.v[i] = mgGradientV(s, x, y);
    sh.h[i] = mgGradientH(s, x, y);
  });
  __syncthreads();

  forEachIndex<gw * Sh::kSumH>([&](int i) {
    const int* v = sh.v + i;
    const int* h = sh.h + i;
    sh.cv[i] = (((v[0] + v[gw]) + v[2 * gw]) + v[3 * gw]) + v[4 * gw];
    sh.ch[i] = (((h[0] + h[gw]) + h[2 * gw]) + h[3 * gw]) + h[4 * gw];
  });
  __syncthreads();

  // The weights at (x, y) of the summed rows: row r from Y0 - 2, column x.
  auto weightsAt = [&](int x, int r) {
    const int* v = sh.cv + r * gw + (x - (X0 - 4)) - 2;
    const int* h = sh.ch + r * gw + (x - (X0 - 4)) - 2;
    return mgTwoDirWeights({(((v[0] + v[1]) + v[2]) + v[3]) + v[4], (((h[0] + h[1]) + h[2]) + h[3]) + h[4]}, c);
  };
  forEachIndex<sw * Sh::kSumH>([&](int i) {
    const int r = i / sw, y = Y0 - 2 + r, x = X0 - 2 + 2 * (i % sw) + siteParity(pattern, y);
    sh.d[i] = mgSiteDifference(mgSmoothedV(s, x, y), mgSmoothedH(s, x, y), weightsAt(x, r));
  });
  forEachIndex<kTileW / 2 * Rows>([&](int i) {
    const int y = Y0 + i / (kTileW / 2), x = X0 + 2 * (i % (kTileW / 2)) + 1 - siteParity(pattern, y);
    if (x >= width || y >= height) return;
    const MgWeights wt = weightsAt(x, y - (Y0 - 2));
    const int phase = bayerPhase(pattern, x, y);
    const int64_t cell = mgCell(b, x, y);
    mgWeightV(b, phase)[cell] = wt.v;
    mgWeightH(b, phase)[cell] = wt.h;
  });
  __syncthreads();

  const SharedPlane<int> V{sh.v, X0 - 4, Y0 - 4, gw}, H{sh.h, X0 - 4, Y0 - 4, gw};
  // Sites of one row share a column parity: (x - (X0 - 2)) / 2 numbers them.
  auto D = [&](int x, int y) { return sh.d[(y - (Y0 - 2)) * sw + ((x - (X0 - 2)) >> 1)]; };
  forEachIndex<kTileW / 2 * Rows>([&](int i) {
    const int y = Y0 + i / (kTileW / 2), x = X0 + 2 * (i % (kTileW / 2)) + siteParity(pattern, y);
    if (x >= width || y >= height) return;
    mgGreen(b, bayerPhase(pattern, x, y))[mgCell(b, x, y)] = mgSiteGreen(s(x, y), D, V, H, x, y, c);
  });
}

// Per thread 4 (2) positions: samples in, the weights at the greens and the
// green at the sites out (8 bytes at each green, 4 at each site). The rounds
// are unrolled, so the kernel's instructions are those of a thread.
// kernel-report MGKernel1e<unsigned char, false>: block 256, 4 px per thread, reads 1 B/px, writes 6 B/px; budget 40 regs, 630 SASS/px
// kernel-report MGKernel1e<unsigned char, true>: block 256, 4 px per thread, reads 1 B/px, writes 6 B/px; budget 40 regs, 630 SASS/px
// kernel-report MGKernel1e<unsigned short, false>: block 256, 4 px per thread, reads 2 B/px, writes 6 B/px; budget 40 regs, 630 SASS/px
// kernel-report MGKernel1e<unsigned short, true>: block 256, 4 px per thread, reads 2 B/px, writes 6 B/px; budget 40 regs, 630 SASS/px
// kernel-report MGKernel1<unsigned char, false>: block 256, 2 px per thread, reads 1 B/px, writes 6 B/px; budget 40 regs, 930 SASS/px
// kernel-report MGKernel1<unsigned char, true>: block 256, 2 px per thread, reads 1 B/px, writes 6 B/px; budget 40 regs, 930 SASS/px
// kernel-report MGKernel1<unsigned short, false>: block 256, 2 px per thread, reads 2 B/px, writes 6 B/px; budget 40 regs, 930 SASS/px
// kernel-report MGKernel1<unsigned short, true>: block 256, 2 px per thread, reads 2 B/px, writes 6 B/px; budget 40 regs, 930 SASS/px
template <class T, bool Corrected>
__global__ void MGKernel1e(WorkView w, MgBuffers b, MgConstants c, int pattern, int width, int height) {
  __shared__ Pass1Shared<T, 16> sh;
  pass1Block<T, 16, Corrected>(sh, w, b, c, pattern, width, height);
}

template <class T, bool Corrected>
__global__ void MGKernel1(WorkView w, MgBuffers b, MgConstants c, int pattern, int width, int height) {
  __shared__ Pass1Shared<T, 8> sh;
  pass1Block<T, 8, Corrected>(sh, w, b, c, pattern, width, height);
}

// Pass 2 tiles: pixels [x0, x0 + 64) x [y0, y0 + 32); samples of
// [x0 - 4, x0 + 68) x [y0 - 4, y0 + 36) from the work image, the mirrored
// planes over the same area, step 6 over [x0 - 1, x0 + 65) x [y0 - 1, y0 + 33).
constexpr int kRaw2Samples = 76, kRaw2Rows = kTileH + 8;
constexpr int kPlaneW = kTileW + 8, kPlaneH = kTileH + 8;
constexpr int kOppW = kTileW + 2, kOppH = kTileH + 2;

// Whole kernel per thread: its loops count once.
// kernel-report MGKernel2<unsigned char, false>: block 256, 4 px per thread, reads 7 B/px, writes 3 B/px; budget 56 regs, 480 SASS/px
// kernel-report MGKernel2<unsigned char, true>: block 256, 4 px per thread, reads 7 B/px, writes 3 B/px; budget 56 regs, 480 SASS/px
// kernel-report MGKernel2<unsigned short, false>: block 256, 2 px per thread, reads 8 B/px, writes 6 B/px; budget 48 regs, 660 SASS/px
// kernel-report MGKernel2<unsigned short, true>: block 256, 2 px per thread, reads 8 B/px, writes 6 B/px; budget 48 regs, 660 SASS/px
template <class T, bool Corrected>
__global__ void MGKernel2(WorkView w, MgBuffers b, SurfaceView d, int pattern, int hi) {
  __shared__ uint32_t raw[kRaw2Rows * kRaw2Samples / 2];
  __shared__ float gPlane[kPlaneW * kPlaneH], sPlane[kPlaneW * kPlaneH], oppPlane[kOppW * kOppH];
  constexpr int spw = 4 / int(sizeof(T));
  const int width = int(d.width), height = int(d.height);
  const int x0 = kTileW * int(blockIdx.x), y0 = kTileH * int(blockIdx.y);
  const int wx = (x0 - 4 + w.apron) / spw, wy = y0 - 4 + w.apron + w.cy;
  constexpr int words = kRaw2Samples / spw;
  loadTile<T, Corrected>(raw, kRaw2Rows, words, w, wx, wy);
  __syncthreads();

  const SharedTile<T> s{reinterpret_cast<const T*>(raw), kRaw2Samples, wx * spw - w.apron - w.cx, wy - w.apron - w.cy};
  const SharedPlane<float> G{gPlane, x0 - 4, y0 - 4, kPlaneW}, S{sPlane, x0 - 4, y0 - 4, kPlaneW};
  // Positions beyond the image that no pixel reaches stay unset.
  for (int i = threadInBlock(); i < kPlaneW * kPlaneH; i += kThreads) {
    const int x = x0 - 4 + i % kPlaneW, y = y0 - 4 + i / kPlaneW;
    if (x >= width + 4 || y >= height + 4) continue;
    const int mx = mgMirror(x, width), my = mgMirror(y, height);
    const float sample = float(s(mx, my));
    S.at(x, y) = sample;
    G.at(x, y) = mgIsGreen(pattern, mx, my) ? sample : mgGreen(b, bayerPhase(pattern, mx, my))[mgCell(b, mx, my)];
  }
  __syncthreads();

  const SharedPlane<float> opp{oppPlane, x0 - 1, y0 - 1, kOppW};
  for (int i = threadInBlock(); i < kOppW * kOppH; i += kThreads) {
    const int x = x0 - 1 + i % kOppW, y = y0 - 1 + i / kOppW;
    if (x >= width + 1 || y >= height + 1) continue;
    const int mx = mgMirror(x, width), my = mgMirror(y, height);
    opp.at(x, y) = mgIsGreen(pattern, mx, my) ? 0.0f : mgOppositeAt(G, S, mx, my);
  }
  __syncthreads();

  constexpr int per = kTileW / kStorePixels<T>;
  for (int i = threadInBlock(); i < per * kTileH; i += kThreads) {
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

template <class T, bool Corrected>
void pass1(const WorkView& work, const MgBuffers& b, int pattern, uint32_t width, uint32_t height, bool largeShared) {
  const MgConstants c = mgConstants(maxEstimate(work.format));
  const dim3 block(32, 8, 1);
  const int w = int(width), h = int(height);
  if (largeShared)
    launchKernel(MGKernel1e<T, Corrected>, dim3(ceilDiv(width, kTileW), ceilDiv(height, 16), 1), block, work, b, c,
                 pattern, w, h);
  else
    launchKernel(MGKernel1<T, Corrected>, dim3(ceilDiv(width, kTileW), ceilDiv(height, 8), 1), block, work, b, c,
                 pattern, w, h);
}

}  // namespace

void launchMGCudaPass1(const WorkView& work, const MgBuffers& b, int pattern, uint32_t width, uint32_t height,
                       bool largeShared) {
  const bool corrected = work.corrections.any();
  if (work.format == OPIX_I8)
    corrected ? pass1<uint8_t, true>(work, b, pattern, width, height, largeShared)
              : pass1<uint8_t, false>(work, b, pattern, width, height, largeShared);
  else
    corrected ? pass1<uint16_t, true>(work, b, pattern, width, height, largeShared)
              : pass1<uint16_t, false>(work, b, pattern, width, height, largeShared);
}

void launchMGCudaPass2(const WorkView& work, const MgBuffers& b, const SurfaceView& d, int pattern) {
  const dim3 block(32, 8, 1);
  const dim3 grid(ceilDiv(d.width, kTileW), ceilDiv(d.height, kTileH), 1);
  const int hi = maxEstimate(work.format);
  const bool corrected = work.corrections.any();
  if (work.format == OPIX_I8)
    corrected ? launchKernel(MGKernel2<uint8_t, true>, grid, block, work, b, d, pattern, hi)
              : launchKernel(MGKernel2<uint8_t, false>, grid, block, work, b, d, pattern, hi);
  else
    corrected ? launchKernel(MGKernel2<uint16_t, true>, grid, block, work, b, d, pattern, hi)
              : launchKernel(MGKernel2<uint16_t, false>, grid, block, work, b, d, pattern, hi);
}

}  // namespace opix::OPIX_CUDA_NS
