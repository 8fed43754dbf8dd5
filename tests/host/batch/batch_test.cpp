// `tarn batch` as a user meets it: many runs, failures, resuming, Ctrl-C and kill -9.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "BatchProgress.h"
#include "MidasSynth.h"
#include "TarnTest.h"

namespace {

using nlohmann::json;
using tarntest::runTarn;

json status(const std::string& dir, const std::string& name) {
  return json::parse(tarntest::contentOf(dir + "/" + name + "/status.json"), nullptr, false);
}

void makeRun(const std::string& path, uint32_t events, synth::Damage damage = synth::Damage::None) {
  synth::RunSpec spec;
  spec.events = events;
  spec.modules = true;
  std::string error;
  ASSERT_TRUE(synth::writeRun(path, synth::makeRun(spec), false, damage, error)) << error;
}

size_t count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// Every event of the run file unpacked and written to a file of the run.
const char kGraph[] =
    "node in RunFile\n"
    "node unpack CompositeUnpacker\n"
    "node h5 Hdf5Writer\n"
    "connect in.event unpack.event\n"
    "connect unpack.fevent h5.fevent\n"
    "start in\n";

struct TarnBatch : ::testing::Test {
  tarntest::TempDir dir;
  std::string graph = dir.write("g.tarn", kGraph);
  std::string out = dir.path() + "/out";

  std::vector<std::string> args(std::vector<std::string> runs, std::vector<std::string> more = {}) {
    std::vector<std::string> a = {"batch", graph};
    a.insert(a.end(), runs.begin(), runs.end());
    for (const char* s : {"-s", "in.file={run}", "-s", "h5.file={out}/{name}.h5", "--out"})
      a.push_back(s);
    a.push_back(out);
    a.insert(a.end(), more.begin(), more.end());
    return a;
  }
};

TEST_F(TarnBatch, RecordsEachRunAndResumesWhatIsNotDoneOrHasChanged) {
  const std::string good1 = dir.path() + "/run00001.mid.gz", good2 = dir.path() + "/run00002.mid";
  const std::string damaged = dir.path() + "/run00003.mid", missing = dir.path() + "/run00004.mid.gz";
  makeRun(good1, 40);
  makeRun(good2, 40);
  makeRun(damaged, 40, synth::Damage::TruncatedData);
  auto r = runTarn(args({good1, good2, damaged, missing}, {"-j", "2"}));
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("tarn batch: run00004: failed: run file " + missing + " not found\n"),
            std::string::npos) << r.err;
  // A damaged file's run ends as `tarn run` ends on it, done, but the batch tells of it.
  const std::string damage = "in: RunFile: " + damaged + ": Unexpected end of file inside an event";
  EXPECT_NE(r.err.find("tarn batch: run00003: damaged: " + damage + "\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("4 runs: 3 done (0 of them before), 1 of them damaged, 1 failed"), std::string::npos) << r.err;
  EXPECT_EQ(count(r.err, "\n"), 3u) << r.err;  // one line per failure and damage, and the totals
  json s1 = status(out, "run00001");
  EXPECT_EQ(s1["state"], "done");
  EXPECT_EQ(s1["events"], 42);  // begin of run, 40 events, end of run
  EXPECT_EQ(s1["index"], 0);
  EXPECT_GT(s1["max_rss_kib"].get<long>(), 0);
  EXPECT_EQ(tarntest::contentOf(out + "/run00001/run00001.h5").substr(1, 3), "HDF");
  EXPECT_EQ(status(out, "run00002")["state"], "done");
  EXPECT_EQ(status(out, "run00003")["state"], "done");
  EXPECT_EQ(status(out, "run00003")["damage"], damage);
  EXPECT_NE(tarntest::contentOf(out + "/run00003/stdout").find(damage), std::string::npos);
  const std::string shown = runTarn({"batch", "--status", out}).out;
  EXPECT_NE(shown.find("run00003  damaged "), std::string::npos) << shown;
  EXPECT_NE(shown.find(damage), std::string::npos) << shown;
  EXPECT_NE(shown.find("4 runs: 3 done (1 damaged), 1 failed\n"), std::string::npos) << shown;
  json s4 = status(out, "run00004");
  EXPECT_EQ(s4["state"], "failed");
  EXPECT_NE(s4["reason"].get<std::string>().find("not found"), std::string::npos);
  json manifest = json::parse(tarntest::contentOf(out + "/batch.json"));
  EXPECT_EQ(manifest["runs"][3]["name"], "run00004");
  EXPECT_EQ(manifest["settings"][0], "in.file={run}");

  // Again: only the failed run is tried; then with it made, it alone runs.
  const std::string before = tarntest::contentOf(out + "/run00001/status.json");
  r = runTarn(args({good1, good2, damaged, missing}));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("3 done (3 of them before), 1 of them damaged, 1 failed"), std::string::npos) << r.err;
  makeRun(missing, 5);
  r = runTarn(args({good1, good2, damaged, missing}));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "tarn batch: run00003: damaged: " + damage + "\ntarn batch: 4 runs: 4 done (3 of them before), 1 "
                   "of them damaged, 0 failed; results in " + out + "\n");
  EXPECT_EQ(tarntest::contentOf(out + "/run00001/status.json"), before);

  // A changed input file, a changed graph, a changed setting, --force: each reruns.
  makeRun(good2, 30);
  r = runTarn(args({good1, good2, damaged, missing}));
  EXPECT_NE(r.err.find("4 done (3 of them before)"), std::string::npos) << r.err;
  EXPECT_EQ(status(out, "run00002")["events"], 32);
  dir.write("g.tarn", std::string(kGraph) + "# edited\n");
  r = runTarn(args({good1, good2, damaged, missing}));
  EXPECT_NE(r.err.find("4 done (0 of them before)"), std::string::npos) << r.err;
  r = runTarn(args({good1, good2, damaged, missing}, {"-s", "in.steps=3"}));
  EXPECT_NE(r.err.find("4 done (0 of them before)"), std::string::npos) << r.err;
  EXPECT_EQ(status(out, "run00001")["events"], 3);
  r = runTarn(args({good1, good2, damaged, missing}, {"-s", "in.steps=3", "--force"}));
  EXPECT_NE(r.err.find("4 done (0 of them before)"), std::string::npos) << r.err;
  auto table = runTarn({"batch", "--status", out});
  EXPECT_EQ(table.status, 0);
  EXPECT_NE(table.out.find("run00004  done                  3"), std::string::npos) << table.out;
  EXPECT_NE(table.out.find("4 runs: 4 done\n"), std::string::npos) << table.out;
}

TEST_F(TarnBatch, MistakesOfTheCommandAreFoundOnceBeforeAnyRun) {
  const std::string a = dir.path() + "/run00001.mid";
  ::mkdir((dir.path() + "/other").c_str(), 0755);
  const std::string b = dir.path() + "/other/run00001.mid.gz";
  makeRun(a, 2);
  makeRun(b, 2);
  const std::string c = dir.write("run00002.mid", "");
  auto same = runTarn(args({a, b}));
  EXPECT_EQ(same.status, 2);
  EXPECT_NE(same.err.find("runs " + a + " and " + b + " have the same name 'run00001'"),
            std::string::npos) << same.err;
  EXPECT_NE(::access(out.c_str(), F_OK), 0);  // nothing started, nothing written

  // The settings are checked as one run would take them, after the words are replaced.
  auto setting = runTarn(args({a, c}, {"-s", "in.steps={name}"}));
  EXPECT_EQ(setting.status, 2);
  EXPECT_EQ(setting.err,
            "tarn: --set in.steps=run00001: cannot set in.steps: 'run00001' is not a valid int value\n");
  const std::string good = graph;
  graph = dir.write("bad.tarn", std::string(kGraph) + "set h5.nope 1\n");
  auto bad = runTarn(args({a, c}));
  EXPECT_EQ(bad.status, 2);
  EXPECT_EQ(bad.err.rfind(graph + ":7: node 'h5' (Hdf5Writer) has no input 'nope'", 0), 0u)
      << bad.err;
  EXPECT_EQ(count(bad.err, graph + ":"), 1u);
  EXPECT_NE(::access(out.c_str(), F_OK), 0);

  graph = good;
  const std::string path = std::getenv("PATH");
  ::setenv("PATH", dir.path().c_str(), 1);  // no sbatch there
  auto noSlurm = runTarn(args({a, c}, {"--slurm"}));
  ::setenv("PATH", path.c_str(), 1);
  EXPECT_EQ(noSlurm.status, 2);
  EXPECT_EQ(noSlurm.err, "tarn batch: sbatch not found on PATH; --slurm needs Slurm's commands\n");

  const std::string list = dir.write("runs.txt", "# the good ones\n" + a + "\n\n  " + c + "  \n");
  auto listed = runTarn(args({"@" + list}));
  EXPECT_EQ(listed.status, 0) << listed.err;
  EXPECT_EQ(status(out, "run00002")["run"], c);
}

TEST_F(TarnBatch, CtrlCStopsTheRunsAndALaterCallRerunsExactlyThose) {
  const std::string fast = dir.path() + "/run00001.mid", slow1 = dir.path() + "/run00002.mid",
                    slow2 = dir.path() + "/run00003.mid", slow3 = dir.path() + "/run00004.mid";
  makeRun(fast, 1);
  for (const std::string& s : {slow1, slow2, slow3}) makeRun(s, 60);
  // Paced at 10 ms an event: the slow runs last about 0.6 s.
  auto first = runTarn(args({fast}, {"-s", "in.interval=0.01"}));
  ASSERT_EQ(first.status, 0) << first.err;
  const std::string fastStatus = tarntest::contentOf(out + "/run00001/status.json");

  auto r = runTarn(
      args({fast, slow1, slow2, slow3}, {"-j", "2", "-s", "in.interval=0.01", "--progress"}), 400);
  EXPECT_EQ(r.status, 130) << r.err;
  EXPECT_NE(r.err.find("tarn batch: interrupted, stopping 2 running run(s)"), std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("\r\033[Ktarn batch: 1/4 done, 2 running, 0 failed, "), std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find(" events/s"), std::string::npos);
  EXPECT_EQ(status(out, "run00002")["state"], "interrupted");
  EXPECT_EQ(status(out, "run00003")["state"], "interrupted");
  EXPECT_NE(::access((out + "/run00004/status.json").c_str(), F_OK), 0);  // never started
  EXPECT_NE(r.err.find("run00004: not run"), std::string::npos) << r.err;
  // Each run was stopped cleanly: its plug-ins were destroyed.
  const std::string log = tarntest::contentOf(out + "/run00002/stdout");
  EXPECT_EQ(log.substr(log.size() - 11), "in deleted\n") << log;

  auto again = runTarn(args({fast, slow1, slow2, slow3}, {"-j", "3", "-s", "in.interval=0.01"}));
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_NE(again.err.find("4 done (1 of them before)"), std::string::npos) << again.err;
  EXPECT_EQ(tarntest::contentOf(out + "/run00001/status.json"), fastStatus);
  EXPECT_EQ(status(out, "run00004")["events"], 62);
}

// The state field of /proc/PID/stat ('\0' when there is no such process).
char processState(pid_t pid) {
  const std::string stat = tarntest::contentOf("/proc/" + std::to_string(pid) + "/stat");
  const size_t end = stat.rfind(") ");
  return end == std::string::npos ? '\0' : stat[end + 2];
}

// A child of `parent` (0 when it has none), found through /proc.
pid_t childOf(pid_t parent) {
  for (const std::string& entry : tarntest::namesIn("/proc")) {
    if (entry.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string stat = tarntest::contentOf("/proc/" + entry + "/stat");
    const size_t end = stat.rfind(") ");
    if (end != std::string::npos && std::atol(stat.c_str() + end + 4) == parent) return std::atoi(entry.c_str());
  }
  return 0;
}

TEST_F(TarnBatch, KillNineLeavesNoRunLookingDoneAndTheRerunWaitsForItsRuns) {
  const std::string slow = dir.path() + "/run00001.mid";
  makeRun(slow, 60);
  // Its sink takes a while to be destroyed, as one writing large results does.
  graph = dir.write("slow.tarn", std::string(kGraph) + "node sink SlowSink\n");
  ASSERT_EQ(runTarn(args({slow})).status, 0);
  ASSERT_EQ(status(out, "run00001")["state"], "done");
  const int null = ::open("/dev/null", O_WRONLY);
  const pid_t batch = tarntest::startTarn(
      args({slow}, {"--force", "-s", "in.interval=0.01", "-s", "sink.linger=2000"}), null, null);
  ::close(null);
  pid_t run = 0;
  for (int i = 0; i < 100 && !(run = childOf(batch)); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ::kill(batch, SIGKILL);
  int wstatus = 0;
  ASSERT_EQ(::waitpid(batch, &wstatus, 0), batch);
  ASSERT_NE(run, 0);
  EXPECT_EQ(status(out, "run00001")["state"], "running");
  EXPECT_NE(runTarn({"batch", "--status", out}).out.find("run00001  lost "), std::string::npos);
  // The run goes with its batch, stopped cleanly (2 s to destroy its sink);
  // a rerun at once must not write in its directory before it has ended.
  auto atOnce = runTarn(args({slow}, {"-s", "sink.linger=0"}));
  EXPECT_EQ(atOnce.status, 0) << atOnce.err;
  const char state = processState(run);
  EXPECT_TRUE(state == '\0' || state == 'Z') << "the killed batch's run " << run << " is still " << state;

  // One batch on a directory at a time.
  std::thread second([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    auto busy = runTarn(args({slow}, {"--force"}));
    EXPECT_EQ(busy.status, 2);
    EXPECT_EQ(busy.err, "tarn batch: " + out + " is in use by another tarn batch\n");
  });
  auto paced = runTarn(args({slow}, {"-s", "in.interval=0.01"}));
  second.join();
  EXPECT_EQ(paced.status, 0) << paced.err;
  auto rerun = runTarn(args({slow}, {"-s", "in.interval=0.01"}));
  EXPECT_EQ(rerun.status, 0);
  EXPECT_NE(rerun.err.find("1 done (1 of them before)"), std::string::npos) << rerun.err;
}

// The records are JSON, which holds UTF-8 alone: an argument that is not is
// refused, and a message that is not (a failed run's last line) is recorded
// with its bytes replaced; the batch goes on with its runs.
TEST_F(TarnBatch, TextThatIsNotUtf8NeverAbortsTheBatch) {
  const std::string bad = "\xff\xfe", latin = dir.path() + "/run\xe9" "00001.mid";
  makeRun(latin, 2);
  makeRun(dir.path() + "/run00002.mid", 2);
  const std::string list = dir.write("runs.txt", latin + "\n");
  for (const auto& given : std::vector<std::vector<std::string>>{
           args({latin}), args({"@" + list}), args({dir.path() + "/run00002.mid"}, {"-s", "in.steps=1" + bad})}) {
    auto r = runTarn(given);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find(" is not UTF-8 text, which the batch's records cannot hold\n"), std::string::npos) << r.err;
  }
  EXPECT_NE(::access(out.c_str(), F_OK), 0);

  const std::string nowhere = dir.path() + "/nowhere" + bad + ".mid";
  graph = dir.write("bad.tarn", "node in RunFile\nset in.file " + nowhere + "\nstart in\n");
  makeRun(dir.path() + "/run00003.mid", 2);
  auto r = runTarn({"batch", graph, dir.path() + "/run00002.mid", dir.path() + "/run00003.mid", "-j1", "--out", out});
  EXPECT_EQ(r.status, 1) << r.err;
  for (const char* name : {"run00002", "run00003"}) {
    EXPECT_EQ(status(out, name)["state"], "failed") << name;
    EXPECT_NE(status(out, name).value("reason", "").find("/nowhere\uFFFD\uFFFD.mid not found"), std::string::npos);
  }
}

// A plain run is read through a mapping, which read(2)'s count never sees: the
// progress line judges how far a run has come by its furthest mapped window.
// A logger's sub-run files, given out of order: one run with --by-run, read in
// sub-run order through RunFile's list; each a run of its own, in the order
// given, without it. The
// merge gives each entry its real run number, and its sub-run where runs were sub-runs.
TEST_F(TarnBatch, SubRunsAreOneRunWithByRunAndMergeWithTheirNumbers) {
  if (std::system("/usr/bin/python3 -c 'import h5py' >/dev/null 2>&1") != 0) GTEST_SKIP() << "no h5py";
  ASSERT_EQ(::mkdir((dir.path() + "/data").c_str(), 0755), 0);
  std::vector<std::string> files;
  for (uint32_t sub : {2u, 0u, 1u}) {
    synth::RunSpec spec;
    spec.run = 410;
    spec.events = 5 - sub;  // 5, 4 and 3 events
    spec.seed = sub + 1;
    spec.modules = true;
    files.push_back(dir.path() + "/data/run00410sub000" + std::to_string(sub) + ".mid");
    std::string error;
    ASSERT_TRUE(synth::writeRun(files.back(), synth::makeRun(spec), false, synth::Damage::None, error)) << error;
  }
  // {run} would read only the first of them.
  auto refused = runTarn(args(files, {"--by-run", "--no-progress"}));
  EXPECT_EQ(refused.status, 2);
  EXPECT_NE(refused.err.find("-s NODE.listfile={list}"), std::string::npos) << refused.err;

  std::vector<std::string> byRun = {"batch", graph, "--by-run", "--no-progress", "-s", "in.listfile={list}",
                                    "-s", "h5.file={out}/{name}.h5", "--out", out + "-by-run"};
  byRun.insert(byRun.begin() + 2, files.begin(), files.end());
  auto one = runTarn(byRun);
  ASSERT_EQ(one.status, 0) << one.err;
  EXPECT_EQ(status(out + "-by-run", "run00410")["events"], 12 + 3 * 2);  // and each file's begin and end of run
  const std::string said = tarntest::contentOf(out + "-by-run/run00410/stdout");
  const size_t first = said.find("sub0000.mid\" opened"), second = said.find("sub0001.mid\" opened"),
               third = said.find("sub0002.mid\" opened");
  EXPECT_TRUE(first < second && second < third && third != std::string::npos) << said;
  const std::string table = runTarn({"batch", "--status", out + "-by-run"}).out;
  EXPECT_NE(table.find("run00410 "), std::string::npos) << table;
  EXPECT_NE(table.find("1 runs: 1 done"), std::string::npos) << table;
  auto each = runTarn(args(files, {"--no-progress"}));
  ASSERT_EQ(each.status, 0) << each.err;
  for (const std::string& o : {out, out + "-by-run"}) ASSERT_EQ(runTarn({"merge", o}).status, 0) << o;

  const std::string check = dir.write("check.py",
      "import sys, h5py, numpy as np\n"
      "for path in sys.argv[1:]:\n"
      "    f = h5py.File(path, 'r')\n"
      "    g = f['ADCValue']\n"
      "    subs = list(f.attrs.get('subruns', []))\n"
      "    each = np.repeat(subs, [5 - s for s in subs])  # sub-run k has 5 - k events\n"
      "    same = 'subrun' not in g or bool((g['subrun'][:] == each[g['event'][:]]).all())\n"
      "    print(f.attrs['events'], set(g['run'][:]), subs, same)\n");
  const std::string printed = dir.path() + "/printed";
  ASSERT_EQ(std::system(("/usr/bin/python3 " + check + " " + out + "/merged/all.h5 " + out +
                         "-by-run/merged/all.h5 >" + printed).c_str()), 0);
  EXPECT_EQ(tarntest::contentOf(printed), "12 {410} [2, 0, 1] True\n12 {410} [] True\n");
}

// A run is found where `tarn run` finds it, compressed forms and MIDASDATA
// included, and its record names the file that was read. A run whose file
// RunFile cannot open is recorded with RunFile's reason, though RunFile says
// it on stdout.
TEST_F(TarnBatch, RunsAreFoundAsRunFileFindsThem) {
  const std::string data = dir.path() + "/data", zst = data + "/run00005.mid.zst";
  ASSERT_EQ(::mkdir(data.c_str(), 0755), 0);
  makeRun(zst, 3);
  const char* before = std::getenv("MIDASDATA");
  const std::string saved = before ? before : "";
  ::setenv("MIDASDATA", data.c_str(), 1);
  auto r = runTarn(args({"run00005.mid"}, {"--no-progress"}));
  before ? ::setenv("MIDASDATA", saved.c_str(), 1) : ::unsetenv("MIDASDATA");
  EXPECT_EQ(r.status, 0) << r.err;
  json s = status(out, "run00005");
  EXPECT_EQ(s["events"], 5);
  EXPECT_EQ(s["inputs"]["input"], zst);
  EXPECT_NE(tarntest::contentOf(out + "/run00005/stdout").find("\"" + zst + "\" opened"), std::string::npos);

  const std::string elsewhere = dir.path() + "/nowhere/run00005.mid";
  r = runTarn(args({zst}, {"--no-progress", "-s", "in.file=" + elsewhere}));
  EXPECT_EQ(r.status, 1) << r.err;
  const std::string why = "in: no run file opened: " + elsewhere + " not found";
  EXPECT_NE(status(out, "run00005")["reason"].get<std::string>().find(why), std::string::npos);
  const std::string table = runTarn({"batch", "--status", out}).out;
  EXPECT_NE(table.find(why), std::string::npos) << table;
}

// Slurm's part without a cluster: an sbatch on PATH that answers as sbatch
// --parsable does and runs each task of the array the script asks for.
TEST_F(TarnBatch, TheArrayJobRunsEachRunAsATaskOfTheScript) {
  const std::string bin = dir.path() + "/bin";
  ::mkdir(bin.c_str(), 0755);
  dir.write("bin/sbatch",
            "#!/bin/sh\n"
            "echo \"$@\" > " + dir.path() + "/sbatch.args\n"
            "for script; do :; done\n"
            "echo 4242\n"
            "cd " + dir.path() + "\n"
            "for t in $(sed -n 's/^#SBATCH --array=//p' \"$script\" | sed 's/%.*//' | tr , ' '); do\n"
            "  SLURM_ARRAY_TASK_ID=$t sh \"$script\" >/dev/null 2>&1\n"
            "done\n");
  ::chmod((bin + "/sbatch").c_str(), 0755);
  makeRun(dir.path() + "/run00001.mid", 20);
  makeRun(dir.path() + "/run00002.mid", 30);
  const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin";
  ::setenv("PATH", (bin + ":" + path).c_str(), 1);
  // A line break in the directory would end the script's directive there.
  const std::string pwned = dir.path() + "/PWNED";
  out = dir.path() + "/o ut\ntouch PWNED\n#";
  auto refused = runTarn(args({dir.path() + "/run00001.mid"}, {"--slurm"}));
  EXPECT_EQ(refused.status, 2);
  EXPECT_EQ(refused.err, "tarn batch: the output directory (--out) holds a line break, which a Slurm job "
                         "script cannot hold\n");
  EXPECT_NE(::access(pwned.c_str(), F_OK), 0);
  out = dir.path() + "/o ut%a";  // a blank and a Slurm pattern work
  auto r = runTarn(args({dir.path() + "/run00001.mid", dir.path() + "/run00002.mid"},
                        {"--slurm", "-j1", "--", "--partition=short"}));
  ::setenv("PATH", path.c_str(), 1);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("submitted Slurm job 4242: 2 run(s)"), std::string::npos) << r.err;
  EXPECT_EQ(tarntest::contentOf(dir.path() + "/sbatch.args"),
            "--parsable --partition=short " + out + "/batch.sbatch\n");
  EXPECT_NE(tarntest::contentOf(out + "/batch.sbatch").find("#SBATCH --array=0,1%1\n"), std::string::npos);
  for (const char* name : {"run00001", "run00002"}) {
    EXPECT_EQ(status(out, name).value("state", ""), "done") << name;
    EXPECT_TRUE(std::ifstream(out + "/" + name + "/" + name + ".h5").good()) << name;
  }
}

TEST(BatchProgressMapping, TheFurthestWindowOfTheRunFileIsHowFarItWasRead) {
  tarntest::TempDir dir;
  const std::string file = dir.write("run.mid", std::string(3 * 65536, 'x'));
  char* real = ::realpath(file.c_str(), nullptr);
  ASSERT_NE(real, nullptr);
  const std::string path = real;
  std::free(real);
  EXPECT_EQ(bytesMapped(::getpid(), path), 0u);
  const int fd = ::open(path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  void* window = ::mmap(nullptr, 65536, PROT_READ, MAP_PRIVATE, fd, 65536);
  ASSERT_NE(window, MAP_FAILED);
  EXPECT_EQ(bytesMapped(::getpid(), path), 2u * 65536);
  EXPECT_EQ(bytesMapped(::getpid(), path + "x"), 0u);  // the whole name, not its start
  ::munmap(window, 65536);
  ::close(fd);
  EXPECT_EQ(bytesMapped(::getpid(), path), 0u);
}

}  // namespace
