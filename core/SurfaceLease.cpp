#include "SurfaceLease.h"

#include <mutex>
#include <unordered_map>

#include "opixException.h"

#define OPIX_SOURCE "core/SurfaceLease"

namespace opix::leases {

namespace {

struct Registry {
  std::mutex mutex;
  std::unordered_map<const opixDeviceSurfaceBuffer_t*, std::weak_ptr<const void>> owners;
};

// Never destroyed: components may be destroyed from static destructors.
Registry& registry() {
  static Registry* r = new Registry;
  return *r;
}

}  // namespace

void publish(const opixDeviceSurfaceBuffer_t* buffer, const SurfaceOwner& owner) {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.owners.insert_or_assign(buffer, owner);
}

SurfaceOwner hold(const opixDeviceSurfaceBuffer_t* buffer) {
  if (!buffer) return {};
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  const auto it = r.owners.find(buffer);
  if (it == r.owners.end()) return {};
  SurfaceOwner owner = it->second.lock();
  // Expired but not yet forgotten: the owner is being deleted right now.
  if (!owner) OPIX_THROW(OPIX_INVALID_VALUE);
  return owner;
}

void forgetExpired() {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  for (auto it = r.owners.begin(); it != r.owners.end();) {
    if (it->second.expired())
      it = r.owners.erase(it);
    else
      ++it;
  }
}

}  // namespace opix::leases
