#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "MidasSynth.h"
#include "TarnTest.h"

namespace {

// Two events: one bank of every kind the dump prints, then none at all.
std::vector<synth::Event> events() {
  synth::Event e;
  e.id = 5;
  e.triggerMask = 2;
  e.serial = 9;
  e.timeStamp = 1700000000;
  e.banks = {synth::wordBank("W\x01\xffZ", {65535, 1}),
             synth::shortBank("SHRT", {-1, 2}),
             synth::dwordBank("DWRD", {4294967295u}),
             synth::intBank("INTS", {-7}),
             synth::floatBank("FLTS", {1.5f}),
             synth::doubleBank("DBLS", {-0.1}),
             synth::boolBank("FLAG", {true, false}),
             synth::byteBank("BYTS", synth::TID_BYTE, {0x00, 0xff}),
             synth::byteBank("SBYT", synth::TID_SBYTE, {0xff}),
             synth::stringBank("TEXT", "hi\n"),
             synth::Bank{"I64 ", 17, {0xfe, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff}}};
  synth::Event empty;
  empty.id = 6;
  empty.timeStamp = 1700000004;
  return {e, empty};
}

const char kDump[] =
    "event 0  id 0x0005  mask 0x0002  serial 9  time 2023-11-14 22:13:20 UTC  size %SIZE%\n"
    "  bank W\\x01\\xffZ  WORD  4 bytes, 2 elements\n    65535 1\n"
    "  bank SHRT  SHORT  4 bytes, 2 elements\n    -1 2\n"
    "  bank DWRD  DWORD  4 bytes, 1 elements\n    4294967295\n"
    "  bank INTS  INT  4 bytes, 1 elements\n    -7\n"
    "  bank FLTS  FLOAT  4 bytes, 1 elements\n    1.5\n"
    "  bank DBLS  DOUBLE  8 bytes, 1 elements\n    -0.10000000000000001\n"
    "  bank FLAG  BOOL  8 bytes, 2 elements\n    true false\n"
    "  bank BYTS  BYTE  2 bytes\n    00 ff\n"
    "  bank SBYT  SBYTE  1 bytes\n    -1\n"
    "  bank TEXT  STRING  4 bytes\n    \"hi\\x0a\"\n"
    "  bank I64   INT64  8 bytes, 1 elements\n    -2\n"
    "event 1  id 0x0006  mask 0x0000  serial 0  time 2023-11-14 22:13:24 UTC  size 8\n"
    "  no banks\n";

TEST(TarnDump, EveryElementByItsTypeInEitherByteOrder) {
  for (bool swapped : {false, true}) {
    tarntest::TempDir dir;
    std::string error;
    const std::string file = dir.path() + "/run.mid.zst";
    ASSERT_TRUE(synth::writeRun(file, events(), swapped, synth::Damage::None, error)) << error;
    const tarntest::RunResult r = tarntest::runTarn({"dump", dir.path() + "/run.mid"});
    EXPECT_EQ(r.status, 0) << r.err;
    std::string expected = kDump;
    expected.replace(expected.find("%SIZE%"), 6,
                     std::to_string(synth::encodeDataArea(events()[0]).size()));
    EXPECT_EQ(r.out, expected);

    const tarntest::RunResult s = tarntest::runTarn({"dump", file, "--summary", "--banks", "FLTS,TEXT"});
    EXPECT_EQ(s.out, file + ": 2 events\n  id 0x0005  1 events\n  id 0x0006  1 events\n"
                            "  bank FLTS  1 banks, 4 bytes, 4 to 4 bytes each\n"
                            "  bank TEXT  1 banks, 4 bytes, 4 to 4 bytes each\n"
                            "  time 2023-11-14 22:13:20 UTC to 2023-11-14 22:13:24 UTC, 4 s, 0.5 events/s\n");
    const tarntest::RunResult one = tarntest::runTarn({"dump", file, "--id", "0x6"});
    EXPECT_EQ(one.out, expected.substr(expected.find("event 1")));
    EXPECT_EQ(tarntest::runTarn({"dump", "--id=0x6", file}).out, one.out);
  }
}

TEST(TarnDump, ADamagedRunIsDumpedUpToTheDamageAndFails) {
  tarntest::TempDir dir;
  std::string error;
  const std::string file = dir.path() + "/run.mid";
  ASSERT_TRUE(synth::writeRun(file, events(), false, synth::Damage::TruncatedData, error)) << error;
  const tarntest::RunResult r = tarntest::runTarn({"dump", file});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out.find("event 1"), std::string::npos);
  EXPECT_NE(r.err.find("after 1 events"), std::string::npos) << r.err;
  EXPECT_EQ(tarntest::runTarn({"dump", dir.path() + "/none.mid"}).status, 1);
}

}  // namespace
