// The VF48 decoder, loaded as the host loads it, fed events from the
// synthesiser; the example graphs of the VF48 road run through tarn.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <sstream>

#include "../../../plugins/common/UnpackerRig.h"
#include "ModuleBanks.h"
#include "Vf48Words.h"
#include "WaveEvent.h"

using unpacktest::GuardedEvent;
using unpacktest::eventOf;
namespace w = synth::words;

namespace {

using U64 = std::vector<uint64_t>;

struct Wave {
  int module;
  unsigned trigger;
  uint64_t stamp;
  bool good;
  std::vector<int> channels;
  std::vector<std::vector<unsigned short>> samples;
  bool operator==(const Wave& o) const {
    return module == o.module && trigger == o.trigger && stamp == o.stamp && good == o.good &&
           channels == o.channels && samples == o.samples;
  }
};

struct Strand {
  std::vector<short> channel;
  U64 time, wfTime, wfCfdTime, range;
  bool operator==(const Strand& o) const {
    return channel == o.channel && time == o.time && wfTime == o.wfTime &&
           wfCfdTime == o.wfCfdTime && range == o.range;
  }
};

std::ostream& operator<<(std::ostream& s, const Wave& v) {
  s << "module " << v.module << " trigger " << v.trigger << " stamp " << v.stamp << " good "
    << v.good << " channels";
  for (int c : v.channels) s << " " << c;
  return s;
}
std::ostream& operator<<(std::ostream& s, const Strand& v) {
  auto list = [&](const char* n, const auto& l) {
    s << " " << n << ":";
    for (auto x : l) s << " " << x;
  };
  list("Channel", v.channel);
  list("Time", v.time);
  list("WFTime", v.wfTime);
  list("WFCFDTime", v.wfCfdTime);
  list("Timerange", v.range);
  return s;
}

// Receives both outputs; keeps a reference to each WaveEvent so that the
// test can see that the decoder gave its own back and did not delete it.
class Receiver : public TarnBase {
 public:
  Receiver() : TarnBase(nullptr, "receiver") {
    inputs.push_back(Input("vf_event", static_cast<Handler>(&Receiver::onWave), TARN_OBJECT, ""));
    inputs.push_back(
        Input("fevent", static_cast<Handler>(&Receiver::onStrand), TARN_STRANDEVENT, ""));
  }
  ~Receiver() override {
    for (WaveEvent* e : kept) e->release();
  }
  void onWave(void* v) {
    WaveEvent* e = static_cast<WaveEvent*>(v);
    Wave r{e->GetModuleNr(), e->GetHeaderTrigger(), e->GetTimeStamp(), e->IsGood(), {}, {}};
    for (const VFChannel* c : e->GetChannels()) {
      r.channels.push_back(c->GetChannel());
      r.samples.push_back(c->GetWaveForm());
    }
    waves.push_back(r);
    e->retain();
    kept.push_back(e);
    order += "w";
  }
  void onStrand(void* v) {
    StrandEvent& e = *static_cast<StrandEvent*>(v);
    auto u64 = [&](const char* n) { return *static_cast<U64*>(e[n].value); };
    strands.push_back({*static_cast<std::vector<short>*>(e["Channel"].value), u64("Time"),
                       u64("WFTime"), u64("WFCFDTime"), u64("Timerange")});
    order += "f";
  }
  std::vector<Wave> waves;
  std::vector<Strand> strands;
  std::vector<WaveEvent*> kept;
  std::string order;
};

struct Rig {
  Rig() : node("WaveDecoder", "wdec") {
    node->AddReceiver(0, &receiver, 0);
    node->AddReceiver(1, &receiver, 1);
    node->Init();
  }
  void feed(const synth::Event& e, bool swapped = false) {
    GuardedEvent g(e, swapped);
    node->SetInput(0, &g.event);
  }
  Receiver receiver;
  tarntest::Node node;
};

// What the decoder must send for one module of the synthesiser's contents.
Wave waveOf(const synth::Vf48Module& m) {
  Wave r{int(m.module), m.trigger, m.timeStamp, true, {}, {}};
  for (const synth::Vf48Channel& c : m.channels) {
    r.channels.push_back(int(c.channel));
    r.samples.emplace_back(c.samples.begin(), c.samples.end());
  }
  return r;
}

Strand strandOf(const synth::Vf48Module& m) {
  Strand s;
  for (const synth::Vf48Channel& c : m.channels) {
    s.channel.push_back(short(m.module * 48 + c.channel));
    if (!c.pulse) continue;
    // The module's CFD time and the software half-height time are the same
    // sample for the synthesiser's pulses.
    s.time.push_back(c.cfdTime);
    s.wfCfdTime.push_back(c.cfdTime);
    VFChannel alone(uint8_t(c.channel));
    for (uint16_t v : c.samples) alone.AddData(v);
    alone.Analyze();
    EXPECT_GT(alone.GetTrigPosition(), 20);
    s.wfTime.push_back(alone.GetTrigPosition());
  }
  s.range = {m.timeStamp, m.timeStamp + 64};
  return s;
}

TEST(WaveDecoder, PortsPropertiesAndMessages) {
  tarntest::CapturedStdout out;
  {
    Rig rig;
    TarnBase* d = rig.node.get();
    ASSERT_EQ(d->inputs.size(), 1u);
    EXPECT_EQ(d->inputs[0].name, "event");
    EXPECT_EQ(d->inputs[0].type, TARN_OBJECT);
    ASSERT_EQ(d->outputs.size(), 2u);
    EXPECT_EQ(d->outputs[0].name, "vf_event");
    EXPECT_EQ(d->outputs[0].type, TARN_OBJECT);
    EXPECT_EQ(d->outputs[1].name, "fevent");
    EXPECT_EQ(d->outputs[1].type, TARN_STRANDEVENT);
    // Events without VF48 banks, or a null event, send nothing.
    synth::RunSpec spec;
    spec.modules = true;
    rig.feed(synth::makeEvent(spec, 0));
    d->SetInput(0, static_cast<void*>(nullptr));
    EXPECT_EQ(rig.receiver.order, "");
  }
  EXPECT_EQ(out.text(), "wdec instantiated\nwdec deleted\n");
}

TEST(WaveDecoder, DecodesTheBanksOfASyntheticRunInBothLayouts) {
  for (bool meridax : {false, true})
    for (bool bank32 : {false, true})
      for (bool swapped : {false, true}) {
        SCOPED_TRACE(std::to_string(meridax) + std::to_string(bank32) + std::to_string(swapped));
        synth::RunSpec spec;
        spec.vf48Modules = 4;
        spec.vf48Meridax = meridax;
        spec.modules = true;
        spec.bank32 = bank32;
        Rig rig;
        tarntest::CapturedStdout out;
        std::string order;
        for (uint32_t i = 0; i < 30; ++i) {
          const synth::Vf48Content c = synth::makeVf48Content(spec, i);
          const size_t before = rig.receiver.waves.size();
          rig.feed(synth::makeEvent(spec, i), swapped);
          ASSERT_EQ(rig.receiver.waves.size(), before + c.modules.size());
          for (size_t k = 0; k < c.modules.size(); ++k) {
            EXPECT_EQ(rig.receiver.waves[before + k], waveOf(c.modules[k])) << "event " << i;
            EXPECT_EQ(rig.receiver.strands[before + k], strandOf(c.modules[k])) << "event " << i;
            order += "wf";
          }
        }
        EXPECT_EQ(rig.receiver.order, order);
        for (WaveEvent* e : rig.receiver.kept) EXPECT_EQ(e->GetRefCount(), 1);
        EXPECT_EQ(out.text(), "");
      }
}

std::vector<uint8_t> bytesOf(const std::vector<uint32_t>& words) {
  std::vector<uint8_t> b;
  for (uint32_t x : words)
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(x >> (8 * i)));
  return b;
}

synth::Vf48Module module(uint32_t number, uint32_t trigger, std::vector<uint32_t> channels) {
  synth::Vf48Module m;
  m.module = number;
  m.trigger = trigger;
  m.timeStamp = 0x123456789ABull;
  for (uint32_t ch : channels) {
    synth::Vf48Channel c;
    c.channel = ch;
    c.samples = {100, 101, 100, 99};
    m.channels.push_back(c);
  }
  return m;
}

// Each damaged bank is the last of its event, which ends at a page no one may
// read: decoding past the bank would crash.
TEST(WaveDecoder, DamagedBanksAreReportedAndNeverReadPastTheirEnd) {
  const std::vector<uint32_t> good = synth::vf48Words(module(2, 7, {5}), synth::Vf48Layout::Standard);
  const Strand goodStrand{{2 * 48 + 5}, {}, {}, {}, {0x123456789ABull, 0x123456789ABull + 4}};
  struct Case {
    const char* what;
    synth::Bank bank;
    std::string messages;
    std::string order;
  };
  std::vector<uint8_t> odd = bytesOf(good);
  odd.insert(odd.end(), {0xE0, 0x11, 0x22});
  std::vector<uint32_t> bad = good, truncated = good, noHeader = good, longer = good;
  bad.insert(bad.begin() + 4, 0x10000000u);
  truncated.pop_back();
  noHeader.erase(noHeader.begin());
  longer.insert(longer.end(), {w::vf48Header(8), w::vf48Trailer(8)});
  const std::string none = "wdec: bank VF02: no complete event (header first, trailer last), not sent\n";
  const std::vector<Case> cases = {
      {"odd byte count", synth::byteBank("VF02", synth::TID_BYTE, odd),
       "wdec: bank VF02: " + std::to_string(odd.size()) +
           " bytes, the last 3 are not a whole word and are ignored\n",
       "wf"},
      {"three bytes", synth::byteBank("VF02", synth::TID_BYTE, {1, 2, 3}),
       "wdec: bank VF02: 3 bytes, the last 3 are not a whole word and are ignored\n" + none, ""},
      {"unexpected word", synth::dwordBank("VF02", bad),
       "wdec: bank VF02: bad event: 1 unexpected words, triggers 7 and 7\n", "w"},
      {"no trailer", synth::dwordBank("VF02", truncated), none, ""},
      {"no header", synth::dwordBank("VF02", noHeader), none, ""},
      {"empty", synth::dwordBank("VF02", {}), none, ""},
      {"words after the trailer", synth::dwordBank("VF02", longer),
       "wdec: bank VF02: 2 words after the trailer ignored\n", "wf"},
      {"not a VF48 bank", synth::dwordBank("VFA2", good), "", ""},
      {"not a VF48 bank", synth::dwordBank("VX02", good), "", ""},
      {"not a VF48 bank", synth::dwordBank("vf02", good), "", ""},
  };
  for (const Case& c : cases)
    for (bool bank32 : {false, true}) {
      SCOPED_TRACE(std::string(c.what) + (bank32 ? " bank32" : ""));
      Rig rig;
      tarntest::CapturedStdout out;
      rig.feed(eventOf({synth::dwordBank("DATA", {1, 2, 3}), c.bank}, bank32));
      EXPECT_EQ(out.text(), c.messages);
      EXPECT_EQ(rig.receiver.order, c.order);
      if (!c.order.empty()) {
        EXPECT_EQ(rig.receiver.waves[0].module, 2);
        EXPECT_EQ(rig.receiver.waves[0].channels, std::vector<int>{5});
        EXPECT_EQ(rig.receiver.waves[0].good, c.order == "wf");
      }
      if (c.order == "wf") {
        EXPECT_EQ(rig.receiver.strands[0], goodStrand);
      }
    }
}

// The strand event names a module by its first global channel number, 48 to
// a module: events of no known module and channels above 47 stay out of it.
TEST(WaveDecoder, StrandEventsNameTheirModuleUnambiguously) {
  Rig rig;
  tarntest::CapturedStdout out;
  synth::Vf48Module m = module(3, 9, {50, 4, 47});
  rig.feed(eventOf({synth::dwordBank("VF03", synth::vf48Words(m, synth::Vf48Layout::Standard))}));
  ASSERT_EQ(rig.receiver.order, "wf");
  EXPECT_EQ(rig.receiver.waves[0].channels, (std::vector<int>{50, 4, 47}));
  EXPECT_EQ(rig.receiver.strands[0].channel, (std::vector<short>{3 * 48 + 4, 3 * 48 + 47}));

  // MERIDAX channel headers with 0 in the module field: module -1.
  m.module = 0xFF;  // written as 0xFF + 1, which is 0 in 8 bits
  rig.feed(eventOf({synth::dwordBank("VM00", synth::vf48Words(m, synth::Vf48Layout::Meridax))}));
  ASSERT_EQ(rig.receiver.order, "wfw");
  EXPECT_EQ(rig.receiver.waves[1].module, -1);
  EXPECT_TRUE(rig.receiver.waves[1].good);

  // A MERIDAX module number comes from the words, not from the bank's name.
  m.module = 6;
  rig.feed(eventOf({synth::dwordBank("VM01", synth::vf48Words(m, synth::Vf48Layout::Meridax))}));
  ASSERT_EQ(rig.receiver.order, "wfwwf");
  EXPECT_EQ(rig.receiver.strands[1].channel, (std::vector<short>{6 * 48 + 4, 6 * 48 + 47}));
  EXPECT_EQ(out.text(), "");
}

// A synthesised run with VF48 banks, and tarn run on it with one example graph.
class ExampleGraph {
 public:
  explicit ExampleGraph(uint32_t events) {
    spec.events = events;
    spec.vf48Modules = 4;
    std::string error;
    file = dir.path() + "/run.mid.gz";
    EXPECT_TRUE(synth::writeRun(file, synth::makeRun(spec), false, synth::Damage::None, error))
        << error;
  }
  tarntest::RunResult run(const std::string& graph) const {
    return tarntest::runTarn({"run", TARN_SOURCE_DIR "/examples/" + graph, "--no-progress", "--set",
                              "in.file=" + file});
  }
  synth::RunSpec spec;

 private:
  tarntest::TempDir dir;
  std::string file;
};

// The lines of a printer's output that are numbers, in order.
std::string numberLines(const std::string& out) {
  std::string kept, line;
  std::istringstream in(out);
  while (std::getline(in, line))
    if (!line.empty() && line.find_first_not_of("-0123456789") == std::string::npos)
      kept += line + "\n";
  return kept;
}

TEST(WaveDecoder, DumpExamplePrintsEveryModulesEventWords) {
  ExampleGraph g(12);
  const tarntest::RunResult r = g.run("vf48-dump.tarn");
  ASSERT_EQ(r.status, 0) << r.err << r.out;
  std::string want;
  size_t events = 0;
  for (uint32_t i = 0; i < g.spec.events; ++i)
    for (const synth::Vf48Module& m : synth::makeVf48Content(g.spec, i).modules) {
      char block[256];
      std::snprintf(block, sizeof block,
                    "WaveEvent:\nHeader trigger:  %u\nTrailer trigger: %u\n"
                    "Time-stamp 1:    %10u\nTime-stamp 2:    %10u\nModule # :    %d\n",
                    m.trigger, m.trigger, unsigned(m.timeStamp & 0xFFFFFF),
                    unsigned(m.timeStamp >> 24), int(m.module));
      want += block;
      ++events;
    }
  EXPECT_NE(r.out.find(want), std::string::npos) << want << "in\n" << r.out;
  size_t printed = 0;
  for (size_t at = 0; (at = r.out.find("WaveEvent:", at)) != std::string::npos; ++at) ++printed;
  EXPECT_EQ(printed, events);
}

TEST(WaveDecoder, CoincidenceExampleGroupsTheModulesOfEachTrigger) {
  ExampleGraph g(40);
  const tarntest::RunResult r = g.run("vf48-coincidence.tarn");
  ASSERT_EQ(r.status, 0) << r.err << r.out;
  // A group is sent when the next trigger's first event arrives; the last
  // trigger's group is still open at the end.
  std::string want;
  bool short_group = false;
  for (uint32_t i = 0; i + 1 < g.spec.events; ++i) {
    const size_t n = synth::makeVf48Content(g.spec, i).modules.size();
    short_group |= n < g.spec.vf48Modules;
    want += std::to_string(n) + "\n";
  }
  EXPECT_TRUE(short_group);  // a module that missed a trigger makes a smaller group
  EXPECT_EQ(numberLines(r.out), want);
  EXPECT_NE(r.out.find("group: Lost 1 event groups.\n"), std::string::npos) << r.out;
}

TEST(WaveDecoder, ChannelsExamplePrintsModuleOnesChannelsAndHeights) {
  ExampleGraph g(12);
  const tarntest::RunResult r = g.run("vf48-channels.tarn");
  ASSERT_EQ(r.status, 0) << r.err << r.out;
  std::string want;
  for (uint32_t i = 0; i < g.spec.events; ++i)
    for (const synth::Vf48Module& m : synth::makeVf48Content(g.spec, i).modules) {
      if (m.module != 1) continue;
      for (const synth::Vf48Channel& c : m.channels)
        want += std::to_string(c.channel) + "\n" +
                std::to_string(c.pulse ? c.pulseheight - c.pedestalWord * 4 / 14 : 0) + "\n";
    }
  EXPECT_EQ(numberLines(r.out), want);
}

}  // namespace
