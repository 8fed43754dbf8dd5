#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "../common/UnpackerRig.h"
#include "ModuleBanks.h"
#include "ModuleWords.h"

using namespace unpacktest;
namespace w = synth::words;
using L = std::vector<long>;

namespace {

const uint32_t kGeo = 3;

synth::Event adcEvent(const std::vector<uint32_t>& words, const std::string& name = "ADC0") {
  return eventOf({synth::dwordBank(name, words)});
}
uint32_t datum(uint32_t channel, uint32_t value, uint32_t flags = 0) {
  return w::v785Datum(kGeo, channel, value, flags);
}
L channels(const Arrival& a) { return a.lists.at("ADCChannel"); }
L values(const Arrival& a) { return a.lists.at("ADCValue"); }

TEST(V785Unpacker, DeclaresPortsAndRegistersItsListsInAnAdoptedEvent) {
  tarntest::CapturedStdout out;
  {
    Rig rig("V785Unpacker", "ADC0", "adc");
    TarnBase* u = rig.node.get();
    EXPECT_EQ(u->description, "Decode Midas events from V785 modules");
    ASSERT_EQ(u->inputs.size(), 3u);
    EXPECT_EQ(u->inputs[0].name, "StrandEvent");
    EXPECT_EQ(u->inputs[1].name, "event");
    EXPECT_EQ(u->inputs[2].name, "bank");
    ASSERT_EQ(u->outputs.size(), 1u);
    EXPECT_EQ(u->outputs[0].name, "fevent");
    EXPECT_EQ(u->outputs[0].description, "Decoded V785 StrandEvent");

    StrandEvent mine;
    mine["ADCValue"] = StrandProperty(TARN_DOUBLE, StrandBinning(), nullptr);
    u->SetInput(0, &mine);
    ASSERT_EQ(mine.size(), 2u);
    EXPECT_EQ(mine["ADCChannel"].type, TARN_SHORT_V);
    EXPECT_EQ(mine["ADCChannel"].binning.min, 32.0);
    EXPECT_EQ(mine["ADCChannel"].binning.max, 0.0);
    EXPECT_EQ(mine["ADCChannel"].binning.bins, 32);
    EXPECT_EQ(mine["ADCValue"].type, TARN_SHORT_V);
    EXPECT_EQ(mine["ADCValue"].binning.min, 4096.0);
    EXPECT_EQ(mine["ADCValue"].binning.max, 0.0);
    EXPECT_EQ(mine["ADCValue"].binning.bins, 4096);
    ASSERT_TRUE(rig.feed(adcEvent({datum(4, 99)})));
    EXPECT_EQ(rig.last().event, &mine);
    EXPECT_EQ(values(rig.last()), (L{99}));
  }
  EXPECT_EQ(out.text(), "adc instantiated\nadc deleted\n");
}

TEST(V785Unpacker, KeepsDataInDescendingValueWithArrivalOrderAmongEquals) {
  Rig rig("V785Unpacker", "ADC0");
  ASSERT_TRUE(rig.feed(adcEvent({w::v785Header(kGeo, 0, 4), datum(1, 100), datum(2, 3000),
                                 datum(3, 100), datum(4, 50), w::v785EndOfBlock(kGeo, 1)})));
  EXPECT_EQ(values(rig.last()), (L{3000, 100, 100, 50}));
  EXPECT_EQ(channels(rig.last()), (L{2, 1, 3, 4}));
  ASSERT_TRUE(rig.feed(adcEvent({datum(0, 0), datum(31, 4095), datum(7, 0), datum(8, 4095)})));
  EXPECT_EQ(values(rig.last()), (L{4095, 4095, 0, 0}));
  EXPECT_EQ(channels(rig.last()), (L{31, 8, 0, 7}));
}

TEST(V785Unpacker, ValueIsTheLow12BitsAndChannelBits20To16) {
  Rig rig("V785Unpacker", "ADC0");
  // Out of range (bit 12), under threshold (bit 13), both; bit 21 beside the channel.
  ASSERT_TRUE(rig.feed(adcEvent({datum(1, 0x123, 0x1000), datum(2, 0x456, 0x2000),
                                 datum(3, 0x789, 0x3000), datum(4, 0x0AB) | (1u << 21)})));
  EXPECT_EQ(values(rig.last()), (L{0x789, 0x456, 0x123, 0x0AB}));
  EXPECT_EQ(channels(rig.last()), (L{3, 2, 1, 4}));
}

TEST(V785Unpacker, ReportsNotValidAndUndefinedWordsAndGoesOn) {
  Rig rig("V785Unpacker", "ADC0");
  tarntest::CapturedStdout out;
  const bool sent = rig.feed(adcEvent({w::v785Header(kGeo, 0, 2), datum(1, 10), w::v785NotValid(kGeo),
                                       0x01000005u, datum(2, 20), 0x1B00ABCDu, 0x05000000u,
                                       0x07FFFFFFu, w::v785EndOfBlock(kGeo, 9)}));
  EXPECT_EQ(out.text(),
            "Not valid datum\nUndefined data: 0x1000005\nUndefined data: 0x1b00abcd\n"
            "Undefined data: 0x5000000\nUndefined data: 0x7ffffff\n");
  ASSERT_TRUE(sent);
  EXPECT_EQ(values(rig.last()), (L{20, 10}));
}

TEST(V785Unpacker, SendsEmptyListsForHeaderAndEndOfBlockAndNothingWithoutTheBank) {
  Rig rig("V785Unpacker", "ADC0");
  ASSERT_TRUE(rig.feed(adcEvent({datum(1, 10)})));
  StrandEvent* held = rig.last().event;
  ASSERT_TRUE(rig.feed(adcEvent({w::v785Header(kGeo, 0, 0), w::v785EndOfBlock(kGeo, 2)})));
  EXPECT_EQ(values(rig.last()), L{});
  EXPECT_EQ(channels(rig.last()), L{});

  ASSERT_TRUE(rig.feed(adcEvent({datum(1, 10)})));
  EXPECT_FALSE(rig.feed(adcEvent({datum(1, 10)}, "ADC1")));
  EXPECT_EQ(look(held).lists.at("ADCValue"), L{});
  EXPECT_EQ(look(held).lists.at("ADCChannel"), L{});
  EXPECT_FALSE(rig.feed(adcEvent({})));
  EXPECT_EQ(rig.catcher.got.size(), 3u);

  Rig unnamed("V785Unpacker", "");
  EXPECT_FALSE(unnamed.feed(adcEvent({datum(1, 10)})));
}

TEST(V785Unpacker, ReadsOnlyTheWholeWordsOfABankOfAnotherType) {
  for (bool bank32 : {false, true}) {
    SCOPED_TRACE(bank32);
    Rig rig("V785Unpacker", "ADC0");
    // 16-bit elements 0x0064, 0x0002 make the datum channel 2, value 100; the
    // fifth element is half a word and is not read.
    ASSERT_TRUE(rig.feed(eventOf({synth::wordBank("ADC0", {100, 2, 200, 3, 0xFFFF})}, bank32)));
    EXPECT_EQ(values(rig.last()), (L{200, 100}));
    EXPECT_EQ(channels(rig.last()), (L{3, 2}));
  }
}

TEST(V785Unpacker, UnpacksWhatASyntheticRunWrote) {
  for (bool bank32 : {false, true}) {
    SCOPED_TRACE(bank32);
    synth::RunSpec spec;
    spec.events = 60;
    spec.seed = 3;
    spec.modules = true;
    spec.bank32 = bank32;
    Rig rig("V785Unpacker", "ADC0");
    std::string messages;
    tarntest::CapturedStdout out;
    for (uint32_t i = 0; i < spec.events; ++i) {
      const synth::ModuleContent c = synth::makeModuleContent(spec, i);
      ASSERT_TRUE(rig.feed(synth::makeEvent(spec, i)));
      std::vector<synth::AdcDatum> want = c.adc;
      std::stable_sort(want.begin(), want.end(),
                       [](const synth::AdcDatum& a, const synth::AdcDatum& b) { return a.value > b.value; });
      L wantValues, wantChannels;
      for (const synth::AdcDatum& d : want) {
        wantValues.push_back(d.value);
        wantChannels.push_back(d.channel);
      }
      EXPECT_EQ(values(rig.last()), wantValues);
      EXPECT_EQ(channels(rig.last()), wantChannels);
      if (c.adcNotValid && !c.adc.empty()) messages += "Not valid datum\n";
      if (c.adcUndefined) {
        char line[64];
        std::snprintf(line, sizeof line, "Undefined data: 0x%x\n", (kGeo << 27) | (1u << 24) | i);
        messages += line;
      }
    }
    EXPECT_EQ(out.text(), messages);
    EXPECT_NE(messages.find("Undefined"), std::string::npos);
    EXPECT_NE(messages.find("Not valid"), std::string::npos);
  }
}

}  // namespace
