#include <gtest/gtest.h>

#include "../common/UnpackerRig.h"
#include "ModuleBanks.h"
#include "ModuleWords.h"

using namespace unpacktest;
namespace w = synth::words;

namespace {

synth::Event io(const std::vector<uint32_t>& words) {
  return eventOf({synth::dwordBank("IO32", words)});
}
Lists io32(List scalers, List s0, List s1, List s2, List s3) {
  return {{"Scaler", scalers},
          {"Timestamp0", s0},
          {"Timestamp1", s1},
          {"Timestamp2", s2},
          {"Timestamp3", s3}};
}
long board(const Arrival& a) {
  return a.scalars.at("ScTimestamp");
}

TEST(Io32Unpacker, HasItsPortsAndRegistersItsValuesInAnAdoptedEvent) {
  tarntest::CapturedStdout out;
  {
    Rig rig("Io32Unpacker", "IO32", "io");
    expectPorts(rig.node.get(), "Decode Midas events from IO32 modules",
                "Decoded IO32 StrandEvent");
    StrandEvent mine;
    rig.node->SetInput(0, &mine);
    EXPECT_EQ(mine.size(), 6u);
    for (const char* p : {"Scaler", "Timestamp0", "Timestamp1", "Timestamp2", "Timestamp3"})
      expectProperty(mine, p, TARN_INT_V, 0.0, 0);
    expectProperty(mine, "ScTimestamp", TARN_UINT32, 0.0, 0);
    ASSERT_TRUE(rig.feed(io({0, 5, 0, 0, w::io32Stamp(2, 8)})));
    EXPECT_EQ(rig.last().event, &mine);
    EXPECT_EQ(rig.last().lists, io32({}, {}, {}, {8}, {}));
  }
  EXPECT_EQ(out.text(), "io instantiated\nio deleted\n");
}

TEST(Io32Unpacker, SplitsScalersFromTimeStampsByTheCountInWord2) {
  Rig rig("Io32Unpacker", "IO32");
  // Exactly three words, S = 0: only the board time stamp.
  ASSERT_TRUE(rig.feed(io({0xDEAD, 0xFFFFFFFFu, 0})));
  EXPECT_EQ(board(rig.last()), 4294967295L);
  EXPECT_EQ(rig.last().lists, io32({}, {}, {}, {}, {}));
  // S = 2: words 3 and 4 are scalers, 5 separates, the rest are time stamps in
  // bank order per input. A list keeps every bit of its words.
  ASSERT_TRUE(rig.feed(io({0, 77, 2, 11, 0x80000000u, 0x3000002Au, 0x3000002Au, 0x0000002Au,
                           w::io32Stamp(1, 0xFFFFFFF), w::io32Stamp(0, 5), w::io32Stamp(3, 1)})));
  EXPECT_EQ(board(rig.last()), 77);
  EXPECT_EQ(rig.last().lists, io32({11, -2147483648L}, {42, 5}, {0xFFFFFFF}, {}, {42, 1}));
  // Time stamps of inputs 4 to 15 have no list and are dropped.
  ASSERT_TRUE(rig.feed(io({0, 1, 0, 0, w::io32Stamp(4, 1), w::io32Stamp(3, 2), w::io32Stamp(15, 3),
                           w::io32Stamp(5, 4), w::io32Stamp(0, 5)})));
  EXPECT_EQ(rig.last().lists, io32({}, {5}, {}, {}, {2}));
}

TEST(Io32Unpacker, CountsBeyondTheBankOrBelowZeroMoveTheSeparatorOut) {
  Rig rig("Io32Unpacker", "IO32");
  for (uint32_t s : {100u, 0x7FFFFFFFu, 0x7FFFFFFDu, 0xFFFFFFFFu, 0xFFFFFFFBu, 0x80000000u}) {
    SCOPED_TRACE(s);
    ASSERT_TRUE(rig.feed(io({0, 3, s, w::io32Stamp(1, 4), w::io32Stamp(2, 6), 7})));
    if (int32_t(s) > 0)
      EXPECT_EQ(rig.last().lists, io32({0x10000004, 0x20000006, 7}, {}, {}, {}, {}));
    else
      EXPECT_EQ(rig.last().lists, io32({}, {7}, {4}, {6}, {}));
  }
}

TEST(Io32Unpacker, ATooShortBankChangesAndSendsNothing) {
  Rig rig("Io32Unpacker", "IO32");
  ASSERT_TRUE(rig.feed(io({0, 9, 1, 4, 0, w::io32Stamp(1, 3)})));
  StrandEvent* held = rig.last().event;
  held->layout = true;  // a reset would clear it
  EXPECT_FALSE(rig.feed(io({0, 1})));
  EXPECT_FALSE(rig.feed(io({})));
  EXPECT_FALSE(rig.feed(eventOf({synth::dwordBank("IO33", {0, 1, 2, 3})})));
  EXPECT_FALSE(rig.feed(eventOf({})));
  // Five 16-bit elements hold two whole words: too short as well, and the
  // half word after them, at the end of the event, is not read.
  EXPECT_FALSE(rig.feed(eventOf({synth::wordBank("IO32", {1, 2, 3, 4, 5})})));
  EXPECT_EQ(rig.catcher.got.size(), 1u);
  EXPECT_TRUE(held->layout);
  EXPECT_EQ(look(held).lists, io32({4}, {}, {3}, {}, {}));
  EXPECT_EQ(board(look(held)), 9);

  ASSERT_TRUE(rig.feed(io({0, 2, 0})));
  EXPECT_FALSE(held->layout);
  Rig unnamed("Io32Unpacker", "");
  EXPECT_FALSE(unnamed.feed(io({0, 2, 0})));
}

TEST(Io32Unpacker, ReadsOnlyTheWholeWordsOfABankOfAnotherType) {
  for (bool bank32 : {false, true}) {
    SCOPED_TRACE(bank32);
    Rig rig("Io32Unpacker", "IO32");
    // Nine 16-bit elements: four whole words (board stamp 0x00020001, S = 1,
    // scaler 0x00040003) and a half word that is not read.
    ASSERT_TRUE(
        rig.feed(eventOf({synth::wordBank("IO32", {0, 0, 1, 2, 1, 0, 3, 4, 0x1234})}, bank32)));
    EXPECT_EQ(board(rig.last()), 0x20001);
    EXPECT_EQ(rig.last().lists, io32({0x40003}, {}, {}, {}, {}));
  }
}

TEST(Io32Unpacker, UnpacksWhatASyntheticRunWrote) {
  synth::RunSpec spec;
  spec.events = 80;
  spec.seed = 5;
  spec.modules = true;
  Rig rig("Io32Unpacker", "IO32");
  size_t dropped = 0;
  for (uint32_t i = 0; i < spec.events; ++i) {
    const synth::ModuleContent c = synth::makeModuleContent(spec, i);
    ASSERT_TRUE(rig.feed(synth::makeEvent(spec, i)));
    Lists want = io32({}, {}, {}, {}, {});
    for (uint32_t s : c.scalers) want["Scaler"].push_back(int32_t(s));
    for (const synth::Io32Stamp& s : c.stamps) {
      if (s.input < 4)
        want["Timestamp" + std::to_string(s.input)].push_back(s.stamp);
      else
        ++dropped;
    }
    EXPECT_EQ(rig.last().lists, want) << "event " << i;
    EXPECT_EQ(board(rig.last()), long(c.boardTimestamp));
  }
  EXPECT_GT(dropped, 0u);
}

}  // namespace
