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
#include "Merge.h"
#include "PngText.h"

namespace merge {

namespace {

// A table as the Histogrammer writes it: "low,high,count", the underflow row
// "-inf,LOW", the bins, the overflow row "HIGH,inf", and "nan,nan" when NaN came.
struct Table {
  std::vector<double> edges;
  std::vector<uint64_t> counts;
  uint64_t underflow = 0, overflow = 0, nans = 0;
};

bool parseNumber(const std::string& text, double& x) {
  if (text.empty()) return false;
  char* end = nullptr;
  x = std::strtod(text.c_str(), &end);
  return *end == '\0';
}

bool parseCount(const std::string& text, uint64_t& n) {
  const char* end = text.data() + text.size();
  const auto r = std::from_chars(text.data(), end, n);
  return !text.empty() && r.ec == std::errc() && r.ptr == end;
}

// One "low,high,count" row; false when it has not exactly those three fields.
bool parseRow(const std::string& line, double& low, double& high, uint64_t& count) {
  const size_t a = line.find(',');
  const size_t b = a == std::string::npos ? a : line.find(',', a + 1);
  if (b == std::string::npos || line.find(',', b + 1) != std::string::npos) return false;
  return parseNumber(line.substr(0, a), low) && parseNumber(line.substr(a + 1, b - a - 1), high) &&
         parseCount(line.substr(b + 1), count);
}

// Reads `path` as a Histogrammer table; false with `why` when it is none or was cut short.
bool readTable(const std::string& path, Table& t, std::string& why) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    why = std::strerror(errno);
    return false;
  }
  std::stringstream buffer;
  buffer << in.rdbuf();
  const std::string text = buffer.str();
  if (text.empty() || text.back() != '\n') {
    why = "does not end with a complete line (cut short?)";
    return false;
  }
  std::vector<std::string> lines;
  for (size_t start = 0; start < text.size();) {
    const size_t end = text.find('\n', start);
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  if (lines[0] != "low,high,count") {
    why = "no 'low,high,count' header: not a Histogrammer table";
    return false;
  }
  size_t row = 1;
  double low = 0, high = 0;
  uint64_t count = 0;
  auto bad = [&](const char* what) {
    why = "line " + std::to_string(row + 1) + ": " + what;
    return false;
  };
  if (row >= lines.size() || !parseRow(lines[row], low, high, count) || low != -INFINITY || !std::isfinite(high))
    return bad("not the underflow row -inf,LOW,COUNT");
  t.underflow = count;
  t.edges.push_back(high);
  for (++row; row < lines.size(); ++row) {
    if (!parseRow(lines[row], low, high, count)) return bad("not a row LOW,HIGH,COUNT");
    if (low != t.edges.back()) return bad("does not start where the row before ends");
    if (high == INFINITY) break;
    if (!(high > low) || !std::isfinite(high)) return bad("not a bin of increasing edges");
    t.edges.push_back(high);
    t.counts.push_back(count);
  }
  if (row >= lines.size()) {
    why = "no overflow row HIGH,inf,COUNT (cut short?)";
    return false;
  }
  if (t.counts.empty()) return bad("the table has no bins");
  t.overflow = count;
  if (++row < lines.size()) {
    if (!parseRow(lines[row], low, high, count) || !std::isnan(low) || !std::isnan(high))
      return bad("after the overflow row only a row nan,nan,COUNT may follow");
    t.nans = count;
    ++row;
  }
  if (row < lines.size()) return bad("rows after the end of the table");
  return true;
}

// What the table's rows stand for; in-range counts sit at their bins' centres,
// since the table keeps no values.
void addTable(hist::Histogram& h, const Table& t) {
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

}  // namespace

bool mergeTables(const std::string& target, const std::vector<Source>& sources) {
  bool clean = true;
  Table first;
  const Source* firstSource = nullptr;
  std::unique_ptr<hist::Histogram> sum;
  size_t merged = 0;
  // The axis label of the runs' own plots (the property and its unit).
  std::string axis;
  const Source* axisSource = nullptr;
  for (const Source& s : sources) {
    Table t;
    std::string why;
    if (!readTable(s.path, t, why)) {
      std::cerr << "tarn merge: " << s.path << ": " << why << "; skipped\n";
      clean = false;
      continue;
    }
    if (!firstSource) {
      first = t;
      firstSource = &s;
      sum.reset(new hist::Histogram(t.edges));
    } else if (t.edges != first.edges) {
      std::cerr << "tarn merge: " << firstSource->path << " and " << s.path
                << " have different binnings; nothing written for " << target << "\n";
      return false;
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
  std::string prefix, property;
  splitStem(stem, prefix, property);
  const std::string runs = std::to_string(merged) + (merged == 1 ? " run" : " runs");
  if (!hist::writePng(*sum, stem + ".png", prefix + ": " + property + ", sum of " + runs,
                      axisSource ? axis : property, error, {"Sum of  " + runs})) {
    std::cerr << "tarn merge: " << error << "\n";
    return false;
  }
  std::cout << target << ", .png: " << merged << (merged == 1 ? " run, " : " runs, ") << sum->entries() << " entries\n";
  return clean;
}

}  // namespace merge
