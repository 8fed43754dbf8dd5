// `midas-synth --rate`: a run written at a pace, whole events reaching the
// file as they are written, and in the end the same file as without a pace.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <set>
#include <thread>

#include "MidasSynth.h"
#include "SynthFiles.h"
#include "TarnTest.h"

using namespace synthtest;

namespace {

int runSynth(const std::vector<std::string>& args) {
  std::string cmd = "'" MIDAS_SYNTH_BINARY "'";
  for (const std::string& a : args) cmd += " '" + a + "'";
  return std::system(cmd.c_str());
}

// Offsets at which events end (a header's size field at 12 gives the data after it).
std::set<size_t> eventEnds(const Bytes& run) {
  std::set<size_t> ends;
  for (size_t at = 0; at + 16 <= run.size();) {
    const uint32_t size = uint32_t(run[at + 12]) | uint32_t(run[at + 13]) << 8 |
                          uint32_t(run[at + 14]) << 16 | uint32_t(run[at + 15]) << 24;
    at += 16 + size;
    ends.insert(at);
  }
  return ends;
}

}  // namespace

TEST(SynthRate, EventsReachTheFileWholeAtTheirPace) {
  tarntest::TempDir dir;
  const std::string paced = dir.path() + "/paced.mid", plain = dir.path() + "/plain.mid";
  const auto start = std::chrono::steady_clock::now();
  std::thread writer([&] { EXPECT_EQ(runSynth({"--events", "20", "--modules", "--rate", "40", paced}), 0); });
  std::set<size_t> seen;
  while (seen.size() < 100) {
    struct stat st;
    if (::stat(paced.c_str(), &st) == 0) seen.insert(size_t(st.st_size));
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (std::chrono::steady_clock::now() - start > std::chrono::seconds(5)) break;
  }
  writer.join();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_GT(seconds, 0.4);  // 21 events after the first at 40 a second

  ASSERT_EQ(runSynth({"--events", "20", "--modules", plain}), 0);
  const Bytes run = readFile(paced);
  EXPECT_EQ(run, readFile(plain));
  const std::set<size_t> ends = eventEnds(run);
  seen.erase(0);
  EXPECT_GE(seen.size(), 5u) << "the file did not grow event by event";
  for (size_t size : seen) EXPECT_TRUE(ends.count(size)) << "a part of an event at " << size;

  ASSERT_EQ(runSynth({"--events", "5", "--rate", "1000", paced + ".gz"}), 0);
  ASSERT_EQ(runSynth({"--events", "5", plain}), 0);
  EXPECT_EQ(gunzip(paced + ".gz"), readFile(plain));
  EXPECT_NE(runSynth({"--rate", "0", paced}), 0);
  EXPECT_NE(runSynth({"--rate", "fast", paced}), 0);
}

// A large event through a stdio buffer reached the file in two writes, and a
// reader between them found half of it: the file holds each event as soon as
// it is written.
TEST(SynthRate, AGrowingFileTakesALargeEventInOneWrite) {
  tarntest::TempDir dir;
  const std::string path = dir.path() + "/growing.mid";
  synth::RunWriter writer;
  std::string error;
  ASSERT_TRUE(writer.open(path, error, 0, true)) << error;
  size_t total = 0;
  for (size_t size : {100000u, 30000u}) {
    ASSERT_TRUE(writer.write(std::vector<uint8_t>(size, 0x5a), error)) << error;
    total += size;
    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(size_t(st.st_size), total);
  }
  EXPECT_TRUE(writer.close(error)) << error;
}
