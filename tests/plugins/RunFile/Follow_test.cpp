// RunFile following a run file that the test writes while it is read.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

#include "../../midas/MidasTestData.h"
#include "MidasSynth.h"
#include "TarnTest.h"

using midastest::Collector;

namespace {

using Bytes = std::vector<uint8_t>;

std::string fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void append(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::app) << bytes;
}

// A run with events of every size: the smallest data area (one byte), the
// synthesiser's module events, and the largest (noise, which no compressor
// shrinks).
std::vector<synth::Event> everySize() {
  synth::RunSpec spec;
  spec.events = 40;
  spec.modules = true;
  std::vector<synth::Event> run = synth::makeRun(spec);
  synth::Event tiny;
  tiny.id = 3;
  tiny.serial = 1000;
  tiny.raw = {0x5a};
  synth::Event huge;
  huge.id = 4;
  huge.serial = 1001;
  uint32_t x = 12345;
  for (uint32_t i = 0; i < TMidasEvent::kMaxDataSize; ++i) {
    x = x * 1664525u + 1013904223u;
    huge.raw.push_back(uint8_t(x >> 24));
  }
  std::fill(huge.raw.begin(), huge.raw.begin() + 8, 0);  // no bank area, nothing to turn
  run.insert(run.begin() + 20, huge);
  run.insert(run.begin() + 1, tiny);
  run.insert(run.end() - 1, tiny);
  return run;
}

// Where to cut the written bytes: each plain event inside its header and
// inside its data, the start of each later compressed unit after its first
// byte, and pieces of assorted sizes between.
std::vector<size_t> cuts(const std::string& written, const std::vector<synth::Event>& run, bool plain) {
  std::vector<size_t> at;
  if (plain) {
    size_t start = 0;
    for (const synth::Event& e : run) {
      const size_t size = synth::encodeEvent(e).size();
      at.push_back(start + 7);
      at.push_back(start + 16 + (size - 16) / 2);
      start += size;
    }
  } else {
    const std::string magic = written.substr(0, 3);
    for (size_t p = written.find(magic, 1); p != std::string::npos; p = written.find(magic, p + 1))
      at.push_back(p + 1);
  }
  const size_t sizes[] = {1, 9, 100, 5000, 70000};
  for (size_t p = 0, k = 0; p < written.size(); p += sizes[k++ % 5]) at.push_back(p);
  std::sort(at.begin(), at.end());
  at.erase(std::unique(at.begin(), at.end()), at.end());
  while (!at.empty() && at.back() >= written.size()) at.pop_back();
  return at;
}

// Stops `node` if it has not returned in time, so that a fault fails the test
// instead of hanging it.
class Watchdog {
 public:
  explicit Watchdog(TarnBase* node) : thread([this, node] {
    for (int i = 0; i < 1200 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (!done) node->Stop();
  }) {}
  ~Watchdog() {
    done = true;
    thread.join();
  }

 private:
  std::atomic<bool> done{false};
  std::thread thread;
};

class RunFileFollowTest : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("MIDASDATA", dir.path().c_str(), 1); }
  void TearDown() override {
    ::unsetenv("MIDASDATA");
    ::unsetenv("TARN_GZIP_INFLATE");
  }
  static void attach(tarntest::Node& node, Collector& c) {
    for (int k = 0; k < 3; ++k) ASSERT_TRUE(node->AddReceiver(k, &c, k));
  }
  // Starts following `path`, which must exist.
  void follow(tarntest::Node& r, const std::string& path) {
    attach(r, c);
    ASSERT_TRUE(r->SetInput("follow", "true"));
    ASSERT_TRUE(r->SetInput("file", path));
  }

  tarntest::TempDir dir;
  Collector c;
};

TEST_F(RunFileFollowTest, AFileWrittenInAwkwardSlicesGivesEveryEventOnceAndEndsAtTheEndOfRun) {
  const std::vector<synth::Event> run = everySize();
  std::string plain;
  for (const synth::Event& e : run) {
    const Bytes b = synth::encodeEvent(e);
    plain.append(b.begin(), b.end());
  }
  struct Form { std::string ending; bool zlib; };
  for (const Form& f : {Form{".mid", false}, Form{".mid.gz", false}, Form{".mid.gz", true},
                        Form{".mid.lz4", false}, Form{".mid.bz2", false}, Form{".mid.zst", false}}) {
    SCOPED_TRACE(f.ending + (f.zlib ? " zlib" : ""));
    if (f.zlib) ::setenv("TARN_GZIP_INFLATE", "zlib", 1);
    // Several compressed units, as a logger that flushes now and then writes them.
    std::string error;
    synth::RunWriter writer;
    const std::string whole = dir.path() + "/whole" + f.ending;
    ASSERT_TRUE(writer.open(whole, error, 300000)) << error;
    for (const synth::Event& e : run) ASSERT_TRUE(writer.write(synth::encodeEvent(e), error)) << error;
    ASSERT_TRUE(writer.close(error)) << error;
    const std::string written = fileBytes(whole);
    const std::vector<size_t> at = cuts(written, run, f.ending == ".mid");

    const std::string path = dir.write("growing" + f.ending, "");
    c.got.clear();
    tarntest::CapturedStdout out;
    {
      tarntest::Node r("RunFile", "r");
      follow(r, path);
      std::thread appender([&] {
        for (size_t i = 0; i < at.size(); ++i) {
          append(path, written.substr(at[i], (i + 1 < at.size() ? at[i + 1] : written.size()) - at[i]));
          std::this_thread::sleep_for(std::chrono::microseconds(i % 7 == 0 ? 3000 : 200));
        }
      });
      {
        Watchdog dog(r.get());
        r->Start();  // returns by itself after the end of run
      }
      appender.join();
    }
    const std::string text = out.text();
    EXPECT_EQ(text.find("r: RunFile: "), std::string::npos) << text;  // never reported damaged
    ASSERT_EQ(c.got.size(), run.size());
    EXPECT_EQ(c.got.front().input, 1);
    EXPECT_EQ(c.got.back().input, 2);
    for (size_t i = 1; i + 1 < run.size(); ++i) {
      SCOPED_TRACE(i);
      const Bytes area = synth::encodeDataArea(run[i]);
      ASSERT_EQ(c.got[i].input, 0);
      ASSERT_EQ(c.got[i].event.GetSerialNumber(), run[i].serial);
      ASSERT_EQ(c.got[i].event.GetDataSize(), area.size());
      ASSERT_EQ(std::memcmp(c.got[i].event.GetData(), area.data(), area.size()), 0);
    }
    ::unsetenv("TARN_GZIP_INFLATE");
  }
}

// The writer pauses inside a zstd frame for longer than the library bears
// calls that bring no input: a pause all the same, waited for like any other.
TEST_F(RunFileFollowTest, AZstdWriterPausingInsideAFrameIsWaitedFor) {
  synth::RunSpec spec;
  spec.events = 200;
  spec.modules = true;
  const std::vector<synth::Event> run = synth::makeRun(spec);
  std::string error;
  ASSERT_TRUE(synth::writeRun(dir.path() + "/whole.mid.zst", run, false, synth::Damage::None, error)) << error;
  const std::string written = fileBytes(dir.path() + "/whole.mid.zst");
  const std::string path = dir.write("growing.mid.zst", written.substr(0, written.size() / 2));
  tarntest::CapturedStdout out;
  tarntest::Node r("RunFile", "r");
  follow(r, path);
  std::thread appender([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    append(path, written.substr(written.size() / 2));
  });
  {
    Watchdog dog(r.get());
    r->Start();
  }
  appender.join();
  EXPECT_EQ(out.text().find("r: RunFile: "), std::string::npos) << out.text();
  EXPECT_EQ(c.got.size(), run.size());
}

TEST_F(RunFileFollowTest, StopFromAnotherThreadEndsAWaitAndALaterStartGoesOnWithTheFile) {
  const std::vector<synth::Event> run = everySize();
  std::string first, rest;
  for (size_t i = 0; i < run.size(); ++i) {
    const Bytes b = synth::encodeEvent(run[i]);
    (i < 5 ? first : rest).append(b.begin(), b.end());
  }
  const std::string path = dir.write("run.mid", first + rest.substr(0, 10));  // a header begun
  tarntest::CapturedStdout out;
  tarntest::Node r("RunFile", "r");
  follow(r, path);
  TarnBase* node = r.get();
  std::thread stopper([node] {
    while (node->SentCount() < 5) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(150));  // well into the wait
    node->Stop();
  });
  {
    Watchdog dog(node);
    r->Start();  // returns once stopped, though no end of run came
  }
  stopper.join();
  const size_t before = c.got.size();
  append(path, rest.substr(10));
  {
    Watchdog dog(node);
    r->Start();
  }
  const std::string text = out.text();
  EXPECT_EQ(before, 5u);
  ASSERT_EQ(c.got.size(), run.size()) << text;
  EXPECT_EQ(c.got.back().input, 2);
  EXPECT_EQ(text.find("r: RunFile: "), std::string::npos) << text;

  // The runner's interrupt ends a wait too.
  tarntest::RunResult t = tarntest::runTarn({"run", TARN_SOURCE_DIR "/examples/runfile-dump.tarn", "--no-progress",
                                             "--set", "in.file=" + dir.write("open.mid", first),
                                             "--set", "in.follow=true"}, 500);
  EXPECT_EQ(t.status, 130) << t.err;
  EXPECT_NE(t.out.find("Stop()\n"), std::string::npos);
}

TEST_F(RunFileFollowTest, AFileTruncatedOrReplacedWhileFollowedIsReportedAndEnds) {
  const std::vector<synth::Event> run = everySize();
  std::string some;
  for (size_t i = 0; i < 6; ++i) {
    const Bytes b = synth::encodeEvent(run[i]);
    some.append(b.begin(), b.end());
  }
  for (const std::string what : {"truncated", "replaced", "removed"})
    for (const std::string ending : {".mid", ".mid.gz"}) {
      SCOPED_TRACE(what + " " + ending);
      std::string error;
      const std::string path = dir.path() + "/run" + ending;
      ASSERT_TRUE(synth::writeRun(path, std::vector<synth::Event>(run.begin(), run.begin() + 6), false,
                                  synth::Damage::None, error)) << error;
      c.got.clear();
      tarntest::CapturedStdout out;
      {
        tarntest::Node r("RunFile", "r");
        follow(r, path);
        TarnBase* node = r.get();
        std::thread changer([&] {
          while (node->SentCount() < 6) std::this_thread::sleep_for(std::chrono::milliseconds(1));
          std::this_thread::sleep_for(std::chrono::milliseconds(50));
          if (what == "truncated") {
            EXPECT_EQ(::truncate(path.c_str(), 100), 0);
          } else if (what == "replaced") {
            const std::string other = dir.write("other", some);
            EXPECT_EQ(::rename(other.c_str(), path.c_str()), 0);
          } else {
            EXPECT_EQ(::unlink(path.c_str()), 0);
          }
        });
        {
          Watchdog dog(node);
          r->Start();
        }
        changer.join();
      }
      EXPECT_EQ(c.got.size(), 6u);
      EXPECT_NE(out.text().find("r: RunFile: " + path + ": Run file was " + what + " while being followed\n"),
                std::string::npos) << out.text();
      ::unlink(path.c_str());
    }
}

// Shrinking is measured against the largest size seen, not the size at
// opening: a file that grew and was cut back to between the two lost events.
TEST_F(RunFileFollowTest, AFileCutBackBelowItsLargestSizeIsReportedThoughAboveItsFirst) {
  const std::vector<synth::Event> run = everySize();
  std::string later;
  for (size_t i = 3; i < 6; ++i) {
    const Bytes b = synth::encodeEvent(run[i]);
    later.append(b.begin(), b.end());
  }
  std::string error;
  const std::string path = dir.path() + "/run.mid";
  ASSERT_TRUE(synth::writeRun(path, std::vector<synth::Event>(run.begin(), run.begin() + 3), false,
                              synth::Damage::None, error)) << error;
  const off_t first = static_cast<off_t>(fileBytes(path).size());
  tarntest::CapturedStdout out;
  {
    tarntest::Node r("RunFile", "r");
    follow(r, path);
    TarnBase* node = r.get();
    std::thread changer([&] {
      while (node->SentCount() < 3) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      append(path, later);
      while (node->SentCount() < 6) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      EXPECT_EQ(::truncate(path.c_str(), first + static_cast<off_t>(later.size() / 2)), 0);
    });
    {
      Watchdog dog(node);
      r->Start();
    }
    changer.join();
  }
  EXPECT_EQ(c.got.size(), 6u);
  EXPECT_NE(out.text().find("r: RunFile: " + path + ": Run file was truncated while being followed\n"),
            std::string::npos) << out.text();
}

}  // namespace
