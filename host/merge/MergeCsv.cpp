// Histogrammer tables of many runs summed bin by bin, and the plot of the sum.
#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>

#include "Histogram.h"
#include "HistogramCsv.h"
#include "Merge.h"
#include "PngText.h"

namespace merge {

namespace {

// What the table's rows stand for; in-range counts sit at their bins' centres,
// since the table keeps no values.
void addTable(hist::Histogram& h, const hist::CsvTable& t) {
  const std::vector<double>& e = t.edges;
  h.fill(-INFINITY, t.underflow);
  for (size_t i = 0; i < t.counts.size(); ++i) {
    double centre = e[i] / 2 + e[i + 1] / 2;
    if (!(centre >= e[i] && centre < e[i + 1])) centre = e[i];  // bins too narrow to hold a midpoint
    h.fill(centre, t.counts[i]);
  }
  h.fill(INFINITY, t.overflow);
  h.fill(NAN, t.nans);
}

// The prefix and property of a table PREFIX_NAME.csv (less ".csv"): the
// property is what follows the first '_' of the file name.
void splitStem(const std::string& stem, std::string& prefix, std::string& property) {
  const size_t slash = stem.rfind('/');
  const size_t underscore = stem.find('_', slash == std::string::npos ? 0 : slash + 1);
  if (underscore == std::string::npos || underscore + 1 == stem.size()) {
    prefix = stem;
    property = stem.substr(slash == std::string::npos ? 0 : slash + 1);
  } else {
    prefix = stem.substr(0, underscore);
    property = stem.substr(underscore + 1);
  }
}

// Whether adding table `t` to `sum` (null: to nothing) keeps every count, and
// the total of all of them, below 2^64.
bool countsFit(const hist::Histogram* sum, const hist::CsvTable& t) {
  uint64_t total = sum ? sum->entries() : 0, bin = 0;
  for (size_t i = 0; i < t.counts.size(); ++i)
    if (__builtin_add_overflow(total, t.counts[i], &total) ||
        (sum && __builtin_add_overflow(sum->counts()[i], t.counts[i], &bin)))
      return false;
  return !__builtin_add_overflow(total, t.underflow, &total) && !__builtin_add_overflow(total, t.overflow, &total) &&
         !__builtin_add_overflow(sum ? sum->nans() : 0, t.nans, &bin);
}

}  // namespace

bool mergeTables(const std::string& target, const std::vector<Source>& sources, std::vector<std::string>& made) {
  bool clean = true;
  hist::CsvTable first;
  const Source* firstSource = nullptr;
  std::unique_ptr<hist::Histogram> sum;
  size_t merged = 0;
  // The axis label of the runs' own plots (the property and its unit).
  std::string axis;
  const Source* axisSource = nullptr;
  for (const Source& s : sources) {
    hist::CsvTable t;
    std::string why;
    if (!hist::readCsv(s.path, t, why)) {
      std::cerr << "tarn merge: " << s.path << ": " << why << "; skipped\n";
      clean = false;
      continue;
    }
    if (firstSource && t.edges != first.edges) {
      std::cerr << "tarn merge: " << firstSource->path << " and " << s.path
                << " have different binnings; nothing written for " << target << "\n";
      return false;
    }
    if (!countsFit(sum.get(), t)) {
      std::cerr << "tarn merge: " << s.path << ": its counts would take the sum past 2^64; skipped\n";
      clean = false;
      continue;
    }
    if (!firstSource) {
      first = t;
      firstSource = &s;
      sum.reset(new hist::Histogram(t.edges));
    }
    addTable(*sum, t);
    ++merged;
    std::string label;
    if (!hist::readPngText(s.path.substr(0, s.path.size() - 4) + ".png", hist::kAxisText, label)) continue;
    if (!axisSource) {
      axis = label;
      axisSource = &s;
    } else if (label != axis) {
      std::cerr << "tarn merge: " << s.path << ": its plot's axis reads '" << label << "', "
                << axisSource->path << "'s '" << axis << "'; the merged plot keeps the latter\n";
    }
  }
  if (!sum) {
    std::cerr << "tarn merge: no table to merge for " << target << "\n";
    return false;
  }

  const std::string stem = target.substr(0, target.size() - 4);  // less ".csv"
  // Both are replaced only when complete; a failure names the final path and its reason.
  std::string error;
  if (!hist::writeCsv(*sum, target, error)) {
    std::cerr << "tarn merge: " << error << "\n";
    return false;
  }
  made.push_back(target);
  std::string prefix, property;
  splitStem(stem, prefix, property);
  const std::string runs = std::to_string(merged) + (merged == 1 ? " run" : " runs");
  if (!hist::writePng(*sum, stem + ".png", prefix + ": " + property + ", sum of " + runs,
                      axisSource ? axis : property, error, {"Sum of  " + runs})) {
    std::cerr << "tarn merge: " << error << "\n";
    return false;
  }
  made.push_back(stem + ".png");
  std::cout << target << ", .png: " << merged << (merged == 1 ? " run, " : " runs, ") << sum->entries() << " entries\n";
  return clean;
}

}  // namespace merge
