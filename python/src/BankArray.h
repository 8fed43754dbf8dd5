// A bank's data as numpy sees it: the dtype of each MIDAS type id.
#pragma once

#include <pybind11/numpy.h>

#include <cstdint>

namespace tarnpy {

// The dtype of a bank of `type`; bytes (uint8) for types without a numeric form.
pybind11::dtype bankDtype(uint32_t type);
// Bytes per element in such an array; needs no GIL.
size_t bankElementSize(uint32_t type);

// A read-only array over `size` bytes at `data`, kept alive by `owner`.
pybind11::array bankArray(uint32_t type, const char* data, size_t size, pybind11::handle owner);

}  // namespace tarnpy
