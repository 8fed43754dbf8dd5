// The worked analysis (examples/histograms.tarn) writing where writing fails
// for real: a small tmpfs that fills up, /dev/full, a read-only directory and
// a missing one. Each run must end with status 1, name the reason, keep the
// earlier results byte for byte, and leave no incomplete file under a final name.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "TarnTest.h"

namespace {

using tarntest::contentOf;
using tarntest::namesIn;
using Files = std::map<std::string, std::string>;
using tarntest::Tmpfs;

Files filesIn(const std::string& dir) {
  Files files;
  for (const std::string& name : namesIn(dir)) files[name] = contentOf(dir + "/" + name);
  return files;
}

void copyInto(const Files& files, const std::string& dir) {
  for (const auto& f : files) std::ofstream(dir + "/" + f.first, std::ios::binary) << f.second;
}

size_t count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

class ResultFiles : public testing::Test {
 protected:
  // Two runs, and what the analysis makes of each where nothing fails: the
  // results of run A are the earlier ones; those of run B what a complete new file holds.
  static void SetUpTestSuite() {
    work = new tarntest::TempDir;
    for (const char* name : {"A", "B", "A-results", "B-results"}) ::mkdir((work->path() + "/" + name).c_str(), 0755);
    synth("--events 200", runA());
    synth("--events 3000", runB());
    analyse(runA(), work->path() + "/A-results");
    analyse(runB(), work->path() + "/B-results");
    previous = new Files(filesIn(work->path() + "/A-results"));
    complete = new Files(filesIn(work->path() + "/B-results"));
  }
  static void TearDownTestSuite() {
    delete previous;
    delete complete;
    delete work;
  }

  static std::string runA() { return work->path() + "/A/run.mid.gz"; }
  static std::string runB() { return work->path() + "/B/run.mid.gz"; }
  static int synth(const std::string& options, const std::string& out) {
    const std::string cmd = std::string(MIDAS_SYNTH_BINARY) + " --modules " + options + " '" + out + "' 2>/dev/null";
    return WEXITSTATUS(std::system(cmd.c_str()));
  }
  // Spectra go to SPECTRA/r_*, the HDF5 file to H5DIR/r.h5 (SPECTRA when empty).
  static tarntest::RunResult analyse(const std::string& run, const std::string& spectra,
                                     std::string h5dir = "") {
    if (h5dir.empty()) h5dir = spectra;
    return tarntest::runTarn({"run", TARN_SOURCE_DIR "/examples/histograms.tarn", "--no-progress",
                              "--set", "in.file=" + run, "--set", "hist.prefix=" + spectra + "/r",
                              "--set", "h5.file=" + h5dir + "/r.h5"});
  }

  // Every file in `dir` is as it was, or complete (the new run's own file; a
  // PNG, whose bytes carry a time, ends with its end chunk); none is left over.
  static void expectWholeOrAsBefore(const std::string& dir, const Files& before) {
    for (const auto& f : filesIn(dir)) {
      const std::string& name = f.first;
      if (name == "filler" || name == "run.mid.gz") continue;
      auto old = before.find(name);
      if (old != before.end() && old->second == f.second) continue;
      ASSERT_TRUE(complete->count(name)) << "left over: " << name;
      if (name.size() > 4 && name.compare(name.size() - 4, 4, ".png") == 0) {
        const std::string end("IEND\xae\x42\x60\x82", 8);
        EXPECT_TRUE(f.second.size() > 8 && f.second.compare(f.second.size() - 8, 8, end) == 0) << name;
      } else {
        EXPECT_EQ(f.second, complete->at(name)) << name;
      }
    }
  }
  static void expectAsBefore(const std::string& dir, const Files& before) {
    for (const auto& f : before) EXPECT_EQ(contentOf(dir + "/" + f.first), f.second) << f.first;
  }

  static Files only(const std::string& suffix) {
    Files some;
    for (const auto& f : *previous)
      if (f.first.size() >= suffix.size() && f.first.compare(f.first.size() - suffix.size(), suffix.size(), suffix) == 0)
        some.insert(f);
    return some;
  }

  static tarntest::TempDir* work;
  static Files* previous;
  static Files* complete;
};

tarntest::TempDir* ResultFiles::work = nullptr;
Files* ResultFiles::previous = nullptr;
Files* ResultFiles::complete = nullptr;

TEST_F(ResultFiles, AFullDiskKeepsTheEarlierResultsOfEverySink) {
  ASSERT_EQ(previous->size(), 9u);  // four spectra as CSV and PNG, one HDF5 file
  Tmpfs disk(1 << 20);
  if (!disk.mounted) GTEST_SKIP() << "cannot mount a tmpfs (" << disk.why << "); needs root";
  copyInto(*previous, disk.path());
  std::ofstream(disk.path() + "/run.mid.gz", std::ios::binary) << contentOf(runA());
  tarntest::TempDir elsewhere;

  // The spectra alone, on a disk with no room at all.
  ASSERT_TRUE(disk.fill(0));
  auto r = analyse(runB(), disk.path(), elsewhere.path());
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(count(r.err, ": No space left on device"), 8u) << r.err;  // each file once
  EXPECT_EQ(r.out.find("hist: " + disk.path()), std::string::npos) << r.out;  // no success line
  expectAsBefore(disk.path(), *previous);
  EXPECT_EQ(namesIn(disk.path()).size(), previous->size() + 2);

  // The HDF5 file alone, running out of room during the run: one message.
  ASSERT_TRUE(disk.fill(64 << 10));
  r = analyse(runB(), elsewhere.path(), disk.path());
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(count(r.err, "h5: cannot write " + disk.path() + "/r.h5: No space left on device"), 1u) << r.err;
  EXPECT_EQ(count(r.err, "h5: cannot"), 1u) << r.err;
  expectAsBefore(disk.path(), *previous);

  // Both, with room for some of it.
  ASSERT_TRUE(disk.fill(160 << 10));
  r = analyse(runB(), disk.path());
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find(": No space left on device"), std::string::npos) << r.err;
  expectWholeOrAsBefore(disk.path(), *previous);

  // A run file of the synthesiser.
  ASSERT_TRUE(disk.fill(0));
  EXPECT_EQ(synth("--events 3000", disk.path() + "/run.mid.gz"), 1);
  EXPECT_EQ(contentOf(disk.path() + "/run.mid.gz"), contentOf(runA()));
  expectWholeOrAsBefore(disk.path(), *previous);
}

TEST_F(ResultFiles, DevFullAsTheHdf5FileFailsTheRun) {
  tarntest::TempDir spectra;
  auto r = tarntest::runTarn({"run", TARN_SOURCE_DIR "/examples/histograms.tarn", "--no-progress",
                              "--set", "in.file=" + runA(), "--set", "hist.prefix=" + spectra.path() + "/r",
                              "--set", "h5.file=/dev/full"});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("h5: cannot create HDF5 file /dev/full: No space left on device"), std::string::npos) << r.err;
  EXPECT_EQ(filesIn(spectra.path()).size(), 8u);  // the other sink is not held back
  struct stat st;
  ASSERT_EQ(::stat("/dev/full", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
}

TEST_F(ResultFiles, AReadOnlyDirectoryKeepsTheEarlierResults) {
  // Root writes through a directory's permissions: a read-only mount stops it.
  std::unique_ptr<Tmpfs> disk;
  tarntest::TempDir plain;
  std::string dir = plain.path(), reason = "Permission denied";
  if (::geteuid() == 0) {
    disk.reset(new Tmpfs(1 << 20));
    if (!disk->mounted) GTEST_SKIP() << "cannot mount a tmpfs (" << disk->why << ")";
    dir = disk->path();
    reason = "Read-only file system";
  }
  copyInto(*previous, dir);
  if (disk) {
    if (!disk->readOnly()) GTEST_SKIP() << "cannot make the tmpfs read-only: " << std::strerror(errno);
  } else {
    ASSERT_EQ(::chmod(dir.c_str(), 0555), 0);
  }
  auto r = analyse(runB(), dir);
  if (!disk) ::chmod(dir.c_str(), 0755);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(count(r.err, ": " + reason), 9u) << r.err;
  expectAsBefore(dir, *previous);
  EXPECT_EQ(namesIn(dir).size(), previous->size());
}

TEST_F(ResultFiles, AMissingDirectoryFailsTheRun) {
  tarntest::TempDir dir;
  const std::string missing = dir.path() + "/missing";
  auto r = analyse(runA(), missing);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("hist: cannot write " + missing + "/r_ADCValue.csv: No such file or directory"),
            std::string::npos) << r.err;
  EXPECT_NE(r.err.find("h5: cannot create HDF5 file " + missing + "/r.h5: No such file or directory"),
            std::string::npos) << r.err;
  EXPECT_EQ(r.out.find("hist: " + missing), std::string::npos) << r.out;
  EXPECT_TRUE(namesIn(dir.path()).empty());
}

// A run file that is not there leaves nothing to analyse: the run fails and
// the earlier results stay. A graph's own run file that is missing is no
// failure when a --set names one that opens.
TEST_F(ResultFiles, AMissingRunFileFailsTheRunAndKeepsTheEarlierResults) {
  tarntest::TempDir dir;
  copyInto(*previous, dir.path());
  auto r = analyse(work->path() + "/no-such-run.mid.gz", dir.path());
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.out.find("in: RunFile: " + work->path() + "/no-such-run.mid.gz not found."), std::string::npos) << r.out;
  expectAsBefore(dir.path(), *previous);
  EXPECT_EQ(namesIn(dir.path()).size(), previous->size());

  tarntest::TempDir other;
  EXPECT_EQ(analyse(runA(), other.path()).status, 0);
  EXPECT_EQ(filesIn(other.path()).count("r_TDCValue.csv"), 1u);
}

}  // namespace
