#include "HandleSignature.h"

#define OPIX_SOURCE "core/HandleSignature"

namespace opix {

void checkSignature(const uint32_t* signature) {
  if (!signature || *signature != kHandleSignature) OPIX_THROW(OPIX_INVALID_HANDLE);
}

}  // namespace opix
