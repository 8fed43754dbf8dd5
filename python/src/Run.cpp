#include "Run.h"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <cerrno>

#include "BankArray.h"
#include "BankWalk.h"
#include "Errors.h"
#include "Odb.h"
#include "RunSearch.h"

namespace py = pybind11;

namespace tarnpy {

namespace {

const uint16_t kBeginOfRun = 0x8000, kEndOfRun = 0x8001;

bool isTransition(const TMidasEvent& e) {
  return e.GetEventId() == kBeginOfRun || e.GetEventId() == kEndOfRun;
}

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
  runPath = reader->path();
}

std::shared_ptr<Event> Run::next() {
  if (!reader) throw py::value_error("I/O operation on a closed run");
  if (ended || !reader->next(scratch, filter)) {
    const bool report = !ended && reader->failed();
    ended = true;
    if (report) readFailed(runPath, reader->position(), reader->error(), warn);
    throw py::stop_iteration();
  }
  return std::make_shared<Event>(scratch, handed++);
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

namespace {

py::dict banksOf(py::object self) {
  const Event& ev = self.cast<const Event&>();
  py::dict banks;
  if (isTransition(ev.event) || ev.event.GetEventId() == 0x8002) return banks;  // text, not banks
  forEachBank(ev.event, [&](const char* name, uint32_t type, const char* data, uint32_t size) {
    banks[py::str(name, 4)] = bankArray(type, data, size, self);
  });
  return banks;
}

py::object eventOdb(Event& ev) {
  if (!isTransition(ev.event)) return py::none();
  if (!ev.odb) {
    const char* data = const_cast<TMidasEvent&>(ev.event).GetData();
    std::string text(data, ev.event.GetDataSize());
    // The area ends in NULs; the dump is the text before them.
    text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));
    ev.odb = std::make_shared<Odb>(std::move(text));
  }
  return py::cast(ev.odb);
}

}  // namespace

void defineRun(py::module_& m) {
  py::class_<Event, std::shared_ptr<Event>>(m, "Event", R"(One event of a run, a copy of its own.

It stays valid after the iteration moves on and after the run is closed.
banks maps each bank's four-character name to a read-only numpy array of
the bank's MIDAS type, a view of the event's data (no copy).)")
      .def_property_readonly("id", [](const Event& e) { return e.event.GetEventId(); }, "The event id (0x8000 begin of run, 0x8001 end of run).")
      .def_property_readonly("trigger_mask", [](const Event& e) { return e.event.GetTriggerMask(); }, "The trigger mask.")
      .def_property_readonly("serial", [](const Event& e) { return e.event.GetSerialNumber(); }, "The serial number (the run number for begin and end of run).")
      .def_property_readonly("time", [](const Event& e) { return e.event.GetTimeStamp(); }, "Seconds since 1970-01-01 UTC.")
      .def_property_readonly("datetime", [](const Event& e) {
        py::module_ dt = py::module_::import("datetime");
        return dt.attr("datetime").attr("fromtimestamp")(e.event.GetTimeStamp(), dt.attr("timezone").attr("utc"));
      }, "The time stamp as an aware datetime in UTC.")
      .def_property_readonly("data_size", [](const Event& e) { return e.event.GetDataSize(); }, "Bytes of the data area.")
      .def_property_readonly("index", [](const Event& e) { return e.number; }, "Which event this is among those the run handed out, from 0.")
      .def_property_readonly("banks", &banksOf, "A dict of bank name to numpy array (empty for begin/end-of-run and message events).")
      .def_property_readonly("odb", &eventOdb, "The ODB dump of a begin- or end-of-run event (tarn.Odb); None for other events.")
      .def("__repr__", [](const Event& e) {
        return "<tarn.Event id=" + std::to_string(e.event.GetEventId()) + " serial=" +
               std::to_string(e.event.GetSerialNumber()) + " size=" + std::to_string(e.event.GetDataSize()) + ">";
      });

  py::class_<Run>(m, "Run", R"(A run file open for reading: a context manager and an iterator of Events.

Made by tarn.open. Iterating reads on from where the last iteration
stopped; a damaged run gives the events before the damage, then
tarn.ReadError (or a tarn.ReadWarning with errors="warn").)")
      .def("__iter__", [](Run& r) -> Run& { return r; }, py::return_value_policy::reference_internal)
      .def("__next__", &Run::next)
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
