// CUDA driver of binning: 32 x 16 threads per block, four output pixels per
// thread read from whole source words, 32-bit stores.
#include "BinningMath.h"
#include "CudaKernel.cuh"
#include "DebayerBinning.h"

namespace opix::OPIX_CUDA_NS {

namespace {

template <class T>
struct GlobalSamples {
  const unsigned char* base;
  uint32_t pitch;
  __device__ int operator()(int x, int y) const {
    return readOnly(reinterpret_cast<const T*>(base + size_t(y) * pitch) + x);
  }
};

template <int F>
__global__ void DebayerBinning8Kernel(SurfaceView s, SurfaceView d, int pattern) {
  const int x = int(4 * (blockIdx.x * blockDim.x + threadIdx.x));
  const int y = int(blockIdx.y * blockDim.y + threadIdx.y);
  if (x >= int(d.width) || y >= int(d.height)) return;
  const GlobalSamples<uint8_t> src{s.plane[0], s.pitch};
  uint8_t px[12];
  const int n = int(d.width) - x < 4 ? int(d.width) - x : 4;
  for (int i = 0; i < n; ++i) {
    const Rgb p = binPixel<F>(src, pattern, F * (x + i), F * y);
    px[3 * i] = uint8_t(p.r);
    px[3 * i + 1] = uint8_t(p.g);
    px[3 * i + 2] = uint8_t(p.b);
  }
  unsigned char* row = d.plane[0] + size_t(y) * d.pitch + 3 * x;
  if (n == 4) {
    uint32_t* out = reinterpret_cast<uint32_t*>(row);
    for (int k = 0; k < 3; ++k)
      out[k] = px[4 * k] | (px[4 * k + 1] << 8) | (px[4 * k + 2] << 16) | (uint32_t(px[4 * k + 3]) << 24);
  } else {
    for (int b = 0; b < 3 * n; ++b) row[b] = px[b];
  }
}

template <int F>
__global__ void DebayerBinning16Kernel(SurfaceView s, SurfaceView d, int pattern) {
  const int x = int(2 * (blockIdx.x * blockDim.x + threadIdx.x));
  const int y = int(blockIdx.y * blockDim.y + threadIdx.y);
  if (x >= int(d.width) || y >= int(d.height)) return;
  const GlobalSamples<uint16_t> src{s.plane[0], s.pitch};
  const Rgb a = binPixel<F>(src, pattern, F * x, F * y);
  const size_t offset = size_t(y) * d.pitch + 2 * size_t(x);
  const int va[3] = {a.r, a.g, a.b};
  if (x + 1 < int(d.width)) {
    const Rgb b = binPixel<F>(src, pattern, F * (x + 1), F * y);
    const int vb[3] = {b.r, b.g, b.b};
    for (int c = 0; c < 3; ++c)
      *reinterpret_cast<uint32_t*>(d.plane[c] + offset) = uint32_t(va[c]) | (uint32_t(vb[c]) << 16);
  } else {
    for (int c = 0; c < 3; ++c) *reinterpret_cast<uint16_t*>(d.plane[c] + offset) = uint16_t(va[c]);
  }
}

template <int F>
void launch(const SurfaceView& s, const SurfaceView& d, int pattern) {
  const dim3 block(32, 16, 1);
  if (s.format == OPIX_I8) {
    launchKernel(DebayerBinning8Kernel<F>, dim3(ceilDiv(d.width, 128), ceilDiv(d.height, 16), 1), block, s, d, pattern);
  } else {
    launchKernel(DebayerBinning16Kernel<F>, dim3(ceilDiv(d.width, 64), ceilDiv(d.height, 16), 1), block, s, d, pattern);
  }
}

}  // namespace

void launchBinningCuda(const SurfaceView& source, const SurfaceView& destination, int factor, int pattern) {
  switch (factor) {
    case 2: launch<2>(source, destination, pattern); break;
    case 4: launch<4>(source, destination, pattern); break;
    default: launch<8>(source, destination, pattern); break;
  }
}

}  // namespace opix::OPIX_CUDA_NS
