// CUDA driver of HQLI: 128 threads per block, the tile and its 2-sample apron
// loaded into shared memory as aligned 32-bit words, 8 pixels per thread,
// 32-bit stores.
#include "CudaKernel.cuh"
#include "DebayerMalvar.h"
#include "MalvarMath.h"
#include "WorkTile.cuh"

namespace opix::OPIX_CUDA_NS {

namespace {

constexpr int kThreads = 128;

template <int TW, int TH>
__global__ void MalvarKernel(WorkView w, SurfaceView d, int sx, int sy) {
  constexpr int kWords = (TW + 8) / 4;  // tile + apron + one byte of shift, whole words
  __shared__ uint32_t tile[(TH + 4) * kWords];
  const int x0 = blockIdx.x * TW, y0 = blockIdx.y * TH;
  const bool checked = blockIdx.x == gridDim.x - 1 || blockIdx.y == gridDim.y - 1;
  loadTile(tile, TH + 4, kWords, w, x0 / 4, y0 + sy, checked);
  __syncthreads();

  const SharedTile<uint8_t> s{reinterpret_cast<const uint8_t*>(tile), kWords * 4, x0 - 2, y0 + sy - 2};
  const int lane = threadIdx.x % 32, warp = threadIdx.x / 32;
  const int width = int(d.width), height = int(d.height);
  for (int j = 0; j < 2; ++j) {
    const int y = y0 + 2 * warp + j;
    const int x = x0 + 4 * lane;
    if (y >= height || x >= width) continue;
    uint8_t px[12];
    for (int i = 0; i < 4; ++i) {
      const Rgb p = malvarAt(s, x + i + sx, y + sy, 255);
      px[3 * i] = uint8_t(p.r);
      px[3 * i + 1] = uint8_t(p.g);
      px[3 * i + 2] = uint8_t(p.b);
    }
    unsigned char* row = d.plane[0] + size_t(y) * d.pitch + 3 * x;
    if (x + 4 <= width) {
      uint32_t* out = reinterpret_cast<uint32_t*>(row);
      for (int k = 0; k < 3; ++k)
        out[k] = px[4 * k] | (px[4 * k + 1] << 8) | (px[4 * k + 2] << 16) | (uint32_t(px[4 * k + 3]) << 24);
    } else {
      for (int b = 0; b < 3 * (width - x); ++b) row[b] = px[b];
    }
  }
}

template <int TW, int TH>
__global__ void MalvarKernel16(WorkView w, SurfaceView d, int sx, int sy, int hi) {
  constexpr int kWords = (TW + 6) / 2;  // tile + apron + one sample of shift, whole words
  __shared__ uint32_t tile[(TH + 4) * kWords];
  const int x0 = blockIdx.x * TW, y0 = blockIdx.y * TH;
  const bool checked = blockIdx.x == gridDim.x - 1 || blockIdx.y == gridDim.y - 1;
  loadTile(tile, TH + 4, kWords, w, x0 / 2, y0 + sy, checked);
  __syncthreads();

  const SharedTile<uint16_t> s{reinterpret_cast<const uint16_t*>(tile), kWords * 2, x0 - 2, y0 + sy - 2};
  const int lane = threadIdx.x % 32, warp = threadIdx.x / 32;
  const int width = int(d.width), height = int(d.height);
  const int x = x0 + 2 * lane;
  for (int j = 0; j < 4; ++j) {
    const int y = y0 + 4 * warp + j;
    if (y >= height || x >= width) continue;
    const Rgb a = malvarAt(s, x + sx, y + sy, hi);
    const Rgb b = malvarAt(s, x + 1 + sx, y + sy, hi);
    const size_t offset = size_t(y) * d.pitch + 2 * size_t(x);
    unsigned char* planes[3] = {d.plane[0] + offset, d.plane[1] + offset, d.plane[2] + offset};
    const int va[3] = {a.r, a.g, a.b}, vb[3] = {b.r, b.g, b.b};
    for (int c = 0; c < 3; ++c) {
      if (x + 1 < width)
        *reinterpret_cast<uint32_t*>(planes[c]) = uint32_t(va[c]) | (uint32_t(vb[c]) << 16);
      else
        *reinterpret_cast<uint16_t*>(planes[c]) = uint16_t(va[c]);
    }
  }
}

}  // namespace

void launchMalvarCuda(const WorkView& work, const SurfaceView& d, int sx, int sy) {
  if (work.format == OPIX_I8) {
    const dim3 grid((d.width + 127) / 128, (d.height + 7) / 8, 1);
    launchKernel(MalvarKernel<128, 8>, grid, kThreads, work, d, sx, sy);
  } else {
    const dim3 grid((d.width + 63) / 64, (d.height + 15) / 16, 1);
    launchKernel(MalvarKernel16<64, 16>, grid, kThreads, work, d, sx, sy, maxEstimate(work.format));
  }
}

}  // namespace opix::OPIX_CUDA_NS
