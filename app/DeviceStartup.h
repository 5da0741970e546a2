// Bringing up the processing unit: the GPU named by the options, or the CPU
// through the host backend, and the lines that describe it.
#pragma once

#include <cstdint>

#include "opix.h"

namespace opix::app {

// The SDK version line.
void printVersion();

// Selects and initialises the device (the host backend when `cpu` is set or
// no CUDA device is usable) and prints the device lines, unless `quiet`.
// The host backend has no bus to measure: it runs no bandwidth test.
opixStatus_t startDevice(int32_t deviceId, bool cpu, bool quiet = false);

// Host-to-device copy bandwidth of 100 MiB from page-locked memory, MByte/s.
opixStatus_t bandwidthTest(float* megabytesPerSecond);

}  // namespace opix::app
