// The kernel language of the CUDA drivers and their one launch helper.
//
// Every `.cu` driver is built twice: by nvcc for the GPU (namespace
// opix::gpu), and by the host compiler against HIP-CPU (namespace opix::cpu),
// which runs the same kernels on the CPU: blocks in parallel, the threads of
// a block as fibers, so shared memory and barriers behave as on a GPU. The
// CPU build checks the drivers' logic, indexing, tiles and barriers bit for
// bit against the host drivers; it says nothing about speed or the real
// device. A driver uses only the kernel language and the helpers below.
//
// Rule for barriers: every thread of a block reaches every __syncthreads()
// and warpSync() the same number of times (no return before a barrier). On
// a GPU some forms of divergence happen to work; on the CPU a finished
// thread would run its kernel again.
#pragma once

#include <cstdint>
#include <utility>

#include "device/Device.h"

#if defined(OPIX_CUDA_CPU_DRIVER)
#include <hip/hip_runtime.h>
// HIP-CPU asks the compiler for SIMD clones of every kernel and device
// function; plain functions compile much faster and run the same maths.
#undef __global__
#define __global__
#undef __device__
#define __device__
// HIP-CPU drops __forceinline__ in builds without NDEBUG, which would turn
// device functions of headers into duplicate definitions.
#undef __forceinline__
#define __forceinline__ inline
#define OPIX_CUDA_NS cpu
#define OPIX_UNROLL
#define OPIX_NO_UNROLL
#else
#define OPIX_CUDA_NS gpu
#define OPIX_UNROLL _Pragma("unroll")
#define OPIX_NO_UNROLL _Pragma("unroll 1")
#endif

namespace opix::OPIX_CUDA_NS {

#if defined(OPIX_CUDA_CPU_DRIVER)
// CUDA's dim3: every extent defaults to 1 and converts from one integer.
struct dim3 {
  constexpr dim3(uint32_t x_ = 1, uint32_t y_ = 1, uint32_t z_ = 1) : x(x_), y(y_), z(z_) {}
  uint32_t x, y, z;
  operator ::dim3() const { return ::dim3{x, y, z}; }
};

// The CPU has no warps: the threads of a warp synchronise with a block
// barrier, which is stronger and correct under the rule above.
__device__ inline void warpSync() { __syncthreads(); }
#else
__device__ __forceinline__ void warpSync() { __syncwarp(); }
#endif

// The thread's place in a block of one or two dimensions, x fastest.
__device__ inline int threadInBlock() { return int(threadIdx.y * blockDim.x + threadIdx.x); }

// A load through the read-only data cache where the GPU has one.
template <class T>
__device__ __forceinline__ T readOnly(const T* p) {
#if defined(OPIX_CUDA_CPU_DRIVER)
  return *p;
#else
  return __ldg(p);
#endif
}

#if !defined(OPIX_CUDA_CPU_DRIVER)
// The stream of device/Device.h's currentStream, null being the SDK stream.
inline cudaStream_t launchStream() {
  void* s = ::opix::device::currentStream();
  return s ? static_cast<cudaStream_t>(s) : cudaStreamPerThread;
}
#endif

// Launches `kernel` on the current stream (the called component's, else the
// SDK stream) with no dynamic shared memory. On the
// CPU the launch runs to its end before this returns: the host backend's
// copies that follow do not wait for HIP-CPU's own stream.
template <class... Params, class... Args>
void launchKernel(void (*kernel)(Params...), dim3 grid, dim3 block, Args&&... args) {
#if defined(OPIX_CUDA_CPU_DRIVER)
  hipLaunchKernelGGL(kernel, ::dim3(grid), ::dim3(block), 0, nullptr, static_cast<Params>(std::forward<Args>(args))...);
  (void)hipDeviceSynchronize();
#else
  // The launch syntax is CUDA's, which the formatter does not know here.
  // clang-format off
  kernel<<<grid, block, 0, launchStream()>>>(static_cast<Params>(std::forward<Args>(args))...);
  // clang-format on
#endif
}

// How many blocks of `threads` threads of `kernel` one multiprocessor holds
// at once (its registers and shared memory decide), at least 1. The CPU has
// no such limit: 1.
template <class... Params>
int residentBlocks(void (*kernel)(Params...), int threads) {
#if defined(OPIX_CUDA_CPU_DRIVER)
  (void)kernel;
  (void)threads;
  return 1;
#else
  int blocks = 0;
  if (cudaOccupancyMaxActiveBlocksPerMultiprocessor(&blocks, kernel, threads, 0) != cudaSuccess) {
    (void)cudaGetLastError();
    return 1;
  }
  return blocks > 0 ? blocks : 1;
#endif
}

// Blocks of `per` items needed to cover `n` items.
__host__ __device__ constexpr uint32_t ceilDiv(uint32_t n, uint32_t per) { return (n + per - 1) / per; }

}  // namespace opix::OPIX_CUDA_NS
