#include "HandleSignature.h"

#include <condition_variable>
#include <mutex>
#include <unordered_map>

#define OPIX_SOURCE "core/HandleSignature"

namespace opix::handles {

namespace {

struct Entry {
  HandleKind kind;
  uint32_t calls = 0;    // calls inside the handle now
  bool retired = false;  // Destroy has begun: no call may enter
};

// Pipelines are built and run on several threads, so the live set is locked;
// each call holds the lock for one hash lookup.
struct Registry {
  std::mutex mutex;
  std::condition_variable left;  // a call left a retired handle
  std::unordered_map<const void*, Entry> live;
};

// Never destroyed: a handle may be destroyed from another static destructor
// at exit.
Registry& registry() {
  static Registry* r = new Registry;
  return *r;
}

// With the lock held: the entry of `record` if it is a live, intact handle
// of `kind` that no Destroy has begun on, else null.
Entry* liveEntry(Registry& r, const void* record, HandleKind kind, IntactFn intact) {
  const auto it = r.live.find(record);
  if (it == r.live.end() || it->second.kind != kind || it->second.retired || !intact(record)) return nullptr;
  return &it->second;
}

}  // namespace

void enroll(const void* record, HandleKind kind) {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.live.insert_or_assign(record, Entry{kind});
}

void enter(const void* record, HandleKind kind, IntactFn intact) {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  Entry* e = liveEntry(r, record, kind, intact);
  if (!e) OPIX_THROW(OPIX_INVALID_HANDLE);
  ++e->calls;
}

void leave(const void* record) {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  const auto it = r.live.find(record);
  if (it == r.live.end()) return;
  if (--it->second.calls == 0 && it->second.retired) r.left.notify_all();
}

void retire(const void* record, HandleKind kind, IntactFn intact) {
  Registry& r = registry();
  std::unique_lock<std::mutex> lock(r.mutex);
  Entry* e = liveEntry(r, record, kind, intact);
  if (!e) OPIX_THROW(OPIX_INVALID_HANDLE);
  e->retired = true;
  // References to map elements survive other insertions and erasures.
  r.left.wait(lock, [e] { return e->calls == 0; });
  r.live.erase(record);
}

}  // namespace opix::handles
