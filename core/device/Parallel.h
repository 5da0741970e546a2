// How host kernel drivers use the CPU: work split over all cores.
#pragma once

#include <cstdint>
#include <functional>

// A host driver's hot function built twice on x86-64 with GCC, for AVX2 and
// for the baseline; the loader picks the one the processor runs. The float
// results are the same (no contraction into FMA: AVX2 alone brings none),
// only wider vectors and inline rounding instructions.
// OPIX_HOST_SIMD_CLONES adds an AVX-512 build (x86-64-v4) for rows that gain
// from the wider vectors: integer rows, and float rows whose operations are
// each rounded as IEEE says (add, multiply, divide, square root, conversions
// and rounding), so that with contraction off every build gives their bits.
// OPIX_HOST_FMA_CLONES is for rows whose shared maths calls fmaf: the
// x86-64-v3 and v4 builds have the FMA instructions, so fmaf is one
// instruction there instead of a library call, with the same result (fmaf is
// exactly rounded either way). Contraction stays off in every build, so no
// other multiply and add is fused.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define OPIX_HOST_AVX2_CLONE __attribute__((target_clones("avx2", "default")))
#define OPIX_HOST_SIMD_CLONES __attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
#define OPIX_HOST_FMA_CLONES __attribute__((target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default")))
#else
#define OPIX_HOST_AVX2_CLONE
#define OPIX_HOST_SIMD_CLONES
#define OPIX_HOST_FMA_CLONES
#endif

namespace opix::host {

// Runs body(begin, end) over consecutive chunks covering [0, n) on all cores
// and returns when every chunk is done. Called from inside a chunk it runs
// serially. An exception of a chunk is rethrown to the caller.
void parallelFor(int64_t n, const std::function<void(int64_t begin, int64_t end)>& body);

// Calls rowFn(y) for every y in [0, height), rows spread over the cores.
template <class RowFn>
void parallelRows(int64_t height, RowFn&& rowFn) {
  parallelFor(height, [&rowFn](int64_t begin, int64_t end) {
    for (int64_t y = begin; y < end; ++y) rowFn(y);
  });
}

// Runs a host kernel driver. A failure is reported as a failed launch through
// the device layer's last error, where the launch check finds it, exactly as
// a failed CUDA launch.
void launch(const std::function<void()>& driver) noexcept;

// Number of worker threads (all cores).
int threadCount();

}  // namespace opix::host
