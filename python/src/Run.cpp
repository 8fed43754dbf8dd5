#include "Run.h"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <cerrno>

#include "Errors.h"
#include "EventObject.h"
#include "Odb.h"
#include "RunSearch.h"

namespace py = pybind11;

namespace tarnpy {

namespace {

const uint16_t kBeginOfRun = 0x8000;

}  // namespace

EventFilter::EventFilter(const py::object& ids, uint32_t triggerMask) : mask(triggerMask) {
  if (ids.is_none()) return;
  allIds = false;
  idWanted.assign(65536, false);
  for (py::handle id : ids) {
    const long long v = id.cast<long long>();
    if (v < 0 || v > 0xFFFF) throw py::value_error("an event id is 0..65535, not " + std::to_string(v));
    idWanted[v] = true;
  }
}

EventReader::EventReader(const std::string& name) {
  found = findRunFile(name);
  if (found.empty()) {
    PyErr_SetObject(PyExc_FileNotFoundError,
                    py::make_tuple(ENOENT, "No run file of this name (nor its other compressed forms)", name).ptr());
    throw py::error_already_set();
  }
  if (!file.Open(found.c_str())) {
    const int number = file.GetLastErrno() > 0 ? file.GetLastErrno() : EIO;
    PyErr_SetObject(PyExc_OSError, py::make_tuple(number, file.GetLastError(), found).ptr());
    throw py::error_already_set();
  }
}

bool EventReader::next(TMidasEvent& event, const EventFilter& filter) {
  for (;;) {
    if (!file.ReadInPlace(&event)) {
      lastFailed = file.GetLastErrno() != 0;
      return false;
    }
    bytes += sizeof(MidasEventHeader) + event.GetDataSize();
    if (filter.keeps(event)) return true;
  }
}

Run::Run(const std::string& name, const py::object& ids, uint32_t triggerMask, const std::string& errors)
    : reader(new EventReader(name)), filter(ids, triggerMask), warn(warnOnErrors(errors)) {
  reader->copyingOut();  // each event handed out is a copy of its own
  runPath = reader->path();
}

PyObject* Run::nextObject() {
  if (!reader) throw py::value_error("I/O operation on a closed run");
  if (ended || !reader->next(scratch, filter)) {
    const bool report = !ended && reader->failed();
    ended = true;
    if (report) readFailed(runPath, reader->position(), reader->error(), warn);
    return nullptr;
  }
  PyObject* event = newEvent(scratch, handed++);
  if (!event) throw py::error_already_set();
  return event;
}

void Run::close() {
  if (reader) reader->close();
  reader.reset();
}

py::object Run::odb() {
  if (!odbRead) {
    // A reader of its own: the dump is there whatever this run's filter or place.
    EventReader first(runPath);
    TMidasEvent e;
    if (first.next(e, EventFilter(py::none(), 0)) && e.GetEventId() == kBeginOfRun)
      beginOdb = std::make_shared<Odb>(std::string(e.GetData(), e.GetDataSize()));
    odbRead = true;
  }
  if (!beginOdb) return py::none();
  return py::cast(beginOdb);
}

void defineRun(py::module_& m) {
  py::class_<Run>(m, "Run", R"(A run file open for reading: a context manager and an iterator of Events.

Made by tarn.open. Iterating reads on from where the last iteration
stopped; a damaged run gives the events before the damage, then
tarn.ReadError (or a tarn.ReadWarning with errors="warn").)")
      .def("__iter__", [](py::object self) {
        return py::reinterpret_steal<py::object>(newEventIterator(&self.cast<Run&>(), self));
      })
      .def("__next__", [](Run& r) {
        PyObject* event = r.nextObject();
        if (!event) throw py::stop_iteration();
        return py::reinterpret_steal<py::object>(event);
      })
      .def("__enter__", [](Run& r) -> Run& { return r; }, py::return_value_policy::reference_internal)
      .def("__exit__", [](Run& r, py::args) { r.close(); return false; })
      .def("close", &Run::close, "Closes the file; events already read stay valid.")
      .def_property_readonly("closed", &Run::closed, "Whether close() was called.")
      .def_property_readonly("path", &Run::path, "The file read: the name given or the form of it that was found.")
      .def_property_readonly("odb", &Run::odb, "The begin-of-run ODB dump (tarn.Odb), or None when the run starts without one.")
      .def("__repr__", [](const Run& r) { return "<tarn.Run " + r.path() + (r.closed() ? " closed>" : ">"); });

  m.def("open", [](const std::string& path, py::object ids, uint32_t triggerMask, const std::string& errors) {
    return std::unique_ptr<Run>(new Run(path, ids, triggerMask, errors));
  }, py::arg("path"), py::arg("ids") = py::none(), py::arg("trigger_mask") = 0, py::arg("errors") = "raise",
  R"(Opens a MIDAS run file (plain, gzip, lz4, bzip2 or zstd) for reading.

path: the run, found as RunFile finds it: the name, then in $MIDASDATA,
    then its other compressed forms. FileNotFoundError when none is there.
ids: event ids to keep (None: every event); filtered in C++.
trigger_mask: keep only events whose trigger mask shares a bit with it (0: all).
errors: "raise" (tarn.ReadError at damage) or "warn" (a tarn.ReadWarning,
    then the iteration ends).

    with tarn.open("run00002.mid.gz", ids=[1]) as run:
        for event in run:
            tdc = event.banks["TDC0"]
)");
}

}  // namespace tarnpy
