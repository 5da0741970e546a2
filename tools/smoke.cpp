// Initialises the SDK on the first CUDA device, or on the host backend where
// none is usable, and says which it runs on.
#include <cstdio>

#include "device/Device.h"
#include "opix.h"

int main() {
  std::printf("SDK version: %d.%d.%d.%d (build date: %s)\n", OPIX_VERSION_MAJOR, OPIX_VERSION_MINOR, OPIX_VERSION_PATCH,
              OPIX_VERSION_BUILD, opixBuildDate());
  opixStatus_t status = opixInit(1u, false);
  if (status != OPIX_OK) {
    std::printf("No usable CUDA device (%s): using the host backend\n", opixStatusName(status));
    status = opixInitHost();
  }
  if (status != OPIX_OK) {
    std::fprintf(stderr, "Initialisation failed: %s\n", opixStatusName(status));
    return 1;
  }
  opix::device::DeviceProperties props{};
  opix::device::getDeviceProperties(&props, opix::device::backend() == opix::device::Backend::Host ? -1 : 0);
  std::printf("Backend: %s (%s)\n", opix::device::backend() == opix::device::Backend::Cuda ? "CUDA" : "host",
              props.name);
  return 0;
}
