// The device layer: every runtime service the SDK uses, behind one narrow
// interface with two implementations chosen once per process.
//
//  - CUDA: the CUDA runtime (linked statically) and the kernels built by nvcc.
//  - host: stands in for the GPU where there is none. "Device" memory is
//    aligned host memory, copies are memcpy, the SDK stream runs each piece of
//    work at once in issue order, events read a steady clock and kernels run on
//    all CPU cores.
//
// Every call returns an Error whose values are those of cudaError_t, so callers
// map failures to the same statuses on both backends.
#pragma once

#include <cstddef>
#include <cstdint>

namespace opix::device {

enum class Backend { None, Cuda, Host };

// The backend in use; None until opixInit or opixInitHost succeeded.
Backend backend();
// Chosen once per process by the initialisation functions.
void setBackend(Backend b);
// True when this build contains the CUDA backend.
bool cudaCompiledIn();
// The CUDA drivers built for the CPU (against HIP-CPU): whether this build
// has them, and whether kernel launches of the host backend go to them
// instead of the host drivers. Chosen at initialisation.
bool cudaDriversOnCpuCompiledIn();
bool cudaDriversOnCpu();
void setCudaDriversOnCpu(bool on);

using Error = int;
constexpr Error kSuccess = 0;
constexpr Error kErrorInvalidValue = 1;
constexpr Error kErrorMemoryAllocation = 2;
constexpr Error kErrorInitializationError = 3;
constexpr Error kErrorInvalidPitchValue = 12;
constexpr Error kErrorNoDevice = 100;
constexpr Error kErrorInvalidDevice = 101;
constexpr Error kErrorInvalidResourceHandle = 400;
constexpr Error kErrorNotReady = 600;
constexpr Error kErrorLaunchFailure = 719;
constexpr Error kErrorNotSupported = 801;

enum class CopyKind { HostToHost = 0, HostToDevice = 1, DeviceToHost = 2, DeviceToDevice = 3, Default = 4 };

struct DeviceProperties {
  char name[256];
  int major;
  int minor;
  int tccDriver;
  int multiProcessorCount;
  size_t totalGlobalMem;
  size_t sharedMemPerBlock;
  size_t sharedMemPerMultiprocessor;
};

// Device enumeration and selection.
Error getDeviceCount(int* count);
Error getDeviceProperties(DeviceProperties* props, int device);
Error driverGetVersion(int* version);
Error runtimeGetVersion(int* version);
Error setDevice(int device);
Error deviceGetPCIBusId(char* busId, int length, int device);
Error memGetInfo(size_t* freeBytes, size_t* totalBytes);

// Memory. Device blocks are aligned to at least 256 bytes on both backends.
Error malloc(void** pointer, size_t size);
Error free(void* pointer);
Error mallocHost(void** pointer, size_t size);
Error freeHost(void* pointer);

// Streams. Work is queued on the calling thread's current stream: the
// stream of the component being called (set by StreamScope), or, where none
// is set, the SDK stream: the per-thread default stream on CUDA. On the host
// backend every stream runs its work at once, in issue order.
//
// Stream handles: null is the SDK stream. On CUDA any other value is a
// cudaStream_t, taken as given (cudaStreamLegacy and cudaStreamPerThread
// included). On the host backend a stream made by streamCreate, and the two
// special CUDA values (the one host queue under another name); anything else
// is refused by streamCheck.
using Stream = void*;
Stream currentStream();
class StreamScope {
 public:
  explicit StreamScope(Stream s);
  ~StreamScope();
  StreamScope(const StreamScope&) = delete;
  StreamScope& operator=(const StreamScope&) = delete;

 private:
  Stream previous_;
};
Error streamCreate(Stream* stream);
Error streamDestroy(Stream stream);
// kSuccess when the backend takes `stream`, else kErrorInvalidResourceHandle.
Error streamCheck(Stream stream);
// Waits for the work queued on `stream`.
Error streamSynchronizeOn(Stream stream);
// Streams the host backend has made and not destroyed.
uint64_t hostLiveStreams();
// Pieces of work (asynchronous copies, event records, kernel launches) the
// calling thread has queued on `stream` so far, counted on both backends: what shows where a
// component's work went. noteLaunch counts a launch on the current stream.
uint64_t workQueuedOn(Stream stream);
void noteLaunch();

// Copies. The synchronous copy runs on the default stream; the asynchronous
// ones on the current stream.
Error memcpy(void* dst, const void* src, size_t count, CopyKind kind);
Error memcpyAsync(void* dst, const void* src, size_t count, CopyKind kind);
Error memcpy2DAsync(void* dst, size_t dpitch, const void* src, size_t spitch, size_t width, size_t height,
                    CopyKind kind);

// Ordering. streamSynchronize waits for the current stream.
Error streamSynchronize();
Error deviceSynchronize();

// Events. An event is recorded on the current stream unless onDefaultStream is set.
using Event = void*;
Error eventCreate(Event* event);
Error eventDestroy(Event event);
Error eventRecord(Event event, bool onDefaultStream = false);
Error eventSynchronize(Event event);
Error eventElapsedTime(float* ms, Event start, Event stop);

// Errors.
Error getLastError();
const char* errorString(Error error);

// CUDA arrays and texture objects.
enum class ChannelKind { Signed = 0, Unsigned = 1, Float = 2 };
struct ChannelFormat {
  int x, y, z, w;  // bits per component
  ChannelKind kind;
};
struct Extent {
  size_t width, height, depth;  // width in elements for arrays, in bytes for linear memory
};
struct Pos {
  size_t x, y, z;
};
struct PitchedPtr {
  void* ptr;
  size_t pitch;
  size_t xsize;
  size_t ysize;
};
using Array = void*;
struct Memcpy3DParms {
  Array srcArray = nullptr;
  Pos srcPos = {0, 0, 0};
  PitchedPtr srcPtr = {nullptr, 0, 0, 0};
  Array dstArray = nullptr;
  Pos dstPos = {0, 0, 0};
  PitchedPtr dstPtr = {nullptr, 0, 0, 0};
  Extent extent = {0, 0, 0};
  CopyKind kind = CopyKind::Default;
};
enum class AddressMode { Wrap = 0, Clamp = 1, Mirror = 2, Border = 3 };
enum class FilterMode { Point = 0, Linear = 1 };
enum class ReadMode { ElementType = 0, NormalizedFloat = 1 };
struct TextureDesc {
  AddressMode addressMode[3] = {AddressMode::Clamp, AddressMode::Clamp, AddressMode::Clamp};
  FilterMode filterMode = FilterMode::Point;
  ReadMode readMode = ReadMode::ElementType;
  bool normalizedCoords = false;
};
using TextureObject = unsigned long long;

Error malloc3DArray(Array* array, const ChannelFormat& format, Extent extent);
Error freeArray(Array array);
Error memcpy3D(const Memcpy3DParms& parms);
// The same copy on the current stream; the host memory must stay as it is until
// the stream has reached the copy.
Error memcpy3DAsync(const Memcpy3DParms& parms);
Error createTextureObject(TextureObject* texture, Array array, const TextureDesc& desc);
Error destroyTextureObject(TextureObject texture);

// What the host backend keeps behind an array and a texture object; host
// kernel drivers sample through it.
struct HostArray {
  ChannelFormat format;
  Extent extent;
  size_t elementBytes;
  unsigned char* data;  // extent.width x height x depth elements, rows packed
};
struct HostTexture {
  const HostArray* array;
  TextureDesc desc;
};
const HostTexture* hostTexture(TextureObject texture);

// Facts about the processor for the host backend's device lines.
const char* hostProcessorName();
uint64_t hostAvailableMemory();
// Blocks, page-locked blocks, arrays, events and texture objects the host
// backend has made so far: what shows that a call allocates nothing.
uint64_t hostAllocations();

}  // namespace opix::device
