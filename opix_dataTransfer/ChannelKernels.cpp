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

// Four pixels a group, as the kernels take them; the last group of a row,
// short of four pixels, goes through a zeroed group whose used bytes alone
// are stored.
void swapRow(const unsigned char* s, unsigned char* d, uint32_t width) {
  const uint32_t full = width / 4;
  uint32_t in[1][3], out[1][3];
  for (uint32_t g = 0; g < full; ++g) {
    std::memcpy(in[0], s + 12 * size_t{g}, 12);
    ChannelReplaceOp::apply(in, out, 0);
    std::memcpy(d + 12 * size_t{g}, out[0], 12);
  }
  if (const uint32_t rest = 3 * (width - 4 * full)) {
    std::memset(in, 0, sizeof in);
    std::memcpy(in[0], s + 12 * size_t{full}, rest);
    ChannelReplaceOp::apply(in, out, 0);
    std::memcpy(d + 12 * size_t{full}, out[0], rest);
  }
}

void mergeRow(const unsigned char* const (&s)[3], unsigned char* d, uint32_t width) {
  const uint32_t full = width / 4;
  uint32_t in[3][2], out[1][6];
  for (uint32_t g = 0; g < full; ++g) {
    for (int p = 0; p < 3; ++p) std::memcpy(in[p], s[p] + 8 * size_t{g}, 8);
    ChannelMergeOp::apply(in, out, 0);
    std::memcpy(d + 24 * size_t{g}, out[0], 24);
  }
  if (const uint32_t rest = width - 4 * full) {
    std::memset(in, 0, sizeof in);
    for (int p = 0; p < 3; ++p) std::memcpy(in[p], s[p] + 8 * size_t{full}, 2 * size_t{rest});
    ChannelMergeOp::apply(in, out, 0);
    std::memcpy(d + 24 * size_t{full}, out[0], 6 * size_t{rest});
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
      if (planar)
        mergeRow({src.plane[0] + at, src.plane[1] + at, src.plane[2] + at}, d, width);
      else
        swapRow(src.plane[0] + at, d, width);
    });
  });
  launchCheck(planar ? "Color Channel Merger" : "GPUColorChannelReplace");
}

}  // namespace opix
