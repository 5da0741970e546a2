// Handles and their signature check.
#pragma once

#include <cstdint>

#include "opix.h"
#include "opixException.h"

namespace opix {

constexpr uint32_t kHandleSignature = 0xDEADBEEF;

class IDebayer;
class ISurfaceConverter;
class IImageFilter;

// The record behind a debayer, surface converter and image filter handle.
template <class Interface>
struct HandleRecord {
  uint32_t signature = kHandleSignature;
  Interface* component = nullptr;
};

// Raises OPIX_INVALID_HANDLE unless the record is live. A null handle is
// refused the same way instead of being read through.
void checkSignature(const uint32_t* signature);

template <class Record>
void checkHandle(const Record* record) {
  checkSignature(record ? &record->signature : nullptr);
}

}  // namespace opix

// The public handle types point to these records.
struct opixDebayerHandleRecord : opix::HandleRecord<opix::IDebayer> {};
struct opixSurfaceConverterHandleRecord : opix::HandleRecord<opix::ISurfaceConverter> {};
struct opixImageFilterHandleRecord : opix::HandleRecord<opix::IImageFilter> {};
