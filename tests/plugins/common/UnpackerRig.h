// What the module unpacker tests share: events built by the synthesiser whose
// data end at a page no one may touch (a read past a bank at the end of the
// event crashes the test), a node that keeps a copy of every strand event
// that reaches it, and an unpacker loaded as the host loads it, wired to one.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "MidasSynth.h"
#include "StrandEvent.h"
#include "TMidasEvent.h"
#include "TarnBase.h"
#include "TarnTest.h"

namespace unpacktest {

class GuardedEvent {
 public:
  // `swapped`: the data area in the other byte order, as a big-endian
  // acquisition writes it; the event record turns it round.
  explicit GuardedEvent(const synth::Event& e, bool swapped = false) {
    const std::vector<uint8_t> area = synth::encodeDataArea(e, swapped);
    const size_t page = size_t(::sysconf(_SC_PAGESIZE));
    length = (area.size() / page + 2) * page;
    base = static_cast<char*>(
        ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ::mprotect(base + length - page, page, PROT_NONE);
    char* start = base + length - page - area.size();
    std::memcpy(start, area.data(), area.size());
    MidasEventHeader* h = event.GetEventHeader();
    h->fEventId = e.id;
    h->fTriggerMask = e.triggerMask;
    h->fSerialNumber = e.serial;
    h->fTimeStamp = e.timeStamp;
    event.SetData(unsigned(area.size()), start);
  }
  ~GuardedEvent() {
    event.Clear();
    ::munmap(base, length);
  }
  GuardedEvent(const GuardedEvent&) = delete;
  GuardedEvent& operator=(const GuardedEvent&) = delete;

  TMidasEvent event;

 private:
  size_t length;
  char* base;
};

inline synth::Event eventOf(std::vector<synth::Bank> banks, bool bank32 = false) {
  synth::Event e;
  e.bank32 = bank32;
  e.banks = std::move(banks);
  return e;
}

// One strand event as it was when it arrived: lists of types 20 and 21 and
// scalars of types 6 and 7, by property name.
struct Arrival {
  StrandEvent* event;
  std::map<std::string, std::vector<long>> lists;
  std::map<std::string, long> scalars;
};

// Reads a strand event's lists and scalars now, through its properties.
inline Arrival look(StrandEvent* event) {
  Arrival a{event, {}, {}};
  for (const auto& p : *event) {
    const StrandProperty& prop = p.second;
    if (!prop.value) continue;
    switch (prop.type) {
      case TARN_SHORT_V: {
        const auto& l = *static_cast<const std::vector<short>*>(prop.value);
        a.lists[p.first].assign(l.begin(), l.end());
        break;
      }
      case TARN_INT_V: {
        const auto& l = *static_cast<const std::vector<int>*>(prop.value);
        a.lists[p.first].assign(l.begin(), l.end());
        break;
      }
      case TARN_UINT32: a.scalars[p.first] = *static_cast<const uint32_t*>(prop.value); break;
      case TARN_INT: a.scalars[p.first] = *static_cast<const int32_t*>(prop.value); break;
      default: break;
    }
  }
  return a;
}

class Catcher : public TarnBase {
 public:
  Catcher() : TarnBase(nullptr, "catcher") {
    inputs.push_back(Input("fevent", static_cast<Handler>(&Catcher::onEvent), TARN_STRANDEVENT,
                           "decoded event"));
  }
  void onEvent(void* v) { got.push_back(look(static_cast<StrandEvent*>(v))); }
  std::vector<Arrival> got;
};

// An unpacker of `type` reading bank `bank`, initialised as the host does,
// sending to `catcher`.
class Rig {
 public:
  Rig(const std::string& type, const std::string& bank, const std::string& name = "unpack")
      : node(type, name) {
    node->AddReceiver(0, &catcher, 0);
    node->Init();
    std::string b = bank;
    node->SetInput(2, &b);
  }
  // Decodes one event; true when the unpacker sent something for it.
  bool feed(const synth::Event& e, bool swapped = false) {
    GuardedEvent g(e, swapped);
    const size_t before = catcher.got.size();
    node->SetInput(1, &g.event);
    return catcher.got.size() > before;
  }
  const Arrival& last() const { return catcher.got.back(); }

  Catcher catcher;  // destroyed after the node that sends to it
  tarntest::Node node;
};

}  // namespace unpacktest
