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

// Host drivers only: the colour image of `src` (RGB8 or RGB12/16_PLANAR) at
// its current size written straight into host memory at `dst`, rows
// `dstPitch` bytes apart, as blue-green-red (`swap`, RGB8) or as
// interleaved 16-bit pixels (planar sources), with the maths of the replace
// and merge kernels; only the row's own bytes are written, never a row's
// padding. A pitch below the row or a null destination fails as the copy to
// the host would.
void packToHost(const SurfaceView& src, bool swap, void* dst, uint64_t dstPitch);

// The CUDA drivers.
OPIX_CUDA_DRIVERS(void channelReplaceCuda(const WordGroupJob& job); void channelSplitCuda(const WordGroupJob& job);
                  void channelMergeCuda(const WordGroupJob& job);)

}  // namespace opix
