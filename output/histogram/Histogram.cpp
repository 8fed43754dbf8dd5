#include "Histogram.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>


namespace hist {

Histogram::Histogram(std::vector<double> edges)
    : binEdges(std::move(edges)), binCounts(binEdges.size() - 1, 0) {}

void Histogram::fill(double x, uint64_t times) {
  if (times == 0) return;
  if (std::isnan(x)) {
    notANumber += times;
  } else if (x < binEdges.front()) {
    below += times;
  } else if (x >= binEdges.back()) {
    above += times;
  } else {
    // The bin whose [low, high) holds x, so an edge value counts in the bin it opens.
    const size_t bin = size_t(std::upper_bound(binEdges.begin(), binEdges.end(), x) - binEdges.begin()) - 1;
    binCounts[bin] += times;
    inRange += times;
    // Welford's update for `times` equal values; for one value exactly the single-value step.
    const double n = double(times);
    const double delta = x - runningMean;
    runningMean += delta * n / double(inRange);
    sumSquares += delta * (x - runningMean) * n;
  }
}

double Histogram::rms() const { return inRange ? std::sqrt(sumSquares / double(inRange)) : 0.0; }

std::vector<double> uniformEdges(int bins, double a, double b) {
  if (bins < 1 || bins > kMaxBins || !std::isfinite(a) || !std::isfinite(b) || a == b) return {};
  // Unpackers give their upper end first (e.g. 128, 0): the range is the same either way.
  const double low = std::min(a, b), high = std::max(a, b);
  std::vector<double> edges(size_t(bins) + 1);
  for (int i = 0; i < bins; ++i) edges[size_t(i)] = low + (high - low) * i / bins;
  edges.back() = high;  // exact, whatever the rounding of the steps
  // Ranges too narrow for the bins at double precision give repeated edges.
  if (std::adjacent_find(edges.begin(), edges.end(), std::greater_equal<double>()) != edges.end()) return {};
  return edges;
}

std::vector<double> edgesOf(const StrandBinning& binning) {
  if (binning.edges.size() >= 2) {
    std::vector<double> edges;
    for (double e : binning.edges)
      if (std::isfinite(e)) edges.push_back(e);
    std::sort(edges.begin(), edges.end());
    edges.erase(std::unique(edges.begin(), edges.end()), edges.end());
    if (edges.size() >= 2 && edges.size() <= size_t(kMaxBins) + 1) return edges;
    return {};
  }
  return uniformEdges(binning.bins, binning.min, binning.max);
}

namespace {

// The smallest of 1, 2 and 5 times a power of ten that is at least x (> 0).
double roundWidth(double x) {
  const double decade = std::pow(10.0, std::floor(std::log10(x)));
  for (double m : {1.0, 2.0, 5.0, 10.0})
    if (m * decade >= x * (1 - 1e-12)) return m * decade;
  return 10 * decade;
}

}  // namespace

std::vector<double> automaticEdges(const std::vector<double>& sample, bool integral) {
  double lo = 0, hi = 0;
  bool any = false;
  for (double x : sample) {
    if (!std::isfinite(x)) continue;
    lo = any ? std::min(lo, x) : x;
    hi = any ? std::max(hi, x) : x;
    any = true;
  }
  const double span = hi - lo;
  double width = roundWidth(span > 0 ? span / 100 : 0.01 * std::max(1.0, std::fabs(lo)));
  if (integral) width = std::max(1.0, std::round(width));
  const double start = std::floor(lo / width) * width;
  int bins = int(std::floor((hi - start) / width)) + 1;
  while (start + bins * width <= hi) ++bins;  // the largest value inside, whatever the rounding
  std::vector<double> edges(size_t(bins) + 1);
  for (int i = 0; i <= bins; ++i) edges[size_t(i)] = start + i * width;
  return edges;
}

bool parseOverride(const std::string& text, std::string& name, std::vector<double>& edges) {
  // NAME may itself hold colons: the three numbers are the last three fields.
  size_t c3 = text.rfind(':');
  size_t c2 = c3 == std::string::npos || c3 == 0 ? std::string::npos : text.rfind(':', c3 - 1);
  size_t c1 = c2 == std::string::npos || c2 == 0 ? std::string::npos : text.rfind(':', c2 - 1);
  if (c1 == std::string::npos || c1 == 0) return false;
  auto field = [&](size_t from, size_t to, double& v) {
    const std::string f = text.substr(from, to - from);
    if (f.empty()) return false;
    char* end = nullptr;
    v = std::strtod(f.c_str(), &end);
    return *end == '\0';
  };
  double bins = 0, low = 0, high = 0;
  if (!field(c1 + 1, c2, bins) || !field(c2 + 1, c3, low) || !field(c3 + 1, text.size(), high)) return false;
  if (bins != std::floor(bins) || bins < 1 || bins > kMaxBins) return false;
  edges = uniformEdges(int(bins), low, high);
  name = text.substr(0, c1);
  return !edges.empty();
}

std::string number(double x) {
  if (std::isnan(x)) return "nan";
  if (std::isinf(x)) return x < 0 ? "-inf" : "inf";
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, x);
  return std::string(buffer, result.ptr);
}

}  // namespace hist
