// CUDA drivers of DFPD. 8-bit: one kernel, the 128 x 16 tile and its apron of
// 6 loaded into shared memory as aligned 32-bit words, every step evaluated
// per pixel from the tile, packed 32-bit stores. 16-bit: pass 1 computes the
// final green and the decision of every site into the half-resolution
// planes, pass 2 rebuilds the pixels from the samples and those planes.
#include "CudaKernel.cuh"
#include "DebayerDFPD.h"
#include "MenonMath.h"
#include "PixelStores.cuh"
#include "StreamGlobal.h"
#include "WorkTile.cuh"

namespace opix::OPIX_CUDA_NS {

namespace {

constexpr int kThreads = 256;

constexpr int kTw8 = 128, kTh8 = 16, kApron = 6;
constexpr int kWords8 = (kTw8 + 2 * kApron + 4) / 4;  // one more word for the column shift
constexpr int kRows8 = kTh8 + 2 * kApron;

// kernel-report MenonKernel8: block 256, 4 px per loop pass, reads 1 B/px, writes 3 B/px; budget 128 regs, 2900 SASS/px
__global__ void MenonKernel8(WorkView w, SurfaceView d, int sx, int sy) {
  __shared__ uint32_t tile[kRows8 * kWords8];
  const int x0 = blockIdx.x * kTw8, y0 = blockIdx.y * kTh8;
  const int width = int(d.width), height = int(d.height);
  const bool checked =
      x0 + 4 * kWords8 > int(w.pitch) || y0 + sy + kRows8 > int(w.height) || x0 + kTw8 > width || y0 + kTh8 > height;
  // Phased column X lies at work column apron + cx - sx + X (cx = sx for 8 bits).
  loadTile(tile, kRows8, kWords8, w, x0 / 4, y0 + sy, checked);
  __syncthreads();

  const SharedTile<uint8_t> s{reinterpret_cast<const uint8_t*>(tile), 4 * kWords8, x0 - w.apron - w.cx + sx,
                              y0 + sy - w.apron};
  for (int g = threadIdx.x; g < kTw8 / 4 * kTh8; g += blockDim.x) {
    const int x = x0 + 4 * (g % (kTw8 / 4)), y = y0 + g / (kTw8 / 4);
    if (checked && (y >= height || x >= width)) continue;
    storeRgb8Quad(d, x, y, [&](int i) { return menonPixel(s, x + i + sx, y + sy, 255); });
  }
}

// Plane cell (ci, cj) holds the sites of phased columns X, X + 1 and rows
// Y, Y + 1 with X = 4 + 2ci - apron + sx, Y = 4 + 2cj - apron: one red site
// (even row) and one blue site.
struct CellOf {
  int ci, cj, plane;
};
__device__ CellOf cellOf(int x, int y, int sx, int apron) {
  const int col = x + apron - sx, row = y + apron;
  return {(col - 4) >> 1, (row - 4) >> 1, y & 1};
}

// Phased column X of a 16-bit work image lies at work column
// apron + cx - sx + X. Tiles start at an even work column, so each holds one
// more word for the column shift.
constexpr int kTw16 = 64, kTh16 = 32;
constexpr int kWords1 = (kTw16 + 8) / 2 + 1, kRows1 = kTh16 + 8;

// Per pixel: two sites of a cell of four, a 16-bit green and a flag each.
// kernel-report MenonGpuGrGbKernel16: block 256, 4 px per loop pass, reads 2 B/px, writes 1.5 B/px; budget 56 regs, 110 SASS/px, stack 56 B
template <int Hi>
__global__ void MenonGpuGrGbKernel16(WorkView w, MenonPlanes planes, int sx, int needW, int needH) {
  __shared__ uint32_t tile[kRows1 * kWords1];
  const int c0 = blockIdx.x * kTw16, r0 = blockIdx.y * kTh16;  // work column and row of the input tile
  const bool checked = c0 + 2 * kWords1 > int(w.pitch / 2) || r0 + kRows1 > int(w.height);
  loadTile(tile, kRows1, kWords1, w, c0 / 2, r0, checked);
  __syncthreads();

  const SharedTile<uint16_t> s{reinterpret_cast<const uint16_t*>(tile), 2 * kWords1, c0 - w.apron - w.cx + sx,
                               r0 - w.apron};
  const MenonPoint<SharedTile<uint16_t>> m{s, Hi};
  for (int i = threadIdx.x; i < kTw16 / 2 * kTh16 / 2; i += blockDim.x) {
    const int ci = blockIdx.x * (kTw16 / 2) + i % (kTw16 / 2), cj = blockIdx.y * (kTh16 / 2) + i / (kTw16 / 2);
    if (ci >= needW || cj >= needH) continue;
    // Phased position of the cell's top-left sample.
    const int x = 4 + 2 * ci - w.apron + sx, y = 4 + 2 * cj - w.apron;
    const int redX = (x & 1) ? x + 1 : x, blueX = (x & 1) ? x : x + 1;
    const int sitesX[2] = {redX, blueX};
    for (int k = 0; k < 2; ++k) {
      const bool horizontal = m.horizontal(sitesX[k], y + k);
      const int g = horizontal ? m.greenH(sitesX[k], y + k) : m.greenV(sitesX[k], y + k);
      reinterpret_cast<uint16_t*>(planes.green[k] + size_t(cj) * planes.greenPitch)[ci] = uint16_t(g);
      planes.horizontal[k][size_t(cj) * planes.flagPitch + ci] = horizontal;
    }
  }
}

// Final green and decision of the sites, read from the planes.
struct PlaneSites {
  MenonPlanes p;
  int sx, apron;
  __device__ int green(int x, int y) const {
    const CellOf c = cellOf(x, y, sx, apron);
    return reinterpret_cast<const uint16_t*>(p.green[c.plane] + size_t(c.cj) * p.greenPitch)[c.ci];
  }
  __device__ bool horizontal(int x, int y) const {
    const CellOf c = cellOf(x, y, sx, apron);
    return p.horizontal[c.plane][size_t(c.cj) * p.flagPitch + c.ci] != 0;
  }
};

constexpr int kWords2 = (kTw16 + 6) / 2, kRows2 = kTh16 + 4;

// kernel-report MenonGpuRgbKernel16: block 256, 2 px per loop pass, reads 3.5 B/px, writes 6 B/px; budget 56 regs, 290 SASS/px, stack 56 B
template <int Hi>
__global__ void MenonGpuRgbKernel16(WorkView w, MenonPlanes planes, SurfaceView d, int sx, int sy) {
  __shared__ uint32_t tile[kRows2 * kWords2];
  const int x0 = blockIdx.x * kTw16, y0 = blockIdx.y * kTh16;
  const int width = int(d.width), height = int(d.height);
  // Output column x lies at work column apron + cx + x, row y at apron + sy + y.
  const int c0 = x0 + w.apron - 2, r0 = y0 + sy + w.apron - 2;
  const bool checked =
      c0 + 2 * kWords2 > int(w.pitch / 2) || r0 + kRows2 > int(w.height) || x0 + kTw16 > width || y0 + kTh16 > height;
  loadTile(tile, kRows2, kWords2, w, c0 / 2, r0, checked);
  __syncthreads();

  const SharedTile<uint16_t> s{reinterpret_cast<const uint16_t*>(tile), 2 * kWords2, x0 - w.cx + sx - 2, y0 + sy - 2};
  const PlaneSites sites{planes, sx, w.apron};
  for (int i = threadIdx.x; i < kTw16 / 2 * kTh16; i += blockDim.x) {
    const int x = x0 + 2 * (i % (kTw16 / 2)), y = y0 + i / (kTw16 / 2);
    if (checked && (y >= height || x >= width)) continue;
    storePlanarPair(d, x, y, [&](int i) { return menonPixelFrom(s, sites, x + i + sx, y + sy, Hi); });
  }
}

template <int Hi>
void launch16(const WorkView& work, const MenonPlanes& planes, const SurfaceView& d, int sx, int sy) {
  const int w = int(d.width), h = int(d.height);
  // Sites needed by pass 2: work columns [4, w + 8) and rows [4 + sy, h + sy + 8).
  const int needW = (w + 5) / 2, needH = (h + sy + 5) / 2;
  const dim3 grid1(ceilDiv(w + 8, kTw16), ceilDiv(h + 9, kTh16), 1);
  launchKernel(MenonGpuGrGbKernel16<Hi>, grid1, kThreads, work, planes, sx, needW, needH);
  launchCheck("GPUMenonDebayer 1");
  const dim3 grid2(ceilDiv(w, kTw16), ceilDiv(h + 1, kTh16), 1);
  launchKernel(MenonGpuRgbKernel16<Hi>, grid2, kThreads, work, planes, d, sx, sy);
  launchCheck("GPUMenonDebayer 2");
}

}  // namespace

void launchMenon8Cuda(const WorkView& work, const SurfaceView& d, int sx, int sy) {
  const dim3 grid(ceilDiv(work.width - 2 * kApron, kTw8), ceilDiv(work.height - 2 * kApron, kTh8), 1);
  launchKernel(MenonKernel8, grid, kThreads, work, d, sx, sy);
}

void launchMenon16Cuda(const WorkView& work, const MenonPlanes& planes, const SurfaceView& d, int sx, int sy) {
  if (work.format == OPIX_I12)
    launch16<4095>(work, planes, d, sx, sy);
  else
    launch16<65535>(work, planes, d, sx, sy);
}

}  // namespace opix::OPIX_CUDA_NS
