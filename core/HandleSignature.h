// Handles, their signatures and the registry of live handles.
//
// A handle is a pointer the caller hands back to us, so it may be anything:
// a handle of another kind, one already destroyed, or garbage. The registry
// answers whether a pointer is a live handle of a given kind without reading
// through it; only then is its signature read, which catches a record whose
// memory was overwritten.
#pragma once

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

// The record behind the handle of a component: it owns the component.
template <class Component, HandleKind K>
struct HandleRecord : SignedRecord<K> {
  std::unique_ptr<Component> component;
};

namespace handles {

// Reads the signature of a record known to be live.
using IntactFn = bool (*)(const void* record);

// Records `record` as a live handle of `kind`.
void enroll(const void* record, HandleKind kind);
// Raises OPIX_INVALID_HANDLE unless `record` is a live handle of `kind` whose
// signature is intact.
void check(const void* record, HandleKind kind, IntactFn intact);
// As check, and removes the handle from the live set in the same step, so
// that of two Destroy calls on one handle only one proceeds. The caller then
// frees the record.
void retire(const void* record, HandleKind kind, IntactFn intact);

}  // namespace handles

template <class Record>
bool signatureIntact(const void* record) {
  return static_cast<const Record*>(record)->signature == signatureOf(Record::kKind);
}

template <class Record>
void enrollHandle(const Record* record) {
  handles::enroll(record, Record::kKind);
}

template <class Record>
void checkHandle(const Record* record) {
  handles::check(record, Record::kKind, &signatureIntact<Record>);
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
