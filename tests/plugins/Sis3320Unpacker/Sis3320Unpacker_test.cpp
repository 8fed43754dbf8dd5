#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "../../midas/MidasTestData.h"
#include "MidasSynth.h"
#include "ModuleBanks.h"
#include "TarnTest.h"

namespace {

using midastest::GuardedEvent;
using Samples = std::vector<uint16_t>;

// Keeps a copy of every sample list that reaches it.
class Scope : public TarnBase {
 public:
  Scope() : TarnBase(nullptr, "scope") {
    inputs.push_back(Input("signal", static_cast<Handler>(&Scope::take), TARN_SHORT_V, ""));
  }
  void take(void* v) {
    const std::vector<short>& s = *static_cast<const std::vector<short>*>(v);
    Samples copy(s.size());
    if (!s.empty()) std::memcpy(copy.data(), s.data(), 2 * s.size());
    got.push_back(copy);
  }
  std::vector<Samples> got;
};

synth::Event eventOf(std::vector<synth::Bank> banks, bool bank32 = false) {
  synth::Event e;
  e.bank32 = bank32;
  e.banks = std::move(banks);
  return e;
}

Samples ramp(size_t n, uint16_t from = 0) {
  Samples s(n);
  for (size_t i = 0; i < n; ++i) s[i] = uint16_t(from + 37 * i);
  return s;
}

class Sis3320UnpackerTest : public ::testing::Test {
 protected:
  Sis3320UnpackerTest() : sis("Sis3320Unpacker", "sis") {
    EXPECT_TRUE(sis->AddReceiver(0, &scope, 0));
  }
  std::vector<Samples> decode(const synth::Event& e, bool swapped = false) {
    return decodeArea(synth::encodeDataArea(e, swapped));
  }
  std::vector<Samples> decodeArea(const std::vector<uint8_t>& area) {
    scope.got.clear();
    GuardedEvent g(area);
    sis->SetInput(1, &g.event);
    return scope.got;
  }

  tarntest::Node sis;
  Scope scope;
};

TEST(Sis3320UnpackerPorts, DeclaresItsPortsAndAnnouncesItself) {
  tarntest::CapturedStdout out;
  {
    tarntest::Node sis("Sis3320Unpacker", "digitiser");
    EXPECT_EQ(sis->description, "Decode Struck SIS3320 Midas events");
    ASSERT_EQ(sis->inputs.size(), 2u);
    ASSERT_EQ(sis->outputs.size(), 1u);
    const TarnBase::Input &channel = sis->inputs[0], &event = sis->inputs[1];
    const TarnBase::Output& signal = sis->outputs[0];
    EXPECT_EQ(channel.name + " " + std::to_string(channel.type) + " " + channel.description,
              "channel 7 Selected channel");
    EXPECT_EQ(event.name + " " + std::to_string(event.type) + " " + event.description,
              "event 18 Midas event to decode");
    EXPECT_EQ(signal.name + " " + std::to_string(signal.type) + " " + signal.description,
              "signal 20 Signal as vector<short>");
  }
  EXPECT_EQ(out.text(), "digitiser instantiated\ndigitiser deleted\n");
}

TEST_F(Sis3320UnpackerTest, SendsTheSamplesOfChannelOneUnlessToldOtherwise) {
  const Samples one = ramp(1000, 0xff00), two = ramp(12, 5);
  for (bool bank32 : {false, true}) {
    SCOPED_TRACE(bank32 ? "32-bit bank headers" : "16-bit bank headers");
    const synth::Event e = eventOf(
        {synth::wordBank("SIS2", two), synth::wordBank("SIS1", one), synth::wordBank("SIS3", two)},
        bank32);
    std::vector<Samples> got = decode(e);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], one);  // a 2000-byte bank: 1000 samples
    // Data written by a big-endian acquisition arrive the same.
    EXPECT_EQ(decode(e, true), got);
  }
  ASSERT_TRUE(sis->SetInput("channel", "2"));
  std::vector<Samples> got =
      decode(eventOf({synth::wordBank("SIS1", one), synth::wordBank("SIS2", two)}));
  EXPECT_EQ(got, (std::vector<Samples>{two}));
}

TEST_F(Sis3320UnpackerTest, TheChannelIsTheFourthCharacterLessTheCodeOfZero) {
  const Samples a = ramp(4, 1), zero = ramp(3, 2);
  const synth::Event e =
      eventOf({synth::wordBank("SISA", a), synth::wordBank("SIS0", zero),
               synth::wordBank("SIX1", a), synth::wordBank("sis1", a), synth::wordBank("XSIS", a)});
  EXPECT_TRUE(decode(e).empty());  // nothing of channel 1
  ASSERT_TRUE(sis->SetInput("channel", "17"));
  EXPECT_EQ(decode(e), (std::vector<Samples>{a}));
  ASSERT_TRUE(sis->SetInput("channel", "0"));
  EXPECT_EQ(decode(e), (std::vector<Samples>{zero}));
  ASSERT_TRUE(sis->SetInput("channel", "-1"));  // '/' is one below '0'
  EXPECT_EQ(decode(eventOf({synth::wordBank("SIS/", a), synth::wordBank("SIS0", zero)})),
            (std::vector<Samples>{a}));
}

TEST_F(Sis3320UnpackerTest, EveryMatchingBankIsSentInBankOrder) {
  const Samples first = ramp(6, 100), second = ramp(2, 200);
  std::vector<Samples> got =
      decode(eventOf({synth::wordBank("SIS1", first), synth::dwordBank("TDC0", {1}),
                      synth::wordBank("SIS1", second), synth::wordBank("SIS1", {})}));
  EXPECT_EQ(got, (std::vector<Samples>{first, second, {}}));
  // No check on the bank type: the bytes are samples whatever the type says.
  got = decode(eventOf({synth::dwordBank("SIS1", {0x00020001u})}));
  EXPECT_EQ(got, (std::vector<Samples>{{1, 2}}));
  EXPECT_TRUE(decode(eventOf({})).empty());
}

TEST_F(Sis3320UnpackerTest, AnOddLastByteIsNotASample) {
  for (bool bank32 : {false, true}) {
    SCOPED_TRACE(bank32 ? "32-bit bank headers" : "16-bit bank headers");
    // Seven bytes, last in the event and not padded: the data end right after them.
    std::vector<uint8_t> area = synth::encodeDataArea(
        eventOf({synth::byteBank("SIS1", synth::TID_WORD, {1, 0, 2, 0, 3, 0, 0xee})}, bank32));
    area.pop_back();
    uint32_t size;
    std::memcpy(&size, area.data(), 4);
    size -= 1;
    std::memcpy(area.data(), &size, 4);
    EXPECT_EQ(decodeArea(area), (std::vector<Samples>{{1, 2, 3}}));
  }
}

TEST(Sis3320UnpackerGraph, TheExampleGraphPrintsChannelOne) {
  tarntest::TempDir dir;
  synth::RunSpec spec;
  spec.events = 2;
  spec.modules = true;
  const std::string file = dir.path() + "/run.mid";
  std::string error;
  ASSERT_TRUE(synth::writeRun(file, synth::makeRun(spec), false, synth::Damage::None, error))
      << error;
  tarntest::RunResult r =
      tarntest::runTarn({"run", TARN_SOURCE_DIR "/examples/sis3320-printer.tarn", "--no-progress",
                         "--set", "in.file=" + file});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string expected;
  for (uint32_t i = 0; i < spec.events; ++i) {
    const synth::ModuleContent c = synth::makeModuleContent(spec, i);
    for (uint16_t s : c.sis.at(1)) {
      char field[16];
      std::snprintf(field, sizeof field, "%4d ", int(int16_t(s)));
      expected += field;
    }
    expected += "\n";
  }
  EXPECT_NE(r.out.find(expected), std::string::npos) << r.out;
}

}  // namespace
