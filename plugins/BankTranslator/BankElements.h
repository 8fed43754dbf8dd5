// Reading bank elements as they lie in the event. Bank data sit at any
// alignment (32-bit bank headers are 12 bytes, so a DOUBLE bank's data are
// only 4-byte aligned), so every element is copied out, never dereferenced.
#pragma once

#include <cstddef>
#include <cstring>

template <class T>
inline T bankElement(const char* data, size_t index) {
  T v;
  std::memcpy(&v, data + sizeof(T) * index, sizeof v);
  return v;
}
