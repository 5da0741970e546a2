#include "Invert.h"

#include <stdexcept>

#include "Checks.h"
#include "GlobalMethods.h"
#include "InvertMath.h"
#include "KernelLaunch.h"
#include "common/FilterRegistry.h"
#include "device/Parallel.h"

#define OPIX_SOURCE "tests/example/Invert"

namespace opix::example {

int Invert::destroyed = 0;
bool Invert::failOnInit = false;
bool Invert::throwForeign = false;

void Invert::Init(opixSurfaceFormat_t sourceFormat, opixImageFilterType_t type, const void* staticParameters,
                  uint32_t maxWidth, uint32_t maxHeight, opixDeviceSurfaceBufferHandle_t source,
                  opixDeviceSurfaceBufferHandle_t* destination) {
  // What this filter adds to the common checks: a minimum size.
  checks::minWidth(maxWidth);
  checks::minHeight(maxHeight);
  ImageFilterBase::Init(sourceFormat, type, staticParameters, maxWidth, maxHeight, source, destination);
  if (failOnInit) OPIX_THROW(OPIX_INTERNAL_ERROR);
}

void Invert::ApplyParameters(const void* record) { parameters_ = *static_cast<const InvertParameters*>(record); }

void Invert::Launch(const SurfaceView& source, const SurfaceView& destination) {
  if (throwForeign) throw std::runtime_error("not an SDK failure");
  const InvertArgs a{source, destination, parameters_.white};
  OPIX_KERNEL_LAUNCH("InvertKernel", launchInvertCuda(a), launchInvertHost(a));
}

namespace {

template <class T>
void invertRows(const InvertArgs& a) {
  host::parallelRows(a.src.height, [&](int64_t y) {
    const T* s = reinterpret_cast<const T*>(a.src.plane[0] + y * a.src.pitch);
    T* d = reinterpret_cast<T*>(a.dst.plane[0] + y * a.dst.pitch);
    for (uint32_t x = 0; x < a.src.width; ++x) d[x] = static_cast<T>(invertSample(s[x], a.white));
  });
}

}  // namespace

void launchInvertHost(const InvertArgs& a) {
  if (a.src.format == OPIX_I16)
    invertRows<uint16_t>(a);
  else
    invertRows<uint8_t>(a);
}

namespace {

constexpr FilterType kInvertTypes[] = {{kInvertType, "Invert", kI8 | kI16}};

}  // namespace

// The filter's declaration: its types, with the formats it accepts, its
// factory and its record. Registering it is the one line that makes the
// image filter interface serve kInvertType.
extern const FilterDeclaration kInvertFilter{kInvertTypes, makeFilter<Invert>, recordBytesOf<InvertParameters>};
const bool kInvertRegistered = registerFilter(kInvertFilter);

}  // namespace opix::example

namespace {
const opix::ObjectNames kNames{"Invert. Create", "Invert. Transform", "Invert. Destroy", "Invert. Destroyed."};
}

using namespace opix;

extern "C" opixStatus_t exampleInvertCreate(opixImageFilterHandle_t* handle, uint32_t maxWidth, uint32_t maxHeight,
                                            opixDeviceSurfaceBufferHandle_t source,
                                            opixDeviceSurfaceBufferHandle_t* destination) {
  return createWithDestination(
      kNames, handle, destination, source,
      [&] {
        trace::value("max width", maxWidth);
        trace::value("max height", maxHeight);
        trace::buffer("source buffer", source);
      },
      [&](opixDeviceSurfaceBufferHandle_t* built) {
        if (!source) OPIX_THROW(OPIX_INVALID_VALUE);
        auto c = createFilter(example::kInvertType, source->surfaceFormat);
        const example::InvertParameters whole{source->surfaceFormat == OPIX_I16 ? 65535u : 255u};
        c->Init(source->surfaceFormat, example::kInvertType, &whole, maxWidth, maxHeight, source, built);
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

extern "C" opixStatus_t exampleInvertDestroy(opixImageFilterHandle_t handle) { return destroyFrontend(kNames, handle); }

extern "C" opixStatus_t exampleInvertGetAllocatedGpuMemorySize(opixImageFilterHandle_t handle, uint64_t* bytes) {
  return memorySizeFrontend(handle, bytes);
}
