// CUDA driver of binning: 32 x 16 threads per block, each thread four output
// pixels of a row at 8 bits, two at 16, 32-bit stores.
#include "BinningMath.h"
#include "CudaKernel.cuh"
#include "DebayerBinning.h"
#include "PixelStores.cuh"

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

// One thread: kStorePixels<T> output pixels of a row.
template <int F, class T>
__device__ void binPixels(const SurfaceView& s, const SurfaceView& d, int pattern) {
  const int x = int(kStorePixels<T> * (blockIdx.x * blockDim.x + threadIdx.x));
  const int y = int(blockIdx.y * blockDim.y + threadIdx.y);
  if (x >= int(d.width) || y >= int(d.height)) return;
  const GlobalSamples<T> src{s.plane[0], s.pitch};
  storePixels<T>(d, x, y, [&](int i) { return binPixel<F>(src, pattern, F * (x + i), F * y); });
}

// A binned pixel reads F x F samples.
// kernel-report DebayerBinning8Kernel<2>: block 512, 4 px per thread, reads 4 B/px, writes 3 B/px; budget 32 regs, 120 SASS/px
// kernel-report DebayerBinning8Kernel<4>: block 512, 4 px per thread, reads 16 B/px, writes 3 B/px; budget 40 regs, 190 SASS/px
// kernel-report DebayerBinning8Kernel<8>: block 512, 4 px per thread, reads 64 B/px, writes 3 B/px; budget 56 regs, 430 SASS/px
// kernel-report DebayerBinning16Kernel<2>: block 512, 2 px per thread, reads 8 B/px, writes 6 B/px; budget 34 regs, 90 SASS/px
// kernel-report DebayerBinning16Kernel<4>: block 512, 2 px per thread, reads 32 B/px, writes 6 B/px; budget 40 regs, 122 SASS/px
// kernel-report DebayerBinning16Kernel<8>: block 512, 2 px per thread, reads 128 B/px, writes 6 B/px; budget 40 regs, 210 SASS/px
template <int F>
__global__ void DebayerBinning8Kernel(SurfaceView s, SurfaceView d, int pattern) {
  binPixels<F, uint8_t>(s, d, pattern);
}

template <int F>
__global__ void DebayerBinning16Kernel(SurfaceView s, SurfaceView d, int pattern) {
  binPixels<F, uint16_t>(s, d, pattern);
}

template <int F>
void launch(const SurfaceView& s, const SurfaceView& d, int pattern) {
  const dim3 block(32, 16, 1);
  const bool bytes = s.format == OPIX_I8;
  const uint32_t blockWidth = block.x * (bytes ? kStorePixels<uint8_t> : kStorePixels<uint16_t>);
  const dim3 grid(ceilDiv(d.width, blockWidth), ceilDiv(d.height, block.y), 1);
  if (bytes)
    launchKernel(DebayerBinning8Kernel<F>, grid, block, s, d, pattern);
  else
    launchKernel(DebayerBinning16Kernel<F>, grid, block, s, d, pattern);
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
