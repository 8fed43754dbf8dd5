// The names of a run's HDF5 file, written by Hdf5Writer and read by `tarn
// merge`: one group per property, its columns and attributes, and the file's.
#pragma once

#include <cstddef>

#include "tarn_type.h"

namespace h5layout {

// The file's attributes.
constexpr const char* kEvents = "events";         // events the run held
constexpr const char* kRunNumber = "run_number";  // when the run said it
// A property group's attributes.
constexpr const char* kTarnType = "tarn_type";
constexpr const char* kType = "type";
// A property group's columns: the values, the event of each entry, and the
// offsets that cut lists (offsets) and lists of lists (inner_offsets).
constexpr const char* kValues = "values";
constexpr const char* kEvent = "event";
constexpr const char* kOffsets = "offsets";
constexpr const char* kInnerOffsets = "inner_offsets";

// The bytes one scalar value of type `t` takes in a values column (a bool is
// one byte, as a list of bools is).
inline size_t scalarBytes(tarn_type t) {
  switch (t) {
    case TARN_UINT16: case TARN_SHORT: return 2;
    case TARN_UINT32: case TARN_INT: case TARN_FLOAT: return 4;
    case TARN_DOUBLE: case TARN_UINT64: return 8;
    default: return 1;
  }
}

}  // namespace h5layout
