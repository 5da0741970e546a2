// CUDA drivers of the bit-depth conversions: blocks of 32 x 8 threads.
#include "BitDepthKernels.h"
#include "BitDepthMath.h"
#include "WordGroups.cuh"

namespace opix::OPIX_CUDA_NS {

namespace {

// Four rows per thread: 128 pixels of 32 rows per block.
__global__ void BitDepthConverter_Gray_8_16(WordGroupJob j) { wordGroupBlock<Gray8To16Op, 8, 4>(j); }
__global__ void BitDepthConverter_Gray_16_8(WordGroupJob j) { wordGroupBlock<Gray16To8Op, 8, 4>(j); }
__global__ void BitDepthConverter_Color_16_8(WordGroupJob j) { wordGroupBlock<Color16To8Op, 8, 4>(j); }
// Four rows per thread: 64 samples of 32 rows per block.
template <bool Left>
__global__ void BitDepthConverter16_16(WordGroupJob j) {
  wordGroupBlock<Convert16To16Op<Left>, 8, 4>(j);
}
// Two rows per thread: 128 pixels of 16 rows per block.
__global__ void BitDepthConverter_Color_8_16(WordGroupJob j) { wordGroupBlock<Color8To16Op, 8, 2>(j); }

}  // namespace

void gray8To16Cuda(const WordGroupJob& j) { launchWordGroups<8, 4>(BitDepthConverter_Gray_8_16, j); }
void gray16To8Cuda(const WordGroupJob& j) { launchWordGroups<8, 4>(BitDepthConverter_Gray_16_8, j); }
void color16To8Cuda(const WordGroupJob& j) { launchWordGroups<8, 4>(BitDepthConverter_Color_16_8, j); }
void color8To16Cuda(const WordGroupJob& j) { launchWordGroups<8, 2>(BitDepthConverter_Color_8_16, j); }
void same16Cuda(const WordGroupJob& j, bool left) {
  launchWordGroups<8, 4>(left ? BitDepthConverter16_16<true> : BitDepthConverter16_16<false>, j);
}

}  // namespace opix::OPIX_CUDA_NS
