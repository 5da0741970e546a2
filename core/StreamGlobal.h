// The SDK stream (the per-thread default stream), its synchronisation and the
// check that follows every kernel launch.
#pragma once

namespace opix {

// Waits for the current stream (device::currentStream: the called
// component's, else the SDK stream); a failure raises OPIX_EXECUTION_FAILURE.
void streamSynchronize();

// Run after every kernel launch with the kernel's display name: a failed
// launch is traced and raised as OPIX_INTERNAL_ERROR.
void launchCheck(const char* name);

}  // namespace opix
