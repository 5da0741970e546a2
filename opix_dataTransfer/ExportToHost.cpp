// The interface of export to host.
#include "GlobalMethods.h"
#include "TransferHandles.h"

namespace {

const opix::ObjectNames kNames{"Export to host. Create", "Export to host. Copy", "Export to host. Destroy",
                               "Export to host. Destroyed."};
const opix::ObjectNames kAsyncNames{"Export to host. Create", "Export to host. Copy async", "Export to host. Destroy",
                                    "Export to host. Destroyed."};

}  // namespace

extern "C" opixStatus_t opixExportToHostCreate(opixExportToHostHandle_t* handle, opixSurfaceFormat_t* format,
                                               opixDeviceSurfaceBufferHandle_t source) {
  using namespace opix;
  return createFrontend(
      kNames, handle, source,
      [&] {
        trace::buffer("source buffer", source);
        if (!format || !source) OPIX_THROW_AT(OPIX_INVALID_VALUE, "opix_dataTransfer/ExportToHost");
      },
      [&] { return std::make_unique<DataExport>(source); },
      [&](DataExport& component) {
        *format = component.hostFormat();
        trace::value("surface format", *format);
        return nullptr;
      });
}

namespace {

opixStatus_t copyFrontend(const opix::ObjectNames& names, opixExportToHostHandle_t handle, void* destination,
                          uint32_t width, uint32_t pitch, uint32_t height, const opixExportParameters_t* parameters,
                          bool wait) {
  using namespace opix;
  return transformFrontend(
      names, handle,
      [&] {
        trace::value("destination pointer", static_cast<const void*>(destination));
        trace::value("width", width);
        trace::value("height", height);
        trace::value("pitch", pitch);
        trace::value("export parameters", static_cast<const void*>(parameters));
      },
      [&](DataExport& component) { component.Copy(destination, width, pitch, height, parameters, wait); });
}

}  // namespace

extern "C" opixStatus_t opixExportToHostCopy(opixExportToHostHandle_t handle, void* destination, uint32_t width,
                                             uint32_t pitch, uint32_t height,
                                             const opixExportParameters_t* parameters) {
  return copyFrontend(kNames, handle, destination, width, pitch, height, parameters, true);
}

extern "C" opixStatus_t opixExportToHostCopyAsync(opixExportToHostHandle_t handle, void* destination, uint32_t width,
                                                  uint32_t pitch, uint32_t height,
                                                  const opixExportParameters_t* parameters) {
  return copyFrontend(kAsyncNames, handle, destination, width, pitch, height, parameters, false);
}

extern "C" opixStatus_t opixExportToHostDestroy(opixExportToHostHandle_t handle) {
  return opix::destroyFrontend(kNames, handle);
}

extern "C" opixStatus_t opixExportToHostGetAllocatedGpuMemorySize(opixExportToHostHandle_t handle, uint64_t* bytes) {
  return opix::memorySizeFrontend(handle, bytes);
}

extern "C" opixStatus_t opixExportToHostSetStream(opixExportToHostHandle_t handle, opixStream_t stream) {
  return opix::setStreamFrontend("Export to host. Set stream", handle, stream);
}
