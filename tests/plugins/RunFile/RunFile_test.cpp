#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "../../midas/MidasCollector.h"
#include "MidasSynth.h"
#include "TMidasEvent.h"
#include "TarnTest.h"

using midastest::Collector;

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

// Ordinary events only: what makeRun gives between its begin and end of run.
std::vector<synth::Event> events(uint32_t n, uint32_t run = 1) {
  synth::RunSpec spec;
  spec.run = run;
  spec.events = n;
  std::vector<synth::Event> all = synth::makeRun(spec);
  return std::vector<synth::Event>(all.begin() + 1, all.end() - 1);
}

std::vector<synth::Event> fullRun(uint32_t n, uint32_t run = 1, bool swapped = false) {
  synth::RunSpec spec;
  spec.run = run;
  spec.events = n;
  spec.swapped = swapped;
  return synth::makeRun(spec);
}

std::string write(const std::string& path, const std::vector<synth::Event>& ev,
                  bool swapped = false, synth::Damage damage = synth::Damage::None) {
  std::string error;
  EXPECT_TRUE(synth::writeRun(path, ev, swapped, damage, error)) << error;
  return path;
}

// Each test runs in a fresh working directory, with MIDASDATA pointing at a
// second fresh directory unless the test says otherwise.
class RunFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char buf[4096];
    ASSERT_NE(::getcwd(buf, sizeof buf), nullptr);
    saved = buf;
    const char* old = std::getenv("MIDASDATA");
    hadData = old != nullptr;
    if (old) oldData = old;
    ASSERT_EQ(::chdir(work.path().c_str()), 0);
    ::setenv("MIDASDATA", data.path().c_str(), 1);
  }
  void TearDown() override {
    EXPECT_EQ(::chdir(saved.c_str()), 0);
    if (hadData)
      ::setenv("MIDASDATA", oldData.c_str(), 1);
    else
      ::unsetenv("MIDASDATA");
  }

  // Connects the node's three outputs to a collector: event -> 0, bor -> 1, eor -> 2.
  static void attach(tarntest::Node& node, Collector& c) {
    ASSERT_TRUE(node->AddReceiver(0, &c, 0));
    ASSERT_TRUE(node->AddReceiver(1, &c, 1));
    ASSERT_TRUE(node->AddReceiver(2, &c, 2));
  }
  static std::vector<uint32_t> serials(const Collector& c) {
    std::vector<uint32_t> s;
    for (const Collector::Arrival& a : c.got)
      if (a.input == 0) s.push_back(a.event.GetSerialNumber());
    return s;
  }

  tarntest::TempDir work, data;
  std::string saved, oldData;
  bool hadData = false;
};

TEST_F(RunFileTest, DeclaresItsPortsAndAnnouncesItself) {
  tarntest::CapturedStdout out;
  {
    tarntest::Node r("RunFile", "reader");
    EXPECT_EQ(r->description, "Read one or several Midas files (*.mid)");
    struct Port {
      const char* name;
      int type;
      const char* description;
    };
    const std::vector<Port> in = {{"steps", TARN_INT, "How many events to read"},
                                  {"interval", TARN_FLOAT, "Pause between reads in s"},
                                  {"file", TARN_STRING, "Filename"},
                                  {"listfile", TARN_STRING,
                                   "Name of ASCII file containing list of filenames"}};
    const std::vector<Port> outs = {{"event", TARN_OBJECT, "Midas event"},
                                    {"bor", TARN_CSTRING, "Begin of run ODB as XML string"},
                                    {"eor", TARN_CSTRING, "End of run ODB as XML string"}};
    ASSERT_EQ(r->inputs.size(), in.size());
    for (size_t i = 0; i < in.size(); ++i) {
      EXPECT_EQ(r->inputs[i].name, in[i].name);
      EXPECT_EQ(r->inputs[i].type, in[i].type);
      EXPECT_EQ(r->inputs[i].description, in[i].description);
    }
    ASSERT_EQ(r->outputs.size(), outs.size());
    for (size_t i = 0; i < outs.size(); ++i) {
      EXPECT_EQ(r->outputs[i].name, outs[i].name);
      EXPECT_EQ(r->outputs[i].type, outs[i].type);
      EXPECT_EQ(r->outputs[i].description, outs[i].description);
    }
    EXPECT_FALSE(r->running);
  }
  EXPECT_EQ(out.text(), "reader instantiated\nreader deleted\n");
}

// ---- finding the file --------------------------------------------------------

struct SearchCase {
  const char* what;
  std::vector<std::string> files;  // "w:NAME" in the working dir, "d:NAME" in MIDASDATA
  std::string asked;
  std::string opened;  // "w:NAME", "d:NAME", or "" for not found
};

TEST_F(RunFileTest, SearchesTheNameTheDataDirectoryThenTheOtherGzipForm) {
  const std::vector<SearchCase> cases = {
      {"as given wins over the data directory", {"w:run1.mid", "d:run1.mid"}, "run1.mid", "w:run1.mid"},
      {"data directory", {"d:run1.mid", "w:run1.mid.gz"}, "run1.mid", "d:run1.mid"},
      {"gzip form here", {"w:run1.mid.gz", "d:run1.mid.gz"}, "run1.mid", "w:run1.mid.gz"},
      {"gzip form in the data directory", {"d:run1.mid.gz"}, "run1.mid", "d:run1.mid.gz"},
      {"plain form of a .gz name", {"w:run1.mid", "d:run1.mid"}, "run1.mid.gz", "w:run1.mid"},
      {"plain form in the data directory", {"d:run1.mid"}, "run1.mid.gz", "d:run1.mid"},
      {".gz inside the name is no ending", {"w:x.gz.mid.gz"}, "x.gz.mid", "w:x.gz.mid.gz"},
      {"first .gz not at the end", {"w:a.gz.gz.gz"}, "a.gz.gz", "w:a.gz.gz.gz"},
      {"nothing", {"w:other.mid"}, "run1.mid", ""},
  };
  for (const SearchCase& c : cases) {
    SCOPED_TRACE(c.what);
    tarntest::TempDir w, d;
    ASSERT_EQ(::chdir(w.path().c_str()), 0);
    ::setenv("MIDASDATA", d.path().c_str(), 1);
    for (const std::string& f : c.files)
      write((f[0] == 'w' ? w.path() : d.path()) + "/" + f.substr(2), events(2));
    tarntest::CapturedStdout out;
    {
      tarntest::Node r("RunFile", "r");
      std::string name = c.asked;
      ASSERT_TRUE(r->SetInput(2, &name));
    }
    std::string want;
    if (c.opened.empty())
      want = "r: RunFile: " + c.asked + " not found.\n";
    else if (c.opened[0] == 'w')
      want = "r: RunFile \"" + c.opened.substr(2) + "\" opened.\n";
    else
      want = "r: RunFile \"" + d.path() + "/" + c.opened.substr(2) + "\" opened.\n";
    EXPECT_EQ(out.text(), "r instantiated\n" + want + "r deleted\n");
    ASSERT_EQ(::chdir(work.path().c_str()), 0);
  }
}

TEST_F(RunFileTest, WithoutMidasdataTheDirectoryPartIsTheRoot) {
  ::unsetenv("MIDASDATA");
  // A relative name that exists only from the root: found as "/" + name.
  const std::string file = write(data.path() + "/run1.mid", events(1));
  const std::string relative = file.substr(1);
  tarntest::CapturedStdout out;
  {
    tarntest::Node r("RunFile", "r");
    std::string name = relative;
    r->SetInput(2, &name);
    name = "run9.mid";
    r->SetInput(2, &name);
  }
  EXPECT_EQ(out.text(), "r instantiated\nr: RunFile \"" + file +
                            "\" opened.\nr: RunFile: run9.mid not found.\nr deleted\n");
}

TEST_F(RunFileTest, AFileNotFoundSendsNothingOnStart) {
  Collector c;
  tarntest::CapturedStdout out;
  {
    tarntest::Node r("RunFile", "r");
    attach(r, c);
    ASSERT_TRUE(r->SetInput("file", "missing.mid"));
    r->Start();
  }
  EXPECT_TRUE(c.got.empty());
  EXPECT_EQ(out.text(),
            "r instantiated\nr: RunFile: missing.mid not found.\n"
            "r: Running: Steps = 0, interval = 0\nStop()\nr deleted\n");
}

// ---- list files -----------------------------------------------------------------

TEST_F(RunFileTest, ListFileSkipsCommentsEmptyLinesAndFilesNotFound) {
  write(data.path() + "/run2.mid", events(2, 2));
  write(data.path() + "/run3.mid.gz", events(3, 3));
  data.write("runs.txt", "# the good runs\n\nmissing.mid\nrun2.mid\n#run4.mid\nrun3.mid\n");
  Collector c;
  tarntest::CapturedStdout out;
  {
    tarntest::Node r("RunFile", "r");
    attach(r, c);
    ASSERT_TRUE(r->SetInput("listfile", "runs.txt"));
    r->Start();
  }
  EXPECT_EQ(out.text(), "r instantiated\n"
                        "r: RunFile: missing.mid not found.\n"
                        "r: RunFile \"" + data.path() + "/run2.mid\" opened.\n"
                        "r: Running: Steps = 0, interval = 0\n"
                        "r: RunFile \"" + data.path() + "/run3.mid.gz\" opened.\n"
                        "Stop()\nr deleted\n");
  EXPECT_EQ(c.got.size(), 5u);
}

TEST_F(RunFileTest, ListFileIsAlwaysLookedForInTheDataDirectory) {
  const std::string here = work.write("list.txt", "run1.mid\n");
  write(work.path() + "/run1.mid", events(1));
  tarntest::CapturedStdout out;
  {
    tarntest::Node r("RunFile", "r");
    r->SetInput("listfile", "list.txt");
    ::unsetenv("MIDASDATA");
    tarntest::Node s("RunFile", "s");
    s->SetInput("listfile", "list.txt");
    s->SetInput("listfile", here);  // an absolute name works: "/" + "/tmp/..."
  }
  EXPECT_EQ(out.text(), "r instantiated\n"
                        "r: Could not open MIDAS list file " + data.path() + "/list.txt\n"
                        "s instantiated\n"
                        "s: Could not open MIDAS list file /list.txt\n"
                        "s: RunFile \"run1.mid\" opened.\n"
                        "s deleted\nr deleted\n");
}

// ---- the reading loop ---------------------------------------------------------------

TEST_F(RunFileTest, StepsCountPassesAndFailedReadsCountToo) {
  write(work.path() + "/four.mid", events(4));
  {
    SCOPED_TRACE("steps 10 on 4 events");
    Collector c;
    tarntest::CapturedStdout out;
    {
      tarntest::Node r("RunFile", "r");
      attach(r, c);
      r->SetInput("file", "four.mid");
      r->SetInput("steps", "10");
      r->Start();
      EXPECT_EQ(c.got.size(), 4u);
      r->Start();  // the file has ended: nothing more
    }
    EXPECT_EQ(c.got.size(), 4u);
    EXPECT_EQ(out.text(),
              "r instantiated\nr: RunFile \"four.mid\" opened.\n"
              "r: Running: Steps = 10, interval = 0\nStop()\n"
              "r: Running: Steps = 10, interval = 0\nStop()\nr deleted\n");
  }
  {
    SCOPED_TRACE("steps 3 then more: a later Start goes on with the next event");
    Collector c;
    tarntest::CapturedStdout out;
    tarntest::Node r("RunFile", "r");
    attach(r, c);
    r->SetInput("file", "four.mid");
    r->SetInput("steps", "3");
    r->Start();
    EXPECT_EQ(serials(c), (std::vector<uint32_t>{0, 1, 2}));
    r->Start();
    EXPECT_EQ(serials(c), (std::vector<uint32_t>{0, 1, 2, 3}));
    r->SetInput("steps", "0");
    r->Start();
    EXPECT_EQ(c.got.size(), 4u);
  }
}

TEST_F(RunFileTest, StepsOverAListSpendAPassOnEachFileChange) {
  write(data.path() + "/a.mid", events(2, 1));
  write(data.path() + "/b.mid", events(2, 2));
  data.write("ab.list", "a.mid\nb.mid\n");
  Collector c;
  tarntest::CapturedStdout out;
  tarntest::Node r("RunFile", "r");
  attach(r, c);
  r->SetInput("listfile", "ab.list");
  r->SetInput("steps", "3");
  r->Start();  // read, read, end of a.mid (b.mid opens)
  EXPECT_EQ(c.got.size(), 2u);
  r->Start();  // read, read, end of b.mid and of the list
  EXPECT_EQ(c.got.size(), 4u);
  r->Start();
  EXPECT_EQ(c.got.size(), 4u);
  EXPECT_EQ(c.got[0].event.GetEventId(), events(2, 1)[0].id);
  EXPECT_EQ(c.got[2].event.GetSerialNumber(), events(2, 2)[0].serial);
}

TEST_F(RunFileTest, BeginAndEndOfRunGoOutAsTextOnTheirOwnOutputs) {
  const std::vector<synth::Event> run = fullRun(3, 17);
  write(work.path() + "/run17.mid.gz", run);
  Collector c;
  {
    tarntest::CapturedStdout out;
    tarntest::Node r("RunFile", "r");
    attach(r, c);
    r->SetInput("file", "run17.mid");
    r->Start();
  }
  ASSERT_EQ(c.inputsSeen(), (std::vector<int>{1, 0, 0, 0, 2}));
  EXPECT_EQ(c.got[0].text, std::string(run[0].raw.begin(), run[0].raw.end()));
  EXPECT_EQ(c.got[4].text, std::string(run[4].raw.begin(), run[4].raw.end()));
  EXPECT_EQ(c.got[0].text.compare(0, 5, "<?xml"), 0);
  for (int i = 1; i <= 3; ++i) {
    SCOPED_TRACE(i);
    const Collector::Arrival& a = c.got[i];
    EXPECT_TRUE(a.hadBankList);
    EXPECT_EQ(a.event.GetEventId(), run[i].id);
    EXPECT_EQ(a.event.GetTriggerMask(), run[i].triggerMask);
    std::string names;
    for (const synth::Bank& b : run[i].banks) names += b.name;
    EXPECT_STREQ(a.event.GetBankList(), names.c_str());
    const std::vector<uint8_t> area = synth::encodeDataArea(run[i]);
    ASSERT_EQ(a.event.GetDataSize(), area.size());
  }
}

TEST_F(RunFileTest, ASwappedRunArrivesInHostOrder) {
  const std::vector<synth::Event> run = fullRun(5, 3, true);
  write(work.path() + "/big-endian.mid", run, true);
  Collector c;
  {
    tarntest::CapturedStdout out;
    tarntest::Node r("RunFile", "r");
    attach(r, c);
    r->SetInput("file", "big-endian.mid");
    r->Start();
  }
  ASSERT_EQ(c.got.size(), run.size());
  for (size_t i = 1; i + 1 < run.size(); ++i) {
    const std::vector<uint8_t> area = synth::encodeDataArea(run[i], false);
    TMidasEvent& e = c.got[i].event;
    ASSERT_EQ(e.GetDataSize(), area.size());
    EXPECT_EQ(0, std::memcmp(e.GetData(), area.data(), area.size())) << "event " << i;
  }
  EXPECT_EQ(c.got[0].text.compare(0, 5, "<?xml"), 0);
}

TEST_F(RunFileTest, IntervalPausesAfterEveryEventIncludingBeginOfRun) {
  write(work.path() + "/run.mid", fullRun(2));  // 4 events with begin and end of run
  Collector c;
  tarntest::CapturedStdout out;
  tarntest::Node r("RunFile", "r");
  attach(r, c);
  r->SetInput("file", "run.mid");
  r->SetInput("interval", "0.05");
  const Clock::time_point t = Clock::now();
  r->Start();
  EXPECT_GE(secondsSince(t), 0.2);
  EXPECT_EQ(c.got.size(), 4u);
  EXPECT_NE(out.text().find("r: Running: Steps = 0, interval = 0.05\n"), std::string::npos);
}

TEST_F(RunFileTest, NegativeIntervalDoesNotPauseAndAHugeOneIsStoppable) {
  write(work.path() + "/run.mid", fullRun(3));
  {
    Collector c;
    tarntest::CapturedStdout out;
    tarntest::Node r("RunFile", "r");
    attach(r, c);
    r->SetInput("file", "run.mid");
    r->SetInput("interval", "-2000");
    const Clock::time_point t = Clock::now();
    r->Start();
    EXPECT_LT(secondsSince(t), 1.0);
    EXPECT_EQ(c.got.size(), 5u);
  }
  {
    Collector c;
    tarntest::CapturedStdout out;
    tarntest::Node r("RunFile", "r");
    attach(r, c);
    r->SetInput("file", "run.mid");
    r->SetInput("interval", "1e12");  // microseconds beyond any 32-bit count
    TarnBase* node = r.get();
    std::thread stopper([node, &c] {
      while (c.count.load() < 1) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      node->Stop();
    });
    const Clock::time_point t = Clock::now();
    r->Start();
    stopper.join();
    EXPECT_LT(secondsSince(t), 3.0);
    EXPECT_EQ(c.got.size(), 1u);
    EXPECT_FALSE(r->running);
  }
}

TEST_F(RunFileTest, StopFromAnotherThreadEndsARunningStartAndLaterStartGoesOn) {
  write(work.path() + "/long.mid", events(3000));
  Collector c;
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
  r->SetInput("interval", "0");
  r->SetInput("steps", "5");
  r->Start();
  ASSERT_EQ(c.got.size(), first + 5);
  const std::vector<uint32_t> s = serials(c);
  for (size_t i = 1; i < s.size(); ++i) ASSERT_EQ(s[i], s[i - 1] + 1);
}

TEST_F(RunFileTest, ResetReopensTheListBeforeTheFile) {
  write(work.path() + "/one.mid", events(3, 1));
  write(data.path() + "/two.mid", events(3, 2));
  data.write("list", "two.mid\n");
  Collector c;
  tarntest::CapturedStdout out;
  {
    tarntest::Node r("RunFile", "r");
    attach(r, c);
    r->Reset();  // nothing configured: only the message
    r->SetInput("file", "one.mid");
    r->SetInput("steps", "2");
    r->Start();
    r->Reset();  // from the beginning of one.mid again
    r->Start();
    r->SetInput("listfile", "list");
    r->Start();
    r->Reset();  // both set: the list wins
    r->Start();
  }
  EXPECT_EQ(serials(c), (std::vector<uint32_t>{0, 1, 0, 1, 0, 1, 0, 1}));
  EXPECT_EQ(c.got[0].event.GetTimeStamp(), events(3, 1)[0].timeStamp);
  EXPECT_EQ(c.got[4].event.GetTimeStamp(), events(3, 2)[0].timeStamp);
  EXPECT_EQ(c.got[6].event.GetTimeStamp(), events(3, 2)[0].timeStamp);
  const std::string two = "r: RunFile \"" + data.path() + "/two.mid\" opened.\n";
  const std::string steps = "r: Running: Steps = 2, interval = 0\nStop()\n";
  EXPECT_EQ(out.text(), "r instantiated\nr: Reset()\n"
                        "r: RunFile \"one.mid\" opened.\n" + steps +
                        "r: Reset()\nr: RunFile \"one.mid\" opened.\n" + steps +
                        two + steps + "r: Reset()\n" + two + steps + "r deleted\n");
}

// ---- damaged files ------------------------------------------------------------------

TEST_F(RunFileTest, DamagedFilesDeliverWhatIsSoundAndSayWhatWentWrong) {
  const std::vector<synth::Event> run = fullRun(4);
  struct Case {
    synth::Damage damage;
    const char* error;
  };
  for (const Case& k : {Case{synth::Damage::TruncatedHeader, "Unexpected end of file inside an event"},
                        Case{synth::Damage::TruncatedData, "Unexpected end of file inside an event"},
                        Case{synth::Damage::ZeroSize, "Invalid event size"},
                        Case{synth::Damage::OversizeData, "Invalid event size"}}) {
    for (const char* name : {"bad.mid", "bad.mid.gz"}) {
      SCOPED_TRACE(std::string(name) + " " + k.error);
      write(work.path() + "/" + name, run, false, k.damage);
      data.write("list", std::string(name) + "\nafter.mid\n");
      write(work.path() + "/after.mid", events(1, 9));
      Collector c;
      tarntest::CapturedStdout out;
      {
        tarntest::Node r("RunFile", "r");
        attach(r, c);
        r->SetInput("listfile", "list");
        r->Start();
      }
      // Everything before the damaged last event, then the next file of the list.
      EXPECT_EQ(c.inputsSeen(), (std::vector<int>{1, 0, 0, 0, 0, 0}));
      EXPECT_EQ(c.got.back().event.GetSerialNumber(), events(1, 9)[0].serial);
      EXPECT_NE(out.text().find(std::string("r: RunFile: ") + name + ": " + k.error + "\n"),
                std::string::npos)
          << out.text();
      EXPECT_NE(out.text().find("Stop()\n"), std::string::npos);
    }
  }
}

TEST_F(RunFileTest, ACleanEndOfFileIsNotReportedAsAnError) {
  write(work.path() + "/run.mid", events(2));
  tarntest::CapturedStdout out;
  {
    tarntest::Node r("RunFile", "r");
    r->SetInput("file", "run.mid");
    r->Start();
  }
  EXPECT_EQ(out.text(), "r instantiated\nr: RunFile \"run.mid\" opened.\n"
                        "r: Running: Steps = 0, interval = 0\nStop()\nr deleted\n");
}

// ---- through the runner -----------------------------------------------------------

TEST_F(RunFileTest, ExampleGraphsRunOnPlainAndGzipRuns) {
  const std::string root = TARN_SOURCE_DIR;
  for (const char* name : {"run00001.mid", "run00001.mid.gz"}) {
    SCOPED_TRACE(name);
    const std::string file = work.path() + "/" + name;
    write(file, fullRun(6, 1));
    tarntest::RunResult dump = tarntest::runTarn(
        {"run", root + "/examples/runfile-dump.tarn", "--no-progress", "--set", "in.file=" + file});
    EXPECT_EQ(dump.status, 0) << dump.err;
    size_t n = 0;
    for (size_t at = 0; (at = dump.out.find("Event start:", at)) != std::string::npos; ++at) ++n;
    EXPECT_EQ(n, 6u) << dump.out;
    EXPECT_NE(dump.out.find("Banks: "), std::string::npos);
    EXPECT_NE(dump.out.find("Stop()\n"), std::string::npos);

    tarntest::RunResult filter = tarntest::runTarn(
        {"run", root + "/examples/runfile-filter.tarn", "--no-progress", "--set", "in.file=" + file});
    EXPECT_EQ(filter.status, 0) << filter.err;
    EXPECT_NE(filter.out.find("Event start:"), std::string::npos) << filter.out;
  }
}

}  // namespace
