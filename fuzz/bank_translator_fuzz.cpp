// Any bank descriptions with any event: the first line of the text part is
// the list of banks, each further line "NAME description"; the bytes after the
// NUL are the event's data area. Translating and printing must stay inside
// the banks whatever the descriptions say.
#include <string>
#include <vector>

#include "FuzzGraph.h"
#include "FuzzTarget.h"
#include "MidasSynth.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const SplitInput in = splitAtNul(data, size);
  if (in.text.size() > 1024) return 0;
  Graph graph(fuzzLoader());
  buildGraph(graph, "node bt BankTranslator\nnode show StrandPrinter\nconnect bt.fevent show.fevent\n");
  const std::vector<std::string> lines = linesOf(in.text);
  std::string error;
  graph.set("bt", "banks", lines[0], error);
  for (size_t i = 1; i < lines.size(); ++i) {
    const size_t blank = lines[i].find(' ');
    if (blank != std::string::npos)
      graph.set("bt", lines[i].substr(0, blank), lines[i].substr(blank + 1), error);
  }
  graph.initAll();
  std::vector<char> keep;
  TMidasEvent event;
  if (in.rest && eventFromInput(in.rest, in.restSize, keep, event)) {
    event.SetBankList();
    TarnBase* bt = graph.node("bt");
    const int port = Graph::findPort(bt, "mevent", true);
    for (int pass = 0; pass < 2; ++pass) bt->SetInput(port, static_cast<void*>(&event));
  }
  return 0;
}

std::vector<std::vector<uint8_t>> tarnFuzzSeeds() {
  const char* texts[] = {
      "WRDS DBLS INTS PAD5 CHRS\nWRDS a b\nDBLS d\nINTS i * j .\nPAD5 p\nCHRS c",
      "BYTS SBYT BOOL FLTS TDC0\nBYTS x\nSBYT y y2\nBOOL f\nFLTS g *\nTDC0 t u .\nTDC0 v",
      "WRDS\nWRDS * * *\nWRDS .",
  };
  std::vector<std::vector<uint8_t>> seeds;
  int t = 0;
  for (const std::vector<uint8_t>& area : moduleEventSeeds(3, true))
    seeds.push_back(textThenBytes(texts[t++ % 3], area));
  return seeds;
}
