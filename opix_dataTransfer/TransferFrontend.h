// The interface shape of the transfer objects. Unlike the handle records of
// the other components, their handles point to the object itself, which
// carries the signature as its last member.
#pragma once

#include <memory>

#include "DataExport.h"
#include "DataImport.h"
#include "GlobalMethods.h"

struct opixImportFromHostStruct : opix::DataImport {
  using DataImport::DataImport;
  uint32_t signature = opix::kHandleSignature;
};

struct opixExportToHostStruct : opix::DataExport {
  using DataExport::DataExport;
  uint32_t signature = opix::kHandleSignature;
};

namespace opix {

// Create: the frontend shape of createFrontend, with the object as the handle.
//   build(): returns a std::unique_ptr to the constructed object.
//   traceOutput(object): writes the output lines.
template <class Object, class TraceArgs, class Build, class TraceOutput>
opixStatus_t createTransfer(const ObjectNames& names, Object** handle, TraceArgs&& traceArgs, Build&& build,
                            TraceOutput&& traceOutput) noexcept {
  return runTraced([&] {
    trace::text(names.create);
    traceArgs();
    trace::deviceMemory(0);
    requireInitialised();
    if (!handle) OPIX_THROW_AT(OPIX_INVALID_VALUE, "opix_dataTransfer/TransferFrontend");
    std::unique_ptr<Object> object = build();
    *handle = object.release();
    trace::value("handle", static_cast<const void*>(*handle));
    traceOutput(**handle);
    uint64_t bytes = 0;
    (*handle)->GetAllocatedGpuMemorySize(&bytes);
    trace::deviceMemory(bytes);
  });
}

template <class Object, class TraceArgs, class Body>
opixStatus_t copyTransfer(const ObjectNames& names, Object* handle, TraceArgs&& traceArgs, Body&& body) noexcept {
  return runTraced([&] {
    trace::text(names.call);
    trace::value("handle", static_cast<const void*>(handle));
    traceArgs();
    checkHandle(handle);
    body(*handle);
    synchroniseIfRequested();
  });
}

template <class Object>
opixStatus_t destroyTransfer(const ObjectNames& names, Object* handle) noexcept {
  return runTraced([&] {
    trace::text(names.destroy);
    trace::value("handle", static_cast<const void*>(handle));
    checkHandle(handle);
    uint64_t bytes = 0;
    handle->GetAllocatedGpuMemorySize(&bytes);
    trace::deviceMemory(bytes);
    handle->signature = 0;
    delete handle;
    trace::text(names.destroyed);
    trace::deviceMemory(0);
  });
}

template <class Object>
opixStatus_t memorySizeTransfer(Object* handle, uint64_t* bytes) noexcept {
  return runQuiet([&] {
    checkHandle(handle);
    if (!bytes) OPIX_THROW_AT(OPIX_INVALID_VALUE, "opix_dataTransfer/TransferFrontend");
    handle->GetAllocatedGpuMemorySize(bytes);
  });
}

}  // namespace opix
