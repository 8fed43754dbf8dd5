#include "AxisTicks.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace hist {

std::string AxisTicks::label(double x) const {
  if (std::fabs(x) < step * 1e-9) x = 0;  // no "-0" from rounding
  char text[64];
  if (significant > 0)
    std::snprintf(text, sizeof text, "%.*e", significant - 1, x);
  else
    std::snprintf(text, sizeof text, "%.*f", decimals, x);
  return text;
}

namespace {

// Characters of labels, with the gaps between them, that the plot's width holds.
constexpr size_t kRoom = 52;

// The ticks of one step, labelled with the digits that step needs.
AxisTicks withStep(double step, double low, double high) {
  AxisTicks t;
  t.step = step;
  const int stepDigit = int(std::floor(std::log10(step) + 1e-9));
  t.decimals = stepDigit < 0 ? -stepDigit : 0;
  // Plain digits up to ten thousand million; beyond, or for tiny numbers, a
  // mantissa long enough to reach the step's digit.
  const double largest = std::fmax(std::fabs(low), std::fabs(high));
  const int leading = int(std::floor(std::log10(largest)));
  if (largest >= 1e10 || largest < 1e-4) t.significant = leading - stepDigit + 1;
  return t;
}

}  // namespace

AxisTicks axisTicks(double low, double high) {
  const double rough = (high - low) / 6;
  double decade = std::pow(10.0, std::floor(std::log10(rough)));
  size_t m = 0;
  const double multiples[] = {1.0, 2.0, 5.0};
  while (multiples[m] * decade < rough * (1 - 1e-12))
    if (++m == 3) m = 0, decade *= 10;
  // Wider steps while long labels would run into each other.
  for (;;) {
    const AxisTicks t = withStep(multiples[m] * decade, low, high);
    const std::vector<double> values = tickValues(t, low, high);
    size_t longest = 0;
    for (double v : values) longest = std::max(longest, t.label(v).size());
    if (values.size() <= 2 || values.size() * (longest + 2) <= kRoom) return t;
    if (++m == 3) m = 0, decade *= 10;
  }
}

std::vector<double> tickValues(const AxisTicks& ticks, double low, double high) {
  std::vector<double> values;
  const double slack = ticks.step * 1e-9;
  for (double k = std::ceil((low - slack) / ticks.step); k * ticks.step <= high + slack; ++k)
    values.push_back(k * ticks.step);
  return values;
}

}  // namespace hist
