// CUDA drivers of DFPD. The 8-bit kernel computes every pixel from the work
// image alone; the 16-bit path first stores the decision and green of every
// red and blue site in the half-resolution planes, then builds the pixels
// from them.
#include "DebayerDFPD.h"
#include "MenonMath.h"
#include "StreamGlobal.h"

namespace opix {

namespace {

template <class T>
struct Samples {
  const unsigned char* base;  // work image
  uint32_t pitch;
  int apron;
  __device__ int operator()(int x, int y) const {
    return __ldg(reinterpret_cast<const T*>(base + size_t(y + apron) * pitch) + x + apron);
  }
};

template <class T>
struct Gradients {
  Samples<T> s;
  int hi, gmax;
  bool vertical;
  __device__ int operator()(int x, int y) const {
    return vertical ? menonDv(s, x, y, hi, gmax) : menonDh(s, x, y, hi, gmax);
  }
};

template <class T>
struct Decision {
  Samples<T> s;
  int hi, gmax;
  __device__ bool operator()(int x, int y) const {
    return menonHorizontal(Gradients<T>{s, hi, gmax, false}, Gradients<T>{s, hi, gmax, true}, x, y);
  }
};

template <class T>
struct Green {
  Samples<T> s;
  int hi, gmax;
  __device__ int operator()(int x, int y) const {
    return Decision<T>{s, hi, gmax}(x, y) ? menonGh(s, x, y, hi) : menonGv(s, x, y, hi);
  }
};

__global__ void menonKernelBGR(Samples<uint8_t> s, SurfaceView d, int sx, int sy) {
  const int x = blockIdx.x * blockDim.x + threadIdx.x;
  const int y = blockIdx.y * blockDim.y + threadIdx.y;
  if (x >= int(d.width) || y >= int(d.height)) return;
  const Rgb p = menonPixel(s, Green<uint8_t>{s, 255, 255}, Decision<uint8_t>{s, 255, 255}, x + sx, y + sy, 255);
  unsigned char* out = d.plane[0] + size_t(y) * d.pitch + 3 * size_t(x);
  out[0] = uint8_t(p.r);
  out[1] = uint8_t(p.g);
  out[2] = uint8_t(p.b);
}

// Pass 1: one thread per cell, both of its sites.
__global__ void MenonGpuGrGbKernel16(Samples<uint16_t> s, MenonPlanes planes, int cellsX, int cellsY, int xEnd,
                                     int yEnd, int hi) {
  const int i = blockIdx.x * blockDim.x + threadIdx.x;
  const int j = blockIdx.y * blockDim.y + threadIdx.y;
  if (i >= cellsX || j >= cellsY) return;
  for (int k = 0; k < 2; ++k) {
    const int x = 2 * i - 2 + k, y = 2 * j - 2 + k;
    bool horizontal = true;
    int green = 0;
    if (x <= xEnd + 1 && y <= yEnd + 1) {
      horizontal = Decision<uint16_t>{s, hi, 65535}(x, y);
      green = horizontal ? menonGh(s, x, y, hi) : menonGv(s, x, y, hi);
    }
    reinterpret_cast<uint16_t*>(reinterpret_cast<unsigned char*>(planes.green[k]) + size_t(j) * planes.greenPitch)[i] =
        uint16_t(green);
    planes.horizontal[k][size_t(j) * planes.flagPitch + i] = horizontal;
  }
}

struct PlaneGreen {
  MenonPlanes p;
  __device__ int operator()(int x, int y) const {
    const int k = x & 1;  // red sites are even, blue sites odd
    return reinterpret_cast<const uint16_t*>(reinterpret_cast<const unsigned char*>(p.green[k]) +
                                             size_t((y + 2) >> 1) * p.greenPitch)[(x + 2) >> 1];
  }
};

struct PlaneDecision {
  MenonPlanes p;
  __device__ bool operator()(int x, int y) const {
    return p.horizontal[x & 1][size_t((y + 2) >> 1) * p.flagPitch + ((x + 2) >> 1)] != 0;
  }
};

// Pass 2: one thread per pixel.
__global__ void MenonGpuRgbKernel16(Samples<uint16_t> s, MenonPlanes planes, SurfaceView d, int sx, int sy, int hi) {
  const int x = blockIdx.x * blockDim.x + threadIdx.x;
  const int y = blockIdx.y * blockDim.y + threadIdx.y;
  if (x >= int(d.width) || y >= int(d.height)) return;
  const Rgb p = menonPixel(s, PlaneGreen{planes}, PlaneDecision{planes}, x + sx, y + sy, hi);
  const size_t offset = size_t(y) * d.pitch + 2 * size_t(x);
  *reinterpret_cast<uint16_t*>(d.plane[0] + offset) = uint16_t(p.r);
  *reinterpret_cast<uint16_t*>(d.plane[1] + offset) = uint16_t(p.g);
  *reinterpret_cast<uint16_t*>(d.plane[2] + offset) = uint16_t(p.b);
}

dim3 gridOf(int w, int h) { return dim3((w + 31) / 32, (h + 7) / 8, 1); }

}  // namespace

void launchDfpd8Cuda(const WorkView& work, const SurfaceView& d, int sx, int sy) {
  const Samples<uint8_t> s{work.base, work.pitch, work.apron};
  menonKernelBGR<<<gridOf(int(d.width), int(d.height)), dim3(32, 8, 1), 0, cudaStreamPerThread>>>(s, d, sx, sy);
}

void launchDfpd16Cuda(const WorkView& work, const SurfaceView& d, const MenonPlanes& planes, int sx, int sy) {
  const Samples<uint16_t> s{work.base, work.pitch, work.apron};
  const int hi = maxEstimate(work.format);
  const int xEnd = int(d.width) + sx, yEnd = int(d.height) + sy;
  const int cellsX = (xEnd + 1 + 2) / 2 + 1, cellsY = (yEnd + 1 + 2) / 2 + 1;
  MenonGpuGrGbKernel16<<<gridOf(cellsX, cellsY), dim3(32, 8, 1), 0, cudaStreamPerThread>>>(s, planes, cellsX, cellsY,
                                                                                            xEnd, yEnd, hi);
  launchCheck("GPUMenonDebayer 1");
  MenonGpuRgbKernel16<<<gridOf(int(d.width), int(d.height)), dim3(32, 8, 1), 0, cudaStreamPerThread>>>(s, planes, d,
                                                                                                     sx, sy, hi);
}

}  // namespace opix
