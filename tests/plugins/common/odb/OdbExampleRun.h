// Runs one of the ODB example graphs on a synthesised run (no module banks).
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "MidasSynth.h"
#include "TarnTest.h"

namespace odbtest {

inline tarntest::RunResult runExample(const std::string& graph, uint32_t run, uint32_t events) {
  tarntest::TempDir dir;
  synth::RunSpec spec;
  spec.run = run;
  spec.events = events;
  std::string error;
  const std::string file = dir.path() + "/run.mid.gz";
  EXPECT_TRUE(synth::writeRun(file, synth::makeRun(spec), false, synth::Damage::None, error)) << error;
  tarntest::RunResult r = tarntest::runTarn({"run", std::string(TARN_SOURCE_DIR) + "/examples/" + graph,
                                             "--no-progress", "--set", "in.file=" + file});
  EXPECT_EQ(r.status, 0) << r.err << r.out;
  return r;
}

}  // namespace odbtest
