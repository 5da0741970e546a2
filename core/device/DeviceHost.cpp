// The host backend of the device layer.
#include <sys/sysinfo.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "device/DeviceApi.h"
#include "device/Parallel.h"

namespace opix::device {

namespace {

constexpr size_t kDeviceAlignment = 256;
// From this size on a copy is spread over the cores, in blocks of kCopyBlock
// bytes or by rows: a frame moves faster so than on one thread. Areas that
// overlap are copied as one, in order.
constexpr size_t kParallelCopyBytes = size_t{1} << 20;
constexpr size_t kCopyBlock = size_t{64} << 10;

thread_local Error t_lastError = kSuccess;

std::atomic<uint64_t> g_allocations{0};

struct HostEvent {
  std::chrono::steady_clock::time_point time;
  bool recorded = false;
};

struct HostArrayBlock {
  HostArray view;
  std::vector<unsigned char> storage;
};

// One side of a 3D copy: where element (x, y, z) of the copied box starts.
struct CopySide {
  unsigned char* base;
  size_t rowPitch;
  size_t slicePitch;
  size_t elementBytes;  // 1 for linear memory, whose positions are in bytes
  Pos pos;
  size_t rowBytesAvailable;  // bytes of a row from pos.x to the row end
  size_t rows, slices;       // rows and slices available from pos
  unsigned char* at(size_t y, size_t z) const {
    return base + (pos.z + z) * slicePitch + (pos.y + y) * rowPitch + pos.x * elementBytes;
  }
};

std::string readProcessorName() {
  std::ifstream in("/proc/cpuinfo");
  std::string line;
  while (std::getline(in, line)) {
    if (line.compare(0, 10, "model name") == 0) {
      const size_t colon = line.find(':');
      if (colon != std::string::npos) {
        size_t start = line.find_first_not_of(" \t", colon + 1);
        if (start != std::string::npos) return line.substr(start);
      }
    }
  }
  return "Host CPU";
}

uint64_t readMeminfo(const char* key) {
  std::ifstream in("/proc/meminfo");
  std::string name;
  uint64_t kb = 0;
  std::string unit;
  while (in >> name >> kb) {
    std::getline(in, unit);
    if (name == key) return kb * 1024;
  }
  return 0;
}

class HostApi final : public DeviceApi {
 public:
  Error getDeviceCount(int* count) override {
    if (!count) return kErrorInvalidValue;
    *count = 1;
    return kSuccess;
  }

  Error getDeviceProperties(DeviceProperties* props, int device) override {
    if (!props) return kErrorInvalidValue;
    if (!validDevice(device)) return kErrorInvalidDevice;
    std::memset(props, 0, sizeof *props);
    std::strncpy(props->name, hostProcessorName(), sizeof props->name - 1);
    const unsigned threads = std::thread::hardware_concurrency();
    props->multiProcessorCount = threads ? static_cast<int>(threads) : 1;
    props->totalGlobalMem = static_cast<size_t>(readMeminfo("MemTotal:"));
    // Nominal figures for code that sizes tiles from them; the host drivers do not tile.
    props->sharedMemPerBlock = 48 * 1024;
    props->sharedMemPerMultiprocessor = 64 * 1024;
    return kSuccess;
  }

  Error driverGetVersion(int* version) override { return zero(version); }
  Error runtimeGetVersion(int* version) override { return zero(version); }
  Error setDevice(int device) override { return validDevice(device) ? kSuccess : kErrorInvalidDevice; }
  Error deviceGetPCIBusId(char*, int, int) override { return kErrorNotSupported; }

  Error memGetInfo(size_t* freeBytes, size_t* totalBytes) override {
    if (!freeBytes || !totalBytes) return kErrorInvalidValue;
    *freeBytes = static_cast<size_t>(hostAvailableMemory());
    *totalBytes = static_cast<size_t>(readMeminfo("MemTotal:"));
    return kSuccess;
  }

  Error malloc(void** pointer, size_t size) override {
    if (!pointer) return kErrorInvalidValue;
    *pointer = nullptr;
    if (size == 0) return kSuccess;
    if (size > SIZE_MAX - kDeviceAlignment) return kErrorMemoryAllocation;
    const size_t rounded = (size + kDeviceAlignment - 1) / kDeviceAlignment * kDeviceAlignment;
    void* p = std::aligned_alloc(kDeviceAlignment, rounded);
    if (!p) return kErrorMemoryAllocation;
    *pointer = p;
    ++g_allocations;
    return kSuccess;
  }

  Error free(void* pointer) override {
    std::free(pointer);
    return kSuccess;
  }

  Error mallocHost(void** pointer, size_t size) override { return malloc(pointer, size); }
  Error freeHost(void* pointer) override { return free(pointer); }

  Error memcpy(void* dst, const void* src, size_t count, CopyKind) override {
    if (count == 0) return kSuccess;
    if (!dst || !src) return kErrorInvalidValue;
    auto* d = static_cast<unsigned char*>(dst);
    const auto* s = static_cast<const unsigned char*>(src);
    const uintptr_t d0 = reinterpret_cast<uintptr_t>(d), s0 = reinterpret_cast<uintptr_t>(s);
    if (count >= kParallelCopyBytes && (d0 + count <= s0 || s0 + count <= d0)) {
      const int64_t blocks = int64_t((count + kCopyBlock - 1) / kCopyBlock);
      host::parallelFor(blocks, [&](int64_t begin, int64_t end) {
        const size_t from = size_t(begin) * kCopyBlock, to = std::min(count, size_t(end) * kCopyBlock);
        std::memcpy(d + from, s + from, to - from);
      });
      return kSuccess;
    }
    std::memmove(dst, src, count);
    return kSuccess;
  }

  Error memcpyAsync(void* dst, const void* src, size_t count, CopyKind kind, Stream) override {
    return memcpy(dst, src, count, kind);
  }

  Error memcpy2DAsync(void* dst, size_t dpitch, const void* src, size_t spitch, size_t width, size_t height, CopyKind,
                      Stream) override {
    if (width == 0 || height == 0) return kSuccess;
    if (!dst || !src) return kErrorInvalidValue;
    if ((height > 1 && (width > dpitch || width > spitch))) return kErrorInvalidPitchValue;
    auto* d = static_cast<unsigned char*>(dst);
    const auto* s = static_cast<const unsigned char*>(src);
    // Areas that overlap keep the row order.
    const uintptr_t d0 = reinterpret_cast<uintptr_t>(d), s0 = reinterpret_cast<uintptr_t>(s);
    const bool apart = d0 + (height - 1) * dpitch + width <= s0 || s0 + (height - 1) * spitch + width <= d0;
    if (apart && height > 1 && width * height >= kParallelCopyBytes) {
      host::parallelFor(int64_t(height), [&](int64_t begin, int64_t end) {
        for (int64_t y = begin; y < end; ++y) std::memcpy(d + y * dpitch, s + y * spitch, width);
      });
      return kSuccess;
    }
    for (size_t y = 0; y < height; ++y) std::memmove(d + y * dpitch, s + y * spitch, width);
    return kSuccess;
  }

  // A host stream is a token: its work has run by the time the call that
  // queued it returns, so there is nothing to keep but the handle itself.
  Error streamCreate(Stream* stream) override {
    if (!stream) return kErrorInvalidValue;
    auto* token = new (std::nothrow) unsigned char;
    if (!token) return kErrorMemoryAllocation;
    std::lock_guard<std::mutex> lock(streamsLock_);
    streams_.insert(token);
    *stream = token;
    ++g_allocations;
    return kSuccess;
  }

  Error streamDestroy(Stream stream) override {
    std::lock_guard<std::mutex> lock(streamsLock_);
    if (!streams_.erase(stream)) return kErrorInvalidResourceHandle;
    delete static_cast<unsigned char*>(stream);
    return kSuccess;
  }

  Error streamCheck(Stream stream) override {
    if (isDefaultStream(stream)) return kSuccess;
    std::lock_guard<std::mutex> lock(streamsLock_);
    return streams_.count(stream) ? kSuccess : kErrorInvalidResourceHandle;
  }

  Error streamSynchronize(Stream) override { return kSuccess; }

  uint64_t liveStreams() {
    std::lock_guard<std::mutex> lock(streamsLock_);
    return streams_.size();
  }
  Error deviceSynchronize() override { return kSuccess; }

  Error eventCreate(Event* event) override {
    if (!event) return kErrorInvalidValue;
    *event = new (std::nothrow) HostEvent;
    if (!*event) return kErrorMemoryAllocation;
    ++g_allocations;
    return kSuccess;
  }

  Error eventDestroy(Event event) override {
    if (!event) return kErrorInvalidResourceHandle;
    delete static_cast<HostEvent*>(event);
    return kSuccess;
  }

  Error eventRecord(Event event, Stream, bool) override {
    if (!event) return kErrorInvalidResourceHandle;
    auto* e = static_cast<HostEvent*>(event);
    e->time = std::chrono::steady_clock::now();
    e->recorded = true;
    return kSuccess;
  }

  Error eventSynchronize(Event event) override { return event ? kSuccess : kErrorInvalidResourceHandle; }

  Error eventElapsedTime(float* ms, Event start, Event stop) override {
    if (!ms) return kErrorInvalidValue;
    if (!start || !stop) return kErrorInvalidResourceHandle;
    const auto* a = static_cast<const HostEvent*>(start);
    const auto* b = static_cast<const HostEvent*>(stop);
    if (!a->recorded || !b->recorded) return kErrorInvalidResourceHandle;
    *ms = std::chrono::duration<float, std::milli>(b->time - a->time).count();
    return kSuccess;
  }

  Error getLastError() override {
    const Error e = t_lastError;
    t_lastError = kSuccess;
    return e;
  }

  const char* errorString(Error error) override {
    switch (error) {
      case kSuccess: return "no error";
      case kErrorInvalidValue: return "invalid argument";
      case kErrorMemoryAllocation: return "out of memory";
      case kErrorInitializationError: return "initialization error";
      case kErrorInvalidPitchValue: return "invalid pitch argument";
      case kErrorNoDevice: return "no CUDA-capable device is detected";
      case kErrorInvalidDevice: return "invalid device ordinal";
      case kErrorInvalidResourceHandle: return "invalid resource handle";
      case kErrorNotReady: return "device not ready";
      case kErrorLaunchFailure: return "unspecified launch failure";
      case kErrorNotSupported: return "operation not supported";
      default: return "unrecognized error code";
    }
  }

  Error malloc3DArray(Array* array, const ChannelFormat& format, Extent extent) override {
    if (!array) return kErrorInvalidValue;
    const int bits = format.x + format.y + format.z + format.w;
    if (bits <= 0 || bits % 8 != 0 || extent.width == 0) return kErrorInvalidValue;
    auto block = std::make_unique<HostArrayBlock>();
    const size_t elementBytes = static_cast<size_t>(bits / 8);
    const size_t h = extent.height ? extent.height : 1;
    const size_t d = extent.depth ? extent.depth : 1;
    try {
      block->storage.assign(extent.width * h * d * elementBytes, 0);
    } catch (const std::bad_alloc&) {
      return kErrorMemoryAllocation;
    }
    block->view = HostArray{format, extent, elementBytes, block->storage.data()};
    *array = block.release();
    ++g_allocations;
    return kSuccess;
  }

  Error freeArray(Array array) override {
    delete static_cast<HostArrayBlock*>(array);
    return kSuccess;
  }

  Error memcpy3D(const Memcpy3DParms& p) override {
    const bool srcIsArray = p.srcArray != nullptr;
    const bool dstIsArray = p.dstArray != nullptr;
    if ((srcIsArray == (p.srcPtr.ptr != nullptr)) || (dstIsArray == (p.dstPtr.ptr != nullptr)))
      return kErrorInvalidValue;
    size_t elementBytes = 1;
    if (srcIsArray) elementBytes = static_cast<const HostArrayBlock*>(p.srcArray)->view.elementBytes;
    if (dstIsArray) {
      const size_t e = static_cast<const HostArrayBlock*>(p.dstArray)->view.elementBytes;
      if (srcIsArray && e != elementBytes) return kErrorInvalidValue;
      elementBytes = e;
    }
    CopySide src{}, dst{};
    if (!side(src, p.srcArray, p.srcPtr, p.srcPos) || !side(dst, p.dstArray, p.dstPtr, p.dstPos))
      return kErrorInvalidValue;
    const size_t rowBytes = p.extent.width * elementBytes;
    const size_t rows = p.extent.height ? p.extent.height : 1;
    const size_t slices = p.extent.depth ? p.extent.depth : 1;
    if (rowBytes == 0) return kSuccess;
    for (const CopySide* s : {&src, &dst})
      if (rowBytes > s->rowBytesAvailable || rows > s->rows || slices > s->slices) return kErrorInvalidValue;
    for (size_t z = 0; z < slices; ++z)
      for (size_t y = 0; y < rows; ++y) std::memmove(dst.at(y, z), src.at(y, z), rowBytes);
    return kSuccess;
  }

  Error memcpy3DAsync(const Memcpy3DParms& p, Stream) override { return memcpy3D(p); }

  Error createTextureObject(TextureObject* texture, Array array, const TextureDesc& desc) override {
    if (!texture || !array) return kErrorInvalidValue;
    const HostArray& view = static_cast<const HostArrayBlock*>(array)->view;
    // The runtime interpolates only values it returns as floats: integer
    // elements read as they are cannot be filtered linearly.
    if (desc.filterMode == FilterMode::Linear && desc.readMode == ReadMode::ElementType &&
        view.format.kind != ChannelKind::Float)
      return kErrorInvalidValue;
    std::lock_guard<std::mutex> lock(texturesLock_);
    const TextureObject id = nextTexture_++;
    textures_[id] = HostTexture{&view, desc};
    *texture = id;
    ++g_allocations;
    return kSuccess;
  }

  Error destroyTextureObject(TextureObject texture) override {
    std::lock_guard<std::mutex> lock(texturesLock_);
    return textures_.erase(texture) ? kSuccess : kErrorInvalidValue;
  }

  const HostTexture* texture(TextureObject id) {
    std::lock_guard<std::mutex> lock(texturesLock_);
    auto it = textures_.find(id);
    return it == textures_.end() ? nullptr : &it->second;
  }

 private:
  static bool validDevice(int device) { return device == 0 || device == -1; }

  // Null, and CUDA's cudaStreamLegacy (1) and cudaStreamPerThread (2).
  static bool isDefaultStream(Stream s) {
    const auto v = reinterpret_cast<uintptr_t>(s);
    return v == 0 || v == 1 || v == 2;
  }

  static Error zero(int* value) {
    if (!value) return kErrorInvalidValue;
    *value = 0;
    return kSuccess;
  }

  static bool side(CopySide& s, Array array, const PitchedPtr& ptr, Pos pos) {
    s.pos = pos;
    if (array) {
      const HostArray& a = static_cast<const HostArrayBlock*>(array)->view;
      const size_t h = a.extent.height ? a.extent.height : 1;
      const size_t d = a.extent.depth ? a.extent.depth : 1;
      if (pos.x > a.extent.width || pos.y > h || pos.z > d) return false;
      s.base = a.data;
      s.elementBytes = a.elementBytes;
      s.rowPitch = a.extent.width * a.elementBytes;
      s.slicePitch = s.rowPitch * h;
      s.rowBytesAvailable = (a.extent.width - pos.x) * a.elementBytes;
      s.rows = h - pos.y;
      s.slices = d - pos.z;
    } else {
      if (ptr.pitch == 0 || pos.x > ptr.pitch) return false;
      s.base = static_cast<unsigned char*>(ptr.ptr);
      s.elementBytes = 1;
      s.rowPitch = ptr.pitch;
      const size_t ysize = ptr.ysize ? ptr.ysize : 1;
      s.slicePitch = ptr.pitch * ysize;
      s.rowBytesAvailable = ptr.pitch - pos.x;
      // Linear memory has no height of its own beyond ysize rows per slice; the
      // number of slices is the caller's promise, as with the runtime.
      if (pos.y > ysize) return false;
      s.rows = ysize - pos.y;
      s.slices = SIZE_MAX;
    }
    return true;
  }

  std::mutex streamsLock_;
  std::set<Stream> streams_;
  std::mutex texturesLock_;
  std::map<TextureObject, HostTexture> textures_;
  TextureObject nextTexture_ = 1;
};

}  // namespace

DeviceApi& hostApi() {
  static HostApi api;
  return api;
}

void setHostLastError(Error error) { t_lastError = error; }

uint64_t hostAllocations() { return g_allocations.load(); }

uint64_t hostLiveStreams() { return static_cast<HostApi&>(hostApi()).liveStreams(); }

const HostTexture* hostTexture(TextureObject texture) { return static_cast<HostApi&>(hostApi()).texture(texture); }

const char* hostProcessorName() {
  static const std::string name = readProcessorName();
  return name.c_str();
}

uint64_t hostAvailableMemory() {
  const uint64_t available = readMeminfo("MemAvailable:");
  if (available) return available;
  struct sysinfo info {};
  return sysinfo(&info) == 0 ? static_cast<uint64_t>(info.freeram) * info.mem_unit : 0;
}

}  // namespace opix::device
