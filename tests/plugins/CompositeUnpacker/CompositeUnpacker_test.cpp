#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "MidasSynth.h"
#include "ModuleBanks.h"
#include "ModuleWords.h"
#include "StrandEvent.h"
#include "TMidasEvent.h"
#include "TarnTest.h"

namespace {

using synth::ModuleContent;
namespace words = synth::words;

// A MIDAS event over an encoded data area that ends right before an unmapped
// page: a read past the data area crashes the test.
class GuardedEvent {
 public:
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
    h->fSerialNumber = e.serial;
    event.SetData(unsigned(area.size()), start);
  }
  ~GuardedEvent() {
    event.Clear();
    ::munmap(base, length);
  }
  TMidasEvent event;

 private:
  size_t length;
  char* base;
};

// Keeps every strand event that reaches it.
class Catcher : public TarnBase {
 public:
  Catcher() : TarnBase(nullptr, "catcher") {
    inputs.push_back(
        Input("fevent", static_cast<Handler>(&Catcher::take), TARN_STRANDEVENT, "caught"));
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
  if (!p || !p->value) {
    ADD_FAILURE() << "no property " << name;
    return {};
  }
  return *static_cast<const std::vector<T>*>(p->value);
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

std::string format(const char* f, unsigned v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, f, v);
  return buf;
}

// What the unpacker should show after a sequence of events, worked out from
// the contents written rather than from the bank words.
struct Model {
  std::vector<short> tdcChannel, tdcValue, adcChannel, adcValue;
  std::vector<short> madcBus, madcSample, madcValue, overflow;
  std::vector<int> scaler, stamps[4];
  uint32_t board = 0;

  // Applies one event's contents; returns the messages it should print.
  std::string apply(const ModuleContent& c, const std::string& instance) {
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
      for (const synth::AdcDatum& d : c.adc) {
        adcChannel.push_back(short(d.channel));
        adcValue.push_back(short(d.value));
      }
      for (uint32_t w : synth::v785Words(c)) {
        const uint32_t t = (w >> 24) & 7;
        if (t == 1 || t == 3 || t == 5 || t == 7) out += format("Undefined data: 0x%x\n", w);
        if (t == 6) out += "Not valid datum\n";
      }
    }
    if (c.banks & synth::kBankTdc0) {
      tdcChannel.clear();
      tdcValue.clear();
      for (const synth::TdcHit& h : c.tdc)
        if (h.edge == 0) {
          tdcChannel.push_back(short(h.channel));
          tdcValue.push_back(short(uint16_t(h.time)));
        }
      const std::set<uint32_t> known = {0, 1, 3, 4, 8, 16, 17, 24};
      for (uint32_t w : synth::v1190Words(c))
        if (!known.count(w >> 27)) out += format("unexpected tdc data 0x%08x\n", w);
    }
    if (c.banks & synth::kBankMadc) {
      madcBus.clear();
      madcSample.clear();
      madcValue.clear();
      for (const synth::MadcDatum& d : c.madc) {
        madcBus.push_back(short(d.bus));
        madcSample.push_back(short(d.sample));
        madcValue.push_back(d.outOfRange ? short(-1) : short(d.value));
        if (d.outOfRange) {
          if (overflow.size() <= d.sample) overflow.resize(d.sample + 1);
          ++overflow[d.sample];
        }
      }
      if (c.madcBufferOverflow)
        out += instance + ": HEADER: Mod 2, " + std::to_string(c.madc.size() + c.madcTdc.size()) +
               " entries: BUFFER OVERFLOW!\n";
    }
    return out;
  }

  // The k-th of A data of a channel with T hits gets hit k - (A - T) when A >= T.
  std::vector<short> matched() const {
    std::vector<short> m(adcChannel.size(), 0);
    for (short c = 0; c < 32; ++c) {
      std::vector<size_t> data;
      std::vector<short> times;
      for (size_t i = 0; i < adcChannel.size(); ++i)
        if (adcChannel[i] == c) data.push_back(i);
      for (size_t i = 0; i < tdcChannel.size(); ++i)
        if (tdcChannel[i] == c) times.push_back(tdcValue[i]);
      if (data.size() < times.size()) continue;
      const size_t skip = data.size() - times.size();
      for (size_t k = skip; k < data.size(); ++k) m[data[k]] = times[k - skip];
    }
    return m;
  }

  std::vector<int> adcTimes() const {
    std::vector<int> t;
    for (int s : stamps[1]) t.insert(t.end(), 32, s);
    return t;
  }

  void expectShownBy(StrandEvent& e) const {
    EXPECT_EQ(listOf<short>(e, "TDCChannel"), tdcChannel);
    EXPECT_EQ(listOf<short>(e, "TDCValue"), tdcValue);
    EXPECT_EQ(listOf<short>(e, "ADCChannel"), adcChannel);
    EXPECT_EQ(listOf<short>(e, "ADCValue"), adcValue);
    EXPECT_EQ(listOf<short>(e, "MADCBusNo"), madcBus);
    EXPECT_EQ(listOf<short>(e, "MADCSampleNo"), madcSample);
    EXPECT_EQ(listOf<short>(e, "MADCValue"), madcValue);
    EXPECT_EQ(listOf<short>(e, "MOverflow"), overflow);
    EXPECT_EQ(listOf<int>(e, "Scaler"), scaler);
    EXPECT_EQ(listOf<int>(e, "ProtonTime"), stamps[0]);
    EXPECT_EQ(listOf<int>(e, "ADCTime"), stamps[1]);
    EXPECT_EQ(listOf<int>(e, "MADCTime"), stamps[2]);
    EXPECT_EQ(*static_cast<uint32_t*>(property(e, "ScTimestamp")->value), board);
    EXPECT_EQ(listOf<short>(e, "TDCmatched"), matched());
    EXPECT_EQ(listOf<int>(e, "ADCTimeMatched"), adcTimes());
    EXPECT_TRUE(listOf<short>(e, "VFTime").empty());
  }
};

class CompositeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tarntest::CapturedStdout quiet;
    node.reset(new tarntest::Node("CompositeUnpacker", "cu"));
    unpacker()->Init();
    ASSERT_TRUE(unpacker()->AddReceiver(0, &catcher, 0));
  }
  void TearDown() override {
    tarntest::CapturedStdout quiet;
    node.reset();
  }
  TarnBase* unpacker() const { return node->get(); }

  // Decodes one event and returns what the unpacker printed; exactly one
  // strand event must come out for it.
  std::string send(const synth::Event& e, bool swapped = false) {
    GuardedEvent g(e, swapped);
    const size_t before = catcher.got.size();
    tarntest::CapturedStdout out;
    unpacker()->SetInput(1, &g.event);
    const std::string text = out.text();
    EXPECT_EQ(catcher.got.size(), before + 1) << "the strand event was not sent once";
    return text;
  }
  std::string send(const ModuleContent& c) { return send(eventOf(c)); }
  StrandEvent& sent() { return *catcher.got.back(); }
  std::vector<short> shorts(const std::string& name) { return listOf<short>(sent(), name); }
  std::vector<int> ints(const std::string& name) { return listOf<int>(sent(), name); }

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
    EXPECT_EQ(a->inputs[0].name, "StrandEvent");
    EXPECT_EQ(a->inputs[0].type, TARN_STRANDEVENT);
    EXPECT_EQ(a->inputs[0].description,
              "Alternative strand event, generated by StrandEventGenerator.");
    EXPECT_EQ(a->inputs[1].name, "event");
    EXPECT_EQ(a->inputs[1].type, TARN_OBJECT);
    EXPECT_EQ(a->inputs[1].description, "Midas event from LiveSource or -File");
    ASSERT_EQ(a->outputs.size(), 1u);
    EXPECT_EQ(a->outputs[0].name, "fevent");
    EXPECT_EQ(a->outputs[0].type, TARN_STRANDEVENT);
    EXPECT_EQ(a->outputs[0].description, "Decoded IO32 StrandEvent");
    a->SetInput(1, static_cast<void*>(nullptr));  // no event: nothing happens
    a->SetInput(0, static_cast<void*>(nullptr));
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
  const std::vector<Want> want = {
      {"ADCChannel", TARN_SHORT_V, 32, 0, 32},         {"ADCTime", TARN_INT_V, 0, 0, 0},
      {"ADCTimeMatched", TARN_INT_V, 0, 0, 0},         {"ADCValue", TARN_SHORT_V, 4096, 0, 4096},
      {"MADCBusNo", TARN_SHORT_V, 2, 0, 2},            {"MADCSampleNo", TARN_SHORT_V, 0, 0, 0},
      {"MADCTime", TARN_INT_V, 0, 0, 0},               {"MADCValue", TARN_SHORT_V, 4096, 0, 4096},
      {"MOverflow", TARN_SHORT_V, 0, 0, 0},            {"ProtonTime", TARN_INT_V, 0, 0, 0},
      {"ScTimestamp", TARN_UINT32, 0, 0, 0},           {"Scaler", TARN_INT_V, 0, 0, 0},
      {"TDCChannel", TARN_SHORT_V, 128, 0, 128},       {"TDCValue", TARN_SHORT_V, 262144, 0, 262144},
      {"TDCmatched", TARN_SHORT_V, 262144, 0, 262144}, {"VFChannel", TARN_SHORT_V, 0, 0, 0},
      {"VFCharge", TARN_SHORT_V, 0, 2048, 2048},       {"VFModuleIndex", TARN_SHORT_V, 0, 0, 0},
      {"VFPedestal", TARN_FLOAT_V, 0, 0, 0},           {"VFPulseheight", TARN_SHORT_V, 0, 1024, 1024},
      {"VFSignal", TARN_SHORT_VV, 0, 0, 0},            {"VFTime", TARN_SHORT_V, 0, 0, 0},
      {"VFTimestamps", TARN_UINT64_V, 0, 0, 0},        {"VFWidth", TARN_SHORT_V, 0, 0, 0},
  };
  tarntest::CapturedStdout quiet;
  tarntest::Node u("CompositeUnpacker", "cu");
  StrandEvent adopted;
  int other = 7;
  adopted["Foreign"] = StrandProperty(TARN_INT, StrandBinning(), &other);
  adopted.layout = true;

  u->SetInput(0, &adopted);  // registers without waiting for Init()
  ASSERT_EQ(adopted.size(), want.size() + 1);
  EXPECT_EQ(property(adopted, "Foreign")->value, &other);  // other properties stay
  std::set<void*> values;
  auto it = adopted.begin();
  for (const Want& w : want) {
    if (it->first == "Foreign") ++it;
    SCOPED_TRACE(w.name);
    ASSERT_EQ(it->first, w.name);
    EXPECT_EQ(it->second.type, w.type);
    EXPECT_EQ(it->second.binning.min, w.min);
    EXPECT_EQ(it->second.binning.max, w.max);
    EXPECT_EQ(it->second.binning.bins, w.bins);
    EXPECT_TRUE(it->second.binning.edges.empty());
    EXPECT_NE(it->second.value, nullptr);
    values.insert(it->second.value);
    ++it;
  }
  EXPECT_EQ(values.size(), want.size()) << "two properties show the same list";
  EXPECT_TRUE(adopted.layout) << "registering is no event: the event is not reset";

  // Registering again, by the input or by the host's Init(), changes nothing.
  struct Seen {
    std::string name;
    tarn_type type;
    double min, max;
    int bins;
    void* value;
    bool operator==(const Seen& o) const {
      return name == o.name && type == o.type && min == o.min && max == o.max && bins == o.bins &&
             value == o.value;
    }
  };
  auto snapshot = [&] {
    std::vector<Seen> s;
    for (auto& e : adopted)
      s.push_back({e.first, e.second.type, e.second.binning.min, e.second.binning.max,
                   e.second.binning.bins, e.second.value});
    return s;
  };
  const std::vector<Seen> first = snapshot();
  u->SetInput(0, &adopted);
  EXPECT_TRUE(snapshot() == first);
  u->Init();
  EXPECT_TRUE(snapshot() == first);

  // The adopted event is the one filled and sent from now on.
  Catcher c;
  ASSERT_TRUE(u->AddReceiver(0, &c, 0));
  ModuleContent mc;
  mc.tdc = {{3, 77, 0}};
  GuardedEvent g(eventOf(mc));
  u->SetInput(1, &g.event);
  ASSERT_EQ(c.got.size(), 1u);
  EXPECT_EQ(c.got[0], &adopted);
  EXPECT_EQ(listOf<short>(adopted, "TDCValue"), std::vector<short>{77});
}

TEST_F(CompositeTest, VFTimeAlwaysShowsTheEmptyVF48List) {
  ModuleContent c;
  c.stamps = {{3, 333}, {0, 10}, {3, 334}, {1, 11}, {2, 12}};
  send(c);
  const StrandProperty* vf = property(sent(), "VFTime");
  ASSERT_NE(vf, nullptr);
  EXPECT_EQ(vf->type, TARN_SHORT_V);
  EXPECT_TRUE(shorts("VFTime").empty());
  EXPECT_EQ(ints("ProtonTime"), std::vector<int>{10});
  EXPECT_EQ(ints("ADCTime"), std::vector<int>{11});
  EXPECT_EQ(ints("MADCTime"), std::vector<int>{12});
  // Input 3's time stamps are shown by no property at all.
  for (auto& e : sent()) {
    if (e.second.type != TARN_INT_V) continue;
    for (int v : *static_cast<std::vector<int>*>(e.second.value))
      EXPECT_TRUE(v != 333 && v != 334) << e.first;
  }
  for (const char* vf48 : {"VFModuleIndex", "VFChannel", "VFPulseheight", "VFCharge", "VFWidth"})
    EXPECT_TRUE(shorts(vf48).empty()) << vf48;
  EXPECT_TRUE(listOf<std::vector<short>>(sent(), "VFSignal").empty());
  EXPECT_TRUE(listOf<float>(sent(), "VFPedestal").empty());
  EXPECT_TRUE(listOf<uint64_t>(sent(), "VFTimestamps").empty());
}

TEST_F(CompositeTest, ModulesAreDecodedInBankOrderWithTheirFieldsOnly) {
  ModuleContent c;
  // Times 30, 10, 20 stay in that order; 40000 is stored as its low 16 bits,
  // and 0x3FFFF loses bits 16 and 17.
  c.tdc = {{1, 30, 0}, {63, 10, 0}, {2, 20, 0}, {0, 40000, 0}, {7, 0x3FFFF, 0}};
  c.tdcError = c.tdcFiller = true;
  // Values 100, 3000, 100, 50 stay in that order; flags bits are not part of the value.
  c.adc = {{4, 100, 0}, {31, 3000, 0x1000}, {0, 100, 0x2000}, {4, 50, 0x3000}};
  c.boardTimestamp = 0xFEDCBA98;
  c.scalers = {0xFFFFFFFF, 1, 2};
  c.stamps = {{0, 0xFFFFFFF}, {1, 5}, {0, 3}, {5, 99}, {15, 98}};  // 5 and 15 have no list
  c.madc = {{1023, 1, false, 4095}, {0, 0, false, 0}};
  EXPECT_EQ(send(c), "");
  EXPECT_EQ(shorts("TDCChannel"), (std::vector<short>{1, 63, 2, 0, 7}));
  EXPECT_EQ(shorts("TDCValue"), (std::vector<short>{30, 10, 20, -25536, -1}));
  EXPECT_EQ(shorts("ADCChannel"), (std::vector<short>{4, 31, 0, 4}));
  EXPECT_EQ(shorts("ADCValue"), (std::vector<short>{100, 3000, 100, 50}));
  EXPECT_EQ(*static_cast<uint32_t*>(property(sent(), "ScTimestamp")->value), 0xFEDCBA98u);
  EXPECT_EQ(ints("Scaler"), (std::vector<int>{-1, 1, 2}));  // the same 32 bits
  EXPECT_EQ(ints("ProtonTime"), (std::vector<int>{0xFFFFFFF, 3}));
  EXPECT_EQ(ints("ADCTime"), std::vector<int>{5});
  EXPECT_TRUE(ints("MADCTime").empty());
  EXPECT_EQ(shorts("MADCSampleNo"), (std::vector<short>{1023, 0}));
  EXPECT_EQ(shorts("MADCBusNo"), (std::vector<short>{1, 0}));
  EXPECT_EQ(shorts("MADCValue"), (std::vector<short>{4095, 0}));
  EXPECT_TRUE(shorts("MOverflow").empty());

  // Bit 25 is not part of the channel, bit 18 not part of the time.
  send(withBanks({synth::dwordBank("TDC0", {words::v1190Hit(0, 9, 5) | (1u << 25) | (1u << 18)})}));
  EXPECT_EQ(shorts("TDCChannel"), std::vector<short>{9});
  EXPECT_EQ(shorts("TDCValue"), std::vector<short>{5});
}

TEST_F(CompositeTest, AdcDataAreMatchedWithLeadingEdgeTimesOfTheirChannel) {
  ModuleContent c;
  c.adc = {{5, 10, 0}, {2, 20, 0}, {5, 11, 0}, {2, 21, 0}, {4, 30, 0}, {2, 22, 0}, {8, 40, 0},
           {6, 50, 0}};
  c.tdc = {{5, 100, 0}, {2, 50, 0}, {4, 7, 0},  {5, 150, 1}, {5, 200, 0},
           {4, 8, 0},   {2, 60, 1}, {40, 999, 0}, {6, 70, 0}, {6, 70, 0}};
  send(c);
  // Channel 5: two data, two hits; channel 2: three data, one leading hit (the
  // trailing one does not count); channel 4: one datum, two hits; channel 8
  // has no hit of its own (40 is another channel); channel 6: one datum, two hits.
  EXPECT_EQ(shorts("TDCmatched"), (std::vector<short>{100, 0, 200, 0, 0, 50, 0, 0}));
  EXPECT_EQ(shorts("TDCChannel"), (std::vector<short>{5, 2, 4, 5, 4, 40, 6, 6}));
  EXPECT_EQ(shorts("TDCValue"), (std::vector<short>{100, 50, 7, 200, 8, 999, 70, 70}));

  // Hits without data, and no data at all: nothing to match.
  c.adc.clear();
  send(c);
  EXPECT_TRUE(shorts("TDCmatched").empty());
  // Data without hits all stay 0; a channel with as many trailing edges as data too.
  c.adc = {{3, 1, 0}, {3, 2, 0}};
  c.tdc = {{3, 11, 1}, {3, 12, 1}};
  send(c);
  EXPECT_TRUE(shorts("TDCChannel").empty());
  EXPECT_EQ(shorts("TDCmatched"), (std::vector<short>{0, 0}));
}

// 16-bit counters would wrap on banks this large (65537 = 1 modulo 65536) and
// take a time from an empty queue, or pair data with hits they do not match.
TEST_F(CompositeTest, HugeBanksStillMatchByTheirTrueCounts) {
  std::vector<uint32_t> adc(65537, words::v785Datum(0, 3, 9)), tdc = {words::v1190Hit(0, 3, 77)};
  send(withBanks({synth::dwordBank("ADC0", adc), synth::dwordBank("TDC0", tdc)}, true));
  std::vector<short> want(65537, 0);
  want.back() = 77;
  EXPECT_EQ(shorts("TDCmatched"), want);

  std::vector<uint32_t> hits(65537, words::v1190Hit(0, 3, 78));
  send(withBanks({synth::dwordBank("ADC0", {words::v785Datum(0, 3, 9)}),
                  synth::dwordBank("TDC0", hits)}, true));
  EXPECT_EQ(shorts("TDCmatched"), std::vector<short>{0});
  EXPECT_EQ(shorts("TDCValue").size(), 65537u);
}

TEST_F(CompositeTest, AdcTimeMatchedHoldsEachAdcTimeStamp32Times) {
  ModuleContent c;
  c.stamps = {{1, 0xABCDEF1}, {0, 5}, {1, 42}};
  send(c);
  std::vector<int> want(32, 0xABCDEF1);
  want.insert(want.end(), 32, 42);
  EXPECT_EQ(ints("ADCTimeMatched"), want);
  // Rebuilt, not appended to, when the IO32 bank is missing.
  send(withBanks({}));
  EXPECT_EQ(ints("ADCTimeMatched"), want);
  c.stamps = {{0, 5}};
  send(c);
  EXPECT_TRUE(ints("ADCTimeMatched").empty());
}

TEST_F(CompositeTest, AnEventWithoutModuleBanksIsSentWithTheLastData) {
  StrandEvent adopted;
  unpacker()->SetInput(0, &adopted);
  ModuleContent a;
  a.adc = {{1, 5, 0}, {1, 6, 0}};
  a.tdc = {{1, 300, 0}};
  a.stamps = {{1, 8}};
  a.scalers = {4};
  a.madc = {{2, 0, true, 0}};
  Model m;
  m.apply(a, "cu");
  send(a);
  m.expectShownBy(sent());
  EXPECT_EQ(shorts("TDCmatched"), (std::vector<short>{0, 300}));

  // Only new TDC hits: the old ADC data are matched with them.
  ModuleContent b;
  b.banks = synth::kBankTdc0;
  b.tdc = {{1, 400, 0}, {1, 500, 0}};
  m.apply(b, "cu");
  send(b);
  m.expectShownBy(sent());
  EXPECT_EQ(shorts("TDCmatched"), (std::vector<short>{400, 500}));

  // None of the four banks: the event is still sent, nothing is reset, and
  // the matching is done again from the lists as they stand.
  auto* matched = static_cast<std::vector<short>*>(property(adopted, "TDCmatched")->value);
  matched->assign(5, -7);  // what a careless receiver might leave behind
  adopted.layout = true;
  // (An IO32 bank of two words counts as none.)
  synth::Event none = withBanks({synth::dwordBank("TDC1", {words::v1190Hit(0, 1, 1)}),
                                 synth::wordBank("ADC1", {1, 2}), synth::dwordBank("IO32", {1, 2})});
  EXPECT_EQ(send(none), "");
  EXPECT_EQ(&sent(), &adopted);
  EXPECT_TRUE(adopted.layout);
  m.expectShownBy(sent());
  EXPECT_EQ(send(withBanks({})), "");
  m.expectShownBy(sent());

  // A bank that is present resets the event.
  ModuleContent madcOnly;
  madcOnly.banks = synth::kBankMadc;
  send(madcOnly);
  EXPECT_FALSE(adopted.layout);
}

TEST_F(CompositeTest, AMissingBankLeavesOnlyItsOwnModuleAsItWas) {
  ModuleContent a, b;
  a.tdc = {{1, 10, 0}, {2, 20, 0}};
  a.adc = {{1, 100, 0}, {2, 200, 0}};
  a.boardTimestamp = 1;
  a.scalers = {11};
  a.stamps = {{0, 1}, {1, 2}, {2, 3}};
  a.madc = {{4, 1, false, 44}};
  b.tdc = {{2, 30, 0}};
  b.adc = {{2, 300, 0}, {5, 500, 0}};
  b.boardTimestamp = 2;
  b.scalers = {22, 23};
  b.stamps = {{1, 9}};
  b.madc = {{5, 0, false, 55}, {6, 1, false, 66}};
  for (uint32_t missing : {synth::kBankTdc0, synth::kBankAdc0, synth::kBankIo32, synth::kBankMadc}) {
    SCOPED_TRACE(missing);
    Model m;
    m.apply(a, "cu");
    send(a);
    m.expectShownBy(sent());
    b.banks = synth::kAllModuleBanks & ~missing;
    m.apply(b, "cu");
    send(b);
    m.expectShownBy(sent());
  }
}

TEST_F(CompositeTest, MadcShowsOnlyItsAdcDataAndCountsOutOfRangeOverTheRun) {
  ModuleContent c;
  c.banks = synth::kBankMadc;
  c.madc = {{7, 1, true, 123}, {3, 0, false, 9}};
  // TDC data, even out of range, time stamps and class-2 words leave no trace.
  c.madcTdc = {{1, true, 77}, {0, false, 78}};
  c.madcTimestamp = true;
  c.madcStamp = 0x3FFFFFFF;
  EXPECT_EQ(send(c), "");
  EXPECT_EQ(shorts("MADCSampleNo"), (std::vector<short>{7, 3}));
  EXPECT_EQ(shorts("MADCBusNo"), (std::vector<short>{1, 0}));
  EXPECT_EQ(shorts("MADCValue"), (std::vector<short>{-1, 9}));
  EXPECT_EQ(shorts("MOverflow"), (std::vector<short>{0, 0, 0, 0, 0, 0, 0, 1}));
  // The time stamp reaches no property: with no IO32 bank yet, every 32-bit value is empty or 0.
  EXPECT_EQ(*static_cast<uint32_t*>(property(sent(), "ScTimestamp")->value), 0u);
  for (auto& e : sent()) {
    if (e.second.type == TARN_INT_V) {
      EXPECT_TRUE(ints(e.first).empty()) << e.first;
    }
  }

  c.madc = {{7, 0, true, 0}, {2, 0, true, 0}};
  c.madcTdc.clear();
  c.madcBufferOverflow = true;
  EXPECT_EQ(send(c), "cu: HEADER: Mod 2, 2 entries: BUFFER OVERFLOW!\n");
  EXPECT_EQ(shorts("MOverflow"), (std::vector<short>{0, 0, 1, 0, 0, 0, 0, 2}));
  c.madc = {{1, 0, false, 1}};
  c.madcBufferOverflow = false;
  send(c);  // a bank without out-of-range data clears no count
  EXPECT_EQ(shorts("MOverflow"), (std::vector<short>{0, 0, 1, 0, 0, 0, 0, 2}));
  EXPECT_EQ(shorts("MADCValue"), std::vector<short>{1});
}

// The counts run over a whole run; they stop at the largest value the list can
// show instead of turning negative.
TEST_F(CompositeTest, OutOfRangeCountsStopAtTheirLargestValue) {
  std::vector<uint32_t> data(40000, words::mdi2Adc(3, 0, true, 0));
  send(withBanks({synth::dwordBank("MADC", data)}, true));
  EXPECT_EQ(shorts("MOverflow"), (std::vector<short>{0, 0, 0, 32767}));
  send(withBanks({synth::dwordBank("MADC", {words::mdi2Adc(3, 0, true, 0)})}));
  EXPECT_EQ(shorts("MOverflow"), (std::vector<short>{0, 0, 0, 32767}));
}

TEST_F(CompositeTest, OddWordsAreReportedInBankOrderAndSkipped) {
  const std::vector<uint32_t> adc = {words::v785Header(3, 0, 2), words::v785Datum(3, 1, 10),
                                     0x19000000u,  // type 1
                                     words::v785NotValid(3), 0x0300000Au,  // type 3
                                     0x05000001u, 0x07FFFFFFu,  // types 5, 7
                                     words::v785Datum(3, 2, 20), words::v785EndOfBlock(3, 1)};
  const std::vector<uint32_t> tdc = {words::v1190GlobalHeader(1, 5), 0x10000000u,  // type 2
                                     words::v1190Hit(0, 1, 5), 0xFFFFFFFFu,        // type 31
                                     0x28000000u, words::v1190TimeTag(4),          // type 5
                                     words::v1190Filler(), words::v1190GlobalTrailer(0, 8, 5)};
  const std::vector<uint32_t> madc = {words::mdi2Header(3, 100, true), words::mdi2Adc(0, 0, false, 1),
                                      words::mdi2Header(255, 2047, true),
                                      words::mdi2Header(1, 5, false)};
  const std::string out = send(withBanks({synth::dwordBank("MADC", madc), synth::dwordBank("TDC0", tdc),
                                          synth::dwordBank("ADC0", adc)}));
  // IO32, ADC, TDC, MADC: the order of decoding, not of the banks.
  EXPECT_EQ(out,
            "Undefined data: 0x19000000\n"
            "Not valid datum\n"
            "Undefined data: 0x300000a\n"
            "Undefined data: 0x5000001\n"
            "Undefined data: 0x7ffffff\n"
            "unexpected tdc data 0x10000000\n"
            "unexpected tdc data 0xffffffff\n"
            "unexpected tdc data 0x28000000\n"
            "cu: HEADER: Mod 3, 100 entries: BUFFER OVERFLOW!\n"
            "cu: HEADER: Mod 255, 2047 entries: BUFFER OVERFLOW!\n");
  EXPECT_EQ(shorts("ADCValue"), (std::vector<short>{10, 20}));
  EXPECT_EQ(shorts("TDCValue"), std::vector<short>{5});
  EXPECT_EQ(shorts("MADCValue"), std::vector<short>{1});
}

TEST_F(CompositeTest, Io32BankLayoutAndShortBanks) {
  auto io32 = [](std::vector<uint32_t> w) { return withBanks({synth::dwordBank("IO32", w)}); };
  // S = 2: words 3 and 4 are scalers, 5 is skipped, 6 on are time stamps.
  send(io32({0, 77, 2, 10, 11, 0x1000000F, 0x3000002A, 0x0000002A, 0x4000002B, 0xF0000001}));
  EXPECT_EQ(*static_cast<uint32_t*>(property(sent(), "ScTimestamp")->value), 77u);
  EXPECT_EQ(ints("Scaler"), (std::vector<int>{10, 11}));
  EXPECT_EQ(ints("ProtonTime"), std::vector<int>{42});
  EXPECT_TRUE(ints("ADCTime").empty());

  // Two words or fewer, or an IO32 bank of another type holding fewer than
  // three whole words: nothing changes.
  for (const synth::Event& e :
       {io32({1, 2}), io32({}), withBanks({synth::wordBank("IO32", {1, 2, 3, 4, 5})})}) {
    send(e);
    EXPECT_EQ(*static_cast<uint32_t*>(property(sent(), "ScTimestamp")->value), 77u);
    EXPECT_EQ(ints("Scaler"), (std::vector<int>{10, 11}));
    EXPECT_EQ(ints("ProtonTime"), std::vector<int>{42});
  }

  send(io32({0, 5, 0}));  // exactly three words: set and emptied
  EXPECT_EQ(*static_cast<uint32_t*>(property(sent(), "ScTimestamp")->value), 5u);
  EXPECT_TRUE(ints("Scaler").empty());
  EXPECT_TRUE(ints("ProtonTime").empty());
  send(io32({0, 6, 0xFFFFFFFF, 0x10000001, 0x10000002}));  // negative S: all time stamps
  EXPECT_TRUE(ints("Scaler").empty());
  EXPECT_EQ(ints("ADCTime"), (std::vector<int>{1, 2}));
  send(io32({0, 6, 0x7FFFFFFF, 0x10000001, 0x10000002}));  // S beyond the bank: all scalers
  EXPECT_EQ(ints("Scaler"), (std::vector<int>{0x10000001, 0x10000002}));
  EXPECT_TRUE(ints("ADCTime").empty());
}

// The banks lie at the very end of the event, before an unmapped page.
TEST_F(CompositeTest, BanksOfOtherTypesAreReadOnlyAsFarAsTheyReach) {
  // Three 16-bit elements hold one whole 32-bit word: a hit on channel 5 at 100.
  send(withBanks({synth::wordBank("TDC0", {0x0064, 0x0028, 0xFFFF})}));
  EXPECT_EQ(shorts("TDCChannel"), std::vector<short>{5});
  EXPECT_EQ(shorts("TDCValue"), std::vector<short>{100});
  send(withBanks({synth::byteBank("ADC0", synth::TID_CHAR, {0x07, 0x00, 0x04, 0x00, 0xEE})}));
  EXPECT_EQ(shorts("ADCChannel"), std::vector<short>{4});
  EXPECT_EQ(shorts("ADCValue"), std::vector<short>{7});
  send(withBanks({synth::byteBank("MADC", synth::TID_BYTE, {0x01, 0x00, 0x02})}));
  EXPECT_TRUE(shorts("MADCValue").empty());
  // A double bank counts its elements, not its 32-bit words.
  send(withBanks({synth::doubleBank("TDC0", {0.0})}, true));
  EXPECT_EQ(shorts("TDCValue"), std::vector<short>{0});

  // An empty bank is a module read out without data: its lists are emptied.
  send(withBanks({synth::dwordBank("TDC0", {}), synth::dwordBank("ADC0", {}),
                  synth::dwordBank("MADC", {})}));
  EXPECT_TRUE(shorts("TDCValue").empty());
  EXPECT_TRUE(shorts("ADCValue").empty());
  EXPECT_TRUE(shorts("MADCValue").empty());
}

// A whole synthesised run, with module banks left out now and then, in every
// byte order and bank header size.
TEST_F(CompositeTest, RunsOfSynthesisedEventsShowWhatWasWritten) {
  const uint32_t patterns[] = {synth::kAllModuleBanks, synth::kAllModuleBanks & ~synth::kBankTdc0,
                               synth::kAllModuleBanks, synth::kBankIo32 | synth::kBankMadc,
                               synth::kAllModuleBanks & ~synth::kBankAdc0, 0u,
                               synth::kAllModuleBanks};
  for (bool bank32 : {false, true})
    for (bool swapped : {false, true}) {
      SCOPED_TRACE(std::string(bank32 ? "32-bit" : "16-bit") + (swapped ? " swapped" : ""));
      TearDown();
      SetUp();
      synth::RunSpec spec;
      spec.events = 60;
      spec.seed = 3 + bank32 + 2 * swapped;
      spec.bank32 = bank32;
      Model m;
      for (uint32_t i = 0; i < spec.events; ++i) {
        synth::Event e = synth::makeEvent(spec, i);  // the plain banks of a run
        ModuleContent c = synth::makeModuleContent(spec, i);
        c.banks = patterns[i % 7];
        synth::addModuleBanks(e, c);
        const std::string want = m.apply(c, "cu");
        EXPECT_EQ(send(e, swapped), want) << "event " << i;
        m.expectShownBy(sent());
        if (HasFailure()) return;
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
  ASSERT_TRUE(synth::writeRun(file, synth::makeRun(spec), false, synth::Damage::None, error)) << error;
  tarntest::RunResult r = tarntest::runTarn({"run", TARN_SOURCE_DIR "/examples/composite-printer.tarn",
                                             "--no-progress", "--set", "in.file=" + file});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("unpack instantiated\n"), std::string::npos);
  // One printed strand event per ordinary event, in order, each with its board time stamp.
  size_t at = 0;
  for (uint32_t i = 0; i < spec.events; ++i) {
    const std::string stamp =
        "ScTimestamp:\t" + std::to_string(synth::makeModuleContent(spec, i).boardTimestamp) + "\n";
    at = r.out.find(stamp, at);
    ASSERT_NE(at, std::string::npos) << "event " << i << "\n" << r.out;
    ++at;
  }
  size_t printed = 0;
  for (size_t p = 0; (p = r.out.find("TDCmatched:\t", p)) != std::string::npos; ++p) ++printed;
  EXPECT_EQ(printed, spec.events);
}

}  // namespace
