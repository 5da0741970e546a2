// The channel and bit-depth kernels driver by driver: the host driver gives
// every pixel its value by an independent per-sample rule and never writes
// past the last row, and the CUDA driver (on a GPU, or built for the CPU)
// gives exactly the host driver's bytes, padding and guard rows included.
#include <functional>

#include "BGRXPacker.h"
#include "BGRXPackerMath.h"
#include "BitDepthKernels.h"
#include "BitDepthMath.h"
#include "ChannelKernels.h"
#include "ChannelMath.h"
#include "TestSupport.h"

namespace opix::test {
namespace {

using CudaDriver = std::function<void(const WordGroupJob&)>;

constexpr uint8_t kGuard = 0x5A;
constexpr uint32_t kGuardRows = 2;

// A planar-or-not image with guard rows after each plane, in one block.
struct Planes {
  opixSurfaceFormat_t format;
  uint32_t pitch, height, planes;
  size_t planeBytes() const { return size_t{pitch} * (height + kGuardRows); }
  size_t bytes() const { return planes * planeBytes(); }
  SurfaceView view(unsigned char* base, uint32_t width) const {
    SurfaceView v{format, {base, nullptr, nullptr}, pitch, width, height};
    for (uint32_t p = 1; p < planes; ++p) v.plane[p] = base + p * planeBytes();
    return v;
  }
};

Planes planesOf(opixSurfaceFormat_t f, uint32_t w, uint32_t h) {
  return {f, opixRowBytes(f, w), h, isPlanar(f) ? 3u : 1u};
}

// Channel c of pixel (x, y) of an image laid out as `p`.
uint32_t sampleAt(const Planes& p, const std::vector<uint8_t>& bytes, uint32_t x, uint32_t y, uint32_t c) {
  const size_t row = size_t{y} * p.pitch;
  switch (p.format) {
    case OPIX_I8: return bytes[row + x];
    case OPIX_RGB8: return bytes[row + 3 * size_t{x} + c];
    case OPIX_BGRX8: return bytes[row + 4 * size_t{x} + c];
    case OPIX_I16: return bytes[row + 2 * size_t{x}] | bytes[row + 2 * size_t{x} + 1] << 8;
    case OPIX_RGB16: return bytes[row + 6 * size_t{x} + 2 * c] | bytes[row + 6 * size_t{x} + 2 * c + 1] << 8;
    default: {  // planar
      const size_t at = c * p.planeBytes() + row + 2 * size_t{x};
      return bytes[at] | bytes[at + 1] << 8;
    }
  }
}

// What output channel c of a pixel is made of: input channel `from[c]`,
// passed through `value`.
struct Rule {
  uint32_t from[3];
  std::function<uint32_t(uint32_t)> value;
};
const Rule kSame{{0, 1, 2}, [](uint32_t v) { return v; }};
const Rule kReversed{{2, 1, 0}, [](uint32_t v) { return v; }};
Rule shifted(int left, uint32_t mask) {
  return {{0, 1, 2}, [=](uint32_t v) { return (left >= 0 ? v << left : v >> -left) & mask; }};
}

template <class Op>
void checkDrivers(opixSurfaceFormat_t inF, opixSurfaceFormat_t outF, uint32_t shift, bool inPlace,
                  const CudaDriver& cudaDriver, const Rule& rule) {
  uint32_t seed = 0;
  for (uint32_t w : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 63u, 64u, 65u, 127u, 128u, 129u, 1000u, 4099u})
    for (uint32_t h : {1u, 5u, 33u, 70u}) {
      SCOPED_TRACE(std::string(opixSurfaceFormatName(inF)) + " width " + std::to_string(w) + " height " +
                   std::to_string(h));
      const Planes in = planesOf(inF, w, h), out = planesOf(outF, w, h);
      const std::vector<uint8_t> source = randomBytes(in.bytes(), ++seed);
      std::vector<uint8_t> hostIn = source;
      std::vector<uint8_t> hostOut(out.bytes(), kGuard);
      if (inPlace) hostOut = source;
      std::vector<uint8_t>& target = inPlace ? hostIn : hostOut;
      host::runWordGroups<Op>(wordGroupJob<Op>(in.view(hostIn.data(), w), out.view(target.data(), w), shift));
      for (uint32_t p = 0; p < out.planes; ++p)
        for (size_t i = size_t{out.pitch} * h; i < out.planeBytes(); ++i)
          ASSERT_EQ(target[p * out.planeBytes() + i], inPlace ? source[p * out.planeBytes() + i] : kGuard)
              << "guard byte " << i << " of plane " << p;
      const uint32_t channels = opixFormatChannels(outF) < 3 ? 1 : 3;
      for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
          for (uint32_t c = 0; c < channels; ++c)
            ASSERT_EQ(sampleAt(out, target, x, y, c), rule.value(sampleAt(in, source, x, y, rule.from[c])))
                << "pixel " << x << "," << y << " channel " << c;

      if (g_backend == Backend::Host) continue;
      DeviceBlock dIn(in.bytes()), dOut(out.bytes());
      dIn.upload(source);
      dOut.upload(inPlace ? source : std::vector<uint8_t>(out.bytes(), kGuard));
      DeviceBlock& dTarget = inPlace ? dIn : dOut;
      cudaDriver(wordGroupJob<Op>(in.view(dIn.get(), w), out.view(dTarget.get(), w), shift));
      ASSERT_EQ(device::getLastError(), device::kSuccess);
      ASSERT_EQ(dTarget.download(), target);
    }
}

// The CUDA driver of the backend in use: on the GPU, or built for the CPU.
#define CUDA_DRIVER(call) [](const WordGroupJob& j) { OPIX_CUDA_DRIVER(call); }

TEST(WordKernels, ChannelReplace) {
  checkDrivers<ChannelReplaceOp>(OPIX_RGB8, OPIX_RGB8, 0, false, CUDA_DRIVER(channelReplaceCuda(j)), kReversed);
  checkDrivers<ChannelReplaceOp>(OPIX_RGB8, OPIX_RGB8, 0, true, CUDA_DRIVER(channelReplaceCuda(j)), kReversed);
}
TEST(WordKernels, ChannelSplit) {
  checkDrivers<ChannelSplitOp>(OPIX_RGB16, OPIX_RGB16_PLANAR, 0, false, CUDA_DRIVER(channelSplitCuda(j)), kSame);
}
TEST(WordKernels, ChannelMerge) {
  checkDrivers<ChannelMergeOp>(OPIX_RGB16_PLANAR, OPIX_RGB16, 0, false, CUDA_DRIVER(channelMergeCuda(j)), kSame);
}
TEST(WordKernels, BGRXPacker) {
  checkDrivers<BGRXPackOp>(OPIX_BGRX8, OPIX_RGB8, 0, false, CUDA_DRIVER(bgrxPackerCuda(j)), kReversed);
}
TEST(WordKernels, Gray8To16) {
  checkDrivers<Gray8To16Op>(OPIX_I8, OPIX_I16, 7, false, CUDA_DRIVER(gray8To16Cuda(j)), shifted(7, 0xFFFF));
}
TEST(WordKernels, Gray16To8) {
  checkDrivers<Gray16To8Op>(OPIX_I16, OPIX_I8, 3, false, CUDA_DRIVER(gray16To8Cuda(j)), shifted(-3, 0xFF));
}
TEST(WordKernels, Same16) {
  checkDrivers<Convert16To16Op<true>>(OPIX_I16, OPIX_I16, 5, false, CUDA_DRIVER(same16Cuda(j, true)),
                                      shifted(5, 0xFFFF));
  checkDrivers<Convert16To16Op<false>>(OPIX_I16, OPIX_I16, 11, false, CUDA_DRIVER(same16Cuda(j, false)),
                                       shifted(-11, 0xFFFF));
}
TEST(WordKernels, Color8To16) {
  checkDrivers<Color8To16Op>(OPIX_RGB8, OPIX_RGB16_PLANAR, 8, false, CUDA_DRIVER(color8To16Cuda(j)),
                             shifted(8, 0xFFFF));
}
TEST(WordKernels, Color16To8) {
  checkDrivers<Color16To8Op>(OPIX_RGB16_PLANAR, OPIX_RGB8, 4, false, CUDA_DRIVER(color16To8Cuda(j)), shifted(-4, 0xFF));
}

}  // namespace
}  // namespace opix::test
