// What the micro-benchmarks share: events made by the synthesiser, held as
// the reader would hand them out, a node that takes values and does nothing,
// and a plug-in loaded as the host loads it, its messages kept off the table.
#pragma once

#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "MidasSynth.h"
#include "ModuleBanks.h"
#include "ModuleLoader.h"
#include "QuietStdout.h"
#include "Random.h"
#include "TMidasEvent.h"
#include "TarnBase.h"

namespace benchsupport {

// A counter that shows the time per item when each iteration handles `items`.
inline benchmark::Counter timePer(double items) {
  return benchmark::Counter(items, benchmark::Counter::kIsIterationInvariantRate |
                                       benchmark::Counter::kInvert);
}

// Takes every value on its one input and counts it.
class Sink : public TarnBase {
 public:
  Sink() : TarnBase(nullptr, "sink") {
    inputs.push_back(Input("in", static_cast<Handler>(&Sink::take), TARN_OBJECT, "anything"));
  }
  void take(void* value) {
    benchmark::DoNotOptimize(value);
    ++count;
  }
  long count = 0;
};

// A plug-in of `type` from the build's modules, configured by setting texts,
// initialised, sending on its output 0 to `sink`. Its messages on standard
// output (construction, destruction) go to /dev/null.
class LoadedNode {
 public:
  LoadedNode(const std::string& type, const std::vector<std::pair<std::string, std::string>>& settings)
      : loader(ModuleLoader::defaultSearchPath()) {
    module = loader.load(type, error);
    if (!module) return;
    QuietStdout quiet;
    node = loader.create(module, "bench");
    if (!node) return;
    for (const auto& s : settings) node->SetInput(s.first, s.second);
    node->AddReceiver(0, &sink, 0);
    node->Init();
  }
  ~LoadedNode() {
    QuietStdout quiet;
    if (node) loader.destroy(module, node);
  }
  LoadedNode(const LoadedNode&) = delete;
  LoadedNode& operator=(const LoadedNode&) = delete;

  // False, with the reason given to the benchmark, when the module did not load.
  bool ready(benchmark::State& state) const {
    if (!node) state.SkipWithError(error.empty() ? "no instance made" : error.c_str());
    return node != nullptr;
  }
  int input(const std::string& name) const { return node->GetNumberForInput(name); }
  // Hands `value` to input number `input`, as the host delivers it.
  void deliver(int input, void* value) const { node->SetInput(input, value); }

  Sink sink;

 private:
  ModuleLoader loader;
  std::string error;
  pluginHandle* module = nullptr;
  TarnBase* node = nullptr;
};

// An owning event with the header and data area of `e`, as the reader fills it.
inline std::unique_ptr<TMidasEvent> midasEvent(const synth::Event& e, bool swapped = false) {
  const std::vector<uint8_t> area = synth::encodeDataArea(e, swapped);
  auto event = std::make_unique<TMidasEvent>();
  MidasEventHeader* h = event->GetEventHeader();
  h->fEventId = e.id;
  h->fTriggerMask = e.triggerMask;
  h->fSerialNumber = e.serial;
  h->fTimeStamp = e.timeStamp;
  h->fDataSize = uint32_t(area.size());
  std::memcpy(event->GetData(), area.data(), area.size());
  return event;
}

// Module contents of a busy event: every channel of each module read out,
// long traces, and none of the words a module should not write (those are
// reported on standard output, which is not what is measured here).
inline synth::ModuleContent busyModules(uint32_t index, uint32_t sisSamples = 512) {
  synth::RunSpec spec;
  spec.modules = true;
  synth::ModuleContent c = synth::makeModuleContent(spec, index);
  c.tdcError = c.tdcUnexpected = c.adcNotValid = c.adcUndefined = c.madcBufferOverflow = false;
  synth::Random r(0x5eed0000u + index);
  c.tdc.clear();
  for (uint32_t h = 0; h < 64; ++h) c.tdc.push_back({r.below(64), r.below(1u << 18), r.below(4) == 0});
  c.adc.clear();
  for (uint32_t ch = 0; ch < 32; ++ch) c.adc.push_back({ch, r.below(4096), 0});
  c.madc.clear();
  for (uint32_t m = 0; m < 32; ++m) c.madc.push_back({r.below(1024), r.below(2), false, r.below(4096)});
  c.scalers.assign(16, 0);
  for (uint32_t s = 0; s < 16; ++s) c.scalers[s] = 100 * index + s;
  c.stamps.clear();
  for (uint32_t s = 0; s < 8; ++s) c.stamps.push_back({s % 4, r.below(1u << 28)});
  for (auto& trace : c.sis) {
    trace.resize(sisSamples);
    for (auto& v : trace) v = uint16_t(100 + r.below(3000));
  }
  return c;
}

// The ordinary event `index` of a run with module banks, made busy.
inline synth::Event busyEvent(uint32_t index) {
  synth::RunSpec spec;
  synth::Event e = synth::makeEvent(spec, index);
  synth::addModuleBanks(e, busyModules(index));
  return e;
}

// Element count of the bank `name` in `e` (0 when it has none).
inline size_t bankElements(const synth::Event& e, const char* name) {
  for (const synth::Bank& b : e.banks)
    if (b.name == name) {
      const size_t size = synth::elementSize(b.type);
      return size ? b.data.size() / size : b.data.size();
    }
  return 0;
}

}  // namespace benchsupport
