// GPU timers: a pair of events around work on a stream (the SDK stream
// unless the timer is given one).
#include <atomic>

#include "GlobalMethods.h"
#include "HandleSignature.h"
#include "device/Device.h"

#define OPIX_SOURCE "core/opixGpuTimer"

struct opixGpuTimerRecord : opix::SignedRecord<opix::HandleKind::GpuTimer> {
  opix::device::Event* start = nullptr;
  opix::device::Event* stop = nullptr;
  std::atomic<void*> stream{nullptr};  // where Start and Stop record; null is the SDK stream
};

namespace {

void must(opix::device::Error e, int line) {
  if (e != opix::device::kSuccess) throw opixException(OPIX_INTERNAL_ERROR, OPIX_SOURCE, line, e, nullptr);
}

// Frees a timer's events and cells; the first failure is reported.
void destroyEvents(opixGpuTimerRecord* t, int& failedLine) {
  for (opix::device::Event** cell : {&t->start, &t->stop}) {
    if (*cell && **cell && opix::device::eventDestroy(**cell) != opix::device::kSuccess && !failedLine)
      failedLine = __LINE__;
    delete *cell;
    *cell = nullptr;
  }
}

}  // namespace

extern "C" opixStatus_t opixGpuTimerCreate(opixGpuTimerHandle_t* handle) {
  return opix::runQuiet([&] {
    if (!handle) OPIX_THROW(OPIX_INVALID_VALUE);
    opix::requireInitialised();
    auto timer = std::make_unique<opixGpuTimerRecord>();
    try {
      timer->start = new opix::device::Event(nullptr);
      timer->stop = new opix::device::Event(nullptr);
      int failed = 0;
      if (opix::device::eventCreate(timer->start) != opix::device::kSuccess)
        failed = __LINE__;
      else if (opix::device::eventCreate(timer->stop) != opix::device::kSuccess)
        failed = __LINE__;
      if (failed) throw opixException(OPIX_INTERNAL_ERROR, OPIX_SOURCE, failed);
      opix::enrollHandle(timer.get());
    } catch (...) {
      int ignored = 0;
      destroyEvents(timer.get(), ignored);
      throw;
    }
    *handle = timer.release();
  });
}

extern "C" opixStatus_t opixGpuTimerStart(opixGpuTimerHandle_t handle) {
  return opix::runQuiet([&] {
    const opix::HandleUse use = opix::useHandle(handle);
    const opix::device::StreamScope onStream(handle->stream.load(std::memory_order_relaxed));
    must(opix::device::eventRecord(*handle->start), __LINE__);
  });
}

extern "C" opixStatus_t opixGpuTimerStop(opixGpuTimerHandle_t handle) {
  return opix::runQuiet([&] {
    const opix::HandleUse use = opix::useHandle(handle);
    const opix::device::StreamScope onStream(handle->stream.load(std::memory_order_relaxed));
    must(opix::device::eventRecord(*handle->stop), __LINE__);
  });
}

extern "C" opixStatus_t opixGpuTimerGetTime(opixGpuTimerHandle_t handle, float* elapsedMs) {
  return opix::runQuiet([&] {
    const opix::HandleUse use = opix::useHandle(handle);
    if (!elapsedMs) OPIX_THROW(OPIX_INVALID_VALUE);
    must(opix::device::eventSynchronize(*handle->stop), __LINE__);
    must(opix::device::eventElapsedTime(elapsedMs, *handle->start, *handle->stop), __LINE__);
  });
}

extern "C" opixStatus_t opixGpuTimerDestroy(opixGpuTimerHandle_t handle) {
  if (!handle) return OPIX_OK;
  return opix::runQuiet([&] {
    opix::retireHandle(handle);
    // The record is freed even when an event cannot be destroyed; the failure
    // is still reported.
    int failed = 0;
    destroyEvents(handle, failed);
    handle->signature = 0;
    delete handle;
    if (failed) throw opixException(OPIX_INTERNAL_ERROR, OPIX_SOURCE, failed);
  });
}

extern "C" opixStatus_t opixGpuTimerSetStream(opixGpuTimerHandle_t handle, opixStream_t stream) {
  return opix::runQuiet([&] {
    const opix::HandleUse use = opix::useHandle(handle);
    // Events hold no work: the timer only needs a stream the backend takes.
    opix::requireInitialised();
    if (opix::device::streamCheck(stream) != opix::device::kSuccess) OPIX_THROW(OPIX_INVALID_VALUE);
    handle->stream.store(stream, std::memory_order_relaxed);
  });
}
