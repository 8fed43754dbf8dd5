#include <gtest/gtest.h>

#include "../common/UnpackerRig.h"
#include "ModuleBanks.h"
#include "ModuleWords.h"

using namespace unpacktest;
namespace w = synth::words;
using L = std::vector<long>;

namespace {

synth::Event madcEvent(const std::vector<uint32_t>& words, bool bank32 = false) {
  return eventOf({synth::dwordBank("MADC", words)}, bank32);
}

struct Madc {
  L adcBus, adcSample, adcValue, tdcBus, tdcValue, overflow;
  long stamp;
  bool operator==(const Madc& o) const {
    return adcBus == o.adcBus && adcSample == o.adcSample && adcValue == o.adcValue &&
           tdcBus == o.tdcBus && tdcValue == o.tdcValue && overflow == o.overflow && stamp == o.stamp;
  }
};
std::ostream& operator<<(std::ostream& out, const Madc& m) {
  auto list = [&](const char* name, const L& l) {
    out << " " << name << ":";
    for (long v : l) out << " " << v;
  };
  list("adcBus", m.adcBus);
  list("adcSample", m.adcSample);
  list("adcValue", m.adcValue);
  list("tdcBus", m.tdcBus);
  list("tdcValue", m.tdcValue);
  list("overflow", m.overflow);
  return out << " stamp " << m.stamp;
}
Madc madc(const Arrival& a) {
  return {a.lists.at("ADCBusNo"), a.lists.at("ADCSampleNo"), a.lists.at("ADCValue"),
          a.lists.at("TDCBusNo"), a.lists.at("TDCValue"),    a.lists.at("Overflow"),
          a.scalars.at("MTimestamp")};
}

TEST(Mdi2Unpacker, DeclaresPortsAndRegistersItsValuesInAnAdoptedEvent) {
  tarntest::CapturedStdout out;
  {
    Rig rig("Mdi2Unpacker", "MADC", "madc");
    TarnBase* u = rig.node.get();
    EXPECT_EQ(u->description, "Decode Midas events from MDI2 modules");
    ASSERT_EQ(u->inputs.size(), 3u);
    EXPECT_EQ(u->inputs[0].name, "StrandEvent");
    EXPECT_EQ(u->inputs[1].name, "event");
    EXPECT_EQ(u->inputs[2].name, "bank");
    ASSERT_EQ(u->outputs.size(), 1u);
    EXPECT_EQ(u->outputs[0].description, "Decoded MDI2 StrandEvent");

    StrandEvent mine;
    u->SetInput(0, &mine);
    ASSERT_EQ(mine.size(), 7u);
    struct Want {
      const char* name;
      tarn_type type;
      double min;
      int bins;
    };
    for (const Want& p : {Want{"ADCBusNo", TARN_SHORT_V, 2.0, 2}, Want{"TDCBusNo", TARN_SHORT_V, 2.0, 2},
                          Want{"ADCSampleNo", TARN_SHORT_V, 0.0, 0},
                          Want{"ADCValue", TARN_SHORT_V, 4096.0, 4096},
                          Want{"TDCValue", TARN_SHORT_V, 4096.0, 4096}, Want{"Overflow", TARN_SHORT_V, 0.0, 0},
                          Want{"MTimestamp", TARN_INT, 0.0, 0}}) {
      SCOPED_TRACE(p.name);
      EXPECT_EQ(mine[p.name].type, p.type);
      EXPECT_EQ(mine[p.name].binning.min, p.min);
      EXPECT_EQ(mine[p.name].binning.max, 0.0);
      EXPECT_EQ(mine[p.name].binning.bins, p.bins);
    }
    ASSERT_TRUE(rig.feed(madcEvent({w::mdi2Tdc(1, false, 12)})));
    EXPECT_EQ(rig.last().event, &mine);
    EXPECT_EQ(madc(rig.last()), (Madc{{}, {}, {}, {1}, {12}, {}, 0}));
  }
  EXPECT_EQ(out.text(), "madc instantiated\nmadc deleted\n");
}

TEST(Mdi2Unpacker, CountsOutOfRangeAdcDataPerSampleAcrossEvents) {
  Rig rig("Mdi2Unpacker", "MADC");
  ASSERT_TRUE(rig.feed(madcEvent({w::mdi2Adc(7, 1, true, 123)})));
  EXPECT_EQ(madc(rig.last()), (Madc{{1}, {7}, {-1}, {}, {}, {0, 0, 0, 0, 0, 0, 0, 1}, 0}));
  ASSERT_TRUE(rig.feed(madcEvent({w::mdi2Adc(3, 0, false, 4095), w::mdi2Adc(7, 0, true, 5),
                                  w::mdi2Adc(2, 1, true, 0), w::mdi2Adc(0, 1, false, 0)})));
  EXPECT_EQ(madc(rig.last()),
            (Madc{{0, 0, 1, 1}, {3, 7, 2, 0}, {4095, -1, -1, 0}, {}, {}, {0, 0, 1, 0, 0, 0, 0, 2}, 0}));
  // A missing bank leaves the counts as they are.
  StrandEvent* held = rig.last().event;
  EXPECT_FALSE(rig.feed(eventOf({})));
  EXPECT_EQ(madc(look(held)), (Madc{{}, {}, {}, {}, {}, {0, 0, 1, 0, 0, 0, 0, 2}, 0}));
  ASSERT_TRUE(rig.feed(madcEvent({w::mdi2Adc(1023, 0, true, 0)})));
  const L& overflow = rig.last().lists.at("Overflow");
  ASSERT_EQ(overflow.size(), 1024u);
  EXPECT_EQ(overflow[2], 1);
  EXPECT_EQ(overflow[7], 2);
  EXPECT_EQ(overflow[1023], 1);
}

// The counts run over a whole run: they stop at the largest 16-bit count
// rather than turn negative.
TEST(Mdi2Unpacker, OverflowCountsStopAtTheirLargestValue) {
  Rig rig("Mdi2Unpacker", "MADC");
  const std::vector<uint32_t> many(20000, w::mdi2Adc(1, 0, true, 0));
  for (int i = 0; i < 2; ++i) ASSERT_TRUE(rig.feed(madcEvent(many, true)));
  EXPECT_EQ(rig.last().lists.at("Overflow"), (L{0, 32767}));
  ASSERT_TRUE(rig.feed(madcEvent({w::mdi2Adc(0, 0, true, 0), w::mdi2Adc(1, 0, true, 0)})));
  EXPECT_EQ(rig.last().lists.at("Overflow"), (L{1, 32767}));
}

TEST(Mdi2Unpacker, ReportsTdcOverflowAndKeepsTheValue) {
  Rig rig("Mdi2Unpacker", "MADC");
  tarntest::CapturedStdout out;
  ASSERT_TRUE(rig.feed(madcEvent({w::mdi2Tdc(0, false, 100), w::mdi2Tdc(1, true, 4095),
                                  w::mdi2Adc(4, 1, false, 17), w::mdi2Tdc(1, true, 0)})));
  EXPECT_EQ(out.text(), "TDC overflow!\nTDC overflow!\n");
  EXPECT_EQ(madc(rig.last()), (Madc{{1}, {4}, {17}, {0, 1, 1}, {100, 4095, 0}, {}, 0}));
}

TEST(Mdi2Unpacker, ReportsABufferOverflowInTheHeader) {
  Rig rig("Mdi2Unpacker", "MADC", "madc2");
  tarntest::CapturedStdout out;
  ASSERT_TRUE(rig.feed(madcEvent({w::mdi2Header(3, 100, true), w::mdi2Header(4, 5, false),
                                  w::mdi2Adc(1, 0, false, 9), w::mdi2Header(255, 2047, true)})));
  EXPECT_EQ(out.text(),
            "madc2: HEADER: Mod 3, 100 entries: BUFFER OVERFLOW!\n"
            "madc2: HEADER: Mod 255, 2047 entries: BUFFER OVERFLOW!\n");
  EXPECT_EQ(madc(rig.last()), (Madc{{0}, {1}, {9}, {}, {}, {}, 0}));
}

TEST(Mdi2Unpacker, KeepsTheLastTimeStampAcrossEvents) {
  Rig rig("Mdi2Unpacker", "MADC");
  ASSERT_TRUE(rig.feed(madcEvent({w::mdi2Timestamp(5), w::mdi2Timestamp(0x3FFFFFFF)})));
  EXPECT_EQ(rig.last().scalars.at("MTimestamp"), 0x3FFFFFFF);
  ASSERT_TRUE(rig.feed(madcEvent({w::mdi2Adc(1, 0, false, 9)})));
  EXPECT_EQ(rig.last().scalars.at("MTimestamp"), 0x3FFFFFFF);
  EXPECT_FALSE(rig.feed(eventOf({})));
  ASSERT_TRUE(rig.feed(madcEvent({w::mdi2Timestamp(0), w::mdi2Class2(1)})));
  EXPECT_EQ(rig.last().scalars.at("MTimestamp"), 0);
}

TEST(Mdi2Unpacker, OtherKindsAndClass2AddNothing) {
  Rig rig("Mdi2Unpacker", "MADC");
  std::vector<uint32_t> bank = {w::mdi2Class2(0x3FFFFFFF), w::mdi2Class2(0)};
  for (uint32_t kind : {0u, 3u, 4u, 9u, 15u}) bank.push_back((kind << 26) | 0x3FFFFFF);
  tarntest::CapturedStdout out;
  ASSERT_TRUE(rig.feed(madcEvent(bank)));
  EXPECT_EQ(out.text(), "");
  EXPECT_EQ(madc(rig.last()), (Madc{{}, {}, {}, {}, {}, {}, 0}));
}

TEST(Mdi2Unpacker, SendsNothingWithoutTheBankButEmptiesThePerEventLists) {
  Rig rig("Mdi2Unpacker", "MADC");
  ASSERT_TRUE(rig.feed(madcEvent({w::mdi2Adc(1, 1, true, 9), w::mdi2Adc(2, 1, false, 9),
                                  w::mdi2Tdc(1, false, 3), w::mdi2Timestamp(44)})));
  StrandEvent* held = rig.last().event;
  EXPECT_FALSE(rig.feed(eventOf({synth::dwordBank("MADD", {w::mdi2Adc(1, 1, true, 9)})})));
  EXPECT_FALSE(rig.feed(madcEvent({})));
  EXPECT_EQ(madc(look(held)), (Madc{{}, {}, {}, {}, {}, {0, 1}, 44}));
  EXPECT_EQ(rig.catcher.got.size(), 1u);

  Rig unnamed("Mdi2Unpacker", "");
  EXPECT_FALSE(unnamed.feed(madcEvent({w::mdi2Adc(1, 1, true, 9)})));
}

TEST(Mdi2Unpacker, ReadsOnlyTheWholeWordsOfABankOfAnotherType) {
  for (bool bank32 : {false, true}) {
    SCOPED_TRACE(bank32);
    Rig rig("Mdi2Unpacker", "MADC");
    // 16-bit elements: a TDC datum of value 7 (low half, high half), then half a word.
    const uint32_t tdc = w::mdi2Tdc(0, false, 7);
    ASSERT_TRUE(rig.feed(
        eventOf({synth::wordBank("MADC", {uint16_t(tdc), uint16_t(tdc >> 16), 0xFFFF})}, bank32)));
    EXPECT_EQ(madc(rig.last()), (Madc{{}, {}, {}, {0}, {7}, {}, 0}));
  }
}

TEST(Mdi2Unpacker, UnpacksWhatASyntheticRunWrote) {
  synth::RunSpec spec;
  spec.events = 60;
  spec.seed = 11;
  spec.modules = true;
  spec.bank32 = true;
  Rig rig("Mdi2Unpacker", "MADC", "m");
  Madc want{{}, {}, {}, {}, {}, {}, 0};
  std::string messages;
  tarntest::CapturedStdout out;
  for (uint32_t i = 0; i < spec.events; ++i) {
    const synth::ModuleContent c = synth::makeModuleContent(spec, i);
    ASSERT_TRUE(rig.feed(synth::makeEvent(spec, i)));
    want.adcBus.clear();
    want.adcSample.clear();
    want.adcValue.clear();
    want.tdcBus.clear();
    want.tdcValue.clear();
    if (c.madcBufferOverflow)
      messages += "m: HEADER: Mod 2, " + std::to_string(c.madc.size() + c.madcTdc.size()) +
                  " entries: BUFFER OVERFLOW!\n";
    for (const synth::MadcDatum& d : c.madc) {
      want.adcBus.push_back(d.bus);
      want.adcSample.push_back(d.sample);
      want.adcValue.push_back(d.outOfRange ? -1 : long(d.value));
      if (d.outOfRange) {
        if (want.overflow.size() <= d.sample) want.overflow.resize(d.sample + 1);
        ++want.overflow[d.sample];
      }
    }
    for (const synth::MadcTdcDatum& d : c.madcTdc) {
      want.tdcBus.push_back(d.bus);
      want.tdcValue.push_back(d.value);
      if (d.outOfRange) messages += "TDC overflow!\n";
    }
    if (c.madcTimestamp) want.stamp = c.madcStamp;
    EXPECT_EQ(madc(rig.last()), want) << "event " << i;
  }
  EXPECT_EQ(out.text(), messages);
  EXPECT_NE(messages.find("BUFFER OVERFLOW"), std::string::npos);
  EXPECT_FALSE(want.overflow.empty());
}

}  // namespace
