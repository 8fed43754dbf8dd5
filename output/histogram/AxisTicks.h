// Major ticks of a plot's x axis and their labels, with as many digits as
// the tick step needs: over a narrow range far from zero (1000.0 to 1000.5)
// every label still reads differently.
#pragma once

#include <string>
#include <vector>

namespace hist {

struct AxisTicks {
  double step = 0;  // 1, 2 or 5 times a power of ten
  int decimals = 0;  // in fixed notation
  int significant = 0;  // in scientific notation; 0: fixed

  std::string label(double x) const;
};

// About five to ten ticks between `low` and `high` (low < high, both finite).
AxisTicks axisTicks(double low, double high);

// The ticks' values within [low, high], each a multiple of the step.
std::vector<double> tickValues(const AxisTicks& ticks, double low, double high);

}  // namespace hist
