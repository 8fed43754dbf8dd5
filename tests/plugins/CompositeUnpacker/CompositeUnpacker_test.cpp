#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "../common/UnpackerRig.h"
#include "MidasSynth.h"
#include "ModuleBanks.h"
#include "ModuleWords.h"
#include "StrandEvent.h"
#include "TMidasEvent.h"
#include "TarnTest.h"

namespace {

using synth::ModuleContent;
using Shorts = std::vector<short>;
using Ints = std::vector<int>;
namespace words = synth::words;

// Events whose data area ends right before an unmapped page: reading past it crashes.
using unpacktest::GuardedEvent;

class Catcher : public TarnBase {
 public:
  Catcher() : TarnBase(nullptr, "catcher") {
    inputs.push_back(Input("fevent", static_cast<Handler>(&Catcher::take), TARN_STRANDEVENT, ""));
  }
  void take(void* v) { got.push_back(static_cast<StrandEvent*>(v)); }
  std::vector<StrandEvent*> got;
};

const StrandProperty* property(StrandEvent& e, const std::string& name) {
  for (auto& entry : e)
    if (entry.first == name) return &entry.second;
  return nullptr;
}

template <class T>
std::vector<T> listOf(StrandEvent& e, const std::string& name) {
  const StrandProperty* p = property(e, name);
  if (p && p->value) return *static_cast<const std::vector<T>*>(p->value);
  ADD_FAILURE() << "no property " << name;
  return {};
}

uint32_t boardStamp(StrandEvent& e) {
  return *static_cast<uint32_t*>(property(e, "ScTimestamp")->value);
}

synth::Event withBanks(std::vector<synth::Bank> banks, bool bank32 = false) {
  synth::Event e;
  e.bank32 = bank32;
  e.banks = std::move(banks);
  return e;
}

synth::Event eventOf(const ModuleContent& c) {
  synth::Event e;
  synth::addModuleBanks(e, c);
  return e;
}

std::string hex(const char* f, uint32_t v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, f, v);
  return buf;
}

// What the unpacker should show after a sequence of events, worked out from
// the contents written.
struct Model {
  Shorts tdcChannel, tdcValue, adcChannel, adcValue, madcBus, madcSample, madcValue, overflow;
  Ints scaler, stamps[4];
  uint32_t board = 0;

  // Applies one event; returns the messages it should print (ADC, TDC, MADC order).
  std::string apply(const ModuleContent& c) {
    std::string out;
    if (c.banks & synth::kBankIo32) {
      board = c.boardTimestamp;
      scaler.assign(c.scalers.begin(), c.scalers.end());
      for (auto& s : stamps) s.clear();
      for (const synth::Io32Stamp& s : c.stamps)
        if (s.input < 4) stamps[s.input].push_back(int(s.stamp));
    }
    if (c.banks & synth::kBankAdc0) {
      adcChannel.clear();
      adcValue.clear();
      for (const synth::AdcDatum& d : c.adc) adcChannel.push_back(short(d.channel));
      for (const synth::AdcDatum& d : c.adc) adcValue.push_back(short(d.value));
      for (uint32_t w : synth::v785Words(c)) {
        if ((w >> 24) & 1) out += hex("Undefined data: 0x%x\n", w);
        if (((w >> 24) & 7) == 6) out += "Not valid datum\n";
      }
    }
    if (c.banks & synth::kBankTdc0) {
      tdcChannel.clear();
      tdcValue.clear();
      for (const synth::TdcHit& h : c.tdc) {
        if (h.edge) continue;
        tdcChannel.push_back(short(h.channel));
        tdcValue.push_back(short(uint16_t(h.time)));
      }
      const std::set<uint32_t> known = {0, 1, 3, 4, 8, 16, 17, 24};
      for (uint32_t w : synth::v1190Words(c))
        if (!known.count(w >> 27)) out += hex("unexpected tdc data 0x%08x\n", w);
    }
    if (c.banks & synth::kBankMadc) {
      madcBus.clear();
      madcSample.clear();
      madcValue.clear();
      for (const synth::MadcDatum& d : c.madc) {
        madcBus.push_back(short(d.bus));
        madcSample.push_back(short(d.sample));
        madcValue.push_back(d.outOfRange ? short(-1) : short(d.value));
        if (!d.outOfRange) continue;
        if (overflow.size() <= d.sample) overflow.resize(d.sample + 1);
        ++overflow[d.sample];
      }
      if (c.madcBufferOverflow)
        out += "cu: HEADER: Mod 2, " + std::to_string(c.madc.size() + c.madcTdc.size()) +
               " entries: BUFFER OVERFLOW!\n";
    }
    return out;
  }

  // Of A data of a channel with T hits, the k-th gets hit k - (A - T) when A >= T.
  Shorts matched() const {
    Shorts m(adcChannel.size(), 0);
    for (short c = 0; c < 32; ++c) {
      std::vector<size_t> data;
      Shorts times;
      for (size_t i = 0; i < adcChannel.size(); ++i)
        if (adcChannel[i] == c) data.push_back(i);
      for (size_t i = 0; i < tdcChannel.size(); ++i)
        if (tdcChannel[i] == c) times.push_back(tdcValue[i]);
      for (size_t k = 0; data.size() >= times.size() && k < times.size(); ++k)
        m[data[data.size() - times.size() + k]] = times[k];
    }
    return m;
  }

  void expectShownBy(StrandEvent& e) const {
    const std::pair<const char*, const Shorts*> shorts[] = {
        {"TDCChannel", &tdcChannel}, {"TDCValue", &tdcValue}, {"ADCChannel", &adcChannel},
        {"ADCValue", &adcValue},     {"MADCBusNo", &madcBus}, {"MADCSampleNo", &madcSample},
        {"MADCValue", &madcValue},   {"MOverflow", &overflow}};
    for (const auto& s : shorts) EXPECT_EQ(listOf<short>(e, s.first), *s.second) << s.first;
    EXPECT_EQ(listOf<int>(e, "Scaler"), scaler);
    EXPECT_EQ(listOf<int>(e, "ProtonTime"), stamps[0]);
    EXPECT_EQ(listOf<int>(e, "ADCTime"), stamps[1]);
    EXPECT_EQ(listOf<int>(e, "MADCTime"), stamps[2]);
    EXPECT_EQ(boardStamp(e), board);
    EXPECT_EQ(listOf<short>(e, "TDCmatched"), matched());
    Ints times;
    for (int s : stamps[1]) times.insert(times.end(), 32, s);
    EXPECT_EQ(listOf<int>(e, "ADCTimeMatched"), times);
    EXPECT_TRUE(listOf<short>(e, "VFTime").empty());
  }
};

class CompositeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tarntest::CapturedStdout quiet;
    node.reset(new tarntest::Node("CompositeUnpacker", "cu"));
    (*node)->Init();
    ASSERT_TRUE((*node)->AddReceiver(0, &catcher, 0));
  }
  void TearDown() override {
    tarntest::CapturedStdout quiet;
    node.reset();
  }

  // Decodes one event and returns what was printed; one strand event must come out.
  std::string send(const synth::Event& e, bool swapped = false) {
    GuardedEvent g(e, swapped);
    const size_t before = catcher.got.size();
    tarntest::CapturedStdout out;
    (*node)->SetInput(1, &g.event);
    const std::string text = out.text();
    EXPECT_EQ(catcher.got.size(), before + 1) << "the strand event was not sent once";
    return text;
  }
  std::string send(const ModuleContent& c) { return send(eventOf(c)); }
  StrandEvent& sent() { return *catcher.got.back(); }
  Shorts shorts(const std::string& name) { return listOf<short>(sent(), name); }
  Ints ints(const std::string& name) { return listOf<int>(sent(), name); }

  std::unique_ptr<tarntest::Node> node;
  Catcher catcher;
};

TEST(CompositeUnpackerShape, PortsDescriptionAndMessages) {
  tarntest::CapturedStdout out;
  {
    tarntest::Node a("CompositeUnpacker", "first");
    tarntest::Node b("CompositeUnpacker", "");
    EXPECT_EQ(a->description, "Decode Midas events from IO32 modules");
    ASSERT_EQ(a->inputs.size(), 2u);
    ASSERT_EQ(a->outputs.size(), 1u);
    EXPECT_EQ(a->inputs[0].name + a->inputs[0].description,
              "StrandEventAlternative strand event, generated by StrandEventGenerator.");
    EXPECT_EQ(a->inputs[1].name + a->inputs[1].description,
              "eventMidas event from LiveSource or -File");
    EXPECT_EQ(a->outputs[0].name + a->outputs[0].description, "feventDecoded IO32 StrandEvent");
    EXPECT_EQ(a->inputs[0].type, TARN_STRANDEVENT);
    EXPECT_EQ(a->inputs[1].type, TARN_OBJECT);
    EXPECT_EQ(a->outputs[0].type, TARN_STRANDEVENT);
  }
  EXPECT_EQ(out.text(), "first instantiated\n instantiated\n deleted\nfirst deleted\n");
}

TEST(CompositeUnpackerShape, RegistersAllPropertiesAtOnceIntoAnAdoptedEvent) {
  struct Want {
    const char* name;
    tarn_type type;
    double min, max;
    int bins;
  };
  // clang-format off
  const Want want[] = {
      {"ADCChannel", TARN_SHORT_V, 32, 0, 32},        {"ADCTime", TARN_INT_V, 0, 0, 0},
      {"ADCTimeMatched", TARN_INT_V, 0, 0, 0},        {"ADCValue", TARN_SHORT_V, 4096, 0, 4096},
      {"Foreign", TARN_INT, 0, 0, 0},                 {"MADCBusNo", TARN_SHORT_V, 2, 0, 2},
      {"MADCSampleNo", TARN_SHORT_V, 0, 0, 0},        {"MADCTime", TARN_INT_V, 0, 0, 0},
      {"MADCValue", TARN_SHORT_V, 4096, 0, 4096},     {"MOverflow", TARN_SHORT_V, 0, 0, 0},
      {"ProtonTime", TARN_INT_V, 0, 0, 0},            {"ScTimestamp", TARN_UINT32, 0, 0, 0},
      {"Scaler", TARN_INT_V, 0, 0, 0},                {"TDCChannel", TARN_SHORT_V, 128, 0, 128},
      {"TDCValue", TARN_SHORT_V, 262144, 0, 262144},
      {"TDCmatched", TARN_SHORT_V, 262144, 0, 262144},
      {"VFChannel", TARN_SHORT_V, 0, 0, 0},           {"VFCharge", TARN_SHORT_V, 0, 2048, 2048},
      {"VFModuleIndex", TARN_SHORT_V, 0, 0, 0},       {"VFPedestal", TARN_FLOAT_V, 0, 0, 0},
      {"VFPulseheight", TARN_SHORT_V, 0, 1024, 1024}, {"VFSignal", TARN_SHORT_VV, 0, 0, 0},
      {"VFTime", TARN_SHORT_V, 0, 0, 0},              {"VFTimestamps", TARN_UINT64_V, 0, 0, 0},
      {"VFWidth", TARN_SHORT_V, 0, 0, 0}};
  // clang-format on
  tarntest::CapturedStdout quiet;
  tarntest::Node u("CompositeUnpacker", "cu");
  StrandEvent adopted;
  int foreign = 7;
  adopted["Foreign"] = StrandProperty(TARN_INT, StrandBinning(), &foreign);
  u->SetInput(0, &adopted);  // registers at once, without waiting for Init()

  auto layout = [&] {
    std::string s;
    for (auto& e : adopted) {
      const StrandBinning& b = e.second.binning;
      s += e.first + " " + std::to_string(e.second.type) + " " + std::to_string(b.min) + " " +
           std::to_string(b.max) + " " + std::to_string(b.bins) + "\n";
    }
    return s;
  };
  auto values = [&] {
    std::vector<void*> v;
    for (auto& e : adopted) v.push_back(e.second.value);
    return v;
  };
  std::string expected;
  for (const Want& w : want)
    expected += std::string(w.name) + " " + std::to_string(w.type) + " " + std::to_string(w.min) +
                " " + std::to_string(w.max) + " " + std::to_string(w.bins) + "\n";
  const std::string first = layout();
  EXPECT_EQ(first, expected);
  EXPECT_EQ(property(adopted, "Foreign")->value, &foreign);
  const std::vector<void*> shown = values();
  EXPECT_EQ(std::set<void*>(shown.begin(), shown.end()).size(), shown.size())
      << "two properties show the same value";
  u->SetInput(0, &adopted);
  u->Init();
  EXPECT_EQ(layout(), first);
  EXPECT_EQ(values(), shown);

  // The adopted event is filled and sent from now on; VFTime never shows
  // IO32 input 3, whose time stamps no property shows.
  Catcher c;
  ASSERT_TRUE(u->AddReceiver(0, &c, 0));
  ModuleContent mc;
  mc.tdc = {{3, 77, 0}};
  mc.stamps = {{3, 333}, {0, 10}, {1, 11}, {2, 12}, {3, 334}};
  GuardedEvent g(eventOf(mc));
  u->SetInput(1, &g.event);
  ASSERT_EQ(c.got.size(), 1u);
  EXPECT_EQ(c.got[0], &adopted);
  EXPECT_EQ(listOf<short>(adopted, "TDCValue"), Shorts{77});
  EXPECT_TRUE(listOf<short>(adopted, "VFTime").empty());
  std::string stamps;
  for (auto& e : adopted) {
    if (e.second.type != TARN_INT_V) continue;
    for (int v : *static_cast<Ints*>(e.second.value)) stamps += std::to_string(v) + " ";
  }
  std::string adcTimes;  // ADCTime, then ADCTimeMatched's 32 copies
  for (int i = 0; i < 33; ++i) adcTimes += "11 ";
  EXPECT_EQ(stamps, adcTimes + "12 10 ");  // MADCTime, ProtonTime; Scaler is empty
}

TEST_F(CompositeTest, ModulesAreDecodedInBankOrderWithTheirFieldsOnly) {
  ModuleContent c;
  // Times 30, 10, 20 stay in that order; 40000 keeps its low 16 bits, as -25536.
  c.tdc = {{1, 30, 0}, {63, 10, 0}, {2, 20, 0}, {0, 40000, 0}, {7, 0x3FFFF, 0}};
  c.adc = {{4, 100, 0}, {31, 3000, 0x1000}, {0, 100, 0x2000}, {4, 50, 0x3000}};
  c.scalers = {0xFFFFFFFF, 1};
  c.stamps = {{0, 0xFFFFFFF}, {5, 99}, {15, 98}, {0, 3}};  // 5 and 15 have no list
  c.madc = {{1023, 1, false, 4095}, {0, 0, false, 0}};
  EXPECT_EQ(send(c), "");
  EXPECT_EQ(shorts("TDCChannel"), (Shorts{1, 63, 2, 0, 7}));
  EXPECT_EQ(shorts("TDCValue"), (Shorts{30, 10, 20, -25536, -1}));
  EXPECT_EQ(shorts("ADCChannel"), (Shorts{4, 31, 0, 4}));
  EXPECT_EQ(shorts("ADCValue"), (Shorts{100, 3000, 100, 50}));
  EXPECT_EQ(ints("Scaler"), (Ints{-1, 1}));
  EXPECT_EQ(ints("ProtonTime"), (Ints{0xFFFFFFF, 3}));
  EXPECT_EQ(shorts("MADCSampleNo"), (Shorts{1023, 0}));
  EXPECT_EQ(shorts("MADCValue"), (Shorts{4095, 0}));
  // Bit 25 is not part of the channel, bit 18 not part of the time.
  send(withBanks({synth::dwordBank("TDC0", {words::v1190Hit(0, 9, 5) | 1u << 25 | 1u << 18})}));
  EXPECT_EQ(shorts("TDCChannel"), Shorts{9});
  EXPECT_EQ(shorts("TDCValue"), Shorts{5});
}

TEST_F(CompositeTest, AdcDataAreMatchedWithLeadingEdgeTimesOfTheirChannel) {
  ModuleContent c;
  c.adc = {{5, 10, 0}, {2, 20, 0}, {5, 11, 0}, {2, 21, 0}, {4, 30, 0}, {2, 22, 0}, {8, 40, 0}};
  c.tdc = {{5, 100, 0}, {2, 50, 0}, {4, 7, 0},  {5, 150, 1},
           {5, 200, 0}, {4, 8, 0},  {2, 60, 1}, {40, 999, 0}};
  send(c);
  // 5: two data, two hits; 2: three data, one leading edge; 4: one datum, two
  // hits; 8: no hit (channel 40 is counted and listed on its own).
  EXPECT_EQ(shorts("TDCmatched"), (Shorts{100, 0, 200, 0, 0, 50, 0}));
  EXPECT_EQ(shorts("TDCChannel"), (Shorts{5, 2, 4, 5, 4, 40}));
  EXPECT_EQ(shorts("TDCValue"), (Shorts{100, 50, 7, 200, 8, 999}));
  c.adc = {{3, 1, 0}, {3, 2, 0}};
  c.tdc = {{3, 11, 1}, {3, 12, 1}};  // trailing edges only
  send(c);
  EXPECT_TRUE(shorts("TDCChannel").empty());
  EXPECT_EQ(shorts("TDCmatched"), (Shorts{0, 0}));
}

// 16-bit counts wrap on banks this large (65537 is 1 modulo 65536): the
// pairing must follow the true counts and never take a time that is not there.
TEST_F(CompositeTest, HugeBanksAreMatchedByTheirTrueCounts) {
  std::vector<uint32_t> adc(65537, words::v785Datum(0, 3, 9)),
      hits(65537, words::v1190Hit(0, 3, 78));
  send(withBanks(
      {synth::dwordBank("ADC0", adc), synth::dwordBank("TDC0", {words::v1190Hit(0, 3, 77)})},
      true));
  Shorts want(65537, 0);
  want.back() = 77;
  EXPECT_EQ(shorts("TDCmatched"), want);
  send(withBanks({synth::dwordBank("ADC0", {adc[0]}), synth::dwordBank("TDC0", hits)}, true));
  EXPECT_EQ(shorts("TDCmatched"), Shorts{0});
}

TEST_F(CompositeTest, AnEventWithoutModuleBanksIsSentWithTheLastData) {
  StrandEvent adopted;
  (*node)->SetInput(0, &adopted);
  ModuleContent a;
  a.adc = {{1, 5, 0}, {1, 6, 0}};
  a.tdc = {{1, 300, 0}};
  a.stamps = {{1, 0xABCDEF1}, {0, 5}, {1, 42}};
  a.madc = {{2, 0, true, 0}};
  Model m;
  m.apply(a);
  send(a);
  m.expectShownBy(sent());
  EXPECT_EQ(shorts("TDCmatched"), (Shorts{0, 300}));
  EXPECT_EQ(ints("ADCTimeMatched").size(), 64u);

  ModuleContent b;  // new TDC hits only: matched with the old ADC data
  b.banks = synth::kBankTdc0;
  b.tdc = {{1, 400, 0}, {1, 500, 0}};
  m.apply(b);
  send(b);
  m.expectShownBy(sent());
  EXPECT_EQ(shorts("TDCmatched"), (Shorts{400, 500}));

  // None of the four banks (an IO32 bank of two words counts as none): the
  // event is sent, not reset, and matched again from the lists as they stand.
  static_cast<Shorts*>(property(adopted, "TDCmatched")->value)->assign(5, -7);
  adopted.layout = true;
  EXPECT_EQ(send(withBanks({synth::dwordBank("TDC1", {1}), synth::dwordBank("IO32", {1, 2})})), "");
  EXPECT_EQ(&sent(), &adopted);
  EXPECT_TRUE(adopted.layout);
  m.expectShownBy(sent());
  ModuleContent madcOnly;  // a bank that is there resets the event
  madcOnly.banks = synth::kBankMadc;
  send(madcOnly);
  EXPECT_FALSE(adopted.layout);
}

TEST_F(CompositeTest, MadcShowsOnlyItsAdcDataAndCountsOutOfRangeOverTheRun) {
  ModuleContent c;
  c.banks = synth::kBankMadc;
  c.madc = {{7, 1, true, 123}, {3, 0, false, 9}};
  c.madcTdc = {{1, true, 77}, {0, false, 78}};  // no trace, not even a message
  c.madcTimestamp = true;
  c.madcStamp = 0x3FFFFFFF;
  EXPECT_EQ(send(c), "");
  EXPECT_EQ(shorts("MADCSampleNo"), (Shorts{7, 3}));
  EXPECT_EQ(shorts("MADCBusNo"), (Shorts{1, 0}));
  EXPECT_EQ(shorts("MADCValue"), (Shorts{-1, 9}));
  EXPECT_EQ(shorts("MOverflow"), (Shorts{0, 0, 0, 0, 0, 0, 0, 1}));
  EXPECT_EQ(boardStamp(sent()), 0u);  // the time stamp reaches no property
  for (auto& e : sent()) {
    if (e.second.type == TARN_INT_V) {
      EXPECT_TRUE(ints(e.first).empty()) << e.first;
    }
  }

  c.madc = {{7, 0, true, 0}, {2, 0, true, 0}};
  c.madcBufferOverflow = true;
  EXPECT_EQ(send(c), "cu: HEADER: Mod 2, 4 entries: BUFFER OVERFLOW!\n");
  EXPECT_EQ(shorts("MOverflow"), (Shorts{0, 0, 1, 0, 0, 0, 0, 2}));
  // The counts stop at the largest value the list can show instead of turning negative.
  std::vector<uint32_t> many(40000, words::mdi2Adc(2, 0, true, 0));
  send(withBanks({synth::dwordBank("MADC", many)}, true));
  send(withBanks({synth::dwordBank("MADC", {many[0]})}));
  EXPECT_EQ(shorts("MOverflow"), (Shorts{0, 0, 32767, 0, 0, 0, 0, 2}));
}

TEST_F(CompositeTest, OddWordsAreReportedAndSkipped) {
  const std::vector<uint32_t> adc = {words::v785Header(3, 0, 2),
                                     words::v785Datum(3, 1, 10),
                                     0x19000000u,
                                     words::v785NotValid(3),
                                     0x0300000Au,
                                     0x05000001u,
                                     0x07FFFFFFu,
                                     words::v785EndOfBlock(3, 1)};
  const std::vector<uint32_t> tdc = {words::v1190GlobalHeader(1, 5),
                                     0x10000000u,
                                     words::v1190Hit(0, 1, 5),
                                     0xFFFFFFFFu,
                                     0x28000000u,
                                     words::v1190TimeTag(4),
                                     words::v1190Filler()};
  const std::vector<uint32_t> madc = {words::mdi2Header(3, 100, true), words::mdi2Adc(0, 0, 0, 1),
                                      words::mdi2Header(255, 2047, true),
                                      words::mdi2Header(1, 5, 0)};
  // The order of decoding, not of the banks.
  EXPECT_EQ(send(withBanks({synth::dwordBank("MADC", madc), synth::dwordBank("TDC0", tdc),
                            synth::dwordBank("ADC0", adc)})),
            "Undefined data: 0x19000000\nNot valid datum\nUndefined data: 0x300000a\n"
            "Undefined data: 0x5000001\nUndefined data: 0x7ffffff\n"
            "unexpected tdc data 0x10000000\nunexpected tdc data 0xffffffff\n"
            "unexpected tdc data 0x28000000\n"
            "cu: HEADER: Mod 3, 100 entries: BUFFER OVERFLOW!\n"
            "cu: HEADER: Mod 255, 2047 entries: BUFFER OVERFLOW!\n");
  EXPECT_EQ(shorts("ADCValue"), Shorts{10});
  EXPECT_EQ(shorts("TDCValue"), Shorts{5});
  EXPECT_EQ(shorts("MADCValue"), Shorts{1});
}

// The banks lie at the very end of the event, before an unmapped page.
TEST_F(CompositeTest, BanksAreReadOnlyAsFarAsTheirWholeWordsReach) {
  send(withBanks({synth::dwordBank("IO32", {0, 77, 1, 10, 0, 0x1000002A})}));
  for (const synth::Event& e : {withBanks({synth::dwordBank("IO32", {1, 2})}),
                                withBanks({synth::wordBank("IO32", {1, 2, 3, 4, 5})})}) {
    send(e);  // fewer than three whole words: nothing changes
    EXPECT_EQ(boardStamp(sent()), 77u);
    EXPECT_EQ(ints("Scaler"), Ints{10});
    EXPECT_EQ(ints("ADCTime"), Ints{42});
  }
  // Three 16-bit elements hold one whole 32-bit word: a hit on channel 5 at 100.
  send(withBanks({synth::wordBank("TDC0", {0x0064, 0x0028, 0xFFFF})}));
  EXPECT_EQ(shorts("TDCChannel"), Shorts{5});
  EXPECT_EQ(shorts("TDCValue"), Shorts{100});
  send(withBanks({synth::byteBank("ADC0", synth::TID_CHAR, {0x07, 0x00, 0x04, 0x00, 0xEE})}));
  EXPECT_EQ(shorts("ADCChannel"), Shorts{4});
  EXPECT_EQ(shorts("ADCValue"), Shorts{7});
  send(withBanks({synth::byteBank("MADC", synth::TID_BYTE, {0x01, 0x00, 0x02})}));  // no whole word
  EXPECT_TRUE(shorts("MADCSampleNo").empty());
  // An empty bank is a module read out without data: its lists are emptied.
  send(withBanks({synth::dwordBank("TDC0", {}), synth::dwordBank("ADC0", {})}));
  EXPECT_TRUE(shorts("TDCValue").empty());
  EXPECT_TRUE(shorts("ADCValue").empty());
}

// All four banks are found in one walk: the first bank of each name counts,
// and a bank that crosses the end of the banks ends the walk for the banks
// behind it.
TEST_F(CompositeTest, TheFirstBankOfEachNameCountsAndADamagedBankEndsTheWalk) {
  for (const bool bank32 : {false, true}) {
    SCOPED_TRACE(bank32);
    ModuleContent first, second;
    first.tdc = {{1, 10, 0}};
    first.adc = {{1, 5, 0}};
    first.stamps = {{1, 7}};
    first.madc = {{3, 0, false, 9}};
    second.tdc = {{2, 20, 0}};
    second.adc = {{2, 6, 0}};
    second.stamps = {{1, 8}};
    second.madc = {{4, 0, false, 10}};
    synth::Event twice = eventOf(first);
    twice.bank32 = bank32;
    // The other TDC0 comes right after the first, before the banks still looked for.
    const std::vector<synth::Bank> later = eventOf(second).banks;
    twice.banks.insert(twice.banks.begin() + 1, later.front());
    twice.banks.insert(twice.banks.end(), later.begin() + 1, later.end());
    Model m;
    m.apply(first);
    send(twice);
    m.expectShownBy(sent());

    // The banks claim to end two bytes into TDC0's data: IO32 before it is
    // decoded, TDC0 and ADC0 keep the last event's data.
    ModuleContent io;
    io.banks = synth::kBankIo32;
    io.boardTimestamp = 99;
    io.stamps = {{1, 11}};
    const std::vector<uint32_t> io32 = synth::io32Words(io);
    GuardedEvent g(withBanks(
        {synth::dwordBank("IO32", io32), synth::dwordBank("TDC0", {words::v1190Hit(0, 6, 60)}),
         synth::dwordBank("ADC0", {words::v785Datum(3, 6, 600)})},
        bank32));
    const uint32_t header = bank32 ? 12 : 8;
    const uint32_t claimed = header + (4 * uint32_t(io32.size()) + 7) / 8 * 8 + header + 2;
    std::memcpy(g.event.GetData(), &claimed, sizeof claimed);
    tarntest::CapturedStdout quiet;
    (*node)->SetInput(1, &g.event);
    m.apply(io);
    m.expectShownBy(sent());
    EXPECT_EQ(boardStamp(sent()), 99u);
  }
}

// Synthesised runs with module banks left out now and then, in both byte
// orders and bank header sizes.
TEST_F(CompositeTest, RunsOfSynthesisedEventsShowWhatWasWritten) {
  const uint32_t all = synth::kAllModuleBanks;
  const uint32_t patterns[] = {all,
                               all & ~synth::kBankTdc0,
                               all,
                               synth::kBankIo32 | synth::kBankMadc,
                               all & ~synth::kBankAdc0,
                               0u,
                               all & ~synth::kBankIo32};
  for (int variant = 0; variant < 4; ++variant) {
    SCOPED_TRACE(variant);
    TearDown();
    SetUp();
    synth::RunSpec spec;
    spec.events = 60;
    spec.seed = 3 + variant;
    spec.bank32 = variant & 1;
    spec.noise = 1;  // the unusual words too
    Model m;
    for (uint32_t i = 0; i < spec.events && !HasFailure(); ++i) {
      synth::Event e = synth::makeEvent(spec, i);  // the plain banks of a run
      ModuleContent c = synth::makeModuleContent(spec, i);
      c.banks = patterns[i % 7];
      synth::addModuleBanks(e, c);
      EXPECT_EQ(send(e, variant & 2), m.apply(c)) << "event " << i;
      m.expectShownBy(sent());
    }
  }
}

TEST(CompositeUnpackerGraph, ExampleGraphPrintsEveryEventOfARun) {
  tarntest::TempDir dir;
  synth::RunSpec spec;
  spec.events = 6;
  spec.modules = true;
  std::string error;
  const std::string file = dir.path() + "/run00001.mid.gz";
  ASSERT_TRUE(synth::writeRun(file, synth::makeRun(spec), false, synth::Damage::None, error));
  tarntest::RunResult r =
      tarntest::runTarn({"run", TARN_SOURCE_DIR "/examples/composite-printer.tarn", "--no-progress",
                         "--set", "in.file=" + file});
  ASSERT_EQ(r.status, 0) << r.err;
  size_t at = 0;  // one printed strand event per ordinary event, in order
  for (uint32_t i = 0; i < spec.events; ++i) {
    const uint32_t stamp = synth::makeModuleContent(spec, i).boardTimestamp;
    at = r.out.find("ScTimestamp:\t" + std::to_string(stamp) + "\n", at);
    ASSERT_NE(at, std::string::npos) << "event " << i << "\n" << r.out;
    at = r.out.find("TDCmatched:\t", at);
    ASSERT_NE(at, std::string::npos);
  }
  EXPECT_EQ(r.out.find("TDCmatched:\t", at + 1), std::string::npos);
}

}  // namespace
