// The camera file functions of the Python module (camera_python.cpp).
#pragma once

#include <pybind11/pybind11.h>

#include <functional>
#include <mutex>

#include "opix.h"

namespace opix::python {

// Adds read_raw, unpack and develop to `m`. `useBackend` chooses the SDK's
// backend as the module's other functions do, `sdk` serialises SDK calls,
// `check` raises a failed call's status.
void registerCamera(pybind11::module_& m, const std::function<void()>& useBackend, std::mutex& sdk,
                    const std::function<void(opixStatus_t, const char*)>& check);

}  // namespace opix::python
