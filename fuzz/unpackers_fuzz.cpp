// Any bytes as an event's data area, fed to every unpacker module through the
// loader as the host does: decoding must stay inside the banks.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "FuzzTarget.h"
#include "Graph.h"
#include "MidasSynth.h"
#include "ModuleBanks.h"
#include "TMidasEvent.h"
#include "TarnBase.h"

namespace {

struct Unpackers {
  ModuleLoader loader;
  Graph graph{loader};
  std::vector<TarnBase*> inputs;  // nodes with an "event" or "mevent" input
  Unpackers() {
    std::string error;
    const char* kinds[][2] = {{"V1190Unpacker", "TDC0"}, {"V785Unpacker", "ADC0"},
                              {"Io32Unpacker", "IO32"},  {"Mdi2Unpacker", "MADC"},
                              {"CompositeUnpacker", ""}, {"Sis3320Unpacker", ""},
                              {"BankTranslator", ""}};
    for (auto& k : kinds) {
      if (!graph.addNode(k[0], k[0], error)) {
        std::fprintf(stderr, "unpackers_fuzz: %s\n", error.c_str());
        std::abort();  // a fuzz run without the modules would test nothing
      }
      if (*k[1]) graph.set(k[0], "bank", k[1], error);
      inputs.push_back(graph.node(k[0]));
    }
    graph.set("BankTranslator", "banks", "WRDS DBLS PAD5 TEXT TDC0 FLAG", error);
    for (const char* b : {"WRDS", "DBLS", "PAD5", "TEXT", "TDC0", "FLAG"})
      graph.set("BankTranslator", b, "a b * c", error);
    graph.initAll();
  }
};

Unpackers& unpackers() {
  static Unpackers* u = new Unpackers;  // lives to the end: modules stay loaded
  return *u;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > TMidasEvent::kMaxDataSize) return 0;
#ifdef TARN_LIBFUZZER
  std::vector<char> area(data, data + size);
  char* own = area.data();
#else
  char* own = reinterpret_cast<char*>(const_cast<uint8_t*>(data));  // a writable guarded copy
#endif
  TMidasEvent event;
  event.GetEventHeader()->fEventId = 1;
  event.SetData(static_cast<unsigned>(size), own);
  for (TarnBase* node : unpackers().inputs) {
    int k = Graph::findPort(node, "event", true);
    if (k < 0) k = Graph::findPort(node, "mevent", true);
    if (k >= 0) node->SetInput(k, static_cast<void*>(&event));
  }
  return 0;
}

std::vector<std::vector<uint8_t>> tarnFuzzSeeds() {
  std::vector<std::vector<uint8_t>> seeds;
  for (bool bank32 : {false, true}) {
    synth::RunSpec spec;
    spec.events = 8;
    spec.bank32 = bank32;
    spec.modules = true;
    for (uint32_t i = 0; i < spec.events; ++i)
      seeds.push_back(synth::encodeDataArea(synth::makeEvent(spec, i)));
  }
  return seeds;
}
