#include "HandleSignature.h"

#include <mutex>
#include <unordered_map>

#define OPIX_SOURCE "core/HandleSignature"

namespace opix::handles {

namespace {

// Pipelines are built on several threads, so the live set is locked; each
// call holds the lock for one hash lookup.
struct Registry {
  std::mutex mutex;
  std::unordered_map<const void*, HandleKind> live;
};

// Never destroyed: a handle may be destroyed from another static destructor
// at exit.
Registry& registry() {
  static Registry* r = new Registry;
  return *r;
}

// With the lock held: is `record` a live, intact handle of `kind`?
bool isLive(Registry& r, const void* record, HandleKind kind, IntactFn intact) {
  const auto it = r.live.find(record);
  return it != r.live.end() && it->second == kind && intact(record);
}

}  // namespace

void enroll(const void* record, HandleKind kind) {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.live.emplace(record, kind);
}

void check(const void* record, HandleKind kind, IntactFn intact) {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  if (!isLive(r, record, kind, intact)) OPIX_THROW(OPIX_INVALID_HANDLE);
}

void retire(const void* record, HandleKind kind, IntactFn intact) {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  if (!isLive(r, record, kind, intact)) OPIX_THROW(OPIX_INVALID_HANDLE);
  r.live.erase(record);
}

}  // namespace opix::handles
