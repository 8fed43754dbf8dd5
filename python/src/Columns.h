// tarn.read_banks: whole banks of a run as jagged numpy columns, read in C++.
#pragma once

#include <pybind11/pybind11.h>

namespace tarnpy {

void defineColumns(pybind11::module_& m);

}  // namespace tarnpy
