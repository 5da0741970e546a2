// CUDA driver of binning: 32 x 16 threads per block, each thread four output
// pixels of two rows at 8 bits, two at 16, each warp's rows stored as
// 16-byte words.
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

constexpr int kBlockX = 32, kBlockY = 16, kRowsPerThread = 2;

// One thread: kStorePixels<T> output pixels of kRowsPerThread rows, kBlockY
// apart; a warp, 32 threads' pixels of those rows.
template <int F, class T>
__device__ void binPixels(const SurfaceView& s, const SurfaceView& d, int pattern) {
  const int xw = int(kStorePixels<T> * blockIdx.x * kBlockX);
  const int x = xw + kStorePixels<T> * int(threadIdx.x);
  const int y = int(blockIdx.y * kBlockY * kRowsPerThread + threadIdx.y);
  const GlobalSamples<T> src{s.plane[0], s.pitch};
  storeWarpRows<T, kBlockX * kBlockY / 32, kRowsPerThread>(
      d, xw, y, kBlockY, [&](int i, int j) { return binPixel<F>(src, pattern, F * (x + i), F * (y + kBlockY * j)); });
}

// A binned pixel reads F x F samples. Three blocks an SM (40 registers,
// 75 % occupancy) hold without spilling except for F = 8 at 8 bits, whose
// 64 sums need more registers: that kernel has no minimum.
// kernel-report DebayerBinning8Kernel<2>: block 512, 8 px per thread, reads 4 B/px, writes 3 B/px; budget 32 regs, 120 SASS/px
// kernel-report DebayerBinning8Kernel<4>: block 512, 8 px per thread, reads 16 B/px, writes 3 B/px; budget 40 regs, 190 SASS/px
// kernel-report DebayerBinning8Kernel<8>: block 512, 8 px per thread, reads 64 B/px, writes 3 B/px; budget 64 regs, 440 SASS/px
// kernel-report DebayerBinning16Kernel<2>: block 512, 4 px per thread, reads 8 B/px, writes 6 B/px; budget 34 regs, 145 SASS/px
// kernel-report DebayerBinning16Kernel<4>: block 512, 4 px per thread, reads 32 B/px, writes 6 B/px; budget 40 regs, 186 SASS/px
// kernel-report DebayerBinning16Kernel<8>: block 512, 4 px per thread, reads 128 B/px, writes 6 B/px; budget 40 regs, 306 SASS/px
template <int F>
__global__ void __launch_bounds__(kBlockX* kBlockY, F == 8 ? 0 : 3)
    DebayerBinning8Kernel(SurfaceView s, SurfaceView d, int pattern) {
  binPixels<F, uint8_t>(s, d, pattern);
}

template <int F>
__global__ void __launch_bounds__(kBlockX* kBlockY, 3)
    DebayerBinning16Kernel(SurfaceView s, SurfaceView d, int pattern) {
  binPixels<F, uint16_t>(s, d, pattern);
}

template <int F>
void launch(const SurfaceView& s, const SurfaceView& d, int pattern) {
  const dim3 block(kBlockX, kBlockY, 1);
  const bool bytes = s.format == OPIX_I8;
  const uint32_t blockWidth = block.x * (bytes ? kStorePixels<uint8_t> : kStorePixels<uint16_t>);
  const dim3 grid(ceilDiv(d.width, blockWidth), ceilDiv(d.height, block.y * kRowsPerThread), 1);
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
