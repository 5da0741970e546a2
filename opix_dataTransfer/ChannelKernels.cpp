// Host drivers and launchers of the channel kernels.
#include "ChannelKernels.h"

#include <cstring>

#include "ChannelMath.h"
#include "KernelLaunch.h"
#include "MemSpace.h"
#include "device/ChannelRows.h"
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
      // The kernels' groups (ChannelReplaceOp, ChannelMergeOp) a row at a
      // time: the same bytes, with no partial group at the row's end.
      if (planar)
        host::interleave16(plane(0), plane(1), plane(2), d, width);
      else
        host::swapRgb8(src.plane[0] + at, d, width);
    });
  });
  launchCheck(planar ? "Color Channel Merger" : "GPUColorChannelReplace");
}

}  // namespace opix
