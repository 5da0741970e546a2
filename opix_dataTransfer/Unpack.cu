// CUDA driver of the unpack kernel: one thread per output word (two
// samples), eight rows per thread. The frame is read as aligned 32-bit
// words; neighbouring threads read neighbouring words. Blocks of the last
// block row take the bounds-checked reads, all others none.
#include "CudaKernel.cuh"
#include "Unpack.h"

namespace opix::OPIX_CUDA_NS {

namespace {

// Bytes of a 12p frame (10p reads 1.25 B/px, 16-bit words 2); the SASS
// figure counts the code of all five layouts, of which a launch runs one.
// kernel-report UnpackKernel: block 256, 16 px per thread, reads 1.5 B/px, writes 2 B/px; budget 40 regs, 60 SASS/px
constexpr int kThreadsX = 32;
constexpr int kThreadsY = 8;
constexpr int kRowsPerThread = 8;
constexpr int kRowsPerBlock = kThreadsY * kRowsPerThread;

struct DeviceFrame {
  const uint32_t* frame;
  uint64_t words;
  template <bool Checked>
  __device__ uint32_t word(uint64_t k) const {
    if (Checked && k >= words) return 0;
    return frame[k];
  }
};

template <bool Checked>
__device__ void unpackRows(const UnpackJob& j, uint32_t k) {
  const DeviceFrame f{j.frame, j.frameWords};
  const uint32_t firstRow = blockIdx.y * kRowsPerBlock + threadIdx.y;
  for (int r = 0; r < kRowsPerThread; ++r) {
    const uint32_t y = firstRow + r * kThreadsY;
    if (Checked && y >= j.height) return;
    uint32_t* row = reinterpret_cast<uint32_t*>(j.out + size_t{y} * j.outPitchWords * 4);
    row[k] = unpackWord<Checked>(f, j, k, y);
  }
}

__global__ void UnpackKernel(UnpackJob j) {
  const uint32_t k = blockIdx.x * kThreadsX + threadIdx.x;
  if (k >= j.outPitchWords) return;
  // Only the block row that holds the last image row can reach the frame's
  // end (a row's last sample may share the frame's last word).
  if ((blockIdx.y + 1) * uint32_t{kRowsPerBlock} >= j.height)
    unpackRows<true>(j, k);
  else
    unpackRows<false>(j, k);
}

}  // namespace

void unpackCuda(const UnpackJob& j) {
  const dim3 block(kThreadsX, kThreadsY, 1);
  const dim3 grid(ceilDiv(j.outPitchWords, kThreadsX), ceilDiv(j.height, kRowsPerBlock), 1);
  launchKernel(UnpackKernel, grid, block, j);
}

}  // namespace opix::OPIX_CUDA_NS
