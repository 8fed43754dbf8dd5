#include "HistogramCsv.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "AtomicFile.h"

namespace hist {

bool writeCsv(const Histogram& h, const std::string& path, std::string& error) {
  AtomicFile file(path);
  std::FILE* out = file.open() ? file.stream() : nullptr;
  if (out) {
    const std::vector<double>& e = h.edges();
    std::fputs("low,high,count\n", out);
    std::fprintf(out, "-inf,%s,%llu\n", number(e.front()).c_str(), (unsigned long long)h.underflow());
    for (size_t i = 0; i < h.counts().size() && !std::ferror(out); ++i)
      std::fprintf(out, "%s,%s,%llu\n", number(e[i]).c_str(), number(e[i + 1]).c_str(),
                   (unsigned long long)h.counts()[i]);
    std::fprintf(out, "%s,inf,%llu\n", number(e.back()).c_str(), (unsigned long long)h.overflow());
    if (h.nans()) std::fprintf(out, "nan,nan,%llu\n", (unsigned long long)h.nans());
  }
  if (file.commit()) return true;
  error = "cannot write " + file.error();
  return false;
}

namespace {


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

}  // namespace

bool readCsv(const std::string& path, CsvTable& t, std::string& why) {
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

}  // namespace hist
