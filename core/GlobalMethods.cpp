#include "GlobalMethods.h"

#include "device/Device.h"

#define OPIX_SOURCE "core/GlobalMethods"

namespace opix {

void synchroniseIfRequested() {
  if (!deviceContext().syncAfterTransform.load(std::memory_order_relaxed)) return;
  if (device::deviceSynchronize() != device::kSuccess) OPIX_THROW(OPIX_INTERNAL_ERROR);
}

void switchStream(void* current, void* next) {
  requireInitialised();
  if (device::streamCheck(next) != device::kSuccess) OPIX_THROW(OPIX_INVALID_VALUE);
  if (current == next) return;
  const device::Error e = current ? device::streamSynchronizeOn(current) : device::deviceSynchronize();
  if (e != device::kSuccess)
    OPIX_THROW_CUDA(OPIX_EXECUTION_FAILURE, e, current ? "cudaStreamSynchronize" : "cudaDeviceSynchronize");
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
