#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "../common/UnpackerRig.h"
#include "ModuleBanks.h"
#include "ModuleWords.h"

using namespace unpacktest;
namespace w = synth::words;

namespace {

const uint32_t kGeo = 3;

synth::Event adc(const std::vector<uint32_t>& words, const std::string& name = "ADC0") {
  return eventOf({synth::dwordBank(name, words)});
}
uint32_t datum(uint32_t channel, uint32_t value, uint32_t flags = 0) {
  return w::v785Datum(kGeo, channel, value, flags);
}
Lists data(List channels, List values) {
  return {{"ADCChannel", channels}, {"ADCValue", values}};
}

TEST(V785Unpacker, HasItsPortsAndRegistersItsListsInAnAdoptedEvent) {
  tarntest::CapturedStdout out;
  {
    Rig rig("V785Unpacker", "ADC0", "adc");
    expectPorts(rig.node.get(), "Decode Midas events from V785 modules",
                "Decoded V785 StrandEvent");
    StrandEvent mine;
    mine["ADCValue"] = StrandProperty(TARN_DOUBLE, StrandBinning(), nullptr);
    rig.node->SetInput(0, &mine);
    EXPECT_EQ(mine.size(), 2u);
    expectProperty(mine, "ADCChannel", TARN_SHORT_V, 32.0, 32);
    expectProperty(mine, "ADCValue", TARN_SHORT_V, 4096.0, 4096);
    ASSERT_TRUE(rig.feed(adc({datum(4, 99)})));
    EXPECT_EQ(rig.last().event, &mine);
    EXPECT_EQ(rig.last().lists, data({4}, {99}));
  }
  EXPECT_EQ(out.text(), "adc instantiated\nadc deleted\n");
}

TEST(V785Unpacker, OrdersDataByDescendingValueKeepingArrivalOrderAmongEquals) {
  Rig rig("V785Unpacker", "ADC0");
  ASSERT_TRUE(rig.feed(adc({w::v785Header(kGeo, 0, 4), datum(1, 100), datum(2, 3000), datum(3, 100),
                            datum(4, 50), w::v785EndOfBlock(kGeo, 1)})));
  EXPECT_EQ(rig.last().lists, data({2, 1, 3, 4}, {3000, 100, 100, 50}));
  ASSERT_TRUE(rig.feed(adc({datum(0, 0), datum(31, 4095), datum(7, 0), datum(8, 4095)})));
  EXPECT_EQ(rig.last().lists, data({31, 8, 0, 7}, {4095, 4095, 0, 0}));
  // Out of range (bit 12), under threshold (bit 13), both: not part of the
  // value; bit 21 is not part of the channel.
  ASSERT_TRUE(rig.feed(adc({datum(1, 0x123, 0x1000), datum(2, 0x456, 0x2000),
                            datum(3, 0x789, 0x3000), datum(4, 0x0AB) | (1u << 21)})));
  EXPECT_EQ(rig.last().lists, data({3, 2, 1, 4}, {0x789, 0x456, 0x123, 0x0AB}));
}

TEST(V785Unpacker, ReportsNotValidAndUndefinedWordsAndGoesOn) {
  Rig rig("V785Unpacker", "ADC0");
  tarntest::CapturedStdout out;
  const bool sent = rig.feed(
      adc({w::v785Header(kGeo, 0, 2), datum(1, 10), w::v785NotValid(kGeo), 0x01000005u,
           datum(2, 20), 0x1B00ABCDu, 0x05000000u, 0x07FFFFFFu, w::v785EndOfBlock(kGeo, 9)}));
  EXPECT_EQ(out.text(),
            "Not valid datum\nUndefined data: 0x1000005\nUndefined data: 0x1b00abcd\n"
            "Undefined data: 0x5000000\nUndefined data: 0x7ffffff\n");
  ASSERT_TRUE(sent);
  EXPECT_EQ(rig.last().lists, data({2, 1}, {20, 10}));
}

TEST(V785Unpacker, SendsEmptyListsForHeaderAndEndOfBlockAndNothingWithoutTheBank) {
  Rig rig("V785Unpacker", "ADC0");
  ASSERT_TRUE(rig.feed(adc({datum(1, 10)})));
  ASSERT_TRUE(rig.feed(adc({w::v785Header(kGeo, 0, 0), w::v785EndOfBlock(kGeo, 2)})));
  EXPECT_EQ(rig.last().lists, data({}, {}));

  ASSERT_TRUE(rig.feed(adc({datum(1, 10)})));
  StrandEvent* held = rig.last().event;
  EXPECT_FALSE(rig.feed(adc({datum(1, 10)}, "ADC1")));
  EXPECT_EQ(look(held).lists, data({}, {}));
  EXPECT_FALSE(rig.feed(adc({})));
  EXPECT_EQ(rig.catcher.got.size(), 3u);
  Rig unnamed("V785Unpacker", "");
  EXPECT_FALSE(unnamed.feed(adc({datum(1, 10)})));
}

// The bank ends at an unmapped page (see UnpackerRig.h).
TEST(V785Unpacker, ReadsOnlyTheWholeWordsOfABankOfAnotherType) {
  for (bool bank32 : {false, true}) {
    SCOPED_TRACE(bank32);
    Rig rig("V785Unpacker", "ADC0");
    // 16-bit elements 100, 2 make a datum of channel 2, value 100; the fifth
    // element is half a word and is not read.
    ASSERT_TRUE(rig.feed(eventOf({synth::wordBank("ADC0", {100, 2, 200, 3, 0xFFFF})}, bank32)));
    EXPECT_EQ(rig.last().lists, data({3, 2}, {200, 100}));
  }
}

TEST(V785Unpacker, UnpacksWhatASyntheticRunWrote) {
  for (bool bank32 : {false, true}) {
    SCOPED_TRACE(bank32);
    synth::RunSpec spec;
    spec.events = 60;
    spec.seed = 3;
    spec.modules = true;
    spec.noise = 1;  // the unusual words too
    spec.bank32 = bank32;
    Rig rig("V785Unpacker", "ADC0");
    std::string messages;
    tarntest::CapturedStdout out;
    for (uint32_t i = 0; i < spec.events; ++i) {
      const synth::ModuleContent c = synth::makeModuleContent(spec, i);
      ASSERT_TRUE(rig.feed(synth::makeEvent(spec, i)));
      std::vector<synth::AdcDatum> sorted = c.adc;
      std::stable_sort(
          sorted.begin(), sorted.end(),
          [](const synth::AdcDatum& a, const synth::AdcDatum& b) { return a.value > b.value; });
      Lists want = data({}, {});
      for (const synth::AdcDatum& d : sorted) {
        want["ADCValue"].push_back(d.value);
        want["ADCChannel"].push_back(d.channel);
      }
      EXPECT_EQ(rig.last().lists, want) << "event " << i;
      if (c.adcNotValid && !c.adc.empty()) messages += "Not valid datum\n";
      char line[64];
      std::snprintf(line, sizeof line, "Undefined data: 0x%x\n", (kGeo << 27) | (1u << 24) | i);
      if (c.adcUndefined) messages += line;
    }
    EXPECT_EQ(out.text(), messages);
    EXPECT_NE(messages.find("Undefined"), std::string::npos);
    EXPECT_NE(messages.find("Not valid"), std::string::npos);
  }
}

}  // namespace
