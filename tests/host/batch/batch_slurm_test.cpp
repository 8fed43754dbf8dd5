// `tarn batch --slurm` on a real cluster (make test-slurm starts a local one):
// the runs' files are those a local batch writes, byte for byte.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "MidasSynth.h"
#include "TarnTest.h"

namespace {

using nlohmann::json;
using tarntest::runTarn;

// Every file of a run directory by name, the status without its timings.
std::map<std::string, std::string> runFiles(const std::string& dir) {
  std::map<std::string, std::string> files;
  DIR* d = ::opendir(dir.c_str());
  if (!d) return files;
  while (dirent* e = ::readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    files[name] = tarntest::contentOf(dir + "/" + name);
  }
  ::closedir(d);
  json s = json::parse(files["status.json"], nullptr, false);
  if (s.is_object())
    for (const char* k : {"seconds", "cpu_seconds", "max_rss_kib", "host", "inputs"}) s.erase(k);
  files["status.json"] = s.dump();
  return files;
}

// A batch run from `cwd`, so both engines see the same relative paths.
tarntest::RunResult batchIn(const std::string& cwd, const std::vector<std::string>& args) {
  char here[4096];
  if (!::getcwd(here, sizeof here) || ::chdir(cwd.c_str()) != 0) return {-1, "", "no cwd"};
  auto r = runTarn(args);
  if (::chdir(here) != 0) r.status = -1;
  return r;
}

bool clusterUp() {
  return std::getenv("SLURM_CONF") && std::system("scontrol ping >/dev/null 2>&1") == 0;
}

#define REQUIRE_CLUSTER()                                                                      \
  if (!clusterUp()) {                                                                          \
    if (std::getenv("TARN_REQUIRE_SLURM")) FAIL() << "no Slurm cluster answers (SLURM_CONF)"; \
    GTEST_SKIP() << "no Slurm cluster (SLURM_CONF unset or scontrol ping fails); "             \
                    "make test-slurm starts one";                                              \
  }

// Polls `done` every 200 ms for at most `seconds`.
template <class F>
bool within(int seconds, F done) {
  for (int i = 0; i < seconds * 5; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  return done();
}

TEST(TarnBatchSlurm, ArrayJobWritesWhatALocalBatchWrites) {
  REQUIRE_CLUSTER();
  tarntest::TempDir dir;
  const std::string graph = dir.write("g.tarn",
                                      "node in RunFile\n"
                                      "node unpack CompositeUnpacker\n"
                                      "node hist Histogrammer\n"
                                      "node h5 Hdf5Writer\n"
                                      "set hist.properties ADCValue TDCValue\n"
                                      "set hist.bins ADCValue:32:0:4096 TDCValue:32:-32768:32768\n"
                                      "connect in.event unpack.event\n"
                                      "connect unpack.fevent hist.fevent\n"
                                      "connect unpack.fevent h5.fevent\n"
                                      "connect in.eor hist.eor\n"
                                      "start in\n");
  std::vector<std::string> args = {"batch", graph};
  for (uint32_t k = 1; k <= 3; ++k) {
    synth::RunSpec spec;
    spec.run = k;
    spec.seed = k;
    spec.events = 30;
    spec.modules = true;
    std::string path = dir.path() + "/run0000" + std::to_string(k) + ".mid.gz", error;
    ASSERT_TRUE(synth::writeRun(path, synth::makeRun(spec), false, synth::Damage::None, error));
    args.push_back(path);
  }
  // A blank and a Slurm file pattern in the directory: Slurm's logs go there too.
  const std::string b = "b %a";
  for (const char* s : {"-s", "in.file={run}", "-s", "hist.prefix={out}/{name}", "-s",
                        "h5.file={out}/spectra.h5", "--out", b.c_str()})
    args.push_back(s);
  ASSERT_EQ(::mkdir((dir.path() + "/local").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir((dir.path() + "/slurm").c_str(), 0755), 0);
  auto local = batchIn(dir.path() + "/local", args);
  ASSERT_EQ(local.status, 0) << local.err;

  args.insert(args.end(), {"-j", "2", "--slurm", "--wait", "--", "--time=10"});
  auto slurm = batchIn(dir.path() + "/slurm", args);
  ASSERT_EQ(slurm.status, 0) << slurm.err;
  EXPECT_NE(slurm.err.find("tarn batch: submitted Slurm job "), std::string::npos) << slurm.err;
  EXPECT_NE(slurm.err.find("tarn batch: 3 runs: 3 done (0 of them before), 0 failed; results in " + b + "\n"),
            std::string::npos) << slurm.err;
  const std::string script = tarntest::contentOf(dir.path() + "/slurm/" + b + "/batch.sbatch");
  EXPECT_NE(script.find("#SBATCH --array=0,1,2%2\n"), std::string::npos) << script;
  const std::string job = slurm.err.substr(slurm.err.find("job ") + 4, slurm.err.find(':', slurm.err.find("job ")) -
                                                                         slurm.err.find("job ") - 4);
  EXPECT_EQ(tarntest::namesIn(dir.path() + "/slurm/" + b + "/slurm"),
            (std::set<std::string>{job + "_0.out", job + "_1.out", job + "_2.out"}));
  for (const char* name : {"run00001", "run00002", "run00003"}) {
    auto here = runFiles(dir.path() + "/local/" + b + "/" + name);
    auto there = runFiles(dir.path() + "/slurm/" + b + "/" + name);
    EXPECT_EQ(here.size(), 8u) << name;  // stdout, stderr, status, 2 CSV, 2 PNG, HDF5
    for (const auto& f : here) EXPECT_TRUE(there[f.first] == f.second) << name << "/" << f.first;
  }
  // Merged, the two give the same files too.
  for (const char* engine : {"/local/", "/slurm/"})
    ASSERT_EQ(batchIn(dir.path() + engine + b, {"merge", "."}).status, 0) << engine;
  auto mergedHere = runFiles(dir.path() + "/local/" + b + "/merged");
  auto mergedThere = runFiles(dir.path() + "/slurm/" + b + "/merged");
  EXPECT_EQ(mergedHere.size(), 7u);  // 2 CSV, 2 PNG, HDF5, the status entry of none, the list of what it made
  for (const auto& f : mergedHere) EXPECT_TRUE(mergedThere[f.first] == f.second) << "merged/" << f.first;

  auto table = runTarn({"batch", "--status", dir.path() + "/slurm/" + b});
  EXPECT_EQ(table.status, 0);
  EXPECT_NE(table.out.find("run00002  done                 32"), std::string::npos) << table.out;
  EXPECT_NE(table.out.find("3 runs: 3 done\n"), std::string::npos) << table.out;

  // Nothing left to do: nothing is submitted.
  auto again = batchIn(dir.path() + "/slurm", args);
  EXPECT_EQ(again.status, 0);
  EXPECT_NE(again.err.find("nothing submitted"), std::string::npos) << again.err;
}

TEST(TarnBatchSlurm, KillNineOfATaskLeavesNoRunLookingDone) {
  REQUIRE_CLUSTER();
  tarntest::TempDir dir;
  const std::string graph = dir.write("g.tarn", "node in RunFile\nset in.interval 0.05\nstart in\n");
  synth::RunSpec spec;
  spec.events = 200;  // 10 s at its pace
  std::string run = dir.path() + "/run00001.mid", error;
  ASSERT_TRUE(synth::writeRun(run, synth::makeRun(spec), false, synth::Damage::None, error));
  const std::string out = dir.path() + "/b";
  auto r = runTarn({"batch", graph, run, "-s", "in.file={run}", "--out", out, "--slurm"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string tag = "submitted Slurm job ";
  ASSERT_NE(r.err.find(tag), std::string::npos) << r.err;
  const std::string job = r.err.substr(r.err.find(tag) + tag.size(), r.err.find(':', r.err.find(tag)) -
                                                                        r.err.find(tag) - tag.size());
  const std::string statusFile = out + "/run00001/status.json";
  ASSERT_TRUE(within(60, [&] { return tarntest::contentOf(statusFile).find("\"running\"") != std::string::npos; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  ASSERT_EQ(std::system(("scancel --batch --signal=KILL " + job).c_str()), 0);
  EXPECT_TRUE(within(60, [&] {
    return std::system(("squeue -h -j " + job + " 2>/dev/null | grep -q .").c_str()) != 0;
  }));
  json s = json::parse(tarntest::contentOf(statusFile), nullptr, false);
  EXPECT_EQ(s.value("state", ""), "running") << tarntest::contentOf(statusFile);
  auto table = runTarn({"batch", "--status", out});
  // The one node is this machine, where the task's process is seen to be gone.
  EXPECT_NE(table.out.find("run00001  lost "), std::string::npos) << table.out;
}

}  // namespace
