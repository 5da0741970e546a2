// Host drivers and launchers of the channel kernels.
#include "ChannelKernels.h"

#include <cstring>

#include "ChannelMath.h"
#include "KernelLaunch.h"
#include "MemSpace.h"
#include "device/Device.h"
#include "device/Parallel.h"
#include "opixException.h"

#define OPIX_SOURCE "opix_dataTransfer/ChannelKernels"

namespace opix {

void launchChannelReplace(const SurfaceView& src, const SurfaceView& dst) {
  const WordGroupJob j = wordGroupJob<ChannelReplaceOp>(src, dst, 0);
  runWordGroupKernel<ChannelReplaceOp>(
      j, [&] { OPIX_CUDA_DRIVER(channelReplaceCuda(j)); }, "GPUColorChannelReplace");
}

void launchChannelSplit(const SurfaceView& src, const SurfaceView& dst) {
  if (src.format != OPIX_RGB12 && src.format != OPIX_RGB16) OPIX_THROW(OPIX_INTERNAL_ERROR);
  const WordGroupJob j = wordGroupJob<ChannelSplitOp>(src, dst, 0);
  runWordGroupKernel<ChannelSplitOp>(
      j, [&] { OPIX_CUDA_DRIVER(channelSplitCuda(j)); }, "Color channel Splitter");
}

void launchChannelMerge(const SurfaceView& src, const SurfaceView& dst) {
  if (src.format != OPIX_RGB12_PLANAR && src.format != OPIX_RGB16_PLANAR) return;
  const WordGroupJob j = wordGroupJob<ChannelMergeOp>(src, dst, 0);
  runWordGroupKernel<ChannelMergeOp>(
      j, [&] { OPIX_CUDA_DRIVER(channelMergeCuda(j)); }, "Color Channel Merger");
}

namespace {

// The rows of the kernels' groups (ChannelReplaceOp, ChannelMergeOp) a pixel
// at a time: the same bytes, in loops the compiler vectorises, with no
// partial group at the row's end.
OPIX_HOST_SIMD_CLONES void swapRow(const unsigned char* __restrict s, unsigned char* __restrict d, uint32_t width) {
  for (size_t i = 0; i < width; ++i) {  // size_t: 3 * i does not wrap
    const unsigned char r = s[3 * i], g = s[3 * i + 1], b = s[3 * i + 2];
    d[3 * i] = b;
    d[3 * i + 1] = g;
    d[3 * i + 2] = r;
  }
}

// A destination row at any byte address (the caller's pitch is any).
typedef uint16_t Sample16 __attribute__((may_alias, aligned(1)));

OPIX_HOST_SIMD_CLONES void mergeRow(const uint16_t* __restrict r, const uint16_t* __restrict g,
                                    const uint16_t* __restrict b, unsigned char* __restrict out, uint32_t width) {
  static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the samples are stored in host byte order");
  Sample16* __restrict d = reinterpret_cast<Sample16*>(out);
  for (size_t i = 0; i < width; ++i) {
    d[3 * i] = r[i];
    d[3 * i + 1] = g[i];
    d[3 * i + 2] = b[i];
  }
}

}  // namespace

void packToHost(const SurfaceView& src, bool swap, void* dst, uint64_t dstPitch) {
  const bool planar = src.format == OPIX_RGB12_PLANAR || src.format == OPIX_RGB16_PLANAR;
  if (planar == swap || (swap && src.format != OPIX_RGB8) || cudaDrivers()) OPIX_THROW(OPIX_INTERNAL_ERROR);
  const uint32_t width = src.width, height = src.height;
  if (width == 0 || height == 0) return;
  const uint64_t rowBytes = uint64_t{width} * (planar ? 6 : 3);
  // The checks and the failure of the copy this pass stands in for.
  if (dstPitch < rowBytes)
    OPIX_THROW_CUDA(OPIX_EXECUTION_FAILURE, device::kErrorInvalidPitchValue, "cudaMemcpy2DAsync");
  if (!dst) OPIX_THROW_CUDA(OPIX_EXECUTION_FAILURE, device::kErrorInvalidValue, "cudaMemcpy2DAsync");
  unsigned char* out = static_cast<unsigned char*>(dst);
  host::launch([&] {
    host::parallelRows(height, [&](int64_t y) {
      unsigned char* d = out + uint64_t(y) * dstPitch;
      const uint64_t at = uint64_t(y) * src.pitch;
      const auto plane = [&](int c) { return reinterpret_cast<const uint16_t*>(src.plane[c] + at); };
      if (planar)
        mergeRow(plane(0), plane(1), plane(2), d, width);
      else
        swapRow(src.plane[0] + at, d, width);
    });
  });
  launchCheck(planar ? "Color Channel Merger" : "GPUColorChannelReplace");
}

}  // namespace opix
