// Test helpers: hand-built data areas, a buffer that ends at an unmapped page
// (any read past the data area crashes the test), and a node that records
// what reaches it.
#pragma once

#include <dirent.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "TMidasEvent.h"
#include "TarnBase.h"

namespace midastest {

using Bytes = std::vector<uint8_t>;

inline void put(Bytes& b, uint64_t v, int n) {
  for (int i = 0; i < n; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
inline void set32(Bytes& b, size_t at, uint32_t v) { std::memcpy(&b[at], &v, 4); }
inline Bytes words(std::vector<uint16_t> v) {
  Bytes b;
  for (uint16_t x : v) put(b, x, 2);
  return b;
}

struct RawBank {
  std::string name;
  uint32_t type;
  Bytes data;
};

// Bank area header, then each bank's header and its data padded to 8 bytes.
inline Bytes dataArea(const std::vector<RawBank>& banks, bool bank32 = false) {
  Bytes b;
  put(b, 0, 4);
  put(b, bank32 ? 0x11 : 0x01, 4);
  for (const RawBank& k : banks) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(i < int(k.name.size()) ? k.name[i] : 0));
    put(b, k.type, bank32 ? 4 : 2);
    put(b, k.data.size(), bank32 ? 4 : 2);
    b.insert(b.end(), k.data.begin(), k.data.end());
    b.insert(b.end(), (8 - k.data.size() % 8) % 8, 0);
  }
  set32(b, 0, uint32_t(b.size() - 8));
  return b;
}

// The run-file decoders' threads of this process, by the name they carry.
inline int decoderThreads() {
  int n = 0;
  DIR* d = ::opendir("/proc/self/task");
  while (dirent* e = ::readdir(d)) {
    std::string name;
    if (e->d_name[0] != '.' && std::getline(std::ifstream(std::string("/proc/self/task/") + e->d_name + "/comm"), name))
      n += name == "tarn-decode";
  }
  ::closedir(d);
  return n;
}

// An event of id `id` whose (not owned) data area ends just before a page no one may touch.
class GuardedEvent {
 public:
  explicit GuardedEvent(const Bytes& area, uint16_t id = 1) {
    const size_t page = size_t(::sysconf(_SC_PAGESIZE));
    length = (area.size() / page + 2) * page;
    base = static_cast<char*>(
        ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ::mprotect(base + length - page, page, PROT_NONE);
    start = base + length - page - area.size();
    std::memcpy(start, area.data(), area.size());
    event.GetEventHeader()->fEventId = id;
    event.SetData(unsigned(area.size()), start);
  }
  ~GuardedEvent() {
    event.Clear();
    ::munmap(base, length);
  }
  char* data() const { return start; }
  TMidasEvent event;

 private:
  size_t length;
  char* base;
  char* start;
};

// An owning event holding a copy of `area`.
inline void fill(TMidasEvent& e, const Bytes& area, uint16_t id = 1) {
  e.Clear();
  e.GetEventHeader()->fEventId = id;
  e.GetEventHeader()->fDataSize = uint32_t(area.size());
  std::memcpy(e.GetData(), area.data(), area.size());
}

// Records, in order, what reaches it: inputs 0..objects-1 take MIDAS events
// (a copy is kept), the following `texts` inputs take C text.
class Collector : public TarnBase {
 public:
  struct Arrival {
    int input;
    const void* pointer;
    std::string text;
    TMidasEvent event;
    bool hadBankList;
  };
  explicit Collector(int objects = 1, int texts = 2) : TarnBase(nullptr, "collector") {
    for (int i = 0; i < objects + texts; ++i)
      inputs.push_back(Input("in" + std::to_string(i),
                             static_cast<Handler>(i < objects ? &Collector::onEvent : &Collector::onText),
                             i < objects ? TARN_OBJECT : TARN_CSTRING, ""));
  }
  void onEvent(void* v) {
    const TMidasEvent* e = static_cast<const TMidasEvent*>(v);
    got.push_back({currentInput, v, "", *e, e->GetBankList() != nullptr});
  }
  void onText(void* v) { got.push_back({currentInput, v, static_cast<const char*>(v), {}, false}); }
  std::vector<int> inputsSeen() const {
    std::vector<int> s;
    for (const Arrival& a : got) s.push_back(a.input);
    return s;
  }
  std::vector<uint32_t> serials() const {
    std::vector<uint32_t> s;
    for (const Arrival& a : got)
      if (a.input == 0) s.push_back(a.event.GetSerialNumber());
    return s;
  }
  std::vector<Arrival> got;
};

}  // namespace midastest
