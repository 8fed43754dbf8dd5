// Any ODB dump with any paths and mappings: the text part's first line is the
// extractor's path, each further line "INPUT mapping" of the strand mapper
// (whose input list is the INPUT names); the bytes after the NUL are the dump,
// XML or JSON. Path translation, evaluation and conversion must not fail unsafely.
#include <string>
#include <vector>

#include "FuzzGraph.h"
#include "FuzzTarget.h"
#include "MidasSynth.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const SplitInput in = splitAtNul(data, size);
  if (in.text.size() > 2048 || !in.rest) return 0;
  Graph graph(fuzzLoader());
  buildGraph(graph,
             "node get OdbExtractor\nnode map OdbStrandMapper\nnode value ValuePrinter\n"
             "node show StrandPrinter\nconnect get.value value.value\n"
             "connect map.fevent show.fevent\n");
  const std::vector<std::string> lines = linesOf(in.text);
  std::string error, names;
  graph.set("get", "path", lines[0], error);
  for (size_t i = 1; i < lines.size(); ++i) names += lines[i].substr(0, lines[i].find(' ')) + " ";
  graph.set("map", "inputs", names, error);
  for (size_t i = 1; i < lines.size(); ++i) {
    const size_t blank = lines[i].find(' ');
    if (blank != std::string::npos)
      graph.set("map", lines[i].substr(0, blank), lines[i].substr(blank + 1), error);
  }
  graph.initAll();
  // The dump as the run-file reader passes it on: NUL-terminated text.
  std::vector<char> dump(in.rest, in.rest + in.restSize);
  dump.push_back(0);
  for (const char* node : {"get", "map"}) {
    TarnBase* n = graph.node(node);
    n->SetInput(Graph::findPort(n, "odb", true), static_cast<void*>(dump.data()));
  }
  return 0;
}

std::vector<std::vector<uint8_t>> tarnFuzzSeeds() {
  const char* texts[] = {
      "/Runinfo/Run number\nrun RunNumber = /Runinfo/Run number\n"
      "gains Gains = /Equipment/Trigger/Settings/Gains[*]",
      "/Equipment/Trigger/Settings/Channel names[2]\n"
      "c Comment = \"/Experiment/Edit on start/Comment\"\nv Veto = /Equipment/Trigger/Settings/Channel names[1]",
      "/Logger/Channels/0/Settings/Filename\nw W = /Logger/Write data\nr R = /Logger/Reserved\n"
      "p P = /Equipment/Trigger/Settings/Pattern[*]",
  };
  std::vector<std::vector<uint8_t>> seeds;
  for (synth::OdbForm form : {synth::OdbForm::Xml, synth::OdbForm::Json}) {
    for (int t = 0; t < 3; ++t) {
      const std::string dump =
          synth::odbDump(form, uint32_t(t + 1), uint32_t(10 * t), 1700000000u, t ? 1700000100u : 0);
      seeds.push_back(textThenBytes(texts[t], std::vector<uint8_t>(dump.begin(), dump.end())));
    }
  }
  return seeds;
}
