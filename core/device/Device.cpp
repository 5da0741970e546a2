#include <atomic>
#include <map>

#include "device/DeviceApi.h"
#include "device/LaunchCount.h"

namespace opix::device {

namespace {
std::atomic<Backend> g_backend{Backend::None};
std::atomic<bool> g_cudaDriversOnCpu{false};
thread_local Stream t_stream = nullptr;

DeviceApi* active() {
  switch (g_backend.load(std::memory_order_acquire)) {
    case Backend::Cuda: return cudaApi();
    case Backend::Host: return &hostApi();
    default: return nullptr;
  }
}

// Counted per calling thread, so that counting takes no lock on the path of
// every launch and copy.
thread_local std::map<Stream, uint64_t> t_work;

void noteWork() { ++t_work[t_stream]; }
thread_local uint64_t t_launches = 0;
}  // namespace

Backend backend() { return g_backend.load(std::memory_order_acquire); }
void setBackend(Backend b) { g_backend.store(b, std::memory_order_release); }
bool cudaCompiledIn() { return cudaApi() != nullptr; }
bool cudaDriversOnCpuCompiledIn() { return OPIX_WITH_CUDA_CPU != 0; }
bool cudaDriversOnCpu() { return g_cudaDriversOnCpu.load(std::memory_order_acquire); }
void setCudaDriversOnCpu(bool on) { g_cudaDriversOnCpu.store(on, std::memory_order_release); }

uint64_t workQueuedOn(Stream stream) {
  const auto it = t_work.find(stream);
  return it == t_work.end() ? 0 : it->second;
}
void noteLaunch() {
  ++t_launches;
  noteWork();
}
uint64_t launchesOnThisThread() { return t_launches; }

Stream currentStream() { return t_stream; }
StreamScope::StreamScope(Stream s) : previous_(t_stream) { t_stream = s; }
StreamScope::~StreamScope() { t_stream = previous_; }

// Before initialisation nothing has a device to run on.
#define OPIX_FORWARD(call)   \
  DeviceApi* api = active(); \
  return api ? api->call : kErrorInitializationError

Error getDeviceCount(int* count) { OPIX_FORWARD(getDeviceCount(count)); }
Error getDeviceProperties(DeviceProperties* props, int device) { OPIX_FORWARD(getDeviceProperties(props, device)); }
Error driverGetVersion(int* version) { OPIX_FORWARD(driverGetVersion(version)); }
Error runtimeGetVersion(int* version) { OPIX_FORWARD(runtimeGetVersion(version)); }
Error setDevice(int device) { OPIX_FORWARD(setDevice(device)); }
Error deviceGetPCIBusId(char* busId, int length, int device) { OPIX_FORWARD(deviceGetPCIBusId(busId, length, device)); }
Error memGetInfo(size_t* freeBytes, size_t* totalBytes) { OPIX_FORWARD(memGetInfo(freeBytes, totalBytes)); }
Error malloc(void** pointer, size_t size) { OPIX_FORWARD(malloc(pointer, size)); }
Error free(void* pointer) { OPIX_FORWARD(free(pointer)); }
Error mallocHost(void** pointer, size_t size) { OPIX_FORWARD(mallocHost(pointer, size)); }
Error freeHost(void* pointer) { OPIX_FORWARD(freeHost(pointer)); }
Error memcpy(void* dst, const void* src, size_t count, CopyKind kind) { OPIX_FORWARD(memcpy(dst, src, count, kind)); }
Error memcpyAsync(void* dst, const void* src, size_t count, CopyKind kind) {
  noteWork();
  OPIX_FORWARD(memcpyAsync(dst, src, count, kind, t_stream));
}
Error memcpy2DAsync(void* dst, size_t dpitch, const void* src, size_t spitch, size_t width, size_t height,
                    CopyKind kind) {
  noteWork();
  OPIX_FORWARD(memcpy2DAsync(dst, dpitch, src, spitch, width, height, kind, t_stream));
}
Error streamCreate(Stream* stream) { OPIX_FORWARD(streamCreate(stream)); }
Error streamDestroy(Stream stream) { OPIX_FORWARD(streamDestroy(stream)); }
Error streamCheck(Stream stream) { OPIX_FORWARD(streamCheck(stream)); }
Error streamSynchronizeOn(Stream stream) { OPIX_FORWARD(streamSynchronize(stream)); }
Error streamSynchronize() { OPIX_FORWARD(streamSynchronize(t_stream)); }
Error deviceSynchronize() { OPIX_FORWARD(deviceSynchronize()); }
Error eventCreate(Event* event) { OPIX_FORWARD(eventCreate(event)); }
Error eventDestroy(Event event) { OPIX_FORWARD(eventDestroy(event)); }
Error eventRecord(Event event, bool onDefaultStream) {
  if (!onDefaultStream) noteWork();
  OPIX_FORWARD(eventRecord(event, t_stream, onDefaultStream));
}
Error eventSynchronize(Event event) { OPIX_FORWARD(eventSynchronize(event)); }
Error eventElapsedTime(float* ms, Event start, Event stop) { OPIX_FORWARD(eventElapsedTime(ms, start, stop)); }
Error getLastError() { OPIX_FORWARD(getLastError()); }
Error malloc3DArray(Array* array, const ChannelFormat& format, Extent extent) {
  OPIX_FORWARD(malloc3DArray(array, format, extent));
}
Error freeArray(Array array) { OPIX_FORWARD(freeArray(array)); }
Error memcpy3D(const Memcpy3DParms& parms) { OPIX_FORWARD(memcpy3D(parms)); }
Error memcpy3DAsync(const Memcpy3DParms& parms) {
  noteWork();
  OPIX_FORWARD(memcpy3DAsync(parms, t_stream));
}
Error createTextureObject(TextureObject* texture, Array array, const TextureDesc& desc) {
  OPIX_FORWARD(createTextureObject(texture, array, desc));
}
Error destroyTextureObject(TextureObject texture) { OPIX_FORWARD(destroyTextureObject(texture)); }

#undef OPIX_FORWARD

const char* errorString(Error error) {
  // The runtime's texts where it is linked in, so both backends word failures alike.
  DeviceApi* api = cudaApi();
  return api ? api->errorString(error) : hostApi().errorString(error);
}

}  // namespace opix::device
