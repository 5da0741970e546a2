#include "DebayerBinning.h"

#include "BinningMath.h"
#include "Checks.h"
#include "HostRows.h"
#include "KernelLaunch.h"
#include "device/Parallel.h"
#include "opix_internal/opix_program.h"

#define OPIX_SOURCE "opix_debayer/DebayerBinning"

namespace opix {

uint32_t debayerScale(opixDebayerType_t type) {
  switch (type) {
    case OPIX_BINNING_2x2: return 2;
    case OPIX_BINNING_4x4: return 4;
    case OPIX_BINNING_8x8: return 8;
    default: return 1;
  }
}

void DebayerBinning::Init(opixSurfaceFormat_t sourceFormat, opixDebayerType_t type, uint32_t maxWidth,
                          uint32_t maxHeight, opixDeviceSurfaceBufferHandle_t source,
                          opixDeviceSurfaceBufferHandle_t* destination) {
  checks::widthMatches(maxWidth, source->maxWidth);
  checks::heightMatches(maxHeight, source->maxHeight);
  factor_ = debayerScale(type);
  opixSurfaceFormat_t out;
  switch (sourceFormat) {
    case OPIX_I8: out = OPIX_RGB8; break;
    case OPIX_I16: out = OPIX_RGB16_PLANAR; break;
    default: OPIX_THROW(OPIX_UNSUPPORTED_FORMAT);
  }
  checks::externalBuffer(*source);
  holdSource(source);
  destination_ = createSurfaceBuffer(maxWidth / factor_, maxHeight / factor_, out);
  *destination = destination_.get();
  Allocate();
}

void DebayerBinning::Transform(opixBayerPattern_t pattern, uint32_t width, uint32_t height) {
  checks::widthMatches(width, source_->width);
  checks::heightMatches(height, source_->height);
  // A pattern without kernels is refused rather than leaving the image unwritten.
  checkBayerPattern(pattern, OPIX_UNRECOGNIZED_ERROR);
  setCurrentSize(*destination_, width / factor_, height / factor_);
  if (destination_->width == 0 || destination_->height == 0) return;  // no whole block
  const SurfaceView src = surfaceView(*source_);
  const SurfaceView dst = surfaceView(*destination_);
  const int f = static_cast<int>(factor_);
  if (cudaDrivers())
    OPIX_CUDA_DRIVER(launchBinningCuda(src, dst, f, pattern));
  else
    host::launch([&] { launchBinningHost(src, dst, f, pattern); });
  launchCheck(src.format == OPIX_I8 ? "DebayerBinning8Kernel" : "DebayerBinning16Kernel");
}

namespace {

template <class T>
struct SurfaceSamples {
  const unsigned char* base;
  uint32_t pitch;
  int operator()(int x, int y) const { return reinterpret_cast<const T*>(base + size_t(y) * pitch)[x]; }
};

template <int F, class T, class Store>
void binRows(const SurfaceView& s, const SurfaceView& d, int pattern, Store&& storeRow) {
  const SurfaceSamples<T> src{s.plane[0], s.pitch};
  host::parallelRows(d.height, [&](int64_t y) {
    auto store = storeRow(y);
    for (int x = 0; x < int(d.width); ++x) store(x, binPixel<F>(src, pattern, F * x, F * int(y)));
  });
}

template <int F>
void binHost(const SurfaceView& s, const SurfaceView& d, int pattern) {
  if (s.format == OPIX_I8)
    binRows<F, uint8_t>(s, d, pattern, [&](int64_t y) { return Rgb8Row{d.plane[0] + y * d.pitch}; });
  else
    binRows<F, uint16_t>(s, d, pattern, [&](int64_t y) { return planarRow(d, y); });
}

}  // namespace

void launchBinningHost(const SurfaceView& source, const SurfaceView& destination, int factor, int pattern) {
  switch (factor) {
    case 2: binHost<2>(source, destination, pattern); break;
    case 4: binHost<4>(source, destination, pattern); break;
    default: binHost<8>(source, destination, pattern); break;
  }
}

}  // namespace opix
