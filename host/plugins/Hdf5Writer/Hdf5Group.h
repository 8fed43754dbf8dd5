// One property's group of a run's HDF5 file: how its type is laid out, its
// columns, and the appending of one entry.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Hdf5Column.h"
#include "StrandEvent.h"

namespace h5group {

// How a type is laid out: its element type in HDF5 (-1: not written) and its depth.
struct Layout {
  hid_t element;
  int depth;  // 0 one value, 1 a list, 2 a list of lists
};

// `unsignedElements`: a signed list type that holds unsigned elements.
Layout layoutOf(tarn_type t, hid_t boolean, bool unsignedElements);
std::string typeLabel(tarn_type t, bool unsignedElements);
// HDF5 paths split at '/', and "." names the group itself.
std::string groupName(const std::string& property);

struct Group {
  tarn_type type = TARN_NONE;
  bool stopped = false;
  int depth = 0;
  h5out::Handle id{-1};
  h5out::Column values, offsets, innerOffsets, event;
  int64_t valueCount = 0, innerCount = 0;
  std::vector<unsigned char> bits;  // a vector<bool> as one byte per element
};

// Appends the value `v` of the group's type as the entry of `event`; false with `error`.
bool append(Group& g, const void* v, int64_t event, std::string& error);

}  // namespace h5group
