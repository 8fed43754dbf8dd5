// Reading 32-bit words from a bank as it lies in the event: bank data need not
// be 4-byte aligned (32-bit bank headers are 12 bytes), so words are copied.
#pragma once

#include <cstdint>
#include <cstring>

inline uint32_t bankWord(const void* data, int index) {
  uint32_t w;
  std::memcpy(&w, static_cast<const char*>(data) + 4 * static_cast<size_t>(index), sizeof w);
  return w;
}
