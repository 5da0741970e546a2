// Host drivers and launchers of the channel kernels.
#include "ChannelKernels.h"

#include "ChannelMath.h"
#include "KernelLaunch.h"

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

}  // namespace opix
