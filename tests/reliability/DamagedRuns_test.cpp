// Damaged run files through the whole runner: every kind of damage the
// synthesiser makes, at the start, middle and end of a run, plain and in every
// compressed form, and compressed streams cut or flipped anywhere.
// The runner must end normally, print every event before the damage exactly
// as it prints the undamaged run, and either say what it stopped on (a cut or
// an impossible size) or go on with the events after a damaged data area.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "MidasSynth.h"
#include "TarnTest.h"

namespace {

using synth::Damage;

// Every reader of event data in one graph: contents printed, each unpacker
// and the bank translator printing its strand event, VF48 banks decoded,
// printed and picked.
const char* kGraph =
    "node in RunFile\n"
    "node dump EventDumper\n"
    "node tdc V1190Unpacker\n"
    "node adc V785Unpacker\n"
    "node io V1190Unpacker\n"  // another module's bank: words it must not trust
    "node io32 Io32Unpacker\n"
    "node madc Mdi2Unpacker\n"
    "node all CompositeUnpacker\n"
    "node sis Sis3320Unpacker\n"
    "node bt BankTranslator\n"
    "node vf WaveDecoder\n"
    "node vfdump WaveEventDumper\n"
    "node pick ChannelPicker\n"
    "node show StrandPrinter\n"
    "node samples ValuePrinter\n"
    "node picked ValuePrinter\n"
    "set dump.option a\n"
    "set tdc.bank TDC0\n"
    "set adc.bank ADC0\n"
    "set io.bank IO32\n"
    "set io32.bank IO32\n"
    "set madc.bank MADC\n"
    "set sis.channel 1\n"
    "set pick.module 1\n"
    "set pick.channel 3\n"
    "set bt.banks WRDS DBLS INTS PAD5 CHRS TDC0\n"
    "set bt.WRDS a b\n"
    "set bt.DBLS d\n"
    "set bt.INTS i * j .\n"
    "set bt.TDC0 t\n"
    "connect in.event dump.event\n"
    "connect in.event tdc.event\n"
    "connect in.event adc.event\n"
    "connect in.event io.event\n"
    "connect in.event io32.event\n"
    "connect in.event madc.event\n"
    "connect in.event all.event\n"
    "connect in.event sis.event\n"
    "connect in.event bt.mevent\n"
    "connect in.event vf.event\n"
    "connect tdc.fevent show.fevent\n"
    "connect adc.fevent show.fevent\n"
    "connect io.fevent show.fevent\n"
    "connect io32.fevent show.fevent\n"
    "connect madc.fevent show.fevent\n"
    "connect all.fevent show.fevent\n"
    "connect bt.fevent show.fevent\n"
    "connect vf.fevent show.fevent\n"
    "connect sis.signal samples.value\n"
    "connect vf.vf_event vfdump.vf_event\n"
    "connect vf.vf_event pick.vf_event\n"
    "connect pick.signal picked.value\n"
    "start in\n";

const uint32_t kEvents = 9;

struct Shape {
  const char* name;
  bool bank32;
  bool swapped;
};

std::vector<std::vector<uint8_t>> encodedRun(const Shape& shape) {
  synth::RunSpec spec;
  spec.events = kEvents;
  spec.modules = true;
  spec.vf48Modules = 2;
  spec.bank32 = shape.bank32;
  spec.swapped = shape.swapped;
  std::vector<std::vector<uint8_t>> out;
  for (const synth::Event& e : synth::makeRun(spec)) out.push_back(synth::encodeEvent(e, shape.swapped));
  return out;
}

// Event `at` damaged; a cut ends the file there.
void writeRun(const std::string& path, std::vector<std::vector<uint8_t>> events, Damage damage,
              size_t at) {
  synth::RunWriter w;
  std::string error;
  ASSERT_TRUE(w.open(path, error)) << error;
  for (size_t i = 0; i < events.size(); ++i) {
    if (i == at) events[i] = synth::damageEvent(std::move(events[i]), damage);
    ASSERT_TRUE(w.write(events[i], error)) << error;
    if (i == at && synth::damageEndsFile(damage)) break;
  }
  ASSERT_TRUE(w.close(error)) << error;
}

// Where the printout of ordinary event `k` (0-based) begins; the end when there is none.
size_t eventStart(const std::string& out, size_t k) {
  size_t at = 0;
  for (size_t n = 0; (at = out.find("Event start:", at)) != std::string::npos; ++at, ++n)
    if (n == k) return at;
  return out.size();
}

// The text without the lines of the MADC overflow counts, which add up over
// the run: a damaged event rightly changes them for every later event.
std::string withoutRunTotals(const std::string& text) {
  std::string out;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    end = end == std::string::npos ? text.size() : end + 1;
    const std::string line = text.substr(at, end - at);
    if (line.rfind("Overflow:\t", 0) != 0 && line.rfind("MOverflow:\t", 0) != 0) out += line;
    at = end;
  }
  return out;
}

tarntest::RunResult runGraph(const std::string& graph, const std::string& file) {
  return tarntest::runTarn({"run", graph, "--no-progress", "--set", "in.file=" + file});
}

TEST(DamagedRuns, EveryGoodEventBeforeTheDamageIsDeliveredUnchangedAndTheStopIsNamed) {
  tarntest::TempDir dir;
  const std::string graph = dir.write("damage.tarn", kGraph);
  struct Kind {
    Damage damage;
    const char* reason;  // what the runner names; null: the run goes on past the event
  };
  const char* cut = "Unexpected end of file inside an event";
  const Kind kinds[] = {
      {Damage::TruncatedHeader, cut},          {Damage::TruncatedData, cut},
      {Damage::TruncatedBankAreaHeader, cut},  {Damage::TruncatedBankHeader, cut},
      {Damage::TruncatedBankData, cut},        {Damage::ZeroSize, "Invalid event size"},
      {Damage::OversizeData, "Invalid event size"}, {Damage::GarbageBankHeader, nullptr},
      {Damage::BankPastEvent, nullptr},        {Damage::BankAreaPastEvent, nullptr},
      {Damage::BitFlips, nullptr}};
  for (const Shape& shape : {Shape{"16-bit", false, false}, Shape{"32-bit swapped", true, true}}) {
    const std::vector<std::vector<uint8_t>> run = encodedRun(shape);
    for (const std::string name : {"run.mid", "run.mid.gz", "run.mid.lz4", "run.mid.bz2", "run.mid.zst"}) {
      const std::string path = dir.path() + "/" + name;
      writeRun(path, run, Damage::None, run.size());
      const tarntest::RunResult whole = runGraph(graph, path);
      ASSERT_EQ(whole.status, 0) << whole.err;
      ASSERT_EQ(eventStart(whole.out, kEvents - 1) < whole.out.size(), true) << whole.out;
      const size_t stopAt = whole.out.find("Stop()\n");
      ASSERT_NE(stopAt, std::string::npos);
      const std::string ending = whole.out.substr(stopAt);  // "Stop()" and the deletions

      for (const Kind& kind : kinds)
        // Event 1 is the first ordinary one; a damaged data area is tried past
        // the events that first fill each translated property.
        for (size_t at : {size_t(1), size_t(kEvents / 2 + 1), size_t(kEvents)}) {
          if (!kind.reason && at == 1) continue;
          SCOPED_TRACE(std::string(shape.name) + " " + name + " damage " +
                       std::to_string(int(kind.damage)) + " at event " + std::to_string(at));
          writeRun(path, run, kind.damage, at);
          const tarntest::RunResult r = runGraph(graph, path);
          ASSERT_EQ(r.status, 0) << r.err;
          ASSERT_EQ(r.err.find("runtime error"), std::string::npos) << r.err;
          const size_t before = eventStart(whole.out, at - 1);
          ASSERT_EQ(r.out.substr(0, before), whole.out.substr(0, before));
          if (kind.reason) {
            EXPECT_EQ(r.out.substr(before),
                      "in: RunFile: " + path + ": " + kind.reason + "\n" + ending);
          } else {
            // The damaged event is printed as it reads; every event after it as before.
            const bool last = at == kEvents;
            const size_t after = last ? stopAt : eventStart(whole.out, at);
            const size_t damagedEnd = last ? r.out.find("Stop()\n", before) : eventStart(r.out, at);
            ASSERT_LT(damagedEnd, r.out.size());
            EXPECT_EQ(withoutRunTotals(r.out.substr(damagedEnd)),
                      withoutRunTotals(whole.out.substr(after)));
            EXPECT_EQ(r.out.find("Event start:", before), before);
          }
        }
    }
  }
}

std::string fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Damage to the compressed bytes themselves, by either inflate for gzip: the
// runner ends normally and names why it stopped.
TEST(DamagedRuns, ACompressedStreamCutOrFlippedAnywhereEndsTheRunWithItsReason) {
  tarntest::TempDir dir;
  const std::string graph = dir.write("damage.tarn", kGraph);
  const std::vector<std::vector<uint8_t>> run = encodedRun(Shape{"32-bit", true, false});
  for (const std::string form : {".gz", ".lz4", ".bz2", ".zst"})
    for (const char* inflate : {"", "zlib"}) {
      if (*inflate && form != ".gz") continue;
      ::setenv("TARN_GZIP_INFLATE", inflate, 1);
      const std::string path = dir.path() + "/run.mid" + form;
      writeRun(path, run, Damage::None, run.size());
      const tarntest::RunResult whole = runGraph(graph, path);
      ASSERT_EQ(whole.status, 0) << whole.err;
      const std::string bytes = fileBytes(path);
      for (size_t k = 1; k < 8; ++k)
        for (bool flip : {false, true}) {
          const size_t at = bytes.size() * k / 8;
          SCOPED_TRACE(form + (flip ? " flipped at " : " cut at ") + std::to_string(at) + " " + inflate);
          std::string bad = flip ? bytes : bytes.substr(0, at);
          if (flip) bad[at] = char(bad[at] ^ 0x10);
          const std::string damaged = dir.write("damaged" + form, bad);
          const tarntest::RunResult r = runGraph(graph, damaged);
          ASSERT_EQ(r.status, 0) << r.err;
          ASSERT_EQ(r.err.find("runtime error"), std::string::npos) << r.err;
          const size_t reason = r.out.find("in: RunFile: " + damaged + ": ");
          ASSERT_NE(reason, std::string::npos) << r.out;
          // Before a cut, what the whole run printed. Flipped bytes are only
          // found by the checksum at the end of their unit: the events decoded
          // from them before it went out as they read.
          const size_t from = r.out.find("in: Running:");  // the lines before name the file
          if (!flip) {
            EXPECT_EQ(r.out.substr(from, reason - from), whole.out.substr(whole.out.find("in: Running:"), reason - from));
          }
        }
    }
  ::unsetenv("TARN_GZIP_INFLATE");
}

// The synthesiser's command line makes the same damaged files, anywhere in the run.
TEST(DamagedRuns, TheSynthesiserDamagesTheEventItIsToldOf) {
  tarntest::TempDir dir;
  const std::string path = dir.path() + "/cut.mid";
  const std::string command = std::string(MIDAS_SYNTH_BINARY) + " --modules --events 5 " +
                              "--damage truncated-bank-header --damage-at 3 " + path;
  ASSERT_EQ(std::system(command.c_str()), 0);
  synth::RunSpec spec;
  spec.events = 5;
  spec.modules = true;
  std::vector<uint8_t> expected;
  const std::vector<synth::Event> run = synth::makeRun(spec);
  for (size_t i = 0; i < 3; ++i) {
    const std::vector<uint8_t> e = synth::encodeEvent(run[i]);
    expected.insert(expected.end(), e.begin(), e.end());
  }
  const std::vector<uint8_t> third = synth::encodeEvent(run[3]);
  expected.insert(expected.end(), third.begin(), third.begin() + 16 + 8 + 4);
  std::ifstream in(path, std::ios::binary);
  const std::vector<uint8_t> written((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(written, expected);
  // Two ordinary events make a run of events 0 to 3.
  const std::string beyond = std::string(MIDAS_SYNTH_BINARY) + " --events 2 --damage-at 4 " +
                             path + " 2>/dev/null";
  EXPECT_NE(std::system(beyond.c_str()), 0);
}

}  // namespace
