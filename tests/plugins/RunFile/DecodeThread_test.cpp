// RunFile stopped while its compressed run is decoded ahead of the graph: a
// decoder waiting on a silent pipe or on a full queue must not keep Start or
// the node's end waiting, nothing may be lost for a later Start, and no
// thread may outlive the node. Run with and without the decoder's thread.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "../../midas/MidasTestData.h"
#include "MidasSynth.h"
#include "TRunFile.h"
#include "TarnTest.h"

using midastest::Collector;

namespace {

using Clock = std::chrono::steady_clock;

// Whether this process decodes on a thread of its own when nothing forbids it.
bool threadExpected() {
  const char* v = std::getenv("TARN_DECODE_THREAD");
  cpu_set_t cores;
  CPU_ZERO(&cores);
  return !(v && std::strcmp(v, "0") == 0) && ::sched_getaffinity(0, sizeof cores, &cores) == 0 &&
         CPU_COUNT(&cores) > 1;
}

// `n` ordinary events of module banks (no run events), as gzip bytes.
std::string gzipRun(const tarntest::TempDir& dir, uint32_t n) {
  synth::RunSpec spec;
  spec.events = n;
  spec.modules = true;
  std::vector<synth::Event> all = synth::makeRun(spec);
  std::vector<synth::Event> ordinary(all.begin() + 1, all.end() - 1);
  std::string error;
  const std::string path = dir.path() + "/made.mid.gz";
  EXPECT_TRUE(synth::writeRun(path, ordinary, false, synth::Damage::None, error)) << error;
  return tarntest::contentOf(path);
}

void expectSerials(const Collector& c, size_t n) {
  const std::vector<uint32_t> s = c.serials();
  ASSERT_EQ(s.size(), n);
  for (size_t i = 0; i < n; ++i) ASSERT_EQ(s[i], i) << i;
}

class DecodeThreadTest : public ::testing::Test {
 protected:
  void attach(tarntest::Node& r) {
    for (int k = 0; k < 3; ++k) ASSERT_TRUE(r->AddReceiver(k, &c, k));
  }
  tarntest::TempDir dir;
  Collector c;
};

// The whole events in the first `n` bytes of `bytes`.
size_t eventsIn(const tarntest::TempDir& dir, const std::string& bytes, size_t n) {
  TRunFile f;
  f.SetDecodeThread(false);
  EXPECT_TRUE(f.Open(dir.write("part.mid.gz", bytes.substr(0, n)).c_str()));
  TMidasEvent e;
  size_t count = 0;
  while (f.ReadInPlace(&e)) ++count;
  return count;
}

// Stops `node` once it has sent events and then sent nothing for a while;
// gives how long Start took to return after that, and what had been sent.
double stopWhenStalled(TarnBase* node, const std::atomic<bool>& returned, uint64_t* sent) {
  uint64_t seen = 0;
  for (int quiet = 0; quiet < 4;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const uint64_t now = node->SentCount();
    quiet = now > 0 && now == seen ? quiet + 1 : 0;
    seen = now;
  }
  *sent = seen;
  const Clock::time_point asked = Clock::now();
  node->Stop();
  while (!returned && Clock::now() - asked < std::chrono::seconds(5))
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return std::chrono::duration<double>(Clock::now() - asked).count();
}

TEST_F(DecodeThreadTest, StopEndsAWaitOnASilentPipeAndALaterStartReadsOnWithNothingLost) {
  const uint32_t n = 4000;
  const std::string bytes = gzipRun(dir, n);
  const std::string fifo = dir.path() + "/fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::atomic<bool> rest{false};
  void (*before)(int) = std::signal(SIGPIPE, SIG_IGN);
  const int baseline = midastest::decoderThreads();
  std::thread writer([&] {
    // Half the stream, then nothing, the pipe held open, until the rest is let go.
    const int fd = ::open(fifo.c_str(), O_WRONLY);
    const size_t half = bytes.size() / 2;
    if (fd >= 0 && ::write(fd, bytes.data(), half) == ssize_t(half)) {
      while (!rest) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      if (::write(fd, bytes.data() + half, bytes.size() - half) < 0) {
      }
    }
    if (fd >= 0) ::close(fd);
  });
  tarntest::CapturedStdout out;
  {
    tarntest::Node r("RunFile", "r");
    attach(r);
    ASSERT_TRUE(r->SetInput("file", fifo));
    std::atomic<bool> returned{false};
    double took = 0;
    uint64_t stalledAt = 0;
    std::thread stopper([&] {
      took = stopWhenStalled(r.get(), returned, &stalledAt);
      rest = true;  // lets a Start that never returned go on, so the test ends
    });
    r->Start();
    returned = true;
    stopper.join();
    EXPECT_LT(took, 1.0) << "Start went on waiting for the pipe after Stop";
    // Every event whose bytes came had gone out before the pipe fell silent.
    EXPECT_EQ(stalledAt, eventsIn(dir, bytes, bytes.size() / 2));
    const size_t first = c.serials().size();
    EXPECT_GT(first, 0u);
    EXPECT_LT(first, n);
    r->Start();  // the rest has come: on from the event after the last one sent
    expectSerials(c, n);
  }
  writer.join();
  std::signal(SIGPIPE, before);
  EXPECT_EQ(out.text().find("r: RunFile: "), std::string::npos) << out.text();
  EXPECT_EQ(midastest::decoderThreads(), baseline);
}

TEST_F(DecodeThreadTest, ADecoderAheadOfASlowGraphEndsWithTheNodeAndOnlyWhenAsked) {
  const std::string path = dir.write("run.mid.gz", gzipRun(dir, 20000));
  for (bool wanted : {true, false}) {
    SCOPED_TRACE(wanted ? "thread wanted" : "thread turned off");
    c.got.clear();
    const int baseline = midastest::decoderThreads();
    tarntest::CapturedStdout out;
    {
      tarntest::Node r("RunFile", "r");
      attach(r);
      ASSERT_TRUE(r->SetInput("thread", wanted ? "true" : "false"));
      ASSERT_TRUE(r->SetInput("file", path));
      ASSERT_TRUE(r->SetInput("interval", "0.001"));  // the graph lags: the decoder's queue fills
      TarnBase* node = r.get();
      int during = 0;
      std::thread stopper([&] {
        while (node->SentCount() < 50) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        during = midastest::decoderThreads();
        node->Stop();
      });
      r->Start();
      stopper.join();
      EXPECT_EQ(during, baseline + (wanted && threadExpected() ? 1 : 0));
      const size_t first = c.serials().size();
      ASSERT_LT(first, 20000u);
      ASSERT_TRUE(r->SetInput("steps", "100"));
      ASSERT_TRUE(r->SetInput("interval", "0"));
      r->Start();
      expectSerials(c, first + 100);
    }
    EXPECT_EQ(midastest::decoderThreads(), baseline);
  }
}

}  // namespace
