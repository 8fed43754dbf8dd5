#include "Errors.h"

namespace py = pybind11;

namespace tarnpy {

namespace {
PyObject* readError = nullptr;
PyObject* readWarning = nullptr;
}  // namespace

void defineErrors(py::module_& m) {
  readError = PyErr_NewExceptionWithDoc("tarn.ReadError",
                                        "A run file could not be read on: damaged or cut short.\n\n"
                                        "Attributes: file (the path read) and position (the byte of the\n"
                                        "run's uncompressed event stream where reading stopped).",
                                        PyExc_OSError, nullptr);
  readWarning = PyErr_NewExceptionWithDoc("tarn.ReadWarning",
                                          "What errors=\"warn\" gives instead of ReadError.",
                                          PyExc_RuntimeWarning, nullptr);
  m.add_object("ReadError", py::handle(readError));
  m.add_object("ReadWarning", py::handle(readWarning));
}

void readFailed(const std::string& file, uint64_t position, const std::string& reason, bool warn) {
  const std::string text = file + ": " + reason + " at byte " + std::to_string(position) + " of its events";
  if (warn) {
    if (PyErr_WarnEx(readWarning, text.c_str(), 1) < 0) throw py::error_already_set();
    return;
  }
  py::object error = py::reinterpret_borrow<py::object>(readError)(text);
  error.attr("file") = file;
  error.attr("position") = position;
  PyErr_SetObject(readError, error.ptr());
  throw py::error_already_set();
}

bool warnOnErrors(const std::string& errors) {
  if (errors == "raise") return false;
  if (errors == "warn") return true;
  throw py::value_error("errors must be \"raise\" or \"warn\", not \"" + errors + "\"");
}

}  // namespace tarnpy
