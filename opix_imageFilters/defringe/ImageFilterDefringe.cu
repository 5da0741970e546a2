// CUDA driver of the defringe filter: blocks of 32 x 8 threads, each thread
// one 32-bit word (two pixels) of one row, in each pass. Pass 1 writes one
// mark byte per pixel; pass 2 reads the band's marks only for pixels of a
// fringe hue, which are few, and copies all others as whole words.
#include "CudaKernel.cuh"
#include "DefringeMath.h"
#include "ImageFilterDefringe.h"
#include "common/FilterWords.cuh"

namespace opix::OPIX_CUDA_NS {

namespace {

constexpr int kThreadsX = 32, kThreadsY = 8;

__device__ uint32_t sample(const SurfaceView& v, int p, int x, int y) {
  return reinterpret_cast<const uint16_t*>(v.plane[p] + size_t(y) * v.pitch)[x];
}

__device__ uint32_t lumaAt(const SurfaceView& v, int x, int y) {
  return defringeLuma(sample(v, 0, x, y), sample(v, 1, x, y), sample(v, 2, x, y));
}

__global__ void DefringeEdgesKernel(DefringeArgs a) {
  const int w = int(a.src.width), h = int(a.src.height);
  const int x0 = int(blockIdx.x * kThreadsX + threadIdx.x) * 2, y = int(blockIdx.y * kThreadsY + threadIdx.y);
  if (y < h)
    for (int x = x0; x < x0 + 2 && x < w; ++x)
      a.edges[size_t(y) * a.edgePitch + size_t(x)] = defringeEdge(
          lumaAt(a.src, clampIndex(x - 1, w), y), lumaAt(a.src, clampIndex(x + 1, w), y),
          lumaAt(a.src, x, clampIndex(y - 1, h)), lumaAt(a.src, x, clampIndex(y + 1, h)), a.rule.threshold);
}

struct EdgeMarks {
  const uint8_t* marks;
  uint32_t pitch;
  __device__ bool operator()(int x, int y) const { return marks[size_t(y) * pitch + size_t(x)] != 0; }
};

__global__ void DefringeKernel(DefringeArgs a) {
  const int w = int(a.src.width), h = int(a.src.height);
  const uint32_t wx = blockIdx.x * kThreadsX + threadIdx.x;
  const int x0 = int(wx) * 2, y = int(blockIdx.y * kThreadsY + threadIdx.y);
  if (y < h && x0 < w) {
    const EdgeMarks edges{a.edges, a.edgePitch};
    uint32_t in[3], out[3] = {0, 0, 0};
    const bool whole = x0 + 2 <= w;
    for (int p = 0; p < 3; ++p) {
      const unsigned char* row = a.src.plane[p] + size_t(y) * a.src.pitch;
      in[p] = whole ? reinterpret_cast<const uint32_t*>(row)[wx] : reinterpret_cast<const uint16_t*>(row)[x0];
    }
    for (int j = 0; j < 2 && x0 + j < w; ++j) {
      uint32_t c[3] = {Words<uint16_t>::get(in[0], j), Words<uint16_t>::get(in[1], j), Words<uint16_t>::get(in[2], j)};
      if (fringeHue(c[0], c[1], c[2], a.rule) && inFringeBand(edges, x0 + j, y, w, h, a.rule.radius)) {
        const uint32_t luma = defringeLuma(c[0], c[1], c[2]);
        for (int p = 0; p < 3; ++p) c[p] = defringeChannel(c[p], luma, a.rule.strength, a.hi);
      }
      for (int p = 0; p < 3; ++p) out[p] = Words<uint16_t>::put(out[p], j, c[p]);
    }
    for (int p = 0; p < 3; ++p)
      storePartial<uint16_t>(wordRow(a.dst.plane[p], a.dst.pitch, uint32_t(y)), wx, out[p], uint32_t(w - x0));
  }
}

dim3 gridOf(const DefringeArgs& a) {
  return dim3(ceilDiv(a.src.width, 2 * kThreadsX), ceilDiv(a.src.height, kThreadsY), 1);
}

}  // namespace

void launchDefringeEdgesCuda(const DefringeArgs& a) {
  const dim3 grid = gridOf(a);
  if (grid.x == 0 || grid.y == 0) return;
  launchKernel(DefringeEdgesKernel, grid, dim3(kThreadsX, kThreadsY, 1), a);
}

void launchDefringeCuda(const DefringeArgs& a) {
  const dim3 grid = gridOf(a);
  if (grid.x == 0 || grid.y == 0) return;
  launchKernel(DefringeKernel, grid, dim3(kThreadsX, kThreadsY, 1), a);
}

}  // namespace opix::OPIX_CUDA_NS
