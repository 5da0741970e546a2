// The shape every interface function shares: trace lines, handle checks and
// the mapping of exceptions to statuses. Frontends supply only their
// arguments, component and particular checks.
#pragma once

#include <memory>
#include <utility>

#include "Components.h"
#include "DeviceContext.h"
#include "HandleSignature.h"
#include "TraceFile.h"
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
// validates, creates its destination buffer and allocates) and hands out a
// new handle and the destination buffer. A component whose build fails is
// deleted again, its memory released, and the caller's out-parameters are
// left as they were.
//   traceArgs(): writes the argument lines.
//   build(opixDeviceSurfaceBufferHandle_t* destination): returns a
//     std::unique_ptr to the initialised component and sets *destination.
template <class Record, class TraceArgs, class Build>
opixStatus_t createFrontend(const ObjectNames& names, Record** handle, opixDeviceSurfaceBufferHandle_t* destination,
                            TraceArgs&& traceArgs, Build&& build) noexcept {
  return runTraced([&] {
    trace::text(names.create);
    traceArgs();
    trace::deviceMemory(0);
    requireInitialised();
    if (!handle || !destination) OPIX_THROW_AT(OPIX_INVALID_VALUE, "core/GlobalMethods");
    auto record = std::make_unique<Record>();
    opixDeviceSurfaceBufferHandle_t built = nullptr;
    auto component = build(&built);
    record->component = component.release();
    *handle = record.release();
    *destination = built;
    trace::value("handle", static_cast<const void*>(*handle));
    trace::buffer("destination buffer", built);
    uint64_t bytes = 0;
    (*handle)->component->GetAllocatedGpuMemorySize(&bytes);
    trace::deviceMemory(bytes);
  });
}

// Transform or Copy: the handle is traced before it is checked.
template <class Record, class TraceArgs, class Body>
opixStatus_t transformFrontend(const ObjectNames& names, Record* handle, TraceArgs&& traceArgs,
                               Body&& body) noexcept {
  return runTraced([&] {
    trace::text(names.call);
    trace::value("handle", static_cast<const void*>(handle));
    traceArgs();
    checkHandle(handle);
    body(*handle->component);
    synchroniseIfRequested();
  });
}

template <class Record>
opixStatus_t destroyFrontend(const ObjectNames& names, Record* handle) noexcept {
  return runTraced([&] {
    trace::text(names.destroy);
    trace::value("handle", static_cast<const void*>(handle));
    checkHandle(handle);
    uint64_t bytes = 0;
    if (handle->component) handle->component->GetAllocatedGpuMemorySize(&bytes);
    trace::deviceMemory(bytes);
    delete handle->component;
    handle->component = nullptr;
    handle->signature = 0;
    delete handle;
    trace::text(names.destroyed);
    trace::deviceMemory(0);
  });
}

// The allocated-memory query of every handle-record object; writes no trace.
template <class Record>
opixStatus_t memorySizeFrontend(Record* handle, uint64_t* bytes) noexcept {
  return runQuiet([&] {
    checkHandle(handle);
    if (!bytes) OPIX_THROW_AT(OPIX_INVALID_VALUE, "core/GlobalMethods");
    handle->component->GetAllocatedGpuMemorySize(bytes);
  });
}

}  // namespace opix
