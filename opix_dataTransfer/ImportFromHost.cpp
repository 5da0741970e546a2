// The interface of import from host.
#include "GlobalMethods.h"
#include "TransferHandles.h"

namespace {

const opix::ObjectNames kNames{"Import from host. Create", "Import from host. Copy", "Import from host. Destroy",
                               "Import from host. Destroyed."};

}  // namespace

extern "C" opixStatus_t opixImportFromHostCreate(opixImportFromHostHandle_t* handle, opixSurfaceFormat_t format,
                                                 uint32_t maxWidth, uint32_t maxHeight,
                                                 opixDeviceSurfaceBufferHandle_t* destination) {
  using namespace opix;
  return createFrontend(
      kNames, handle, nullptr,
      [&] {
        trace::value("surface format", format);
        trace::value("max width", maxWidth);
        trace::value("max height", maxHeight);
        if (!destination) OPIX_THROW_AT(OPIX_INVALID_VALUE, "opix_dataTransfer/ImportFromHost");
      },
      [&] { return std::make_unique<DataImport>(format, maxWidth, maxHeight); },
      [&](DataImport& component) {
        *destination = component.destination();
        trace::buffer("destination buffer", *destination);
        return *destination;
      });
}

extern "C" opixStatus_t opixImportFromHostCreatePacked(opixImportFromHostHandle_t* handle, opixPacking_t packing,
                                                       opixSurfaceFormat_t format, uint32_t maxWidth,
                                                       uint32_t maxHeight,
                                                       opixDeviceSurfaceBufferHandle_t* destination) {
  using namespace opix;
  return createFrontend(
      kNames, handle, nullptr,
      [&] {
        trace::value("packing", static_cast<int32_t>(packing));
        trace::value("surface format", format);
        trace::value("max width", maxWidth);
        trace::value("max height", maxHeight);
        if (!destination) OPIX_THROW_AT(OPIX_INVALID_VALUE, "opix_dataTransfer/ImportFromHost");
      },
      [&] {
        return packing == OPIX_PACKING_NONE ? std::make_unique<DataImport>(format, maxWidth, maxHeight)
                                            : std::make_unique<DataImport>(packing, format, maxWidth, maxHeight);
      },
      [&](DataImport& component) {
        *destination = component.destination();
        trace::buffer("destination buffer", *destination);
        return *destination;
      });
}

extern "C" opixStatus_t opixImportFromHostCopy(opixImportFromHostHandle_t handle, const void* source, uint32_t width,
                                               uint32_t pitch, uint32_t height) {
  using namespace opix;
  return transformFrontend(
      kNames, handle,
      [&] {
        trace::value("source pointer", source);
        trace::value("width", width);
        trace::value("height", height);
        trace::value("pitch", pitch);
      },
      [&](DataImport& component) { component.Copy(source, width, pitch, height); });
}

extern "C" opixStatus_t opixImportFromHostDestroy(opixImportFromHostHandle_t handle) {
  return opix::destroyFrontend(kNames, handle);
}

extern "C" opixStatus_t opixImportFromHostGetAllocatedGpuMemorySize(opixImportFromHostHandle_t handle,
                                                                    uint64_t* bytes) {
  return opix::memorySizeFrontend(handle, bytes);
}

extern "C" opixStatus_t opixImportFromHostSetStream(opixImportFromHostHandle_t handle, opixStream_t stream) {
  return opix::setStreamFrontend("Import from host. Set stream", handle, stream);
}
