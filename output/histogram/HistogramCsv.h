// A histogram's table of rows "low,high,count", written by the Histogrammer
// and read back by `tarn merge`, which sums the tables of many runs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Histogram.h"

namespace hist {

// Writes "low,high,count" rows: "-inf,LOW" underflow, the bins, "HIGH,inf"
// overflow, and "nan,nan" when NaN values came. The file is replaced only when
// complete; false with `error` ("cannot write PATH: reason") when it was not written.
bool writeCsv(const Histogram& h, const std::string& path, std::string& error);

// A table as the Histogrammer writes it: "low,high,count", the underflow row
// "-inf,LOW", the bins, the overflow row "HIGH,inf", and "nan,nan" when NaN came.
struct CsvTable {
  std::vector<double> edges;
  std::vector<uint64_t> counts;
  uint64_t underflow = 0, overflow = 0, nans = 0;
};
// Reads `path` as such a table; false with `why` when it is none or was cut short.
bool readCsv(const std::string& path, CsvTable& t, std::string& why);

}  // namespace hist
