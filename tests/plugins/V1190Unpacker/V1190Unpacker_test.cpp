#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "../common/UnpackerRig.h"
#include "ModuleBanks.h"
#include "ModuleWords.h"

using namespace unpacktest;
namespace w = synth::words;

namespace {

synth::Event tdc(const std::vector<uint32_t>& words, const std::string& name = "TDC0") {
  return eventOf({synth::dwordBank(name, words)});
}
Lists hits(List channels, List times, List edges) {
  return {{"TDCChannel", channels}, {"TDCValue", times}, {"TDCEdge", edges}};
}

TEST(V1190Unpacker, HasItsPortsAndRegistersItsListsInAnAdoptedEvent) {
  tarntest::CapturedStdout out;
  {
    Rig rig("V1190Unpacker", "TDC0", "tdc");
    expectPorts(rig.node.get(), "Decode Midas events from V1190 modules",
                "Decoded V1190 StrandEvent");
    // The sender's event, with an entry of its own and a stale one of ours.
    StrandEvent mine;
    mine["Other"] = StrandProperty(TARN_INT, StrandBinning(1, 2, 3), nullptr);
    mine["TDCValue"] = StrandProperty();
    rig.node->SetInput(0, &mine);
    EXPECT_EQ(mine.size(), 4u);
    EXPECT_EQ(mine["Other"].type, TARN_INT);
    expectProperty(mine, "TDCChannel", TARN_SHORT_V, 128.0, 128);
    expectProperty(mine, "TDCValue", TARN_SHORT_V, 262144.0, 262144);
    expectProperty(mine, "TDCEdge", TARN_SHORT_V, 0.0, 0);
    ASSERT_TRUE(rig.feed(tdc({w::v1190Hit(1, 9, 77)})));
    EXPECT_EQ(rig.last().event, &mine);
    EXPECT_EQ(rig.last().lists, hits({9}, {77}, {1}));
  }
  EXPECT_EQ(out.text(), "tdc instantiated\ntdc deleted\n");
}

TEST(V1190Unpacker, OrdersHitsByStoredTimeKeepingArrivalOrderAmongEquals) {
  Rig rig("V1190Unpacker", "TDC0");
  ASSERT_TRUE(rig.feed(tdc({w::v1190Hit(0, 1, 30), w::v1190Hit(1, 2, 10), w::v1190Hit(0, 3, 20)})));
  EXPECT_EQ(rig.last().lists, hits({2, 3, 1}, {10, 20, 30}, {1, 0, 0}));
  ASSERT_TRUE(rig.feed(tdc({w::v1190Hit(0, 4, 50), w::v1190Hit(1, 5, 50), w::v1190Hit(0, 6, 7),
                            w::v1190Hit(1, 7, 50), w::v1190Hit(0, 8, 60)})));
  EXPECT_EQ(rig.last().lists, hits({6, 4, 5, 7, 8}, {7, 50, 50, 50, 60}, {0, 0, 1, 1, 0}));
  // 40000 is stored as -25536, which every later time passes; 40001 goes last
  // because no stored time exceeds it.
  ASSERT_TRUE(rig.feed(tdc({w::v1190Hit(0, 1, 40000), w::v1190Hit(0, 2, 100), w::v1190Hit(0, 3, 50),
                            w::v1190Hit(0, 4, 40001)})));
  EXPECT_EQ(rig.last().lists, hits({1, 3, 2, 4}, {-25536, 50, 100, -25535}, {0, 0, 0, 0}));
  // Widest fields; 70000 keeps its low 16 bits (4464); bits 25 and 18 belong
  // to neither channel nor time.
  const uint32_t bits25and18 = (1u << 25) | (1u << 18);
  ASSERT_TRUE(rig.feed(tdc({w::v1190Hit(1, 63, 0x3FFFF), w::v1190Hit(0, 0, 70000),
                            w::v1190Hit(0, 5, 1234) | bits25and18})));
  EXPECT_EQ(rig.last().lists, hits({63, 5, 0}, {-1, 1234, 4464}, {1, 0, 0}));
}

TEST(V1190Unpacker, ReportsUnexpectedWordsAndGoesOn) {
  Rig rig("V1190Unpacker", "TDC0");
  tarntest::CapturedStdout out;
  const bool sent =
      rig.feed(tdc({w::v1190GlobalHeader(1, 5), w::v1190Hit(0, 1, 300), 0x10000000u,
                    w::v1190TdcError(0, 7), 0xF8000001u, w::v1190Hit(0, 2, 200), 0x2800ABCDu,
                    w::v1190TimeTag(9), w::v1190Filler(), w::v1190GlobalTrailer(0, 9, 5)}));
  EXPECT_EQ(out.text(),
            "unexpected tdc data 0x10000000\nunexpected tdc data 0xf8000001\n"
            "unexpected tdc data 0x2800abcd\n");
  ASSERT_TRUE(sent);
  EXPECT_EQ(rig.last().lists, hits({2, 1}, {200, 300}, {0, 0}));
}

TEST(V1190Unpacker, SendsEmptyListsForHeadersOnlyAndNothingWithoutTheBank) {
  Rig rig("V1190Unpacker", "TDC0");
  ASSERT_TRUE(rig.feed(tdc({w::v1190Hit(0, 1, 300)})));
  ASSERT_TRUE(rig.feed(
      tdc({w::v1190GlobalHeader(3, 5), w::v1190TdcHeader(0, 3, 9), w::v1190TdcTrailer(0, 3, 2),
           w::v1190Filler(), w::v1190GlobalTrailer(0, 5, 5)})));
  EXPECT_EQ(rig.last().lists, hits({}, {}, {}));

  ASSERT_TRUE(rig.feed(tdc({w::v1190Hit(0, 1, 300)})));
  StrandEvent* held = rig.last().event;
  EXPECT_FALSE(rig.feed(tdc({w::v1190Hit(0, 1, 300)}, "TDC1")));
  EXPECT_EQ(look(held).lists, hits({}, {}, {}));
  EXPECT_FALSE(rig.feed(eventOf({})));
  EXPECT_FALSE(rig.feed(tdc({})));  // a bank of no words counts as none
  EXPECT_EQ(rig.catcher.got.size(), 3u);

  Rig unnamed("V1190Unpacker", "");
  EXPECT_FALSE(unnamed.feed(tdc({w::v1190Hit(0, 1, 300)})));
  Rig longer("V1190Unpacker", "TDC0X");  // the lookup compares four characters
  EXPECT_TRUE(longer.feed(tdc({w::v1190Hit(0, 1, 300)})));
}

// The bank is the last of the event, which ends at an unmapped page: reading
// by element count rather than by whole 32-bit words would crash.
TEST(V1190Unpacker, ReadsOnlyTheWholeWordsOfABankOfAnotherType) {
  for (bool bank32 : {false, true}) {
    SCOPED_TRACE(bank32);
    Rig rig("V1190Unpacker", "TDC0");
    // Three 16-bit elements: one whole word (a hit at time 100) and half a word.
    ASSERT_TRUE(rig.feed(eventOf({synth::wordBank("TDC0", {100, 0, 0xFFFF})}, bank32)));
    EXPECT_EQ(rig.last().lists, hits({0}, {100}, {0}));
    // Three bytes: no whole word, but the bank has elements, so it is sent.
    ASSERT_TRUE(rig.feed(eventOf({synth::byteBank("TDC0", synth::TID_BYTE, {1, 2, 3})}, bank32)));
    EXPECT_EQ(rig.last().lists, hits({}, {}, {}));
  }
}

// The hits of a list in the order the unpacker keeps, built on whole hits.
Lists ordered(const std::vector<synth::TdcHit>& in) {
  std::vector<synth::TdcHit> out;
  for (const synth::TdcHit& h : in)
    out.insert(std::find_if(out.begin(), out.end(),
                            [&](const synth::TdcHit& o) { return int16_t(o.time) > long(h.time); }),
               h);
  Lists l = hits({}, {}, {});
  for (const synth::TdcHit& h : out) {
    l["TDCChannel"].push_back(h.channel);
    l["TDCValue"].push_back(int16_t(h.time));
    l["TDCEdge"].push_back(h.edge);
  }
  return l;
}

TEST(V1190Unpacker, UnpacksWhatASyntheticRunWrote) {
  for (bool bank32 : {false, true})
    for (bool swapped : {false, true}) {
      SCOPED_TRACE(std::to_string(bank32) + std::to_string(swapped));
      synth::RunSpec spec;
      spec.events = 50;
      spec.modules = true;
      spec.noise = 1;  // the unusual words too
      spec.bank32 = bank32;
      Rig rig("V1190Unpacker", "TDC0");
      std::string messages;
      tarntest::CapturedStdout out;
      for (uint32_t i = 0; i < spec.events; ++i) {
        const synth::ModuleContent c = synth::makeModuleContent(spec, i);
        ASSERT_TRUE(rig.feed(synth::makeEvent(spec, i), swapped));
        EXPECT_EQ(rig.last().lists, ordered(c.tdc)) << "event " << i;
        char line[64];
        std::snprintf(line, sizeof line, "unexpected tdc data 0x%08x\n", 0x10000000u | i);
        if (c.tdcUnexpected) messages += line;
      }
      EXPECT_EQ(out.text(), messages);
      EXPECT_FALSE(messages.empty());
    }
}

// Long banks: times of the full range, runs of rising times, many repeats.
TEST(V1190Unpacker, OrdersLongBanksAsTheRuleSays) {
  Rig rig("V1190Unpacker", "TDC0");
  uint64_t x = 12345;
  auto next = [&] {
    return uint32_t((x = x * 6364136223846793005ull + 1442695040888963407ull) >> 33);
  };
  for (int pattern = 0; pattern < 4; ++pattern) {
    SCOPED_TRACE(pattern);
    std::vector<synth::TdcHit> in;
    std::vector<uint32_t> words;
    for (uint32_t i = 0; i < 5000; ++i) {
      const uint32_t time = pattern == 0   ? next() & 0x3FFFF
                            : pattern == 1 ? i * 50
                            : pattern == 2 ? 262143 - i * 50
                                           : 32760 + next() % 16;
      in.push_back({next() % 64, time, next() & 1});
      words.push_back(w::v1190Hit(in.back().edge, in.back().channel, time));
    }
    ASSERT_TRUE(rig.feed(tdc(words)));
    EXPECT_TRUE(rig.last().lists == ordered(in));
  }
}

TEST(V1190Unpacker, BuiltWithTheTracePrintsEveryKnownWord) {
  Rig rig("V1190UnpackerTrace", "TDC0");
  tarntest::CapturedStdout out;
  ASSERT_TRUE(rig.feed(
      tdc({w::v1190GlobalHeader(12, 5), w::v1190TdcHeader(2, 7, 21), w::v1190Hit(1, 3, 12345),
           w::v1190TdcError(1, 0x1234), w::v1190Hit(0, 42, 0x3FFFF), 0x10000000u,
           w::v1190TdcTrailer(2, 7, 9), w::v1190TimeTag(0x7FFFFFF), w::v1190Filler(),
           w::v1190GlobalTrailer(3, 11, 5)})));
  EXPECT_EQ(out.text(),
            "global header, event_count 12, geo 5\n"
            "tdc header,  tdc 2, event_id 7, bunch_id 21\n"
            "hit: edge 1, chan  3, time  12345,  1234.5 ns\n"
            "tdc error, tdc 1, error_flags 4660\n"
            "hit: edge 0, chan 42, time 262143, 26214.3 ns\n"
            "unexpected tdc data 0x10000000\n"
            "tdc trailer, tdc 2, event_id 7, word_count 9\n"
            "trigger time tag 134217727\n"
            "filler\n"
            "trailer, status 3, word_count 11, geo 5\n");
  EXPECT_EQ(rig.last().lists, hits({3, 42}, {12345, -1}, {1, 0}));  // the trace changes nothing
}

TEST(V1190Unpacker, TheExampleGraphPrintsTheHitsOfARunFile) {
  tarntest::TempDir dir;
  synth::RunSpec spec;
  spec.events = 6;
  spec.modules = true;
  std::string error;
  const std::string file = dir.path() + "/run.mid.gz";
  ASSERT_TRUE(synth::writeRun(file, synth::makeRun(spec), false, synth::Damage::None, error))
      << error;
  tarntest::RunResult r = tarntest::runTarn({"run", TARN_SOURCE_DIR "/examples/v1190-printer.tarn",
                                             "--no-progress", "--set", "in.file=" + file});
  ASSERT_EQ(r.status, 0) << r.err << r.out;
  // Each event's lists as the printer shows them, in name order, in event order.
  size_t at = 0;
  for (uint32_t i = 0; i < spec.events; ++i) {
    std::string block;
    for (const auto& list : ordered(synth::makeModuleContent(spec, i).tdc)) {
      block += list.first + ":\t";
      for (long v : list.second) {
        char s[16];
        std::snprintf(s, sizeof s, "%4ld ", v);
        block += s;
      }
      block += "\n";
    }
    at = r.out.find(block + "\n", at);
    ASSERT_NE(at, std::string::npos) << "event " << i << ":\n" << block << "in\n" << r.out;
  }
}

}  // namespace
