// Host drivers and launcher of the bit-depth conversions.
#include "BitDepthKernels.h"

#include "BitDepthMath.h"
#include "KernelLaunch.h"

#define OPIX_SOURCE "opix_surfaceConverter/BitDepthKernels"

namespace opix {

namespace {

// One plane of a view as a single-plane view.
SurfaceView plane(const SurfaceView& v, int p) {
  SurfaceView one = v;
  one.plane[0] = v.plane[p];
  one.plane[1] = one.plane[2] = nullptr;
  return one;
}

template <bool Left>
void same16(const SurfaceView& src, const SurfaceView& dst, uint32_t shift) {
  const int planes = isPlanar(src.format) ? 3 : 1;
  for (int p = 0; p < planes; ++p) {
    const WordGroupJob j = wordGroupJob<Convert16To16Op<Left>>(plane(src, p), plane(dst, p), shift);
    runWordGroupKernel<Convert16To16Op<Left>>(
        j, [&] { OPIX_CUDA_DRIVER(same16Cuda(j, Left)); }, "GPUBitDepthConverter16to16");
  }
}

}  // namespace

void launchBitDepthConversion(BitDepthKernel kernel, const SurfaceView& src, const SurfaceView& dst, uint32_t shift,
                              bool left) {
  switch (kernel) {
    case BitDepthKernel::Gray8To16: {
      const WordGroupJob j = wordGroupJob<Gray8To16Op>(src, dst, shift);
      runWordGroupKernel<Gray8To16Op>(
          j, [&] { OPIX_CUDA_DRIVER(gray8To16Cuda(j)); }, "GPUBitDepthConverter_Gray");
      break;
    }
    case BitDepthKernel::Gray16To8: {
      const WordGroupJob j = wordGroupJob<Gray16To8Op>(src, dst, shift);
      runWordGroupKernel<Gray16To8Op>(
          j, [&] { OPIX_CUDA_DRIVER(gray16To8Cuda(j)); }, "GPUBitDepthConverter_Gray");
      break;
    }
    case BitDepthKernel::Same16:
      if (left)
        same16<true>(src, dst, shift);
      else
        same16<false>(src, dst, shift);
      break;
    case BitDepthKernel::Color8To16: {
      const WordGroupJob j = wordGroupJob<Color8To16Op>(src, dst, shift);
      runWordGroupKernel<Color8To16Op>(
          j, [&] { OPIX_CUDA_DRIVER(color8To16Cuda(j)); }, "GPUBitDepthConverter_Color");
      break;
    }
    case BitDepthKernel::Color16To8: {
      const WordGroupJob j = wordGroupJob<Color16To8Op>(src, dst, shift);
      runWordGroupKernel<Color16To8Op>(
          j, [&] { OPIX_CUDA_DRIVER(color16To8Cuda(j)); }, "GPUBitDepthConverter_Color");
      break;
    }
  }
}

}  // namespace opix
