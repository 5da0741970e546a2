#include "RecordStaging.h"

#include <cstring>

#include "opixException.h"

#define OPIX_SOURCE "opix_imageFilters/RecordStaging"

namespace opix {

RecordStaging::~RecordStaging() {
  // Uploads still queued read the slots until they have run.
  for (int k = 0; k < 2; ++k)
    if (events_[k]) {
      if (pending_[k]) (void)device::eventSynchronize(events_[k]);
      (void)device::eventDestroy(events_[k]);
    }
}

void RecordStaging::allocate(uint64_t bytes) {
  slotBytes_ = alignUp(bytes, kSubBufferAlignment);
  space_.reserve(2 * slotBytes_);
  space_.allocate();
  // Bytes between the tables are uploaded too: they start as zeros.
  std::memset(space_.pointer(), 0, static_cast<size_t>(2 * slotBytes_));
  for (device::Event& e : events_)
    if (device::eventCreate(&e) != device::kSuccess) {
      e = nullptr;
      OPIX_THROW(OPIX_INTERNAL_ERROR);
    }
}

unsigned char* RecordStaging::next() {
  slot_ ^= 1;
  if (pending_[slot_]) {
    if (device::eventSynchronize(events_[slot_]) != device::kSuccess) OPIX_THROW(OPIX_EXECUTION_FAILURE);
    pending_[slot_] = false;
  }
  return static_cast<unsigned char*>(space_.pointer()) + slotBytes_ * slot_;
}

void RecordStaging::issued() {
  if (device::eventRecord(events_[slot_]) != device::kSuccess) OPIX_THROW(OPIX_EXECUTION_FAILURE);
  pending_[slot_] = true;
}

}  // namespace opix
