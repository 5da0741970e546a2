// What the SDK's own programs (opix_debayer and the tools beside it) need from
// the library beyond opix.h: page-locked host memory for their images, a few
// facts about formats and debayer types, and the device information they
// print at start-up.
//
// This header is for this project's programs only. It is not part of the
// SDK's public interface and may change with any release; code outside the
// project uses opix.h alone.
#pragma once

#include <cstddef>
#include <cstdint>

#include "opix.h"

namespace opix {

// ------------------------------------------------------ page-locked host memory

// A host allocator. `release` frees as `free` does.
class BaseAllocator {
 public:
  virtual ~BaseAllocator() = default;
  virtual void* allocate(size_t bytes) = 0;
  virtual void free(void* pointer) = 0;
  virtual void release(void* pointer) { free(pointer); }
};

// Page-locked memory through opixHostMalloc and opixHostFree; a failure
// throws std::bad_alloc. Host images live in it, so that copies to and from
// the device run asynchronously.
class OpixAllocator : public BaseAllocator {
 public:
  void* allocate(size_t bytes) override;
  void free(void* pointer) override;
};

// ---------------------------------------------------------------- format facts

// Whether a format keeps each colour channel in a plane of its own
// (OPIX_RGB12_PLANAR, OPIX_RGB16_PLANAR).
bool isPlanar(opixSurfaceFormat_t format);

// Source pixels along each axis that make one output pixel: 2, 4 or 8 for the
// binning types, 1 for every other type.
uint32_t debayerScale(opixDebayerType_t type);

// ---------------------------------------------------------- device information

namespace deviceinfo {

struct Gpu {
  char name[256];
  int major;
  int minor;
  bool tccDriver;
};

// The number of CUDA devices. False when the build has no CUDA backend or the
// runtime cannot count them (no driver).
bool cudaDeviceCount(int* count);

// The properties of CUDA device `device`. On failure returns false and sets
// *errorText to the runtime's text of the error.
bool cudaDeviceProperties(int device, Gpu* gpu, const char** errorText);

// The CPU that the host backend runs on, and the system's available memory.
const char* hostProcessorName();
uint64_t hostAvailableMemory();

// Free memory of CUDA device `cudaDevice` through NVML. NVML stays
// initialised, except after a failed memory query, which shuts it down.
struct NvmlFreeMemory {
  enum Outcome {
    Found,        // freeBytes holds the figure
    InitFailed,   // errorText: NVML's text
    NotFound,     // no bus id, no device count, or no NVML device for it
    QueryFailed,  // errorText: NVML's text; index: the NVML device queried
  } outcome = NotFound;
  uint64_t freeBytes = 0;
  const char* errorText = nullptr;
  unsigned int index = 0;
};
NvmlFreeMemory nvmlFreeMemory(int cudaDevice);

// Free device memory as the runtime of the backend in use gives it; false
// when it cannot.
bool runtimeFreeMemory(uint64_t* bytes);

// Host-to-device copy bandwidth in MByte/s (2^20 bytes): the event-to-event
// time of one synchronous copy of `bytes` bytes from page-locked memory
// (filled with byte i = i mod 256) to the device, on the backend in use.
// A failing runtime call returns OPIX_EXECUTION_FAILURE with its text in
// *errorText; a page-locked block that cannot be had returns
// OPIX_INSUFFICIENT_HOST_MEMORY, one that cannot be freed OPIX_INTERNAL_ERROR.
// *errorText is null unless a runtime call failed.
opixStatus_t hostToDeviceBandwidth(size_t bytes, float* megabytesPerSecond, const char** errorText);

}  // namespace deviceinfo

}  // namespace opix
