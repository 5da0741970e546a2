// Page-locked host memory in which a filter prepares a parameter record's
// tables for their upload on the SDK stream. Two slots, used in turn: a new
// record is written into the slot the record before last used, whose uploads
// the stream has almost always run by then. A record at Transform thus costs
// neither an allocation nor a wait for the pass still reading the old tables
// (the uploads queue behind it on the same stream).
#pragma once

#include <cstdint>

#include "MemSpace.h"
#include "device/Device.h"

namespace opix {

class RecordStaging {
 public:
  RecordStaging() = default;
  ~RecordStaging();
  RecordStaging(const RecordStaging&) = delete;
  RecordStaging& operator=(const RecordStaging&) = delete;

  // Makes the two slots of `bytes` each and their events (at Create);
  // failures raise OPIX_INSUFFICIENT_HOST_MEMORY or OPIX_INTERNAL_ERROR.
  void allocate(uint64_t bytes);
  // The slot for the next record, once the uploads last issued from it have
  // run; a failed wait raises OPIX_EXECUTION_FAILURE.
  unsigned char* next();
  // Marks the uploads from the slot `next` returned as issued.
  void issued();

 private:
  MemSpace space_{MemSpace::Kind::PinnedHost};
  uint64_t slotBytes_ = 0;
  device::Event events_[2] = {nullptr, nullptr};
  bool pending_[2] = {false, false};
  int slot_ = 1;
};

}  // namespace opix
