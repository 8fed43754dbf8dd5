// The package's own exception, tarn.ReadError: an OSError that also names the
// run and where in its events reading stopped.
#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>
#include <string>

namespace tarnpy {

void defineErrors(pybind11::module_& m);

// Raises ReadError (the Python error is set and error_already_set thrown), or
// with `warn` gives the message as a ReadWarning and returns.
void readFailed(const std::string& file, uint64_t position, const std::string& reason, bool warn);

// "raise" or "warn"; anything else is a ValueError.
bool warnOnErrors(const std::string& errors);

}  // namespace tarnpy
