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
#include "FuzzEvents.h"
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
  std::vector<char> keep;
  TMidasEvent event;
  if (!eventFromInput(data, size, keep, event)) return 0;
  for (TarnBase* node : unpackers().inputs) {
    int k = Graph::findPort(node, "event", true);
    if (k < 0) k = Graph::findPort(node, "mevent", true);
    if (k >= 0) node->SetInput(k, static_cast<void*>(&event));
  }
  return 0;
}

std::vector<std::vector<uint8_t>> tarnFuzzSeeds() { return moduleEventSeeds(8, false); }
