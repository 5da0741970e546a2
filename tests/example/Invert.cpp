#include "Invert.h"

#include "Checks.h"
#include "GlobalMethods.h"
#include "InvertMath.h"
#include "KernelLaunch.h"

#define OPIX_SOURCE "example/Invert"

namespace opix::example {

int Invert::destroyed = 0;
bool Invert::failOnInit = false;
bool Invert::throwForeign = false;

void Invert::Init(opixSurfaceFormat_t sourceFormat, opixImageFilterType_t, const void*, uint32_t maxWidth,
                  uint32_t maxHeight, opixDeviceSurfaceBufferHandle_t source,
                  opixDeviceSurfaceBufferHandle_t* destination) {
  if (sourceFormat != OPIX_I8 && sourceFormat != OPIX_I16) OPIX_THROW(OPIX_UNSUPPORTED_SURFACE);
  checks::maxWidthLimit(maxWidth);
  checks::maxHeightLimit(maxHeight);
  checks::minWidth(maxWidth);
  checks::minHeight(maxHeight);
  checks::widthMatches(maxWidth, source->maxWidth);
  checks::heightMatches(maxHeight, source->maxHeight);
  source_ = source;
  destination_ = createSurfaceBuffer(maxWidth, maxHeight, sourceFormat);
  *destination = destination_.get();
  Allocate();
  if (failOnInit) OPIX_THROW(OPIX_INTERNAL_ERROR);
}

void Invert::ComputeMemorySize() { reserve(*destination_); }

void Invert::Transform(const void*, uint32_t width, uint32_t height) {
  if (throwForeign) throw std::runtime_error("not an SDK failure");
  checks::widthMatches(width, source_->width);
  checks::heightMatches(height, source_->height);
  setCurrentSize(*destination_, width, height);
  const SurfaceView s = surfaceView(*source_);
  const SurfaceView d = surfaceView(*destination_);
  const View v{s.plane[0], s.pitch, d.plane[0], d.pitch, width, height, s.format == OPIX_I16};
  if (cudaDrivers())
    OPIX_CUDA_DRIVER(launchInvertCuda(v));
  else
    host::launch([&] { launchInvertHost(v); });
  launchCheck("InvertKernel");
}

void launchInvertHost(const View& v) {
  host::parallelRows(v.height, [&](int64_t y) {
    if (v.wide) {
      const auto* s = reinterpret_cast<const uint16_t*>(v.src + y * v.srcPitch);
      auto* d = reinterpret_cast<uint16_t*>(v.dst + y * v.dstPitch);
      for (uint32_t x = 0; x < v.width; ++x) d[x] = static_cast<uint16_t>(invertSample(s[x], 65535));
    } else {
      const unsigned char* s = v.src + y * v.srcPitch;
      unsigned char* d = v.dst + y * v.dstPitch;
      for (uint32_t x = 0; x < v.width; ++x) d[x] = static_cast<unsigned char>(invertSample(s[x], 255));
    }
  });
}

}  // namespace opix::example

namespace {
const opix::ObjectNames kNames{"Invert. Create", "Invert. Transform", "Invert. Destroy", "Invert. Destroyed."};
}

using namespace opix;

extern "C" opixStatus_t exampleInvertCreate(opixImageFilterHandle_t* handle, uint32_t maxWidth, uint32_t maxHeight,
                                            opixDeviceSurfaceBufferHandle_t source,
                                            opixDeviceSurfaceBufferHandle_t* destination) {
  return createWithDestination(
      kNames, handle, destination,
      [&] {
        trace::value("max width", maxWidth);
        trace::value("max height", maxHeight);
        trace::buffer("source buffer", source);
      },
      [&](opixDeviceSurfaceBufferHandle_t* built) {
        if (!source) OPIX_THROW(OPIX_INVALID_VALUE);
        auto c = std::make_unique<example::Invert>();
        c->Init(source->surfaceFormat, OPIX_GAUSSIAN_BLUR, nullptr, maxWidth, maxHeight, source, built);
        return c;
      });
}

extern "C" opixStatus_t exampleInvertTransform(opixImageFilterHandle_t handle, uint32_t width, uint32_t height) {
  return transformFrontend(
      kNames, handle,
      [&] {
        trace::value("width", width);
        trace::value("height", height);
      },
      [&](IImageFilter& c) { c.Transform(nullptr, width, height); });
}

extern "C" opixStatus_t exampleInvertDestroy(opixImageFilterHandle_t handle) {
  return destroyFrontend(kNames, handle);
}

extern "C" opixStatus_t exampleInvertGetAllocatedGpuMemorySize(opixImageFilterHandle_t handle, uint64_t* bytes) {
  return memorySizeFrontend(handle, bytes);
}
