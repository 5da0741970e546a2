// The CUDA backend of the device layer: the CUDA runtime itself.
#include "device/DeviceApi.h"

#if OPIX_WITH_CUDA

#include <cuda_runtime.h>

#include <cstring>

namespace opix::device {

namespace {

static_assert(kErrorInvalidValue == cudaErrorInvalidValue);
static_assert(kErrorMemoryAllocation == cudaErrorMemoryAllocation);
static_assert(kErrorInitializationError == cudaErrorInitializationError);
static_assert(kErrorInvalidPitchValue == cudaErrorInvalidPitchValue);
static_assert(kErrorNoDevice == cudaErrorNoDevice);
static_assert(kErrorInvalidDevice == cudaErrorInvalidDevice);
static_assert(kErrorInvalidResourceHandle == cudaErrorInvalidResourceHandle);
static_assert(kErrorNotReady == cudaErrorNotReady);
static_assert(kErrorLaunchFailure == cudaErrorLaunchFailure);
static_assert(kErrorNotSupported == cudaErrorNotSupported);

cudaMemcpyKind kindOf(CopyKind k) { return static_cast<cudaMemcpyKind>(static_cast<int>(k)); }
// Every failure a call returns here reaches the SDK, which reports it. The
// runtime also keeps it as its last error, where the next launch check would
// report it a second time as a failure of an unrelated kernel; reading it
// clears it. (Sticky errors stay: every later call returns them anyway.)
Error err(cudaError_t e) {
  if (e != cudaSuccess) cudaGetLastError();
  return static_cast<Error>(e);
}
cudaEvent_t ev(Event e) { return static_cast<cudaEvent_t>(e); }
// Null is the SDK stream.
cudaStream_t st(Stream s) { return s ? static_cast<cudaStream_t>(s) : cudaStreamPerThread; }
cudaPitchedPtr pitched(const PitchedPtr& p) { return make_cudaPitchedPtr(p.ptr, p.pitch, p.xsize, p.ysize); }
cudaPos pos(const Pos& p) { return make_cudaPos(p.x, p.y, p.z); }
cudaExtent extentOf(const Extent& e) { return make_cudaExtent(e.width, e.height, e.depth); }
cudaMemcpy3DParms parms3D(const Memcpy3DParms& p) {
  cudaMemcpy3DParms c{};
  c.srcArray = static_cast<cudaArray_t>(p.srcArray);
  c.srcPos = pos(p.srcPos);
  c.srcPtr = pitched(p.srcPtr);
  c.dstArray = static_cast<cudaArray_t>(p.dstArray);
  c.dstPos = pos(p.dstPos);
  c.dstPtr = pitched(p.dstPtr);
  c.extent = extentOf(p.extent);
  c.kind = kindOf(p.kind);
  return c;
}

class CudaApi final : public DeviceApi {
 public:
  Error getDeviceCount(int* count) override { return err(cudaGetDeviceCount(count)); }

  Error getDeviceProperties(DeviceProperties* props, int device) override {
    if (!props) return kErrorInvalidValue;
    cudaDeviceProp p;
    const cudaError_t e = cudaGetDeviceProperties(&p, device);
    if (e != cudaSuccess) return err(e);
    std::memset(props, 0, sizeof *props);
    std::memcpy(props->name, p.name, sizeof props->name < sizeof p.name ? sizeof props->name : sizeof p.name);
    props->name[sizeof props->name - 1] = '\0';
    props->major = p.major;
    props->minor = p.minor;
    props->tccDriver = p.tccDriver;
    props->multiProcessorCount = p.multiProcessorCount;
    props->totalGlobalMem = p.totalGlobalMem;
    props->sharedMemPerBlock = p.sharedMemPerBlock;
    props->sharedMemPerMultiprocessor = p.sharedMemPerMultiprocessor;
    return kSuccess;
  }

  Error driverGetVersion(int* version) override { return err(cudaDriverGetVersion(version)); }
  Error runtimeGetVersion(int* version) override { return err(cudaRuntimeGetVersion(version)); }
  Error setDevice(int device) override { return err(cudaSetDevice(device)); }
  Error deviceGetPCIBusId(char* busId, int length, int device) override {
    return err(cudaDeviceGetPCIBusId(busId, length, device));
  }
  Error memGetInfo(size_t* freeBytes, size_t* totalBytes) override {
    return err(cudaMemGetInfo(freeBytes, totalBytes));
  }
  Error malloc(void** pointer, size_t size) override { return err(cudaMalloc(pointer, size)); }
  Error free(void* pointer) override { return err(cudaFree(pointer)); }
  Error mallocHost(void** pointer, size_t size) override { return err(cudaMallocHost(pointer, size)); }
  Error freeHost(void* pointer) override { return err(cudaFreeHost(pointer)); }
  Error memcpy(void* dst, const void* src, size_t count, CopyKind kind) override {
    return err(cudaMemcpy(dst, src, count, kindOf(kind)));
  }
  Error memcpyAsync(void* dst, const void* src, size_t count, CopyKind kind, Stream stream) override {
    return err(cudaMemcpyAsync(dst, src, count, kindOf(kind), st(stream)));
  }
  Error memcpy2DAsync(void* dst, size_t dpitch, const void* src, size_t spitch, size_t width, size_t height,
                      CopyKind kind, Stream stream) override {
    return err(cudaMemcpy2DAsync(dst, dpitch, src, spitch, width, height, kindOf(kind), st(stream)));
  }
  Error streamCreate(Stream* stream) override {
    if (!stream) return kErrorInvalidValue;
    cudaStream_t s = nullptr;
    const cudaError_t e = cudaStreamCreate(&s);
    *stream = s;
    return err(e);
  }
  Error streamDestroy(Stream stream) override {
    if (!stream) return kErrorInvalidResourceHandle;
    return err(cudaStreamDestroy(static_cast<cudaStream_t>(stream)));
  }
  // The runtime cannot tell a stream from garbage without using it; like the
  // CUDA libraries the SDK takes the caller's stream as given.
  Error streamCheck(Stream) override { return kSuccess; }
  Error streamSynchronize(Stream stream) override { return err(cudaStreamSynchronize(st(stream))); }
  Error deviceSynchronize() override { return err(cudaDeviceSynchronize()); }
  Error eventCreate(Event* event) override {
    if (!event) return kErrorInvalidValue;
    cudaEvent_t e = nullptr;
    const cudaError_t r = cudaEventCreate(&e);
    *event = e;
    return err(r);
  }
  Error eventDestroy(Event event) override { return err(cudaEventDestroy(ev(event))); }
  Error eventRecord(Event event, Stream stream, bool onDefaultStream) override {
    return err(cudaEventRecord(ev(event), onDefaultStream ? cudaStream_t{nullptr} : st(stream)));
  }
  Error eventSynchronize(Event event) override { return err(cudaEventSynchronize(ev(event))); }
  Error eventElapsedTime(float* ms, Event start, Event stop) override {
    return err(cudaEventElapsedTime(ms, ev(start), ev(stop)));
  }
  Error getLastError() override { return static_cast<Error>(cudaGetLastError()); }
  const char* errorString(Error error) override { return cudaGetErrorString(static_cast<cudaError_t>(error)); }

  Error malloc3DArray(Array* array, const ChannelFormat& f, Extent extent) override {
    if (!array) return kErrorInvalidValue;
    const cudaChannelFormatDesc desc =
        cudaCreateChannelDesc(f.x, f.y, f.z, f.w, static_cast<cudaChannelFormatKind>(static_cast<int>(f.kind)));
    cudaArray_t a = nullptr;
    const cudaError_t e = cudaMalloc3DArray(&a, &desc, extentOf(extent));
    *array = a;
    return err(e);
  }
  Error freeArray(Array array) override { return err(cudaFreeArray(static_cast<cudaArray_t>(array))); }

  Error memcpy3D(const Memcpy3DParms& p) override {
    const cudaMemcpy3DParms c = parms3D(p);
    return err(cudaMemcpy3D(&c));
  }
  Error memcpy3DAsync(const Memcpy3DParms& p, Stream stream) override {
    const cudaMemcpy3DParms c = parms3D(p);
    return err(cudaMemcpy3DAsync(&c, st(stream)));
  }

  Error createTextureObject(TextureObject* texture, Array array, const TextureDesc& d) override {
    if (!texture) return kErrorInvalidValue;
    cudaResourceDesc res{};
    res.resType = cudaResourceTypeArray;
    res.res.array.array = static_cast<cudaArray_t>(array);
    cudaTextureDesc tex{};
    for (int i = 0; i < 3; ++i)
      tex.addressMode[i] = static_cast<cudaTextureAddressMode>(static_cast<int>(d.addressMode[i]));
    tex.filterMode = static_cast<cudaTextureFilterMode>(static_cast<int>(d.filterMode));
    tex.readMode = static_cast<cudaTextureReadMode>(static_cast<int>(d.readMode));
    tex.normalizedCoords = d.normalizedCoords ? 1 : 0;
    cudaTextureObject_t t = 0;
    const cudaError_t e = cudaCreateTextureObject(&t, &res, &tex, nullptr);
    *texture = t;
    return err(e);
  }
  Error destroyTextureObject(TextureObject texture) override { return err(cudaDestroyTextureObject(texture)); }
};

}  // namespace

DeviceApi* cudaApi() {
  static CudaApi api;
  return &api;
}

}  // namespace opix::device

#else

namespace opix::device {
DeviceApi* cudaApi() { return nullptr; }
}  // namespace opix::device

#endif
