#include <gtest/gtest.h>

#include "../common/UnpackerRig.h"
#include "ModuleBanks.h"
#include "ModuleWords.h"

using namespace unpacktest;
namespace w = synth::words;

namespace {

synth::Event madc(const std::vector<uint32_t>& words, bool bank32 = false) {
  return eventOf({synth::dwordBank("MADC", words)}, bank32);
}
Lists mdi2(List adcBus, List adcSample, List adcValue, List tdcBus, List tdcValue, List overflow) {
  return {{"ADCBusNo", adcBus}, {"ADCSampleNo", adcSample}, {"ADCValue", adcValue},
          {"TDCBusNo", tdcBus}, {"TDCValue", tdcValue},     {"Overflow", overflow}};
}
long stamp(const Arrival& a) {
  return a.scalars.at("MTimestamp");
}

TEST(Mdi2Unpacker, HasItsPortsAndRegistersItsValuesInAnAdoptedEvent) {
  tarntest::CapturedStdout out;
  {
    Rig rig("Mdi2Unpacker", "MADC", "madc");
    expectPorts(rig.node.get(), "Decode Midas events from MDI2 modules",
                "Decoded MDI2 StrandEvent");
    StrandEvent mine;
    rig.node->SetInput(0, &mine);
    EXPECT_EQ(mine.size(), 7u);
    expectProperty(mine, "ADCBusNo", TARN_SHORT_V, 2.0, 2);
    expectProperty(mine, "TDCBusNo", TARN_SHORT_V, 2.0, 2);
    expectProperty(mine, "ADCSampleNo", TARN_SHORT_V, 0.0, 0);
    expectProperty(mine, "ADCValue", TARN_SHORT_V, 4096.0, 4096);
    expectProperty(mine, "TDCValue", TARN_SHORT_V, 4096.0, 4096);
    expectProperty(mine, "Overflow", TARN_SHORT_V, 0.0, 0);
    expectProperty(mine, "MTimestamp", TARN_INT, 0.0, 0);
    ASSERT_TRUE(rig.feed(madc({w::mdi2Tdc(1, false, 12)})));
    EXPECT_EQ(rig.last().event, &mine);
    EXPECT_EQ(rig.last().lists, mdi2({}, {}, {}, {1}, {12}, {}));
    EXPECT_EQ(stamp(rig.last()), 0);
  }
  EXPECT_EQ(out.text(), "madc instantiated\nmadc deleted\n");
}

TEST(Mdi2Unpacker, CountsOutOfRangeAdcDataPerSampleAcrossEvents) {
  Rig rig("Mdi2Unpacker", "MADC");
  ASSERT_TRUE(rig.feed(madc({w::mdi2Adc(7, 1, true, 123)})));
  EXPECT_EQ(rig.last().lists, mdi2({1}, {7}, {-1}, {}, {}, {0, 0, 0, 0, 0, 0, 0, 1}));
  ASSERT_TRUE(rig.feed(madc({w::mdi2Adc(3, 0, false, 4095), w::mdi2Adc(7, 0, true, 5),
                             w::mdi2Adc(2, 1, true, 0), w::mdi2Adc(0, 1, false, 0)})));
  EXPECT_EQ(rig.last().lists,
            mdi2({0, 0, 1, 1}, {3, 7, 2, 0}, {4095, -1, -1, 0}, {}, {}, {0, 0, 1, 0, 0, 0, 0, 2}));
  // Without the bank nothing is sent, the per-event lists are emptied and the counts stay.
  StrandEvent* held = rig.last().event;
  EXPECT_FALSE(rig.feed(eventOf({synth::dwordBank("MADD", {w::mdi2Adc(1, 1, true, 9)})})));
  EXPECT_FALSE(rig.feed(madc({})));
  EXPECT_EQ(look(held).lists, mdi2({}, {}, {}, {}, {}, {0, 0, 1, 0, 0, 0, 0, 2}));
  EXPECT_EQ(rig.catcher.got.size(), 2u);
  ASSERT_TRUE(rig.feed(madc({w::mdi2Adc(1023, 0, true, 0)})));
  const List& overflow = rig.last().lists.at("Overflow");
  ASSERT_EQ(overflow.size(), 1024u);
  EXPECT_EQ(overflow[7], 2);
  EXPECT_EQ(overflow[1023], 1);

  Rig unnamed("Mdi2Unpacker", "");
  EXPECT_FALSE(unnamed.feed(madc({w::mdi2Adc(1, 1, true, 9)})));
}

// The counts run over a whole run: they stop at the largest 16-bit count
// rather than turn negative.
TEST(Mdi2Unpacker, OverflowCountsStopAtTheirLargestValue) {
  Rig rig("Mdi2Unpacker", "MADC");
  const std::vector<uint32_t> many(20000, w::mdi2Adc(1, 0, true, 0));
  for (int i = 0; i < 2; ++i) ASSERT_TRUE(rig.feed(madc(many, true)));
  EXPECT_EQ(rig.last().lists.at("Overflow"), (List{0, 32767}));
  ASSERT_TRUE(rig.feed(madc({w::mdi2Adc(0, 0, true, 0), w::mdi2Adc(1, 0, true, 0)})));
  EXPECT_EQ(rig.last().lists.at("Overflow"), (List{1, 32767}));
}

TEST(Mdi2Unpacker, ReportsTdcAndBufferOverflowsAndGoesOn) {
  Rig rig("Mdi2Unpacker", "MADC", "madc2");
  tarntest::CapturedStdout out;
  ASSERT_TRUE(rig.feed(
      madc({w::mdi2Header(3, 100, true), w::mdi2Tdc(0, false, 100), w::mdi2Tdc(1, true, 4095),
            w::mdi2Header(4, 5, false), w::mdi2Adc(4, 1, false, 17), w::mdi2Header(255, 2047, true),
            w::mdi2Tdc(1, true, 0)})));
  EXPECT_EQ(out.text(),
            "madc2: HEADER: Mod 3, 100 entries: BUFFER OVERFLOW!\n"
            "TDC overflow!\n"
            "madc2: HEADER: Mod 255, 2047 entries: BUFFER OVERFLOW!\n"
            "TDC overflow!\n");
  EXPECT_EQ(rig.last().lists, mdi2({1}, {4}, {17}, {0, 1, 1}, {100, 4095, 0}, {}));
}

TEST(Mdi2Unpacker, KeepsTheLastTimeStampAndIgnoresOtherWords) {
  Rig rig("Mdi2Unpacker", "MADC");
  ASSERT_TRUE(rig.feed(madc({w::mdi2Timestamp(5), w::mdi2Timestamp(0x3FFFFFFF)})));
  EXPECT_EQ(stamp(rig.last()), 0x3FFFFFFF);
  EXPECT_FALSE(rig.feed(eventOf({})));
  // Class 2 and data of kinds other than 1 and 2 add nothing and print nothing.
  std::vector<uint32_t> others = {w::mdi2Class2(0x3FFFFFFF), w::mdi2Class2(0)};
  for (uint32_t kind : {0u, 3u, 4u, 9u, 15u}) others.push_back((kind << 26) | 0x3FFFFFF);
  tarntest::CapturedStdout out;
  ASSERT_TRUE(rig.feed(madc(others)));
  EXPECT_EQ(out.text(), "");
  EXPECT_EQ(rig.last().lists, mdi2({}, {}, {}, {}, {}, {}));
  EXPECT_EQ(stamp(rig.last()), 0x3FFFFFFF);
  ASSERT_TRUE(rig.feed(madc({w::mdi2Timestamp(0)})));
  EXPECT_EQ(stamp(rig.last()), 0);
}

// The bank ends at an unmapped page (see UnpackerRig.h).
TEST(Mdi2Unpacker, ReadsOnlyTheWholeWordsOfABankOfAnotherType) {
  for (bool bank32 : {false, true}) {
    SCOPED_TRACE(bank32);
    Rig rig("Mdi2Unpacker", "MADC");
    // 16-bit elements: a TDC datum of value 7 (low half, high half), then half a word.
    const uint32_t tdc = w::mdi2Tdc(0, false, 7);
    ASSERT_TRUE(rig.feed(
        eventOf({synth::wordBank("MADC", {uint16_t(tdc), uint16_t(tdc >> 16), 0xFFFF})}, bank32)));
    EXPECT_EQ(rig.last().lists, mdi2({}, {}, {}, {0}, {7}, {}));
  }
}

TEST(Mdi2Unpacker, UnpacksWhatASyntheticRunWrote) {
  synth::RunSpec spec;
  spec.events = 60;
  spec.seed = 11;
  spec.modules = true;
  spec.noise = 1;  // the unusual words too
  spec.bank32 = true;
  Rig rig("Mdi2Unpacker", "MADC", "m");
  List overflow;
  long lastStamp = 0;
  std::string messages;
  tarntest::CapturedStdout out;
  for (uint32_t i = 0; i < spec.events; ++i) {
    const synth::ModuleContent c = synth::makeModuleContent(spec, i);
    ASSERT_TRUE(rig.feed(synth::makeEvent(spec, i)));
    if (c.madcBufferOverflow)
      messages += "m: HEADER: Mod 2, " + std::to_string(c.madc.size() + c.madcTdc.size()) +
                  " entries: BUFFER OVERFLOW!\n";
    Lists want = mdi2({}, {}, {}, {}, {}, {});
    for (const synth::MadcDatum& d : c.madc) {
      want["ADCBusNo"].push_back(d.bus);
      want["ADCSampleNo"].push_back(d.sample);
      want["ADCValue"].push_back(d.outOfRange ? -1 : long(d.value));
      if (!d.outOfRange) continue;
      if (overflow.size() <= d.sample) overflow.resize(d.sample + 1);
      ++overflow[d.sample];
    }
    want["Overflow"] = overflow;
    for (const synth::MadcTdcDatum& d : c.madcTdc) {
      want["TDCBusNo"].push_back(d.bus);
      want["TDCValue"].push_back(d.value);
      if (d.outOfRange) messages += "TDC overflow!\n";
    }
    if (c.madcTimestamp) lastStamp = c.madcStamp;
    EXPECT_EQ(rig.last().lists, want) << "event " << i;
    EXPECT_EQ(stamp(rig.last()), lastStamp);
  }
  EXPECT_EQ(out.text(), messages);
  EXPECT_NE(messages.find("BUFFER OVERFLOW"), std::string::npos);
  EXPECT_FALSE(overflow.empty());
}

}  // namespace
