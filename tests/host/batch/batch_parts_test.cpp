// The batch's pure parts: the records, the exit-status rule, the resume
// fingerprint and the job script, without running a graph.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Batch.h"

namespace {

std::string scratch(const std::string& name) {
  const std::string dir = ::testing::TempDir() + "batch-parts-" + std::to_string(::getpid()) + "-" + name;
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

int waitStatusOf(void (*body)()) {
  pid_t pid = ::fork();
  if (pid == 0) {
    body();
    ::_exit(0);
  }
  int wstatus = 0;
  ::waitpid(pid, &wstatus, 0);
  return wstatus;
}

}  // namespace

TEST(BatchRecord, ReadsBackWhatItWroteAndARunKilledBySignalIsNeverDone) {
  RunRecord r;
  r.run = "data/run00005.mid.gz";
  r.name = "run00005";
  r.index = 4;
  r.state = RunState::Done;
  r.events = 1ull << 40;
  r.host = "node1";
  r.inputs = {{"input", "data/run00005.mid.gz"}};
  r.damage = "in: RunFile: run00005.mid.gz: Unexpected end of file";
  RunRecord back;
  std::string why;
  ASSERT_TRUE(fromJson(nlohmann::json::parse(toJson(r).dump()), back, why)) << why;
  EXPECT_EQ(toJson(back), toJson(r));
  // A record of before damage was recorded reads as undamaged.
  ASSERT_TRUE(fromJson(nlohmann::json::parse(R"({"state":"done","index":1})"), back, why));
  EXPECT_EQ(back.damage, "");
  EXPECT_FALSE(fromJson(nlohmann::json::parse(R"({"state":"weird","index":1})"), back, why));
  EXPECT_FALSE(fromJson(nlohmann::json::parse(R"({"state":"done"})"), back, why));

  EXPECT_EQ(endedState(waitStatusOf([] {}), false), RunState::Done);
  EXPECT_EQ(endedState(waitStatusOf([] { ::_exit(3); }), false), RunState::Failed);
  // Killed outright (the machine's memory guard, a crash): exit code reads 0.
  EXPECT_EQ(endedState(waitStatusOf([] { ::raise(SIGKILL); }), false), RunState::Failed);
  EXPECT_EQ(endedState(waitStatusOf([] { ::raise(SIGSEGV); }), true), RunState::Failed);
  EXPECT_EQ(endedState(waitStatusOf([] { ::_exit(130); }), true), RunState::Interrupted);
}

TEST(BatchRuns, AnInputRewrittenToTheSameSizeIsNoLongerDoneAndMergedIsNoRunName) {
  const std::string dir = scratch("inputs");
  Batch batch;
  batch.graph = dir + "/g.tarn";
  batch.out = dir + "/out";
  std::ofstream(batch.graph) << "# graph\n";
  std::ofstream(dir + "/run00001.mid") << "first";
  batch.runs.resize(1);
  batch.runs[0].run = dir + "/run00001.mid";
  std::string error;
  ASSERT_TRUE(prepareRuns(batch, error)) << error;
  const nlohmann::json before = runInputs(batch, batch.runs[0]);
  std::ofstream(dir + "/run00001.mid") << "other";
  const timespec times[2] = {{1000, 0}, {1000, 0}};  // another time than the first write's
  ASSERT_EQ(::utimensat(AT_FDCWD, (dir + "/run00001.mid").c_str(), times, 0), 0);
  EXPECT_NE(runInputs(batch, batch.runs[0]), before);

  // DIR/merged is where `tarn merge` writes.
  std::ofstream(dir + "/merged.mid") << "x";
  batch.runs[0].run = dir + "/merged.mid";
  EXPECT_FALSE(prepareRuns(batch, error));
  EXPECT_NE(error.find("merged"), std::string::npos) << error;
}

TEST(BatchSlurmScript, PathsWithApostrophesAndSpacesReachTheTaskWhole) {
  const std::string dir = scratch("it's a dir");
  Batch batch;
  batch.cwd = dir;
  batch.out = "o'ut dir";
  EXPECT_EQ(arraySpec({1, 4, 7}, 2), "1,4,7%2");
  EXPECT_EQ(arraySpec({0}, 0), "0");
  // The task's program stands in for tarn: it prints where it is and what it got.
  const std::string tarn = dir + "/fake 'tarn'";
  std::ofstream(tarn) << "#!/bin/sh\npwd\nfor a in \"$@\"; do echo \"[$a]\"; done\n";
  ::chmod(tarn.c_str(), 0755);
  const std::string script = dir + "/batch.sbatch";
  std::ofstream(script) << slurmScript(batch, {0, 2}, 0, tarn);
  FILE* p = ::popen(("cd / && SLURM_ARRAY_TASK_ID=2 sh " + shellQuoted(script)).c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string out;
  char buf[512];
  while (std::fgets(buf, sizeof buf, p)) out += buf;
  EXPECT_EQ(::pclose(p), 0) << out;
  EXPECT_EQ(out, dir + "\n[batch]\n[--task]\n[2]\n[--out]\n[" + dir + "/o'ut dir]\n");

  // Slurm splits a directive at blanks outside double quotes and expands %
  // patterns in a log's name; a line break would end the directive and make
  // the rest of the path a command of the script.
  batch.cwd = "/";
  batch.out = "/b %a \"q\"";
  EXPECT_NE(slurmScript(batch, {0}, 0, tarn).find("\n#SBATCH --output=\"/b %%a \\\"q\\\"/slurm/%A_%a.out\"\n"),
            std::string::npos) << slurmScript(batch, {0}, 0, tarn);
  for (const char* unsafe : {"/o ut\ntouch PWNED\n#", "/o\rut", "/o\\ut"}) {
    batch.out = unsafe;
    EXPECT_EQ(slurmScript(batch, {0}, 0, tarn), "") << unsafe;
    EXPECT_NE(jobScriptRefusal(batch), "") << unsafe;
  }
}

TEST(BatchRuns, NamesAndWordsOfEachRun) {
  for (const char* path : {"run00005.mid", "/data/run00005.mid.gz", "d/run00005.mid.lz4", "run00005.mid.bz2",
                           "x/y/run00005.mid.zst"})
    EXPECT_EQ(runName(path), "run00005") << path;
  EXPECT_EQ(runName("notes.txt"), "notes.txt");

  Batch batch;
  batch.out = "out";
  batch.settings = {"in.file={run}", "h5.file={out}/{name}.h5", "p.text={other} {name}{name}"};
  batch.runs.resize(1);
  batch.runs[0].run = "data/run00007.mid.gz";
  std::string error;
  ASSERT_TRUE(prepareRuns(batch, error)) << error;
  EXPECT_EQ(batch.runs[0].settings, (std::vector<std::string>{"in.file=data/run00007.mid.gz",
                                                              "h5.file=out/run00007/run00007.h5",
                                                              "p.text={other} run00007run00007"}));

  std::vector<BatchRun> runs;
  ASSERT_TRUE(groupSubruns({"a/run00010sub0002.mid", "run00011.mid", "b/run00010sub0001.mid.gz"}, runs, error));
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].files, (std::vector<std::string>{"b/run00010sub0001.mid.gz", "a/run00010sub0002.mid"}));
  EXPECT_FALSE(groupSubruns({"run00010sub0001.mid", "x/run00010sub0001.mid.gz"}, runs, error));
}

// Links planted where a record's temporary file could be guessed (the names a
// writer keyed by process id would use) must never be followed: the files
// they point to, outside the batch's directory, stay as they were.
TEST(BatchRecord, LinksAtGuessableTemporaryNamesAreNeverFollowed) {
  const std::string dir = scratch("links"), outside = scratch("outside");
  Batch batch;
  batch.out = dir + "/out";
  BatchRun run;
  run.name = run.run = "run00007";
  batch.runs = {run};
  std::filesystem::create_directories(batch.out + "/run00007");
  const std::string pid = std::to_string(::getpid());
  std::vector<std::string> planted;
  for (const std::string& record : {std::string("batch.json"), std::string("run00007/status.json")}) {
    const size_t slash = record.rfind('/') + 1;
    const std::string in = record.substr(0, slash), name = record.substr(slash);
    for (const std::string& temp : {name + ".tmp." + pid, "." + name + "." + pid + ".tmp",
                                    "." + name + ".000000.tmp", "." + name + ".XXXXXX.tmp"}) {
      const std::string target = outside + "/" + std::to_string(planted.size());
      std::ofstream(target) << "keep";
      ASSERT_EQ(::symlink(target.c_str(), (batch.out + "/" + in + temp).c_str()), 0);
      planted.push_back(target);
    }
  }
  std::string error;
  ASSERT_TRUE(writeManifest(batch, error)) << error;
  RunRecord record;
  record.name = "run00007";
  ASSERT_TRUE(writeStatus(batch, batch.runs[0], record));

  for (const std::string& target : planted) {
    std::ifstream in(target);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "keep") << target;
  }
  for (const char* record : {"/batch.json", "/run00007/status.json"}) {
    struct stat st;
    ASSERT_EQ(::lstat((batch.out + record).c_str(), &st), 0) << record;
    EXPECT_TRUE(S_ISREG(st.st_mode)) << record;
  }
  std::filesystem::remove_all(dir);
  std::filesystem::remove_all(outside);
}
