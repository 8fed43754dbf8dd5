#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "../../midas/MidasTestData.h"
#include "MidasSynth.h"
#include "TarnTest.h"

using midastest::Collector;

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

// A run of `n` ordinary events, with or without its begin and end of run.
std::vector<synth::Event> events(uint32_t n, uint32_t run = 1, bool withRunEvents = false) {
  synth::RunSpec shape;
  shape.run = run;
  shape.events = n;
  std::vector<synth::Event> all = synth::makeRun(shape);
  return withRunEvents ? all : std::vector<synth::Event>(all.begin() + 1, all.end() - 1);
}

void write(const std::string& path, const std::vector<synth::Event>& ev,
           synth::Damage damage = synth::Damage::None) {
  std::string error;
  EXPECT_TRUE(synth::writeRun(path, ev, false, damage, error)) << error;
}

// Each test runs in a fresh working directory `work`, with MIDASDATA at `data`.
class RunFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char buf[4096];
    ASSERT_NE(::getcwd(buf, sizeof buf), nullptr);
    saved = buf;
    ASSERT_EQ(::chdir(work.path().c_str()), 0);
    ::setenv("MIDASDATA", data.path().c_str(), 1);
  }
  void TearDown() override {
    EXPECT_EQ(::chdir(saved.c_str()), 0);
    ::unsetenv("MIDASDATA");
  }
  // event -> input 0, bor -> input 1, eor -> input 2
  static void attach(tarntest::Node& node, Collector& c) {
    for (int k = 0; k < 3; ++k) ASSERT_TRUE(node->AddReceiver(k, &c, k));
  }

  tarntest::TempDir work, data;
  std::string saved;
  Collector c;
};

TEST_F(RunFileTest, SearchesAsGivenInTheDataDirectoryThenTheOtherGzipForm) {
  struct Case { std::vector<std::string> files; std::string asked, opened; };  // "w:" here, "d:" MIDASDATA
  const std::vector<Case> cases = {
      {{"w:run1.mid", "d:run1.mid"}, "run1.mid", "w:run1.mid"},
      {{"d:run1.mid", "w:run1.mid.gz"}, "run1.mid", "d:run1.mid"},
      {{"w:run1.mid.gz", "d:run1.mid.gz"}, "run1.mid", "w:run1.mid.gz"},
      {{"d:run1.mid.gz"}, "run1.mid", "d:run1.mid.gz"},
      {{"w:run1.mid", "d:run1.mid"}, "run1.mid.gz", "w:run1.mid"},
      {{"d:run1.mid"}, "run1.mid.gz", "d:run1.mid"},
      {{"w:x.gz.mid.gz"}, "x.gz.mid", "w:x.gz.mid.gz"},
      {{"w:a.gz.gz.gz"}, "a.gz.gz", "w:a.gz.gz.gz"},  // only the first ".gz" is looked at
      // Then each other compressed ending, in both places, in this order.
      {{"w:run1.mid.bz2", "d:run1.mid.lz4"}, "run1.mid", "d:run1.mid.lz4"},
      {{"w:run1.mid.zst", "d:run1.mid.bz2"}, "run1.mid", "d:run1.mid.bz2"},
      {{"d:run1.mid.zst", "d:run1.mid.gz"}, "run1.mid", "d:run1.mid.gz"},
      {{"d:run1.mid.zst"}, "run1.mid.gz", "d:run1.mid.zst"},  // the ending replaces ".gz"
      {{"w:other.mid"}, "run1.mid", ""}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.asked + " -> " + k.opened);
    tarntest::TempDir w, d;
    ASSERT_EQ(::chdir(w.path().c_str()), 0);
    ::setenv("MIDASDATA", d.path().c_str(), 1);
    for (const std::string& f : k.files) write((f[0] == 'w' ? w.path() : d.path()) + "/" + f.substr(2), events(1));
    tarntest::CapturedStdout out;
    {
      tarntest::Node r("RunFile", "r");
      ASSERT_TRUE(r->SetInput("file", k.asked));
    }
    const std::string where = k.opened[0] == 'd' ? d.path() + "/" : "";
    EXPECT_EQ(out.text(), "r instantiated\n" +
                              (k.opened.empty() ? "r: RunFile: " + k.asked + " not found.\n"
                                                : "r: RunFile \"" + where + k.opened.substr(2) + "\" opened.\n") +
                              "r deleted\n");
  }
}

TEST_F(RunFileTest, WithoutMidasdataNamesAndListsAreLookedForUnderTheRoot) {
  ::unsetenv("MIDASDATA");
  write(data.path() + "/run1.mid", events(1));
  const std::string list = data.write("list", "# comment\n\nmissing.mid\n" + data.path().substr(1) + "/run1.mid\n");
  tarntest::CapturedStdout out;
  {
    tarntest::Node r("RunFile", "r");
    r->SetInput("listfile", "list");
    r->SetInput("listfile", list);  // "/" + an absolute name still works
    attach(r, c);
    r->Start();
  }
  EXPECT_EQ(out.text(), "r instantiated\nr: Could not open MIDAS list file /list\n"
                        "r: RunFile: missing.mid not found.\n"
                        "r: RunFile \"" + data.path() + "/run1.mid\" opened.\n"
                        "r: Running: Steps = 0, interval = 0\nStop()\nr deleted\n");
  EXPECT_EQ(c.got.size(), 1u);
}

TEST_F(RunFileTest, StepsCountPassesIncludingTheFailedReadThatEndsAFile) {
  write(work.path() + "/four.mid", events(4));
  write(data.path() + "/a.mid", events(2, 1));
  write(data.path() + "/b.mid", events(2, 2));
  data.write("ab.list", "a.mid\nb.mid\n");
  tarntest::CapturedStdout out;
  tarntest::Node r("RunFile", "r");
  attach(r, c);
  r->SetInput("file", "four.mid");
  r->SetInput("steps", "3");
  r->Start();
  EXPECT_EQ(c.serials(), (std::vector<uint32_t>{0, 1, 2}));
  r->SetInput("steps", "10");
  r->Start();  // goes on with the next event, then the file ends
  r->Start();  // closed: nothing
  EXPECT_EQ(c.serials(), (std::vector<uint32_t>{0, 1, 2, 3}));

  c.got.clear();
  r->SetInput("listfile", "ab.list");
  r->SetInput("steps", "3");
  r->Start();  // read, read, end of a.mid (b.mid opens)
  EXPECT_EQ(c.got.size(), 2u);
  r->Start();  // read, read, end of b.mid and of the list
  r->Start();
  ASSERT_EQ(c.got.size(), 4u);
  EXPECT_EQ(c.got[2].event.GetTimeStamp(), events(2, 2)[0].timeStamp);
  EXPECT_NE(out.text().find("r: Running: Steps = 3, interval = 0\nStop()\n"), std::string::npos);
}

TEST_F(RunFileTest, RunEventsGoOutAsTextOthersWithTheirBankList) {
  const std::vector<synth::Event> run = events(3, 17, true);
  write(work.path() + "/run17.mid.gz", run);
  tarntest::CapturedStdout out;
  tarntest::Node r("RunFile", "r");
  attach(r, c);
  r->SetInput("file", "run17.mid");
  r->Start();
  ASSERT_EQ(c.inputsSeen(), (std::vector<int>{1, 0, 0, 0, 2}));
  EXPECT_EQ(c.got[0].text, std::string(run[0].raw.begin(), run[0].raw.end()));
  EXPECT_EQ(c.got[4].text, std::string(run[4].raw.begin(), run[4].raw.end()));
  for (int i = 1; i <= 3; ++i) {
    std::string names;
    for (const synth::Bank& b : run[i].banks) names += b.name;
    EXPECT_TRUE(c.got[i].hadBankList);
    EXPECT_STREQ(c.got[i].event.GetBankList(), names.c_str());
  }
}

// A JSON dump's first bytes read as no bank area of either order; the text
// of run transitions must come out as written all the same.
TEST_F(RunFileTest, JsonDumpsGoOutByteForByteInEitherByteOrder) {
  for (bool swapped : {false, true}) {
    synth::RunSpec spec;
    spec.run = 23;
    spec.events = 2;
    spec.swapped = swapped;
    spec.odb = synth::OdbForm::Json;
    const std::vector<synth::Event> run = synth::makeRun(spec);
    std::string error;
    const std::string file = work.path() + (swapped ? "/swapped.mid" : "/plain.mid");
    ASSERT_TRUE(synth::writeRun(file, run, swapped, synth::Damage::None, error)) << error;
    Collector got;
    {
      tarntest::CapturedStdout out;
      tarntest::Node r("RunFile", "r");
      for (int k = 0; k < 3; ++k) r->AddReceiver(k, &got, k);
      r->SetInput("file", file);
      r->Start();
    }
    ASSERT_EQ(got.inputsSeen(), (std::vector<int>{1, 0, 0, 2})) << swapped;
    EXPECT_EQ(got.got[0].text, std::string(run[0].raw.begin(), run[0].raw.end())) << swapped;
    EXPECT_EQ(got.got[3].text, std::string(run[3].raw.begin(), run[3].raw.end())) << swapped;
    EXPECT_EQ(got.got[0].text.substr(0, 16), "{\n  \"System\" : {");
  }
}

TEST_F(RunFileTest, IntervalPausesAfterEachEventNeverWhenNegativeAndHugeOnesStop) {
  write(work.path() + "/run.mid", events(2, 1, true));
  tarntest::CapturedStdout out;
  tarntest::Node r("RunFile", "r");
  attach(r, c);
  for (const char* interval : {"0.05", "-2000"}) {
    r->SetInput("file", "run.mid");
    r->SetInput("interval", interval);
    const Clock::time_point t = Clock::now();
    r->Start();
    const double took = secondsSince(t);
    if (interval[0] == '-') EXPECT_LT(took, 0.1); else EXPECT_GE(took, 0.2);  // bor counts too
  }
  EXPECT_EQ(c.got.size(), 8u);
  r->SetInput("file", "run.mid");
  r->SetInput("interval", "1e12");  // beyond any 32-bit count of microseconds
  TarnBase* node = r.get();
  std::thread stopper([node] {
    while (node->SentCount() < 9) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    node->Stop();
  });
  const Clock::time_point t = Clock::now();
  r->Start();
  stopper.join();
  EXPECT_LT(secondsSince(t), 3.0);
  EXPECT_EQ(c.got.size(), 9u);
  EXPECT_NE(out.text().find("interval = 0.05\n"), std::string::npos);
}

TEST_F(RunFileTest, StopFromAnotherThreadEndsStartAndALaterStartGoesOn) {
  write(work.path() + "/long.mid", events(3000));
  tarntest::CapturedStdout out;
  tarntest::Node r("RunFile", "r");
  attach(r, c);
  r->SetInput("file", "long.mid");
  r->SetInput("interval", "0.001");
  TarnBase* node = r.get();
  std::thread stopper([node] {
    while (!node->running || node->SentCount() < 10) std::this_thread::yield();
    node->Stop();
  });
  r->Start();
  stopper.join();
  EXPECT_FALSE(r->running);
  const size_t first = c.got.size();
  EXPECT_GE(first, 10u);
  EXPECT_LT(first, 3000u);
  r->SetInput("steps", "5");
  r->Start();
  const std::vector<uint32_t> s = c.serials();
  ASSERT_EQ(s.size(), first + 5);
  for (size_t i = 0; i < s.size(); ++i) ASSERT_EQ(s[i], i);
}

TEST_F(RunFileTest, ResetReopensTheListElseTheFile) {
  write(work.path() + "/one.mid", events(3, 1));
  write(data.path() + "/two.mid", events(3, 2));
  data.write("list", "two.mid\n");
  tarntest::CapturedStdout out;
  {
    tarntest::Node r("RunFile", "r");
    attach(r, c);
    r->Reset();  // nothing configured: only the message
    r->SetInput("file", "one.mid");
    r->SetInput("steps", "2");
    r->Start();
    r->Reset();
    r->Start();
    r->SetInput("listfile", "list");
    r->Start();
    r->Reset();  // both set: the list
    r->Start();
  }
  EXPECT_EQ(c.serials(), (std::vector<uint32_t>{0, 1, 0, 1, 0, 1, 0, 1}));
  EXPECT_EQ(c.got[2].event.GetTimeStamp(), events(1, 1)[0].timeStamp);
  EXPECT_EQ(c.got[6].event.GetTimeStamp(), events(1, 2)[0].timeStamp);
  const std::string two = "r: RunFile \"" + data.path() + "/two.mid\" opened.\n";
  const std::string pass = "r: Running: Steps = 2, interval = 0\nStop()\n";
  EXPECT_EQ(out.text(), "r instantiated\nr: Reset()\nr: RunFile \"one.mid\" opened.\n" + pass +
                            "r: Reset()\nr: RunFile \"one.mid\" opened.\n" + pass + two + pass +
                            "r: Reset()\n" + two + pass + "r deleted\n");
}

TEST_F(RunFileTest, DamagedFilesDeliverTheSoundEventsSayWhyAndGoOnWithTheList) {
  struct Case { synth::Damage damage; const char* error; };
  for (const Case& k : {Case{synth::Damage::TruncatedHeader, "Unexpected end of file inside an event"},
                        Case{synth::Damage::TruncatedData, "Unexpected end of file inside an event"},
                        Case{synth::Damage::ZeroSize, "Invalid event size"},
                        Case{synth::Damage::OversizeData, "Invalid event size"}})
    for (const std::string name : {"bad.mid", "bad.mid.gz", "bad.mid.lz4", "bad.mid.bz2", "bad.mid.zst"}) {
      SCOPED_TRACE(name + " " + k.error);
      write(work.path() + "/" + name, events(4, 1, true), k.damage);
      write(work.path() + "/after.mid", events(1, 9));
      data.write("list", name + "\nafter.mid\n");
      c.got.clear();
      tarntest::CapturedStdout out;
      {
        tarntest::Node r("RunFile", "r");
        attach(r, c);
        r->SetInput("listfile", "list");
        r->Start();
      }
      EXPECT_EQ(c.inputsSeen(), (std::vector<int>{1, 0, 0, 0, 0, 0}));
      EXPECT_EQ(c.got.back().event.GetTimeStamp(), events(1, 9)[0].timeStamp);
      EXPECT_NE(out.text().find("r: RunFile: " + name + ": " + k.error + "\n" +
                                "r: RunFile \"after.mid\" opened.\n"), std::string::npos) << out.text();
      EXPECT_EQ(out.text().find("after.mid: "), std::string::npos);  // a clean end says nothing
    }
}

TEST_F(RunFileTest, ExampleGraphsRunOnPlainAndGzipRunsAndStopOnInterrupt) {
  for (const std::string name : {"run00001.mid", "run00001.mid.gz", "run00001.mid.lz4"}) {
    write(work.path() + "/" + name, events(6, 1, true));
    for (const char* graph : {"runfile-dump.tarn", "runfile-filter.tarn"}) {
      SCOPED_TRACE(name + " " + graph);
      tarntest::RunResult r = tarntest::runTarn({"run", std::string(TARN_SOURCE_DIR "/examples/") + graph,
                                                 "--no-progress", "--set", "in.file=" + name});
      EXPECT_EQ(r.status, 0) << r.err;
      size_t n = 0;
      for (size_t at = 0; (at = r.out.find("Event start:", at)) != std::string::npos; ++at) ++n;
      EXPECT_EQ(n, graph[8] == 'd' ? 6u : 2u) << r.out;  // the filter keeps the events of id 2
      // The dump shows bank contents, the filter's dumper only the bank lines.
      EXPECT_NE(r.out.find(graph[8] == 'd' ? ", type  4\n0x" : ", type  4\nBank SHRT"), std::string::npos);
    }
  }
  write(work.path() + "/long.mid", events(2000));
  tarntest::RunResult r = tarntest::runTarn({"run", TARN_SOURCE_DIR "/examples/runfile-dump.tarn", "--no-progress",
                                             "--set", "in.file=long.mid", "--set", "in.interval=0.01"}, 300);
  EXPECT_EQ(r.status, 130) << r.err;
  EXPECT_NE(r.out.find("Stop()\n"), std::string::npos);
  EXPECT_NE(r.out.find("in deleted\n"), std::string::npos);
}

// A FIFO as the run file: the first Ctrl-C stops the run at once, whether no
// writer has come yet or one has sent too few bytes to tell the form by.
TEST_F(RunFileTest, AFifoWithoutWriterOrWithTooFewBytesStopsAtTheFirstInterrupt) {
  const std::string fifo = work.path() + "/fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (bool twoBytes : {false, true}) {
    SCOPED_TRACE(twoBytes ? "two bytes sent" : "no writer");
    std::atomic<bool> over{false};
    std::thread writer([&] {
      int fd = twoBytes ? ::open(fifo.c_str(), O_WRONLY) : -1;
      EXPECT_TRUE(fd < 0 || ::write(fd, "\x28\xb5", 2) == 2);
      for (int i = 0; i < 100 && !over; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
      // Lets a tarn that never stopped go on, so that the test ends.
      if (fd < 0 && !over) fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
      if (fd >= 0) ::close(fd);
    });
    const Clock::time_point start = Clock::now();
    tarntest::RunResult r = tarntest::runTarn({"run", TARN_SOURCE_DIR "/examples/runfile-dump.tarn",
                                               "--no-progress", "--set", "in.file=" + fifo}, 500);
    const double took = secondsSince(start);
    over = true;
    writer.join();
    EXPECT_LT(took, 3.0) << r.err;
    EXPECT_EQ(r.status, 130) << r.err;
  }
}

}  // namespace
