#include <gtest/gtest.h>

#include "../common/UnpackerRig.h"
#include "ModuleBanks.h"
#include "ModuleWords.h"

using namespace unpacktest;
namespace w = synth::words;
using L = std::vector<long>;

namespace {

synth::Event ioEvent(const std::vector<uint32_t>& words) {
  return eventOf({synth::dwordBank("IO32", words)});
}

// Every list and the board time stamp, as one value to compare.
struct Io {
  long board;
  L scalers, s0, s1, s2, s3;
  bool operator==(const Io& o) const {
    return board == o.board && scalers == o.scalers && s0 == o.s0 && s1 == o.s1 && s2 == o.s2 &&
           s3 == o.s3;
  }
};
std::ostream& operator<<(std::ostream& out, const Io& io) {
  auto list = [&](const char* name, const L& l) {
    out << " " << name << ":";
    for (long v : l) out << " " << v;
  };
  out << "board " << io.board;
  list("scalers", io.scalers);
  list("0", io.s0);
  list("1", io.s1);
  list("2", io.s2);
  list("3", io.s3);
  return out;
}
Io io(const Arrival& a) {
  return {a.scalars.at("ScTimestamp"), a.lists.at("Scaler"), a.lists.at("Timestamp0"),
          a.lists.at("Timestamp1"), a.lists.at("Timestamp2"), a.lists.at("Timestamp3")};
}

TEST(Io32Unpacker, DeclaresPortsAndRegistersItsValuesInAnAdoptedEvent) {
  tarntest::CapturedStdout out;
  {
    Rig rig("Io32Unpacker", "IO32", "io");
    TarnBase* u = rig.node.get();
    EXPECT_EQ(u->description, "Decode Midas events from IO32 modules");
    ASSERT_EQ(u->inputs.size(), 3u);
    EXPECT_EQ(u->inputs[0].name, "StrandEvent");
    EXPECT_EQ(u->inputs[1].name, "event");
    EXPECT_EQ(u->inputs[2].name, "bank");
    ASSERT_EQ(u->outputs.size(), 1u);
    EXPECT_EQ(u->outputs[0].description, "Decoded IO32 StrandEvent");

    StrandEvent mine;
    u->SetInput(0, &mine);
    ASSERT_EQ(mine.size(), 6u);
    for (const char* p : {"Scaler", "Timestamp0", "Timestamp1", "Timestamp2", "Timestamp3", "ScTimestamp"}) {
      SCOPED_TRACE(p);
      EXPECT_EQ(mine[p].type, std::string(p) == "ScTimestamp" ? TARN_UINT32 : TARN_INT_V);
      EXPECT_EQ(mine[p].binning.min, 0.0);
      EXPECT_EQ(mine[p].binning.max, 0.0);
      EXPECT_EQ(mine[p].binning.bins, 0);
      EXPECT_NE(mine[p].value, nullptr);
    }
    ASSERT_TRUE(rig.feed(ioEvent({0, 5, 0, 0, w::io32Stamp(2, 8)})));
    EXPECT_EQ(rig.last().event, &mine);
    EXPECT_EQ(io(rig.last()), (Io{5, {}, {}, {}, {8}, {}}));
  }
  EXPECT_EQ(out.text(), "io instantiated\nio deleted\n");
}

TEST(Io32Unpacker, SplitsScalersFromTimeStampsByTheCountInWord2) {
  Rig rig("Io32Unpacker", "IO32");
  // Exactly three words, S = 0: only the board time stamp.
  ASSERT_TRUE(rig.feed(ioEvent({0xDEAD, 0xFFFFFFFFu, 0})));
  EXPECT_EQ(io(rig.last()), (Io{4294967295L, {}, {}, {}, {}, {}}));
  // S = 2: words 3 and 4 are scalers, 5 separates, the rest are time stamps in
  // bank order per input; the lists keep every bit of the words.
  ASSERT_TRUE(rig.feed(ioEvent({0, 77, 2, 11, 0x80000000u, 0x3000002Au, 0x3000002Au, 0x0000002Au,
                                w::io32Stamp(1, 0xFFFFFFF), w::io32Stamp(0, 5), w::io32Stamp(3, 1)})));
  EXPECT_EQ(io(rig.last()), (Io{77, {11, -2147483648L}, {42, 5}, {0xFFFFFFF}, {}, {42, 1}}));
  // One scaler and no time stamp.
  ASSERT_TRUE(rig.feed(ioEvent({0, 1, 1, 9})));
  EXPECT_EQ(io(rig.last()), (Io{1, {9}, {}, {}, {}, {}}));
}

TEST(Io32Unpacker, CountsBeyondTheBankOrBelowZeroMoveTheSeparatorOut) {
  Rig rig("Io32Unpacker", "IO32");
  const std::vector<uint32_t> tail = {w::io32Stamp(1, 4), w::io32Stamp(2, 6), 0x7u};
  for (uint32_t s : {100u, 0x7FFFFFFFu, 0x7FFFFFFDu}) {
    SCOPED_TRACE(s);
    std::vector<uint32_t> bank = {0, 3, s};
    bank.insert(bank.end(), tail.begin(), tail.end());
    ASSERT_TRUE(rig.feed(ioEvent(bank)));
    EXPECT_EQ(io(rig.last()), (Io{3, {0x10000004, 0x20000006, 7}, {}, {}, {}, {}}));
  }
  for (uint32_t s : {0xFFFFFFFFu, 0xFFFFFFFBu, 0x80000000u}) {
    SCOPED_TRACE(s);
    std::vector<uint32_t> bank = {0, 3, s};
    bank.insert(bank.end(), tail.begin(), tail.end());
    ASSERT_TRUE(rig.feed(ioEvent(bank)));
    EXPECT_EQ(io(rig.last()), (Io{3, {}, {7}, {4}, {6}, {}}));
  }
}

TEST(Io32Unpacker, DropsTimeStampsOfInputsAbove3) {
  Rig rig("Io32Unpacker", "IO32");
  ASSERT_TRUE(rig.feed(ioEvent({0, 1, 0, 0, w::io32Stamp(4, 1), w::io32Stamp(3, 2), w::io32Stamp(15, 3),
                                w::io32Stamp(5, 4), w::io32Stamp(0, 5)})));
  EXPECT_EQ(io(rig.last()), (Io{1, {}, {5}, {}, {}, {2}}));
}

TEST(Io32Unpacker, ATooShortBankChangesAndSendsNothing) {
  Rig rig("Io32Unpacker", "IO32");
  ASSERT_TRUE(rig.feed(ioEvent({0, 9, 1, 4, 0, w::io32Stamp(1, 3)})));
  StrandEvent* held = rig.last().event;
  held->layout = true;  // would be cleared by a reset
  const Io before{9, {4}, {}, {3}, {}, {}};
  EXPECT_FALSE(rig.feed(ioEvent({0, 1})));
  EXPECT_FALSE(rig.feed(ioEvent({})));
  EXPECT_FALSE(rig.feed(eventOf({synth::dwordBank("IO33", {0, 1, 2, 3})})));
  EXPECT_FALSE(rig.feed(eventOf({})));
  // Five 16-bit elements hold two whole words: too short as well, and the
  // half word after them is not read.
  EXPECT_FALSE(rig.feed(eventOf({synth::wordBank("IO32", {1, 2, 3, 4, 5})})));
  EXPECT_EQ(rig.catcher.got.size(), 1u);
  EXPECT_TRUE(held->layout);
  EXPECT_EQ(io(look(held)), before);

  ASSERT_TRUE(rig.feed(ioEvent({0, 2, 0})));
  EXPECT_FALSE(held->layout);
  EXPECT_EQ(io(rig.last()), (Io{2, {}, {}, {}, {}, {}}));

  Rig unnamed("Io32Unpacker", "");
  EXPECT_FALSE(unnamed.feed(ioEvent({0, 2, 0})));
}

TEST(Io32Unpacker, ReadsOnlyTheWholeWordsOfABankOfAnotherType) {
  for (bool bank32 : {false, true}) {
    SCOPED_TRACE(bank32);
    Rig rig("Io32Unpacker", "IO32");
    // Nine 16-bit elements: four whole words (board stamp 0x00020001, S = 0,
    // a separator) and half a word that is not read.
    ASSERT_TRUE(rig.feed(eventOf({synth::wordBank("IO32", {0, 0, 1, 2, 0, 0, 0, 0, 0x1234})}, bank32)));
    EXPECT_EQ(io(rig.last()), (Io{0x20001, {}, {}, {}, {}, {}}));
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
    Io want{c.boardTimestamp, {}, {}, {}, {}, {}};
    for (uint32_t s : c.scalers) want.scalers.push_back(long(int32_t(s)));
    L* lists[] = {&want.s0, &want.s1, &want.s2, &want.s3};
    for (const synth::Io32Stamp& s : c.stamps) {
      if (s.input < 4)
        lists[s.input]->push_back(s.stamp);
      else
        ++dropped;
    }
    EXPECT_EQ(io(rig.last()), want) << "event " << i;
  }
  EXPECT_GT(dropped, 0u);
}

}  // namespace
