#include "RunFile.h"

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <iostream>

#include "HostFailure.h"
#include "HostRun.h"
#include "NoRunFile.h"
#include "Plugin.h"
#include "RunFileNames.h"
#include "TMidasEvent.h"

RunFile::RunFile(std::string& n)
    : TarnBase(nullptr, "NoName"), steps(0), interval(0), fileOpen(false), endOfRunSent(false) {
  const char* dir = std::getenv("MIDASDATA");
  dataDir = dir ? dir : "";
  name = n;
  description = "Read one or several Midas files (*.mid)";
  inputs.push_back(Input("steps", static_cast<Handler>(&RunFile::setSteps), TARN_INT,
                         "How many events to read"));
  inputs.push_back(Input("interval", static_cast<Handler>(&RunFile::setInterval), TARN_FLOAT,
                         "Pause between reads in s"));
  inputs.push_back(Input("file", static_cast<Handler>(&RunFile::setFilename), TARN_STRING,
                         "Filename"));
  inputs.push_back(Input("listfile", static_cast<Handler>(&RunFile::setListfilename), TARN_STRING,
                         "Name of ASCII file containing list of filenames"));
  // After the others, so that their numbers stay as they were.
  inputs.push_back(Input("follow", static_cast<Handler>(&RunFile::setFollow), TARN_BOOL,
                         "Wait for a growing file until its end of run"));
  inputs.push_back(Input("thread", static_cast<Handler>(&RunFile::setThread), TARN_BOOL,
                         "Decode compressed files on a second core (default true)"));
  outputs.push_back(Output("event", TARN_OBJECT, "Midas event"));
  outputs.push_back(Output("bor", TARN_CSTRING, "Begin of run ODB as XML string"));
  outputs.push_back(Output("eor", TARN_CSTRING, "End of run ODB as XML string"));
  std::cout << name << " instantiated" << std::endl;
}

RunFile::~RunFile() { std::cout << name << " deleted" << std::endl; }

void RunFile::setSteps(void* value) {
  if (value) steps = *static_cast<int*>(value);
}

void RunFile::setInterval(void* value) {
  if (value) interval = *static_cast<float*>(value);
}

void RunFile::setFollow(void* value) {
  if (value) reader.SetFollow(*static_cast<bool*>(value));
}

void RunFile::setThread(void* value) {
  if (value) reader.SetDecodeThread(*static_cast<bool*>(value));
}

void RunFile::setFilename(void* value) {
  if (value) anyOpened = openFile(*static_cast<std::string*>(value));  // a file asked for later must open
}

// The name as given, in the data directory, then the other gzip variant of
// both; when none is there, the name (without a final ".gz") with each other
// compressed ending, here and in the data directory.
bool RunFile::openFile(const std::string& fname) {
  bool ok = false;
  for (const std::string& candidate : runFileNames(fname, dataDir))
    if ((ok = reader.Open(candidate.c_str()))) break;
  fileOpen = ok;
  fileReported = false;
  endOfRunSent = false;
  if (ok) growth.watch(reader.GetFilename());
  anyOpened |= ok;
  if (ok)
    std::cout << name << ": RunFile \"" << reader.GetFilename() << "\" opened." << std::endl;
  else
    std::cout << name << ": RunFile: " << fname << " not found." << std::endl;
  return ok;
}

void RunFile::setListfilename(void* value) {
  if (!value) return;
  if (listFile.is_open()) listFile.close();
  listFile.clear();
  const std::string path = dataDir + "/" + *static_cast<std::string*>(value);
  listFile.open(path.c_str());
  if (!listFile.is_open()) {
    std::cout << name << ": Could not open MIDAS list file " << path << std::endl;
    return;
  }
  nextFile();
}

void RunFile::nextFile() {
  fileOpen = false;
  if (!listFile.is_open()) return;
  std::string line;
  while (!fileOpen && std::getline(listFile, line)) {
    if (line.empty() || line[0] == '#') continue;
    openFile(line);
  }
}

// Whole microseconds of the interval. A negative (or NaN) interval does not
// pause; a huge one is held to what usleep's count can carry. The pause is
// slept in slices so that Stop is not kept waiting by a long interval.
void RunFile::pause() const {
  const double us = interval * 1e6;
  if (!(us >= 1.0)) return;
  const double most = 4294967295.0;
  uint64_t left = static_cast<uint64_t>(us < most ? us : most);
  const uint64_t slice = 100000;
  while (left > 0 && running) {
    const uint64_t now = left < slice ? left : slice;
    ::usleep(static_cast<useconds_t>(now));
    left -= now;
  }
}

// Said on stdout, and to a host that records damaged runs: the run ends as
// finished, so nothing else would tell a batch's user of it.
void RunFile::reportDamage(const std::string& what) {
  const std::string message = "RunFile: " + std::string(reader.GetFilename()) + ": " + what;
  std::cout << name << ": " << message << std::endl;
  tellHostTheRunWasDamaged(name, message);
}

// A followed file has no more yet: waits for it to grow. False when the file
// is over instead: its end of run was sent, or it shrank or was replaced
// (said once); Stop leaves the file open, so a later Start goes on with it.
bool RunFile::awaitGrowth() {
  if (endOfRunSent) return false;
  const std::string changed = reader.Changed();
  if (!changed.empty()) {
    reportDamage(changed);
    return false;
  }
  growth.wait();
  return true;
}

void RunFile::Start() {
  std::cout << name << ": Running: Steps = " << steps << ", interval = " << interval << std::endl;
  // The run asked for data and no file or list ever gave any: its results are
  // empty, so the host must not report it as done.
  if (!fileOpen && !anyOpened)
    tellHostTheRunFailed(name, "no run file opened: " + whyNoRunFile(inputs[2].setting, inputs[3].setting,
                                                                     listFile.is_open(), dataDir));
  running = true;
  growth.rearm();
  reader.ClearInterrupt();
  TMidasEvent event;
  int count = 0;
  while ((steps <= 0 || count < steps) && running && fileOpen) {
    if (reader.ReadInPlace(&event)) {
      // Named once read from: a file opened and then replaced by a list's was never the run's.
      if (!fileReported) tellHostTheRunFile(name, reader.GetFilename());
      fileReported = true;
      switch (event.GetEventId()) {
        case 0x8000:
          tellHostTheRunBegan(event.GetSerialNumber());
          SendOutput(1, event.GetData());
          break;
        case 0x8001:
          endOfRunSent = true;
          SendOutput(2, event.GetData());
          break;
        default:
          event.SetBankList();
          SendOutput(0, &event);
          break;
      }
      pause();
    } else if (reader.Interrupted()) {
      continue;  // stopped while the reader waited: the file stays where it was
    } else if (reader.Waiting()) {
      if (!awaitGrowth()) nextFile();
      continue;  // waiting is no step
    } else {
      // A damaged file ends like a finished one, but the user must learn of it.
      if (reader.GetLastErrno() != 0) reportDamage(reader.GetLastError());
      nextFile();
    }
    ++count;
  }
  running = false;
  std::cout << "Stop()" << std::endl;
}

// The wakes come first: once Start sees the flag, the node may be destroyed.
void RunFile::Stop() {
  growth.wake();
  reader.Interrupt();
  running = false;
}

void RunFile::Reset() {
  std::cout << name << ": Reset()" << std::endl;
  std::string list = inputs[3].setting;
  std::string file = inputs[2].setting;
  if (!list.empty())
    setListfilename(&list);
  else if (!file.empty())
    setFilename(&file);
}

TARN_PLUGIN(RunFile)
