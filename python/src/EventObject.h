// The Python types of one event and of the iteration over a run, written
// against the C API rather than through pybind11: a run's events are made
// millions of times a second, and their header fields are read as plain
// members.
#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>

class TMidasEvent;

namespace tarnpy {

class Run;

// A new tarn.Event holding its own copy of `e` (new reference; null with the error set).
PyObject* newEvent(const TMidasEvent& e, uint64_t index);
// An iterator over `run`, which `owner` (the Python object of the run) keeps alive.
PyObject* newEventIterator(Run* run, pybind11::handle owner);
// Makes the types ready and adds tarn.Event to the module.
void defineEventTypes(pybind11::module_& m);

}  // namespace tarnpy
