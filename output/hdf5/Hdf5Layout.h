// The names of a run's HDF5 file, written by Hdf5Writer and read by `tarn
// merge`: one group per property, its columns and attributes, and the file's.
#pragma once

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

}  // namespace h5layout
