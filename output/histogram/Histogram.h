// A 1-D histogram with bins [low, high), underflow and overflow, and the
// choice of its edges: an override, the property's binning, or a range found
// from the first values.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "StrandEvent.h"

namespace hist {

class Histogram {
 public:
  // `edges` strictly increasing, at least two.
  explicit Histogram(std::vector<double> edges);

  void fill(double x) { fill(x, 1); }
  // The value x, `times` times over (a bin of another histogram added to this one).
  void fill(double x, uint64_t times);

  const std::vector<double>& edges() const { return binEdges; }
  const std::vector<uint64_t>& counts() const { return binCounts; }
  uint64_t underflow() const { return below; }
  uint64_t overflow() const { return above; }
  uint64_t nans() const { return notANumber; }
  // Every value but NaN, under- and overflow included.
  uint64_t entries() const { return below + above + inRange; }
  // Of the values inside the range.
  double mean() const { return inRange ? runningMean : 0.0; }
  double rms() const;

 private:
  std::vector<double> binEdges;
  std::vector<uint64_t> binCounts;
  uint64_t below = 0, above = 0, notANumber = 0, inRange = 0;
  double runningMean = 0, sumSquares = 0;  // Welford: no loss on large offsets
};

// `bins` equal bins from the smaller of the two ends to the larger; empty when
// they are equal, not finite, or bins is not in 1..kMaxBins.
std::vector<double> uniformEdges(int bins, double a, double b);
constexpr int kMaxBins = 1 << 20;

// The edges a strand binning stands for: its edge list (sorted), or its bins
// between min and max in either order; empty when it gives none.
std::vector<double> edgesOf(const StrandBinning& binning);

// A range that holds every finite value of `sample`, in at most about 100 bins
// of a round width (1, 2 or 5 times a power of ten; whole numbers at least 1
// when `integral`), starting at a multiple of the width.
std::vector<double> automaticEdges(const std::vector<double>& sample, bool integral);

// One "NAME:BINS:LOW:HIGH" override; false when it does not parse or gives no edges.
bool parseOverride(const std::string& text, std::string& name, std::vector<double>& edges);

// The shortest text that reads back as the same double ("-inf", "inf", "nan" included).
std::string number(double x);

// Draws the histogram as a PNG through PLplot's cairo device, replacing the
// file only when complete; `notes` are further lines of its legend. The x label
// is kept in the file too (kAxisText). False (with `error` set) when the device
// is missing or the file was not written.
bool writePng(const Histogram& h, const std::string& path, const std::string& title,
              const std::string& xLabel, std::string& error, const std::vector<std::string>& notes = {});
constexpr const char* kAxisText = "X axis";

}  // namespace hist
