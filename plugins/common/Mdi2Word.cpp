#include "Mdi2Word.h"

#include <cstdint>
#include <iostream>
#include <limits>

namespace mdi2 {

void appendAdcDatum(uint32_t w, AdcLists lists) {
  const uint32_t sample = sampleNumber(w);
  lists.samples.push_back(static_cast<short>(sample));
  lists.buses.push_back(static_cast<short>(bus(w)));
  if (!outOfRange(w)) {
    lists.values.push_back(static_cast<short>(value(w)));
    return;
  }
  lists.values.push_back(-1);
  if (lists.overflows.size() <= sample) lists.overflows.resize(sample + 1, 0);
  if (lists.overflows[sample] < std::numeric_limits<short>::max()) ++lists.overflows[sample];
}

void reportBufferOverflow(const std::string& instance, uint32_t header) {
  if (!bufferOverflow(header)) return;
  // A new line, not a flush: into a file or a pipe, a flush per header would
  // be a system call for every event that has one.
  std::cout << instance << ": HEADER: Mod " << static_cast<int16_t>(module(header)) << ", "
            << static_cast<int16_t>(entries(header)) << " entries: BUFFER OVERFLOW!\n";
}

}  // namespace mdi2
