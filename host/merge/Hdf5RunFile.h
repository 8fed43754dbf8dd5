// One run's Hdf5Writer file, checked as a whole before anything of it is
// joined: its event count, run number and the layout of each property's group.
#pragma once

#include <hdf5.h>

#include <cstdint>
#include <map>
#include <string>

#include "Merge.h"

namespace merge {

// One property's group in one run's file, as far as the join needs it.
struct Part {
  int64_t tarnType = 0;
  std::string typeLabel;
  int depth = 0;  // 0 one value an entry, 1 a list, 2 a list of lists
  long long entries = 0, values = 0, inner = 0;  // lengths of event, values, inner_offsets less one
};

// One run's file, checked as a whole before anything of it is joined.
struct RunFile {
  const Source* source = nullptr;
  int64_t events = 0;
  int64_t number = -1;  // the run number its writer recorded, else its name's
  std::map<std::string, Part> parts;
};

// False with `why` when the file is not laid out as Hdf5Writer lays out a run.
bool readRunFile(const Source& s, RunFile& f, std::string& why);

}  // namespace merge
