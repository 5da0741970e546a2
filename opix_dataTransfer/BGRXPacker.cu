// CUDA driver of the BGRX packer.
#include "BGRXPacker.h"
#include "BGRXPackerMath.h"
#include "WordGroups.cuh"

namespace opix::OPIX_CUDA_NS {

namespace {

// 32 x 16 threads, rows r and r + 16: 128 pixels of 32 rows per block.
__global__ void BGRXPackerKernel(WordGroupJob j) { wordGroupBlock<BGRXPackOp, 16, 2>(j); }

}  // namespace

void bgrxPackerCuda(const WordGroupJob& j) { launchWordGroups<16, 2>(BGRXPackerKernel, j); }

}  // namespace opix::OPIX_CUDA_NS
