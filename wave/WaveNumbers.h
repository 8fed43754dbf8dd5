// Conversions of floating results to integers that stay defined for every
// input: truncation toward zero, saturating at the ends of the range, NaN 0.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace wavenum {

template <typename Int>
Int truncTo(double value) {
  if (std::isnan(value)) return 0;
  // Both ends are powers of two, so exactly representable as double.
  const double low = static_cast<double>(std::numeric_limits<Int>::min());
  const double high = -low;
  if (value <= low) return std::numeric_limits<Int>::min();
  if (value >= high) return std::numeric_limits<Int>::max();
  return static_cast<Int>(value);
}

inline int32_t truncToInt32(double value) {
  return truncTo<int32_t>(value);
}
inline int64_t truncToInt64(double value) {
  return truncTo<int64_t>(value);
}

}  // namespace wavenum
