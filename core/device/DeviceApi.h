// The two implementations of the device layer share this interface; the free
// functions of Device.h forward to the one selected at initialisation.
#pragma once

#include "device/Device.h"

namespace opix::device {

class DeviceApi {
 public:
  virtual ~DeviceApi() = default;
  virtual Error getDeviceCount(int* count) = 0;
  virtual Error getDeviceProperties(DeviceProperties* props, int device) = 0;
  virtual Error driverGetVersion(int* version) = 0;
  virtual Error runtimeGetVersion(int* version) = 0;
  virtual Error setDevice(int device) = 0;
  virtual Error deviceGetPCIBusId(char* busId, int length, int device) = 0;
  virtual Error memGetInfo(size_t* freeBytes, size_t* totalBytes) = 0;
  virtual Error malloc(void** pointer, size_t size) = 0;
  virtual Error free(void* pointer) = 0;
  virtual Error mallocHost(void** pointer, size_t size) = 0;
  virtual Error freeHost(void* pointer) = 0;
  virtual Error memcpy(void* dst, const void* src, size_t count, CopyKind kind) = 0;
  virtual Error memcpyAsync(void* dst, const void* src, size_t count, CopyKind kind, Stream stream) = 0;
  virtual Error memcpy2DAsync(void* dst, size_t dpitch, const void* src, size_t spitch, size_t width, size_t height,
                              CopyKind kind, Stream stream) = 0;
  virtual Error streamCreate(Stream* stream) = 0;
  virtual Error streamDestroy(Stream stream) = 0;
  virtual Error streamCheck(Stream stream) = 0;
  virtual Error streamSynchronize(Stream stream) = 0;
  virtual Error deviceSynchronize() = 0;
  virtual Error eventCreate(Event* event) = 0;
  virtual Error eventDestroy(Event event) = 0;
  virtual Error eventRecord(Event event, Stream stream, bool onDefaultStream) = 0;
  virtual Error eventSynchronize(Event event) = 0;
  virtual Error eventElapsedTime(float* ms, Event start, Event stop) = 0;
  virtual Error getLastError() = 0;
  virtual const char* errorString(Error error) = 0;
  virtual Error malloc3DArray(Array* array, const ChannelFormat& format, Extent extent) = 0;
  virtual Error freeArray(Array array) = 0;
  virtual Error memcpy3D(const Memcpy3DParms& parms) = 0;
  virtual Error memcpy3DAsync(const Memcpy3DParms& parms, Stream stream) = 0;
  virtual Error createTextureObject(TextureObject* texture, Array array, const TextureDesc& desc) = 0;
  virtual Error destroyTextureObject(TextureObject texture) = 0;
};

// Null when the build has no CUDA backend.
DeviceApi* cudaApi();
DeviceApi& hostApi();

// Host kernel drivers report a failed launch here, as a failed CUDA launch
// would be reported by the runtime; getLastError returns and clears it.
void setHostLastError(Error error);

}  // namespace opix::device
