// Handles, their signatures and the registry of live handles.
//
// A handle is a pointer the caller hands back to us, so it may be anything:
// a handle of another kind, one already destroyed, or garbage. The registry
// answers whether a pointer is a live handle of a given kind without reading
// through it; only then is its signature read, which catches a record whose
// memory was overwritten.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "opix.h"
#include "opixException.h"

namespace opix {

enum class HandleKind : uint32_t {
  Debayer = 1,
  SurfaceConverter,
  ImageFilter,
  ImportFromHost,
  ExportToHost,
  GpuTimer,
};

// Each kind has its own signature, so a record of one kind never passes for
// another even when its memory is read.
constexpr uint32_t signatureOf(HandleKind kind) { return 0xDEADBE00u | static_cast<uint32_t>(kind); }

// The signature every handle record starts with.
template <HandleKind K>
struct SignedRecord {
  static constexpr HandleKind kKind = K;
  uint32_t signature = signatureOf(K);
};

// The record behind the handle of a component. It shares the component with
// the components that read its destination buffer (see SurfaceLease.h), so
// the component outlives its handle while they do.
template <class Component, HandleKind K>
struct HandleRecord : SignedRecord<K> {
  std::shared_ptr<Component> component;
  // The stream of the component's Transform and Copy calls; null is the SDK stream.
  std::atomic<void*> stream{nullptr};
};

namespace handles {

// Reads the signature of a record known to be live.
using IntactFn = bool (*)(const void* record);

// Records `record` as a live handle of `kind`.
void enroll(const void* record, HandleKind kind);
// Raises OPIX_INVALID_HANDLE unless `record` is a live handle of `kind` whose
// signature is intact, and otherwise counts one more call inside the handle
// until `leave`.
void enter(const void* record, HandleKind kind, IntactFn intact);
void leave(const void* record);
// As the check of enter, and removes the handle from the live set in the
// same step, so that of two Destroy calls on one handle only one proceeds and
// no call enters it any more; then waits until the calls that other threads
// are making inside it have left. The caller then frees the record.
void retire(const void* record, HandleKind kind, IntactFn intact);

}  // namespace handles

// One call inside a live handle: the handle cannot be destroyed under it.
class HandleUse {
 public:
  HandleUse(const void* record, HandleKind kind, handles::IntactFn intact) : record_(record) {
    handles::enter(record, kind, intact);
  }
  ~HandleUse() { handles::leave(record_); }
  HandleUse(const HandleUse&) = delete;
  HandleUse& operator=(const HandleUse&) = delete;

 private:
  const void* record_;
};

template <class Record>
bool signatureIntact(const void* record) {
  return static_cast<const Record*>(record)->signature == signatureOf(Record::kKind);
}

template <class Record>
void enrollHandle(const Record* record) {
  handles::enroll(record, Record::kKind);
}

// Checks the handle and holds it for the rest of the scope:
//   const HandleUse use = useHandle(handle);
template <class Record>
HandleUse useHandle(const Record* record) {
  return HandleUse(record, Record::kKind, &signatureIntact<Record>);
}

template <class Record>
void retireHandle(const Record* record) {
  handles::retire(record, Record::kKind, &signatureIntact<Record>);
}

class IDebayer;
class ISurfaceConverter;
class IImageFilter;

}  // namespace opix

// The public handle types point to these records.
struct opixDebayerHandleRecord : opix::HandleRecord<opix::IDebayer, opix::HandleKind::Debayer> {};
struct opixSurfaceConverterHandleRecord
    : opix::HandleRecord<opix::ISurfaceConverter, opix::HandleKind::SurfaceConverter> {};
struct opixImageFilterHandleRecord : opix::HandleRecord<opix::IImageFilter, opix::HandleKind::ImageFilter> {};
