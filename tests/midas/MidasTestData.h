// Hand-built data areas for the MIDAS record tests, and a buffer whose end
// touches an unmapped page so that any read past a data area crashes the test.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "TMidasEvent.h"

namespace midastest {

using Bytes = std::vector<uint8_t>;

inline void put16(Bytes& b, uint16_t v) {
  b.push_back(uint8_t(v));
  b.push_back(uint8_t(v >> 8));
}
inline void put32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
inline void set32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}

struct RawBank {
  std::string name;
  uint32_t type;
  Bytes data;
};

// Bank area header, then each bank's header and its data padded to 8 bytes.
inline Bytes dataArea(const std::vector<RawBank>& banks, bool bank32 = false) {
  Bytes b;
  put32(b, 0);
  put32(b, bank32 ? 0x11 : 0x01);
  for (const RawBank& k : banks) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(i < int(k.name.size()) ? k.name[i] : 0));
    if (bank32) {
      put32(b, k.type);
      put32(b, uint32_t(k.data.size()));
    } else {
      put16(b, uint16_t(k.type));
      put16(b, uint16_t(k.data.size()));
    }
    // The data, not the bank, is padded to 8 bytes.
    b.insert(b.end(), k.data.begin(), k.data.end());
    b.insert(b.end(), (8 - k.data.size() % 8) % 8, 0);
  }
  set32(b, 0, uint32_t(b.size() - 8));
  return b;
}

inline Bytes words(std::initializer_list<uint16_t> v) {
  Bytes b;
  for (uint16_t x : v) put16(b, x);
  return b;
}
inline Bytes dwords(std::initializer_list<uint32_t> v) {
  Bytes b;
  for (uint32_t x : v) put32(b, x);
  return b;
}
template <class T>
Bytes raw(const std::vector<T>& v) {
  Bytes b(v.size() * sizeof(T));
  if (!b.empty()) std::memcpy(b.data(), v.data(), b.size());
  return b;
}

// Holds bytes so that the last one sits just before a page no one may touch.
class Guarded {
 public:
  explicit Guarded(const Bytes& bytes) {
    const size_t page = size_t(::sysconf(_SC_PAGESIZE));
    pages = (bytes.size() + page - 1) / page + 1;
    length = pages * page;
    void* m = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    base = static_cast<char*>(m);
    ::mprotect(base + length - page, page, PROT_NONE);
    start = base + length - page - bytes.size();
    if (!bytes.empty()) std::memcpy(start, bytes.data(), bytes.size());
  }
  ~Guarded() { ::munmap(base, length); }
  Guarded(const Guarded&) = delete;
  Guarded& operator=(const Guarded&) = delete;
  char* data() const { return start; }

 private:
  size_t pages, length;
  char* base;
  char* start;
};

// An event of id `id` using `area` (not owned) through SetData.
struct GuardedEvent {
  GuardedEvent(const Bytes& area, uint16_t id = 1) : buffer(area) {
    event.GetEventHeader()->fEventId = id;
    event.SetData(unsigned(area.size()), buffer.data());
  }
  Guarded buffer;
  TMidasEvent event;
};

// An owning event holding a copy of `area`.
inline void fill(TMidasEvent& e, const Bytes& area, uint16_t id = 1) {
  e.Clear();
  e.GetEventHeader()->fEventId = id;
  e.GetEventHeader()->fDataSize = uint32_t(area.size());
  std::memcpy(e.GetData(), area.data(), area.size());
}

}  // namespace midastest
