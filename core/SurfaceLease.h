// Who keeps a device surface buffer alive.
//
// A component's destination buffer lives in that component's memory block,
// and the components that read it keep only the address of its record. So
// that destroying a producer before its readers frees nothing still read,
// the frontends publish every destination buffer they hand out together with
// the component that owns it, and each reader holds that owner for as long as
// it reads the buffer: the owner is destroyed with its handle or its last
// reader, whichever goes last. A buffer the caller made (external) has no
// owner here; the caller keeps it alive.
#pragma once

#include <memory>

#include "opix.h"

namespace opix {

using SurfaceOwner = std::shared_ptr<const void>;

namespace leases {

// Records `owner` as the owner of `buffer`.
void publish(const opixDeviceSurfaceBuffer_t* buffer, const SurfaceOwner& owner);
// The owner of `buffer`: empty for null and for a buffer no component
// published. Reads nothing through the pointer. A buffer whose owner is being
// destroyed raises OPIX_INVALID_VALUE.
SurfaceOwner hold(const opixDeviceSurfaceBuffer_t* buffer);
// Forgets the buffers whose owners are being destroyed; runs before an owner
// is deleted, so no record of a freed buffer stays behind.
void forgetExpired();

}  // namespace leases

// The shared ownership of a published component: forgets its buffers, then
// deletes it.
template <class Component>
std::shared_ptr<Component> shareComponent(std::unique_ptr<Component> component) {
  return std::shared_ptr<Component>(component.release(), [](Component* c) {
    leases::forgetExpired();
    delete c;
  });
}

}  // namespace opix
