// The shape every interface function shares: trace lines, handle checks and
// the mapping of exceptions to statuses. Frontends supply only their
// arguments, component and particular checks.
#pragma once

#include <memory>
#include <utility>

#include "Components.h"
#include "DeviceContext.h"
#include "HandleSignature.h"
#include "SurfaceLease.h"
#include "TraceFile.h"
#include "device/Device.h"
#include "opixException.h"

namespace opix {

// Runs an interface body that writes no trace.
template <class Body>
opixStatus_t runQuiet(Body&& body) noexcept {
  try {
    body();
    return OPIX_OK;
  } catch (const opixException& e) {
    return e.status();
  } catch (...) {
    return OPIX_UNRECOGNIZED_ERROR;
  }
}

// Runs a traced interface body between two call boundaries and ends its block
// with the status line, whatever the body did.
template <class Body>
opixStatus_t runTraced(Body&& body) noexcept {
  opixStatus_t status = runQuiet([&] {
    trace::boundary();
    body();
  });
  try {
    trace::status(status);
    trace::boundary();
  } catch (...) {
    return OPIX_UNRECOGNIZED_ERROR;
  }
  return status;
}

// Waits for the device after a Transform or Copy when the debug switch asks for it.
void synchroniseIfRequested();

// The call lines of one kind of object.
struct ObjectNames {
  const char* create;
  const char* call;
  const char* destroy;
  const char* destroyed;
};

// Create: traces the call and its arguments, builds the component (which
// validates, creates its buffers and allocates) and hands out a new handle.
// A component whose build fails is deleted again, its memory released, and
// the caller's out-parameters are left as they were.
//   source: the buffer the component will read, or null; its owner is held
//     for the whole call, so another thread's Destroy of the owner's handle
//     cannot free it while it is read.
//   traceArgs(): writes the argument lines.
//   build(): returns a std::unique_ptr to the initialised component.
//   deliver(component): stores and traces the outputs other than the handle;
//     returns the destination buffer it handed out (or null), which is
//     published with the component as its owner.
template <class Record, class TraceArgs, class Build, class Deliver>
opixStatus_t createFrontend(const ObjectNames& names, Record** handle, opixDeviceSurfaceBufferHandle_t source,
                            TraceArgs&& traceArgs, Build&& build, Deliver&& deliver) noexcept {
  return runTraced([&] {
    const SurfaceOwner sourceOwner = leases::hold(source);
    trace::text(names.create);
    traceArgs();
    trace::deviceMemory(0);
    requireInitialised();
    if (!handle) OPIX_THROW_AT(OPIX_INVALID_VALUE, "core/GlobalMethods");
    auto record = std::make_unique<Record>();
    record->component = shareComponent(build());
    enrollHandle(record.get());
    Record* live = record.release();
    *handle = live;
    trace::value("handle", static_cast<const void*>(live));
    const opixDeviceSurfaceBuffer_t* published = deliver(*live->component);
    if (published) leases::publish(published, live->component);
    uint64_t bytes = 0;
    live->component->GetAllocatedGpuMemorySize(&bytes);
    trace::deviceMemory(bytes);
  });
}

// Create of a component that reads `source` and hands out a destination
// buffer for the next one.
//   build(opixDeviceSurfaceBufferHandle_t* destination): returns the
//     initialised component and sets *destination.
template <class Record, class TraceArgs, class Build>
opixStatus_t createWithDestination(const ObjectNames& names, Record** handle,
                                   opixDeviceSurfaceBufferHandle_t* destination, opixDeviceSurfaceBufferHandle_t source,
                                   TraceArgs&& traceArgs, Build&& build) noexcept {
  opixDeviceSurfaceBufferHandle_t built = nullptr;
  return createFrontend(
      names, handle, source, traceArgs,
      [&] {
        if (!destination) OPIX_THROW_AT(OPIX_INVALID_VALUE, "core/GlobalMethods");
        return build(&built);
      },
      [&](auto&) {
        *destination = built;
        trace::buffer("destination buffer", built);
        return built;
      });
}

// Transform or Copy: the handle is traced before it is checked, and held
// until the body returns, so that a Destroy on another thread waits for it.
template <class Record, class TraceArgs, class Body>
opixStatus_t transformFrontend(const ObjectNames& names, Record* handle, TraceArgs&& traceArgs, Body&& body) noexcept {
  return runTraced([&] {
    trace::text(names.call);
    trace::value("handle", static_cast<const void*>(handle));
    traceArgs();
    const HandleUse use = useHandle(handle);
    const device::StreamScope onStream(handle->stream.load(std::memory_order_relaxed));
    body(*handle->component);
    synchroniseIfRequested();
  });
}

// Moves work of a component, or of a timer, from `current` to `next`: checks
// that the backend takes `next`, then waits for what `current` holds (the
// whole device for the SDK stream, which is per thread and may have been
// another thread's).
void switchStream(void* current, void* next);

// SetStream: the component's later Transform and Copy calls run on `stream`.
template <class Record>
opixStatus_t setStreamFrontend(const char* name, Record* handle, void* stream) noexcept {
  return runTraced([&] {
    trace::text(name);
    trace::value("handle", static_cast<const void*>(handle));
    trace::value("stream", static_cast<const void*>(stream));
    const HandleUse use = useHandle(handle);
    switchStream(handle->stream.load(std::memory_order_relaxed), stream);
    handle->stream.store(stream, std::memory_order_relaxed);
  });
}

// Destroy: a handle that fails the check is left alone; one that another
// thread is calling is destroyed once that call has returned. The component
// itself goes with its handle unless components reading its destination
// buffer still hold it; the last of them deletes it.
template <class Record>
opixStatus_t destroyFrontend(const ObjectNames& names, Record* handle) noexcept {
  return runTraced([&] {
    trace::text(names.destroy);
    trace::value("handle", static_cast<const void*>(handle));
    retireHandle(handle);
    std::unique_ptr<Record> record(handle);
    uint64_t bytes = 0;
    if (record->component) record->component->GetAllocatedGpuMemorySize(&bytes);
    trace::deviceMemory(bytes);
    record->component.reset();
    record->signature = 0;
    record.reset();
    trace::text(names.destroyed);
    trace::deviceMemory(0);
  });
}

// The allocated-memory query; writes no trace.
template <class Record>
opixStatus_t memorySizeFrontend(Record* handle, uint64_t* bytes) noexcept {
  return runQuiet([&] {
    const HandleUse use = useHandle(handle);
    if (!bytes) OPIX_THROW_AT(OPIX_INVALID_VALUE, "core/GlobalMethods");
    handle->component->GetAllocatedGpuMemorySize(bytes);
  });
}

}  // namespace opix
