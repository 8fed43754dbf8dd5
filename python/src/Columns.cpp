#include "Columns.h"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "BankArray.h"
#include "BankWalk.h"
#include "Errors.h"
#include "GrowingBuffer.h"
#include "Run.h"

namespace py = pybind11;

namespace tarnpy {

namespace {

struct Column {
  char name[4];
  int type = -1;  // of the first bank seen; -1 before
  GrowingBuffer values, offsets, events;
  int64_t count = 0;  // elements so far
};

// The line on stderr that says how far a long read has come.
class Progress {
 public:
  Progress(bool on, const std::string& path) : on(on), path(path) {
    struct stat st;
    // Only a plain file's size says how far its event stream goes.
    if (::stat(path.c_str(), &st) == 0) fileBytes = static_cast<uint64_t>(st.st_size);
    plain = path.size() < 3 || (path.compare(path.size() - 3, 3, ".gz") && path.compare(path.size() - 4, 4, ".lz4") &&
                                path.compare(path.size() - 4, 4, ".bz2") && path.compare(path.size() - 4, 4, ".zst"));
  }
  void show(uint64_t events, uint64_t position, bool last) {
    if (!on) return;
    const auto now = std::chrono::steady_clock::now();
    if (!last && now - shown < std::chrono::milliseconds(250)) return;
    shown = now;
    if (plain && fileBytes)
      std::fprintf(stderr, "\rtarn: %s: %llu events, %3.0f%%", path.c_str(), static_cast<unsigned long long>(events),
                   100.0 * static_cast<double>(position) / static_cast<double>(fileBytes));
    else
      std::fprintf(stderr, "\rtarn: %s: %llu events, %.0f MB", path.c_str(), static_cast<unsigned long long>(events),
                   static_cast<double>(position) / 1e6);
    if (last) std::fputc('\n', stderr);
    std::fflush(stderr);
  }

 private:
  bool on, plain = false;
  std::string path;
  uint64_t fileBytes = 0;
  std::chrono::steady_clock::time_point shown{};
};

py::dict readBanks(const std::string& path, const std::vector<std::string>& names, py::object ids,
                   uint32_t triggerMask, bool progress, const std::string& errors) {
  const bool warn = warnOnErrors(errors);
  std::vector<Column> columns(names.size());
  for (size_t i = 0; i < names.size(); ++i) {
    if (names[i].size() != 4) throw py::value_error("a bank name has four characters: \"" + names[i] + "\"");
    std::memcpy(columns[i].name, names[i].data(), 4);
  }
  EventFilter filter(ids, triggerMask);
  EventReader reader(path);
  reader.copyingOut();  // every bank kept is copied: mapping the file would only add page-table work
  Progress bar(progress, reader.path());
  TMidasEvent event;
  uint64_t index = 0;
  std::string mixed;  // a bank whose type changed: named after the loop, with the GIL
  bool interrupted = false;
  {
    py::gil_scoped_release unlocked;
    for (; reader.next(event, filter); ++index) {
      if ((index & 0xFFFF) == 0 && index > 0) {
        bar.show(index, reader.position(), false);
        py::gil_scoped_acquire locked;
        if (PyErr_CheckSignals() != 0) { interrupted = true; break; }
      }
      if (event.GetEventId() >= 0x8000 && event.GetEventId() <= 0x8002) continue;  // text, not banks
      forEachBank(event, [&](const char* name, uint32_t type, const char* data, uint32_t size) {
        for (Column& c : columns) {
          if (std::memcmp(c.name, name, 4) != 0) continue;
          if (c.type < 0) {
            c.type = static_cast<int>(type);
            c.offsets.push<int64_t>(0);
          } else if (bankElementSize(type) != bankElementSize(static_cast<uint32_t>(c.type)) && mixed.empty()) {
            mixed = std::string(name, 4) + " changes type at event " + std::to_string(index);
          }
          const size_t item = bankElementSize(static_cast<uint32_t>(c.type));
          const size_t whole = size / item * item;
          c.values.append(data, whole);
          c.count += static_cast<int64_t>(whole / item);
          c.offsets.push<int64_t>(c.count);
          c.events.push<int64_t>(static_cast<int64_t>(index));
        }
      });
    }
    bar.show(index, reader.position(), true);
  }
  if (interrupted) throw py::error_already_set();
  if (!mixed.empty()) throw py::value_error(reader.path() + ": bank " + mixed);
  if (reader.failed()) readFailed(reader.path(), reader.position(), reader.error(), warn);

  py::module_ tarn = py::module_::import("tarn");
  py::dict out;
  for (Column& c : columns) {
    if (c.type < 0) c.offsets.push<int64_t>(0);
    const py::dtype i64 = py::dtype::of<int64_t>();
    out[py::str(c.name, 4)] = tarn.attr("Column")(c.values.release(bankDtype(c.type < 0 ? TID_BYTE : c.type)),
                                                  c.offsets.release(i64), c.events.release(i64));
  }
  return out;
}

}  // namespace

void defineColumns(py::module_& m) {
  m.def("read_banks", &readBanks, py::arg("path"), py::arg("banks"), py::arg("ids") = py::none(),
        py::arg("trigger_mask") = 0, py::arg("progress") = false, py::arg("errors") = "raise",
        R"(Reads the named banks of a whole run in C++ into jagged numpy columns.

Returns a dict of bank name to tarn.Column, the layout of the HDF5 export:
values (every element of the bank in every event, flat, of the bank's
MIDAS type), offsets (int64, one more than the events holding the bank:
event k's bank is values[offsets[k]:offsets[k+1]]) and event (int64, the
index of the event each entry came from among the events the filter
keeps, as enumerate(tarn.open(path, ids=ids)) counts them).

ids, trigger_mask and errors as for tarn.open; progress=True shows how
far the read has come on standard error. Ctrl-C stops it
(KeyboardInterrupt). A bank whose element size changes within the run is a
ValueError. A bank that no event holds gives empty uint8 values.)");
}

}  // namespace tarnpy
