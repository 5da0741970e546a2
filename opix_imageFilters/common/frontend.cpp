// The image filters' interface functions; the registry picks the filter class
// of a type and source format.
#include <memory>

#include "FilterRegistry.h"
#include "GlobalMethods.h"
#include "ImageFilterBase.h"

#define OPIX_SOURCE "opix_imageFilters/frontend"

namespace opix {

namespace {

const ObjectNames kNames{"Image filter. Create", "Image filter. Transform", "Image filter. Destroy",
                         "Image filter. Destroyed."};

}  // namespace

}  // namespace opix

using namespace opix;

extern "C" opixStatus_t opixImageFilterCreate(opixImageFilterHandle_t* handle, opixImageFilterType_t type,
                                              const void* staticParameters, uint32_t maxWidth, uint32_t maxHeight,
                                              opixDeviceSurfaceBufferHandle_t source,
                                              opixDeviceSurfaceBufferHandle_t* destination) {
  return createWithDestination(
      kNames, handle, destination, source,
      [&] {
        trace::value("filter type", type);
        trace::value("filter parameters", staticParameters);
        trace::value("max width", maxWidth);
        trace::value("max height", maxHeight);
        trace::buffer("source buffer", source);
      },
      [&](opixDeviceSurfaceBufferHandle_t* built) {
        if (!source) OPIX_THROW(OPIX_INVALID_VALUE);
        auto filter = createFilter(type, source->surfaceFormat);
        filter->Init(source->surfaceFormat, type, staticParameters, maxWidth, maxHeight, source, built);
        return filter;
      });
}

extern "C" opixStatus_t opixImageFilterTransform(opixImageFilterHandle_t handle, const void* parameters, uint32_t width,
                                                 uint32_t height) {
  return transformFrontend(
      kNames, handle,
      [&] {
        trace::value("filter parameters", parameters);
        trace::value("width", width);
        trace::value("height", height);
      },
      [&](IImageFilter& c) { c.Transform(parameters, width, height); });
}

extern "C" opixStatus_t opixImageFilterDestroy(opixImageFilterHandle_t handle) {
  return destroyFrontend(kNames, handle);
}

extern "C" opixStatus_t opixImageFilterGetAllocatedGpuMemorySize(opixImageFilterHandle_t handle, uint64_t* bytes) {
  return memorySizeFrontend(handle, bytes);
}

extern "C" opixStatus_t opixImageFilterSetStream(opixImageFilterHandle_t handle, opixStream_t stream) {
  return opix::setStreamFrontend("Image filter. Set stream", handle, stream);
}
