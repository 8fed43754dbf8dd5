// Which run the sources are reading, for the host's sinks to record with their
// results. A source that must also load in other hosts reports through the C
// calls, looked up at run time; in other hosts it goes without.
#pragma once

#include <string>
#include <vector>

extern "C" {
// A source node began to read a run file (its path as opened).
__attribute__((visibility("default"))) void tarn_source_file(const char* node, const char* path);
// A begin-of-run event was read: its serial number is the run number.
__attribute__((visibility("default"))) void tarn_run_began(unsigned run);
}

struct CurrentRun {
  long long number = -1;           // of the last begin of run; -1 before any
  std::vector<std::string> files;  // every run file opened, in order
};

// What was reported since the process began.
CurrentRun currentRun();

// The file the node named last, or "" when it named none (the runner's
// progress line and the live page show it).
__attribute__((visibility("default"))) std::string sourceFile(const std::string& node);
