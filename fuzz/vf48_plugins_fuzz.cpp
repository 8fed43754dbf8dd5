// Any bytes as the data area of an event with VF48 banks, through the whole
// VF48 road as the host runs it: decoder, grouper, channel picker, dumper and
// time aligner, whose transitions, modules and time choice come from the
// input's text part. The aligner then writes its files, as at the end of a run.
#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "FuzzGraph.h"
#include "FuzzTarget.h"
#include "MidasSynth.h"

namespace {

const char* kGraph =
    "node wdec WaveDecoder\n"
    "node group CoincidenceGrouper\n"
    "node pick ChannelPicker\n"
    "node dump WaveEventDumper\n"
    "node ta TimeAligner\n"
    "node show ValuePrinter\n"
    "set group.c_time 0.0001\n"
    "set group.w_time 0.001\n"
    "set pick.module 1\n"
    "set pick.channel 3\n"
    "set ta.write_debug 1\n"
    "connect wdec.vf_event group.vf_event\n"
    "connect wdec.vf_event pick.vf_event\n"
    "connect wdec.vf_event dump.vf_event\n"
    "connect wdec.fevent ta.fevent\n"
    "connect group.multi show.value\n";

// The aligner's files go to one scratch directory, emptied after each input.
const std::string& scratch() {
  static std::string* dir = [] {
    char tmpl[] = "/tmp/tarn-fuzz-vf48-XXXXXX";
    if (!::mkdtemp(tmpl)) std::abort();
    return new std::string(tmpl);
  }();
  return *dir;
}

void emptyScratch() {
  DIR* d = ::opendir(scratch().c_str());
  if (!d) std::abort();
  while (const dirent* e = ::readdir(d))
    if (e->d_name[0] != '.') ::unlink((scratch() + "/" + e->d_name).c_str());
  ::closedir(d);
}

void removeScratch() {
  emptyScratch();
  ::rmdir(scratch().c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Text part: the aligner's transitions, modules and use_soft, one a line.
  const SplitInput in = splitAtNul(data, size);
  if (in.text.size() > 512) return 0;
  static bool once = (std::atexit(removeScratch), true);
  (void)once;
  Graph graph(fuzzLoader());
  buildGraph(graph, kGraph);
  const std::vector<std::string> lines = linesOf(in.text);
  const char* ports[] = {"transitions", "modules", "use_soft", "thres"};
  std::string error;
  for (size_t i = 0; i < lines.size() && i < 4; ++i)
    if (!lines[i].empty()) graph.set("ta", ports[i], lines[i], error);  // may not convert
  graph.initAll();

  std::vector<char> keep;
  TMidasEvent event;
  if (in.rest && eventFromInput(in.rest, in.restSize, keep, event)) {
    event.SetBankList();
    TarnBase* decoder = graph.node("wdec");
    // Twice: the second event completes the first one's group.
    for (int pass = 0; pass < 2; ++pass) decoder->SetInput(0, static_cast<void*>(&event));
  }
  std::string prefix = scratch() + "/run";
  TarnBase* aligner = graph.node("ta");
  aligner->SetInput(Graph::findPort(aligner, "eor", true), static_cast<void*>(&prefix));
  emptyScratch();
  return 0;
}

std::vector<std::vector<uint8_t>> tarnFuzzSeeds() {
  std::vector<std::vector<uint8_t>> seeds;
  const char* texts[] = {"", "(1-0) (2-1)\n0 1 2\n1\n2", "(2-0)\n\n2\n1"};
  int t = 0;
  for (bool meridax : {false, true}) {
    synth::RunSpec spec;
    spec.events = 4;
    spec.vf48Modules = 3;
    spec.vf48Meridax = meridax;
    for (uint32_t i = 0; i < spec.events; ++i)
      seeds.push_back(textThenBytes(texts[t++ % 3], synth::encodeDataArea(synth::makeEvent(spec, i))));
  }
  return seeds;
}
