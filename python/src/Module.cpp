// The compiled part of the Python package `tarn`.
#include <pybind11/pybind11.h>

#include "Columns.h"
#include "Errors.h"
#include "EventObject.h"
#include "Odb.h"
#include "PyGraph.h"
#include "Run.h"

PYBIND11_MODULE(_tarn, m) {
  m.doc() = "MIDAS run files, ODB dumps and tarn graphs, straight into numpy (the compiled part of tarn).";
  m.attr("__version__") = TARN_VERSION;
  tarnpy::defineErrors(m);
  tarnpy::defineOdb(m);
  tarnpy::defineEventTypes(m);
  tarnpy::defineRun(m);
  tarnpy::defineColumns(m);
  tarnpy::defineGraph(m);
}
