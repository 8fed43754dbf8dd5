#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "MidasSynth.h"
#include "TarnTest.h"

namespace {

// A run of two events whose dumps are in `form`, written as run7.mid.gz.
std::string writeRun(const tarntest::TempDir& dir, synth::OdbForm form, bool swapped = false) {
  synth::RunSpec spec;
  spec.run = 7;
  spec.events = 2;
  spec.odb = form;
  spec.swapped = swapped;
  std::string error;
  const std::string file = dir.path() + "/run7.mid.gz";
  EXPECT_TRUE(synth::writeRun(file, synth::makeRun(spec), swapped, synth::Damage::None, error)) << error;
  return file;
}

TEST(TarnOdb, PrintsValuesAndTreesAlikeFromEitherFormAndByteOrder) {
  std::string first;
  for (synth::OdbForm form : {synth::OdbForm::Xml, synth::OdbForm::Json}) {
    for (bool swapped : {false, true}) {
      tarntest::TempDir dir;
      const std::string file = writeRun(dir, form, swapped);
      const tarntest::RunResult r = tarntest::runTarn(
          {"odb", file, "/runinfo/Run number", "/Equipment/Trigger/Settings/Channel names",
           "/Equipment/Trigger/Settings/Gains[2]", "/Runinfo/Start time binary", "/Experiment/Edit on start"});
      EXPECT_EQ(r.status, 0) << r.err;
      if (first.empty()) first = r.out;
      EXPECT_EQ(r.out, first);
      const tarntest::RunResult j = tarntest::runTarn(
          {"odb", file, "--eor", "--json", "/Equipment/Trigger/Settings/Enabled channels",
           "/Runinfo/Stop time binary", "/Experiment/Code"});
      EXPECT_EQ(j.status, 0) << j.err;
      EXPECT_EQ(j.out,
                "{\n  \"/Equipment/Trigger/Settings/Enabled channels\": [\n    true,\n    false,\n    true,\n"
                "    true\n  ],\n  \"/Runinfo/Stop time binary\": " +
                    std::to_string(synth::runStartTime(synth::RunSpec{7, 2}) + 6) +
                    ",\n  \"/Experiment/Code\": \"S\"\n}\n");
    }
  }
  EXPECT_EQ(first.substr(0, first.find("\n[\"left\"")), "7");
  EXPECT_NE(first.find("\n0.75\n"), std::string::npos);
  EXPECT_NE(first.find("Comment                  STRING      synthetic data\n"), std::string::npos);
}

TEST(TarnOdb, SaysWhatIsMissingAndExitsOne) {
  tarntest::TempDir dir;
  const std::string file = writeRun(dir, synth::OdbForm::Json);
  tarntest::RunResult r = tarntest::runTarn({"odb", dir.path() + "/run8.mid"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("no such run: " + dir.path() + "/run8.mid"), std::string::npos);
  r = tarntest::runTarn({"odb", file, "/Runinfo/Nothing here"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "tarn odb: no such path in the ODB: /Runinfo/Nothing here\n");
  r = tarntest::runTarn({"odb", file, "/Equipment/Trigger/Settings/Gains[4]"});
  EXPECT_EQ(r.status, 1);
  std::string error;
  const std::string bare = dir.path() + "/bare.mid";
  ASSERT_TRUE(synth::writeRun(bare, {synth::makeEvent(synth::RunSpec{}, 0)}, false, synth::Damage::None, error));
  r = tarntest::runTarn({"odb", bare});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "tarn odb: no begin-of-run ODB dump in " + bare + "\n");
}

// The tool's option: JSON dumps on request, XML by default, nothing else.
TEST(TarnOdb, MidasSynthWritesTheFormAskedFor) {
  tarntest::TempDir dir;
  const std::string synth = std::string("'") + MIDAS_SYNTH_BINARY + "' --run 12 --events 1 ";
  for (const char* form : {"json", "xml"}) {
    const std::string file = dir.path() + "/" + form + ".mid";
    ASSERT_EQ(std::system((synth + "--odb " + form + " '" + file + "' >/dev/null").c_str()), 0);
    const std::string raw = tarntest::contentOf(file);
    EXPECT_EQ(raw.substr(16, 1), form[0] == 'j' ? "{" : "<");
    EXPECT_EQ(tarntest::runTarn({"odb", file, "/Runinfo/Run number"}).out, "12\n");
  }
  EXPECT_NE(std::system((synth + "--odb yaml '" + dir.path() + "/x.mid' 2>/dev/null").c_str()), 0);
}

}  // namespace
