// CUDA drivers of the channel kernels.
#include "ChannelKernels.h"
#include "ChannelMath.h"
#include "WordGroups.cuh"

namespace opix::OPIX_CUDA_NS {

namespace {

// 32 x 16 threads, rows r and r + 16: 128 pixels of 32 rows per block.
__global__ void ColorChannelReplaceKernel(WordGroupJob j) { wordGroupBlock<ChannelReplaceOp, 16, 2>(j); }
// 32 x 8 threads, two rows each: 64 pixels of 16 rows per block.
__global__ void ColorChannelSplitKernel(WordGroupJob j) { wordGroupBlock<ChannelSplitOp, 8, 2>(j); }
// 32 x 8 threads, two rows each: 128 pixels of 16 rows per block.
__global__ void ColorChannelMergeKernel(WordGroupJob j) { wordGroupBlock<ChannelMergeOp, 8, 2>(j); }

}  // namespace

void channelReplaceCuda(const WordGroupJob& j) { launchWordGroups<16, 2>(ColorChannelReplaceKernel, j); }
void channelSplitCuda(const WordGroupJob& j) { launchWordGroups<8, 2>(ColorChannelSplitKernel, j); }
void channelMergeCuda(const WordGroupJob& j) { launchWordGroups<8, 2>(ColorChannelMergeKernel, j); }

}  // namespace opix::OPIX_CUDA_NS
