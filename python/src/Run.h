// A run file opened from Python: its events one by one, each an owning copy
// whose banks numpy reads in place.
#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "TMidasEvent.h"
#include "TRunFile.h"

namespace tarnpy {

class Odb;

// Which events a reader hands out: ids (none: all) and trigger-mask bits (0: all).
class EventFilter {
 public:
  EventFilter(const pybind11::object& ids, uint32_t triggerMask);
  bool keeps(const TMidasEvent& e) const {
    if (!allIds && !idWanted[e.GetEventId()]) return false;
    return mask == 0 || (e.GetTriggerMask() & mask) != 0;
  }

 private:
  bool allIds = true;
  std::vector<bool> idWanted;
  uint32_t mask;
};

// A run file read event by event, counting where in the event stream it is.
class EventReader {
 public:
  // FileNotFoundError when no form of `name` is a file; OSError when it does not open.
  explicit EventReader(const std::string& name);
  // The next event the filter keeps, read in place. False at the end; on an
  // error false too, with failed() true and the reason in error().
  bool next(TMidasEvent& event, const EventFilter& filter);
  bool failed() const { return lastFailed; }
  std::string error() const { return file.GetLastError(); }
  const std::string& path() const { return found; }
  uint64_t position() const { return bytes; }
  void close() { file.Close(); }
  // For a reader that copies out all it keeps: a plain file is read by
  // read() rather than mapped. Called before the first event.
  void copyingOut() { file.SetMapping(false); }

 private:
  TRunFile file;
  std::string found;
  uint64_t bytes = 0;  // of the events read so far, as the uncompressed stream holds them
  bool lastFailed = false;
};

class Run {
 public:
  Run(const std::string& name, const pybind11::object& ids, uint32_t triggerMask, const std::string& errors);
  // The next event kept by the filter as a new tarn.Event; null at the end
  // (no error set). Damage raises ReadError or, warned, ends the run.
  PyObject* nextObject();
  void close();
  bool closed() const { return !reader; }
  const std::string& path() const { return runPath; }
  pybind11::object odb();

 private:
  std::unique_ptr<EventReader> reader;
  EventFilter filter;
  std::string runPath;
  bool warn;
  bool ended = false;
  uint64_t handed = 0;
  TMidasEvent scratch;
  std::shared_ptr<Odb> beginOdb;
  bool odbRead = false;
};

void defineRun(pybind11::module_& m);

}  // namespace tarnpy
