#include "BankArray.h"

#include "TMidasEvent.h"

namespace py = pybind11;

namespace tarnpy {

py::dtype bankDtype(uint32_t type) {
  switch (type) {
    case TID_SBYTE: return py::dtype::of<int8_t>();
    case TID_CHAR:
    case TID_STRING: return py::dtype("S1");
    case TID_WORD: return py::dtype::of<uint16_t>();
    case TID_SHORT: return py::dtype::of<int16_t>();
    case TID_DWORD:
    case TID_BITFIELD:
    case TID_BOOL: return py::dtype::of<uint32_t>();  // a MIDAS BOOL is four bytes
    case TID_INT: return py::dtype::of<int32_t>();
    case TID_FLOAT: return py::dtype::of<float>();
    case TID_DOUBLE: return py::dtype::of<double>();
    default: return py::dtype::of<uint8_t>();
  }
}

size_t bankElementSize(uint32_t type) {
  // Without Python objects: called where the GIL is not held.
  switch (type) {
    case TID_WORD:
    case TID_SHORT: return 2;
    case TID_DWORD:
    case TID_BITFIELD:
    case TID_BOOL:
    case TID_INT:
    case TID_FLOAT: return 4;
    case TID_DOUBLE: return 8;
    default: return 1;
  }
}

py::array bankArray(uint32_t type, const char* data, size_t size, py::handle owner) {
  py::dtype dt = bankDtype(type);
  const size_t item = dt.itemsize();
  // A bank whose size is no multiple of its element holds a partial element at its end: left out.
  py::array a(dt, {static_cast<py::ssize_t>(size / item)}, {static_cast<py::ssize_t>(item)}, data, owner);
  py::detail::array_proxy(a.ptr())->flags &= ~py::detail::npy_api::NPY_ARRAY_WRITEABLE_;
  return a;
}

}  // namespace tarnpy
