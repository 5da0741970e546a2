// The camera file functions of the Python module (camera_python.cpp).
#pragma once

#include <pybind11/pybind11.h>

#include <functional>
#include <mutex>
#include <string>

#include "opix.h"

namespace opix::python {

// Adds read_raw, unpack and develop to `m`. `useBackend` chooses the SDK's
// backend ("auto", "host", "cuda", "cuda:N") as the module's other functions
// do, `sdk` serialises SDK calls, `check` raises a failed call's status.
void registerCamera(pybind11::module_& m, const std::function<void(const std::string&)>& useBackend, std::mutex& sdk,
                    const std::function<void(opixStatus_t, const char*)>& check);

// Raises opix.FileError: a file that could not be read or written, with the
// status and the program's text for it (opix_files.cpp).
[[noreturn]] void raiseFileError(opixStatus_t status, const std::string& message);

}  // namespace opix::python
