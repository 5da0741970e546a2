#include "GlobalMethods.h"

#include "device/Device.h"

#define OPIX_SOURCE "core/GlobalMethods"

namespace opix {

void synchroniseIfRequested() {
  if (!deviceContext().syncAfterTransform.load(std::memory_order_relaxed)) return;
  if (device::deviceSynchronize() != device::kSuccess) OPIX_THROW(OPIX_INTERNAL_ERROR);
}

}  // namespace opix

extern "C" opixStatus_t opixTraceCreate(const char* path) {
  return opix::runQuiet([&] { opix::trace::open(path); });
}

extern "C" opixStatus_t opixTraceSetPrintTables(bool printTables) {
  opix::trace::setPrintTables(printTables);
  return OPIX_OK;
}

extern "C" opixStatus_t opixTraceClose(void) {
  return opix::runQuiet([] { opix::trace::close(); });
}
