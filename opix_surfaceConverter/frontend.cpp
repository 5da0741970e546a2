// The interface of the surface converters.
#include "BitDepthConverter.h"
#include "GlobalMethods.h"

#define OPIX_SOURCE "opix_surfaceConverter/frontend"

namespace {

const opix::ObjectNames kNames{"SurfaceConverter. Create", "SurfaceConverter. Transform", "SurfaceConverter. Destroy",
                               "SurfaceConverter. Destroyed."};

}  // namespace

extern "C" opixStatus_t opixSurfaceConverterCreate(opixSurfaceConverterHandle_t* handle, opixSurfaceConverter_t type,
                                                   const void* staticParameters, uint32_t maxWidth, uint32_t maxHeight,
                                                   opixDeviceSurfaceBufferHandle_t source,
                                                   opixDeviceSurfaceBufferHandle_t* destination) {
  using namespace opix;
  return createWithDestination(
      kNames, handle, destination, source,
      [&] {
        trace::value("max width", maxWidth);
        trace::value("max height", maxHeight);
        trace::value("surface converter type", type);
        trace::value("static surface converter parameters", staticParameters);
        trace::buffer("source buffer", source);
      },
      [&](opixDeviceSurfaceBufferHandle_t* built) {
        // The bit-depth converter is the only type there is.
        if (type != OPIX_BIT_DEPTH_CONVERTER) OPIX_THROW(OPIX_INVALID_VALUE);
        auto converter = std::make_unique<BitDepthConverter>();
        converter->Init(type, staticParameters, maxWidth, maxHeight, source, built);
        return converter;
      });
}

extern "C" opixStatus_t opixSurfaceConverterTransform(opixSurfaceConverterHandle_t handle, const void* parameters,
                                                      uint32_t width, uint32_t height) {
  using namespace opix;
  return transformFrontend(
      kNames, handle,
      [&] {
        trace::value("surface converter parameters", parameters);
        trace::value("width", width);
        trace::value("height", height);
      },
      [&](ISurfaceConverter& converter) { converter.Transform(parameters, width, height); });
}

extern "C" opixStatus_t opixSurfaceConverterDestroy(opixSurfaceConverterHandle_t handle) {
  return opix::destroyFrontend(kNames, handle);
}

extern "C" opixStatus_t opixSurfaceConverterGetAllocatedGpuMemorySize(opixSurfaceConverterHandle_t handle,
                                                                      uint64_t* bytes) {
  return opix::memorySizeFrontend(handle, bytes);
}

extern "C" opixStatus_t opixSurfaceConverterSetStream(opixSurfaceConverterHandle_t handle, opixStream_t stream) {
  return opix::setStreamFrontend("SurfaceConverter. Set stream", handle, stream);
}
