// Channel kernels of import and export. Each launcher runs the CUDA or the
// host driver of the backend in use over the current size of its views and
// ends with the launch check under the kernel's label.
#pragma once

#include "DeviceSurfaceBuffer.h"
#include "KernelLaunch.h"
#include "WordGroups.h"

namespace opix {

// 3-byte pixels (c0, c1, c2) of `src` become (c2, c1, c0) in `dst`; the two
// may be the same buffer.
void launchChannelReplace(const SurfaceView& src, const SurfaceView& dst);
// RGB12 or RGB16 `src` into the three planes of `dst`; any other source
// format raises OPIX_INTERNAL_ERROR.
void launchChannelSplit(const SurfaceView& src, const SurfaceView& dst);
// The three planes of an RGB12_PLANAR or RGB16_PLANAR `src` interleaved into
// `dst`; any other source format launches nothing.
void launchChannelMerge(const SurfaceView& src, const SurfaceView& dst);

// The CUDA drivers.
OPIX_CUDA_DRIVERS(void channelReplaceCuda(const WordGroupJob& job); void channelSplitCuda(const WordGroupJob& job);
                  void channelMergeCuda(const WordGroupJob& job);)

}  // namespace opix
