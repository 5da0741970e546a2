#include "StreamGlobal.h"

#include <cstdint>

#include "DeviceContext.h"
#include "GlobalMethods.h"
#include "TraceFile.h"
#include "device/Device.h"
#include "opixException.h"

namespace opix {

void streamSynchronize() {
#define OPIX_SOURCE "core/StreamGlobal"
  const device::Error e = device::streamSynchronize();
  if (e != device::kSuccess) OPIX_THROW_CUDA(OPIX_EXECUTION_FAILURE, e, "cudaStreamSynchronize");
#undef OPIX_SOURCE
}

void launchCheck(const char* name) {
#define OPIX_SOURCE "core/CudaHelpers"
  device::noteLaunch();
  device::Error e = device::kSuccess;
  if (deviceContext().syncAfterLaunch.load(std::memory_order_relaxed)) e = device::deviceSynchronize();
  const device::Error last = device::getLastError();
  if (e == device::kSuccess) e = last;
  if (e != device::kSuccess) {
    if (trace::active()) {
      trace::line() << trace::kIndent1 << name << " failure: " << device::errorString(e) << "\n\n";
    }
    OPIX_THROW_CUDA(OPIX_INTERNAL_ERROR, e, name);
  }
#undef OPIX_SOURCE
}

}  // namespace opix

namespace {

bool specialStream(opixStream_t s) { return reinterpret_cast<uintptr_t>(s) <= 2; }

}  // namespace

extern "C" opixStatus_t opixStreamCreate(opixStream_t* stream) {
  return opix::runQuiet([&] {
#define OPIX_SOURCE "core/StreamGlobal"
    opix::requireInitialised();
    if (!stream) OPIX_THROW(OPIX_INVALID_VALUE);
    opix::device::Stream s = nullptr;
    const opix::device::Error e = opix::device::streamCreate(&s);
    if (e == opix::device::kErrorMemoryAllocation) OPIX_THROW(OPIX_INSUFFICIENT_HOST_MEMORY);
    if (e != opix::device::kSuccess) OPIX_THROW_CUDA(OPIX_EXECUTION_FAILURE, e, "cudaStreamCreate");
    *stream = s;
#undef OPIX_SOURCE
  });
}

extern "C" opixStatus_t opixStreamDestroy(opixStream_t stream) {
  return opix::runQuiet([&] {
#define OPIX_SOURCE "core/StreamGlobal"
    opix::requireInitialised();
    if (specialStream(stream) || opix::device::streamCheck(stream) != opix::device::kSuccess)
      OPIX_THROW(OPIX_INVALID_VALUE);
    opix::device::Error e = opix::device::streamSynchronizeOn(stream);
    if (e != opix::device::kSuccess) OPIX_THROW_CUDA(OPIX_EXECUTION_FAILURE, e, "cudaStreamSynchronize");
    e = opix::device::streamDestroy(stream);
    if (e != opix::device::kSuccess) OPIX_THROW_CUDA(OPIX_EXECUTION_FAILURE, e, "cudaStreamDestroy");
#undef OPIX_SOURCE
  });
}

extern "C" opixStatus_t opixStreamSynchronize(opixStream_t stream) {
  return opix::runQuiet([&] {
#define OPIX_SOURCE "core/StreamGlobal"
    opix::requireInitialised();
    if (opix::device::streamCheck(stream) != opix::device::kSuccess) OPIX_THROW(OPIX_INVALID_VALUE);
    const opix::device::Error e = opix::device::streamSynchronizeOn(stream);
    if (e != opix::device::kSuccess) OPIX_THROW_CUDA(OPIX_EXECUTION_FAILURE, e, "cudaStreamSynchronize");
#undef OPIX_SOURCE
  });
}
