#include "StreamGlobal.h"

#include "DeviceContext.h"
#include "TraceFile.h"
#include "device/Device.h"
#include "opixException.h"

namespace opix {

void streamSynchronize() {
#define OPIX_SOURCE "core/StreamGlobal"
  const device::Error e = device::streamSynchronize();
  if (e != device::kSuccess) OPIX_THROW_CUDA(OPIX_EXECUTION_FAILURE, e, "cudaStreamSynchronize");
#undef OPIX_SOURCE
}

void launchCheck(const char* name) {
#define OPIX_SOURCE "core/CudaHelpers"
  device::Error e = device::kSuccess;
  if (deviceContext().syncAfterLaunch.load(std::memory_order_relaxed)) e = device::deviceSynchronize();
  const device::Error last = device::getLastError();
  if (e == device::kSuccess) e = last;
  if (e != device::kSuccess) {
    if (trace::active()) {
      trace::line() << trace::kIndent1 << name << " failure: " << device::errorString(e) << "\n\n";
    }
    OPIX_THROW_CUDA(OPIX_INTERNAL_ERROR, e, name);
  }
#undef OPIX_SOURCE
}

}  // namespace opix
