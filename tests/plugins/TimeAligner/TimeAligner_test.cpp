#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <sstream>

#include "MidasSynth.h"
#include "ModuleBanks.h"
#include "RunStatus.h"
#include "StrandEvent.h"
#include "TarnTest.h"

namespace {

using Files = std::map<std::string, std::string>;

// Standard error (fd 2) captured while alive.
class CapturedStderr {
 public:
  CapturedStderr() : file(std::tmpfile()), saved(::dup(2)) {
    std::fflush(stderr);
    ::dup2(::fileno(file), 2);
  }
  ~CapturedStderr() { text(); }
  std::string text() {
    if (saved < 0) return captured;
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    saved = -1;
    std::rewind(file);
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, file)) > 0;) captured.append(buf, n);
    std::fclose(file);
    return captured;
  }

 private:
  FILE* file;
  int saved;
  std::string captured;
};

Files filesIn(const std::string& dir) {
  Files files;
  DIR* d = ::opendir(dir.c_str());
  while (dirent* e = ::readdir(d)) {
    const std::string n = e->d_name;
    if (n == "." || n == "..") continue;
    std::ifstream f(dir + "/" + n);
    std::stringstream s;
    s << f.rdbuf();
    files[n] = s.str();
  }
  ::closedir(d);
  return files;
}

struct EndOfRun {
  std::string out, err;
  Files files;
};

// The strand event a decoder sends: one set of lists, refilled for each readout.
struct Readout {
  Readout() { announce(); }
  void announce() {
    event["Channel"] = StrandProperty(TARN_SHORT_V, StrandBinning(), &channel);
    event["Time"] = StrandProperty(TARN_UINT64_V, StrandBinning(), &time);
    event["WFTime"] = StrandProperty(TARN_UINT64_V, StrandBinning(), &wfTime);
    event["WFCFDTime"] = StrandProperty(TARN_UINT64_V, StrandBinning(), &cfdTime);
    event["Timerange"] = StrandProperty(TARN_UINT64_V, StrandBinning(), &range);
  }
  std::vector<short> channel;
  std::vector<uint64_t> time, wfTime, cfdTime, range;
  StrandEvent event;
};

class Aligner {
 public:
  explicit Aligner(bool init = true) : node("TimeAligner", "ta") {
    if (init) node->Init();
  }
  void set(const std::string& port, const std::string& text) {
    ASSERT_TRUE(node->SetInput(port, text)) << port;
  }
  void push(StrandEvent& e) { node->SetInput(0, &e); }
  // A readout of the module holding `channel`, its hit times in "Time".
  void send(int channel, uint64_t stamp, std::vector<uint64_t> hits = {}) {
    r.channel = {short(channel)};
    r.range = {stamp, stamp + 512};
    r.time = hits;
    push(r.event);
  }
  // Module m's event `d` after module o's, at stamps that make every other
  // pair's difference a one-off.
  void pair(int m, int o, int d) {
    const uint64_t s = (rng() & 0x3FFFFFFF) + 0x100000;
    send(o * 48, s);
    send(m * 48 + 5, s + d);
  }
  EndOfRun eor(const std::string& prefix) {
    tarntest::TempDir dir;
    char cwd[4096];
    EXPECT_TRUE(::getcwd(cwd, sizeof cwd) && ::chdir(dir.path().c_str()) == 0);
    EndOfRun r;
    {
      CapturedStderr err;
      tarntest::CapturedStdout out;
      set("eor", prefix);
      r.out = out.text();
      r.err = err.text();
    }
    EXPECT_EQ(::chdir(cwd), 0);
    r.files = filesIn(dir.path());
    return r;
  }
  std::string said(std::function<void()> f) {
    tarntest::CapturedStdout out;
    f();
    return out.text();
  }

  tarntest::Node node;
  Readout r;
  std::mt19937 rng{7};
};

std::string table(int reference, const std::string& lines) {
  return "# Synchronized to module " + std::to_string(reference) + "\n# Module\ttime\n" + lines;
}

TEST(TimeAligner, PortsAndMessages) {
  tarntest::CapturedStdout out;
  {
    tarntest::Node ta("TimeAligner", "ta");
    EXPECT_EQ(ta->description,
              "Compare times (timestamp or one maximum time) from different modules");
    EXPECT_TRUE(ta->outputs.empty());
    const struct {
      const char* name;
      tarn_type type;
      const char* description;
    } want[] = {{"fevent", TARN_STRANDEVENT, "From WaveDecoder"},
                {"bor", TARN_OBJECT, "bor for clearing data"},
                {"eor", TARN_STRING,
                 "Prefix for file names, input triggers writing (meant to be fed by OdbExtractor)"},
                {"modules", TARN_SHORT_V, "modules to look at (default 0 to 15)"},
                {"transitions", TARN_STRING_V,
                 "module transitions, i.e. \"(11-7) (10-6)\" to have the earliest time from mod 11 "
                 "correlated to latest in 7 and the same for 10 and 6"},
                {"write_debug", TARN_INT, "Write full difference files, not just synching table"},
                {"thres", TARN_SHORT, "Threshold for coincidences"},
                {"use_soft", TARN_SHORT, "Software values, 1 for WFTime, 2 for WFCFDTime"}};
    ASSERT_EQ(ta->inputs.size(), 8u);
    for (size_t i = 0; i < 8; ++i) {
      EXPECT_EQ(ta->inputs[i].name, want[i].name);
      EXPECT_EQ(ta->inputs[i].type, want[i].type);
      EXPECT_EQ(ta->inputs[i].description, want[i].description);
    }
    ta->Init();
  }
  EXPECT_EQ(out.text(), "ta instantiated\nta initialized.\nta deleted\n");
}

TEST(TimeAligner, ModulesFromChannelsAndTheModulesList) {
  {
    Aligner a(false);
    a.set("modules", "3 20");  // before Init: 0 to 15 are added
    a.node->Init();
    EXPECT_EQ(a.said([&] {
      a.send(20 * 48, 1000);
      a.send(7 * 48, 1000);
      a.send(21 * 48 + 47, 1000);
      a.send(16 * 48, 1000);
    }),
              "I don't like module  21\nI don't like module  16\n");
  }
  Aligner a;
  a.set("modules", "3 20");
  EXPECT_EQ(a.said([&] {
    a.send(20 * 48, 1000);
    a.send(7 * 48, 1000);
    // A negative number is no channel of module 0.
    a.send(-1, 1000);
    a.send(-49, 1000);
  }),
            "I don't like module  7\nI don't like module  -1\nI don't like module  -2\n");
  a.set("modules", "0 2");
  // 47 is module 0, 100 module 2.
  for (uint64_t s : {1000, 2000, 3000}) {
    a.send(47, s);
    a.send(100, s + 40);
  }
  EXPECT_EQ(a.eor("1").files, (Files{{"00001_reltimes.dat", table(2, "0\t40\n2\t0\n")}}));
}

TEST(TimeAligner, StampDifferencesTheThresholdAndTheFirstFoundAmongEqualCounts) {
  Aligner a;
  a.send(3 * 48, 1000);
  a.send(5 * 48, 1250);
  a.send(3 * 48, 2000);
  a.send(5 * 48, 2250);
  // Twice is not enough with the threshold of 1.
  EXPECT_EQ(a.eor("7").out, "ta: found no coincidences.\n");
  a.send(3 * 48, 3000);
  a.send(5 * 48, 3250);
  // (3, 5) had 750 only twice.
  EndOfRun r = a.eor("7");
  EXPECT_EQ(r.out, "Most connections (1) for module 5\n");
  EXPECT_EQ(r.files, (Files{{"00007_reltimes.dat", table(5, "3\t250\n5\t0\n")}}));

  // 250 three times, then 300 three times: the count is equal, 250 stays; a
  // fourth 300 takes over.
  for (int d : {250, 250, 250, 300, 300, 300}) a.pair(5, 3, d);
  EXPECT_EQ(a.eor("7").files.at("00007_reltimes.dat"), table(5, "3\t250\n5\t0\n"));
  for (int d : {250, 250, 250, 300, 300, 300, 300}) a.pair(5, 3, d);
  EXPECT_EQ(a.eor("7").files.at("00007_reltimes.dat"), table(5, "3\t300\n5\t0\n"));

  a.set("thres", "0");
  for (int d : {-40, -40}) a.pair(5, 3, d);
  EXPECT_EQ(a.eor("7").files.at("00007_reltimes.dat"), table(5, "3\t-40\n5\t0\n"));
  // "bor" forgets what was collected.
  for (int d : {-40, -40}) a.pair(5, 3, d);
  a.node->SetInput(1, &a);
  EXPECT_EQ(a.eor("7").out, "ta: found no coincidences.\n");
}

TEST(TimeAligner, CountsBeyond32767KeepTheirOffset) {
  Aligner a;
  const uint64_t rounds = 32770;
  for (uint64_t k = 1; k <= rounds; ++k) {
    a.send(3 * 48, 1000 * k);
    a.send(1 * 48, 1000 * k + 250);
  }
  for (uint64_t k = rounds + 1; k <= rounds + 3; ++k) {
    a.send(3 * 48, 1000 * k);
    a.send(1 * 48, 1000 * k + 100);
  }
  EXPECT_EQ(a.eor("9").files.at("00009_reltimes.dat"), table(1, "1\t0\n3\t250\n"));
}

TEST(TimeAligner, TransitionsSyntax) {
  Aligner a;
  const std::string error =
      "ta: Syntax error in transitions string (excess spaces? missing '-' or '+'?)\n";
  for (const char* bad :
       {"11-7)", "(11-7", "(-7)", "(+7)", "(1+)x", "(117)", "", "(70000-7)", "(11--40000)"}) {
    SCOPED_TRACE(bad);
    std::vector<std::string> list = {"(3-5)", bad, "(6+8)"};
    EXPECT_EQ(a.said([&] { a.node->SetInput(4, &list); }), error);
  }
  // None of the transitions before the error stays: stamps are compared, and
  // hit times of 10000 and more are no reason to drop an event.
  for (uint64_t s : {1000, 2000, 3000}) {
    a.send(5 * 48, s, {20000});
    a.send(3 * 48, s + 70, {20000});
  }
  EXPECT_EQ(a.eor("1").files.at("00001_reltimes.dat"), table(3, "3\t0\n5\t70\n"));
}

TEST(TimeAligner, DifferencesThroughTransitionsAndWonkyEvents) {
  Aligner a;
  a.set("transitions", "(11-7) (10+6)");
  a.set("write_debug", "65536");  // any non-zero number
  for (uint64_t s : {100000, 200000, 300000}) {
    a.send(7 * 48, s, {5, 40, 3});                // latest 7: s + 40
    a.send(11 * 48, s + 100, {20, 9000, 12000});  // earliest 11: s + 120
    a.send(2 * 48, s + 300);                      // no transition: stamps
    a.send(6 * 48, s + 500, {17, 11});            // earliest 6: s + 511
    a.send(10 * 48, s + 600, {30});               // earliest 10: s + 630
    // Wonky, and forgotten: no usable earliest or latest time, or no stamp.
    a.send(11 * 48, s + 700, {10000, 20000});
    a.send(7 * 48, s + 700, {});
    a.send(6 * 48, s + 700, {10000});
    a.r.range.clear();
    a.push(a.r.event);
  }
  EndOfRun r = a.eor("123");
  // Offsets for the pairs whose second module came earlier in the round (three
  // times); the last module of the round, 10, has the most.
  EXPECT_EQ(r.out,
            "Most connections (4) for module 10\n\"Real\" coincidences found for:\n"
            "2\t7\n2\t11\n6\t2\n6\t7\n6\t11\n10\t2\n10\t6\n10\t7\n10\t11\n11\t7\n"
            "12 wonky events (Empty time vectors and such, probably noise.)\n");
  // 11 against 7: earliest 11 - latest 7 = 80; 7 against 11 (from the second
  // round on): earliest 11 of the round before - latest 7 = -99920.
  EXPECT_EQ(r.files.at("00123_diff_11_07.dat"), "80\t3\n");
  EXPECT_EQ(r.files.at("00123_diff_07_11.dat"), "-99920\t2\n");
  // 10 and 6 by their earliest times: 630 - 511; 6 against the 10 before.
  EXPECT_EQ(r.files.at("00123_diff_10_06.dat"), "119\t3\n");
  EXPECT_EQ(r.files.at("00123_diff_06_10.dat"), "99881\t2\n");
  // Other pairs by stamps: 11 after 2 of the round before.
  EXPECT_EQ(r.files.at("00123_diff_11_02.dat"), "99800\t2\n");
  EXPECT_EQ(r.files.at("00123_diff_02_11.dat"), "200\t3\n");
  // From 10: 2 300, 6 119, 7 600, 11 500, then averaged along 2 (7 600, 11
  // 500), 6 (2 309, 7 609, 11 509), 10 (2 304, 6 119, 7 604, 11 504), 11 (7 594).
  EXPECT_EQ(r.files.at("00123_reltimes.dat"),
            table(10, "2\t304\n6\t119\n7\t594\n10\t0\n11\t504\n"));
  EXPECT_EQ(r.files.size(), 21u);
}

TEST(TimeAligner, UseSoftChoosesTheTimeListWhenTheListsAreLookedUpAgain) {
  Aligner a;
  a.set("transitions", "(1+2)");
  auto round = [&](uint64_t s) {
    for (int module : {2, 1}) {
      a.r.channel = {short(module * 48)};
      a.r.range = {s};
      a.r.time = {uint64_t(10 * module)};
      a.r.wfTime = {uint64_t(100 * module)};
      a.r.cfdTime = {uint64_t(1000 * module)};
      a.push(a.r.event);
    }
  };
  // Module 1's earliest time less module 2's: minus the time of module 1's
  // hit. The same event keeps the list found before until it announces its
  // layout: four rounds with that list, then three with the new one, so the
  // table shows the list chosen by the setting before (the first lookup is
  // at the first event).
  const struct {
    int soft;
    const char* second;
  } steps[] = {{2, "-1000"}, {0, "-1000"}, {1, "-10"}, {3, "-100"}, {3, "-10"}};
  for (const auto& step : steps) {
    SCOPED_TRACE(step.soft);
    a.set("use_soft", std::to_string(step.soft));
    for (uint64_t s : {1000, 2000, 3000, 4000}) round(s);
    a.r.event.layout = true;
    a.push(a.r.event);
    a.r.event.layout = false;
    for (uint64_t s : {5000, 6000, 7000}) round(s);
    EXPECT_EQ(a.eor("1").files.at("00001_reltimes.dat"),
              table(1, std::string("1\t0\n2\t") + step.second + "\n"));
  }
}

TEST(TimeAligner, EventsWithoutUsableListsAreIgnored) {
  Aligner a;
  a.set("write_debug", "1");
  StrandEvent bare;
  bare.layout = true;  // announced before its properties are registered
  a.push(bare);
  bare.layout = false;
  std::vector<short> channel;
  std::vector<int> wrong{96};
  std::vector<uint64_t> range{1000};
  a.push(bare);
  bare["Timerange"] = StrandProperty(TARN_UINT64_V, StrandBinning(), &range);
  bare["Channel"] = StrandProperty(TARN_INT_V, StrandBinning(), &wrong);
  a.push(bare);
  bare["Channel"] = StrandProperty(TARN_SHORT_V, StrandBinning(), nullptr);
  a.push(bare);
  EXPECT_EQ(bare.size(), 2u);  // nothing added to the sender's event
  // Found once it is there, without a new announcement.
  bare["Channel"] = StrandProperty(TARN_SHORT_V, StrandBinning(), &channel);
  for (uint64_t s : {1000, 2000, 3000}) {
    channel = {96};
    range = {s};
    a.push(bare);
    channel = {48};
    range = {s + 7};
    a.push(bare);
  }
  // Module 1 now needs hit times, and the event has no list of them.
  a.set("transitions", "(1-2)");
  a.push(bare);
  EXPECT_EQ(a.eor("1").out,
            "Most connections (1) for module 1\n\"Real\" coincidences found for:\n1\t2\n"
            "1 wonky events (Empty time vectors and such, probably noise.)\n");

  // A layout announcement is no readout: (1, 2) has 993 twice, not four times.
  a.set("write_debug", "0");
  a.set("transitions", "");
  for (uint64_t s : {1000, 2000, 3000}) {
    a.r.channel = {short(48)};
    a.r.range = {s};
    a.r.event.layout = true;
    a.push(a.r.event);
    a.r.event.layout = false;
    a.push(a.r.event);
    a.send(96, s + 7);
  }
  EXPECT_EQ(a.eor("1").out, "Most connections (1) for module 2\n");
}

TEST(TimeAligner, ReferenceModuleAndChainingOfOffsets) {
  struct Case {
    std::vector<std::array<int, 3>> pairs;  // m, o, offset
    std::string out, table;
  } cases[] = {
      {{{2, 1, 10}, {2, 3, 20}, {3, 4, 5}, {1, 2, -10}},
       "Most connections (2) for module 2\n",
       table(2, "1\t10\n2\t0\n3\t20\n4\t25\n")},
      // 4 is reached from 2 (-30) and through 3 (-20 - 5): the mean, truncated toward 0.
      {{{2, 1, 10}, {2, 3, -20}, {2, 4, -30}, {3, 4, -5}, {1, 2, -10}},
       "Most connections (3) for module 2\n",
       table(2, "1\t10\n2\t0\n3\t-20\n4\t-27\n")},
      // Equally many: the lowest module. (3, 5) and (5, 3) do not agree; the
      // row of the reference wins.
      {{{5, 3, 250}, {3, 5, -240}},
       "Most connections (1) for module 3\n",
       table(3, "3\t0\n5\t-240\n")},
      // 6 reaches 1 and 2, below it: they are not visited while chaining, so
      // 8 keeps 1; 7 is found from them afterwards, the last one (2) wins; 9
      // is reached by no one.
      {{{5, 6, 3},
        {5, 8, 1},
        {5, 10, -4},
        {6, 1, 4},
        {6, 2, 6},
        {1, 7, 2},
        {1, 8, 10},
        {2, 7, 20},
        {9, 5, 1}},
       "Most connections (3) for module 5\n",
       table(5, "1\t7\n2\t9\n5\t0\n6\t3\n7\t29\n8\t1\n10\t-4\n")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.out);
    Aligner a;
    for (int k = 0; k < 3; ++k)
      for (const auto& p : c.pairs) a.pair(p[0], p[1], p[2]);
    EndOfRun r = a.eor("42");
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.files, (Files{{"00042_reltimes.dat", c.table}}));
  }
}

TEST(TimeAligner, FileNamesDifferenceFilesAndTheLaterEndOfRun) {
  Aligner a;
  a.set("modules", "7 11 2");  // empty histograms for every pair of these
  a.set("write_debug", "1");
  uint64_t base = 0;
  for (int x : {250, 250, 250, 250, 250, 250, 250, 250, 250, -3, -3}) {
    base += 10000;
    a.send(7 * 48, base);
    a.send(11 * 48, base + x);
  }
  EndOfRun r = a.eor("123");
  EXPECT_EQ(r.out,
            "Most connections (1) for module 7\n\"Real\" coincidences found for:\n7\t11\n11\t7\n"
            "0 wonky events (Empty time vectors and such, probably noise.)\n");
  EXPECT_EQ(r.files, (Files{{"00123_diff_02_07.dat", ""},
                            {"00123_diff_02_11.dat", ""},
                            {"00123_diff_07_02.dat", ""},
                            {"00123_diff_07_11.dat", "9750\t9\n10003\t1\n"},
                            {"00123_diff_11_02.dat", ""},
                            {"00123_diff_11_07.dat", "-3\t2\n250\t9\n"},
                            {"00123_reltimes.dat", table(7, "7\t0\n11\t9750\n")}}));
  // Nothing new: nothing written, and the histograms are gone.
  r = a.eor("123456");
  EXPECT_EQ(r.out, "ta: found no coincidences.\n");
  EXPECT_TRUE(r.files.empty());
  for (int k = 0; k < 3; ++k) a.pair(11, 7, 5);
  r = a.eor("123456");
  EXPECT_EQ(r.files.size(), 3u);
  EXPECT_EQ(r.files.at("123456_diff_11_07.dat"), "5\t3\n");
  EXPECT_EQ(r.files.at("123456_reltimes.dat"), table(11, "7\t5\n11\t0\n"));
}

TEST(TimeAligner, AFileThatCannotBeCreatedIsNamedOnStandardError) {
  Aligner a;
  a.set("write_debug", "1");
  for (int k = 0; k < 3; ++k) a.pair(5, 3, 250);
  const unsigned failuresBefore = tarn_run_failures();
  EndOfRun r = a.eor("missing/7");
  EXPECT_EQ(tarn_run_failures(), failuresBefore + 3);  // found by the host it runs in
  EXPECT_EQ(r.out,
            "Most connections (1) for module 5\n\"Real\" coincidences found for:\n5\t3\n"
            "0 wonky events (Empty time vectors and such, probably noise.)\n");
  EXPECT_EQ(r.err,
            "ta: cannot write missing/7_diff_03_05.dat: No such file or directory\n"
            "ta: cannot write missing/7_diff_05_03.dat: No such file or directory\n"
            "ta: cannot write missing/7_reltimes.dat: No such file or directory\n");
  EXPECT_TRUE(r.files.empty());
}

// A node whose output changes type, as a value read from the ODB does.
class Source : public TarnBase {
 public:
  Source() : TarnBase(nullptr, "source") { outputs.push_back(Output("value", TARN_STRING, "")); }
  template <class T>
  void send(tarn_type type, T value) {
    if (outputs[0].type != type) {
      outputs[0].type = type;
      RefreshReceivers(0);
    }
    SendOutput(0, &value);
  }
};

TEST(TimeAligner, ThePrefixMayComeAsAnIntegerButNeverAsAnotherType) {
  Aligner a;
  Source source;
  ASSERT_TRUE(source.AddReceiver(0, a.node.get(), 2));
  tarntest::TempDir dir;
  char cwd[4096];
  ASSERT_TRUE(::getcwd(cwd, sizeof cwd) && ::chdir(dir.path().c_str()) == 0);
  std::string err;
  {
    tarntest::CapturedStdout quiet;
    CapturedStderr captured;
    for (int k = 0; k < 3; ++k) a.pair(5, 3, 250);
    source.send(TARN_FLOAT, 42.0f);
    source.send(TARN_INT, 42);
    for (int k = 0; k < 3; ++k) a.pair(5, 3, 250);
    source.send(TARN_STRING, std::string("run7"));
    for (int k = 0; k < 3; ++k) a.pair(5, 3, 250);
    source.send(TARN_UINT64, uint64_t(1234567));
    err = captured.text();
  }
  ASSERT_EQ(::chdir(cwd), 0);
  EXPECT_EQ(err,
            "ta: \"eor\" takes a file-name prefix (a text or an integer), not a value of "
            "type float; nothing written\n");
  const Files files = filesIn(dir.path());
  EXPECT_EQ(files.size(), 3u);
  for (const char* f : {"00042_reltimes.dat", "0run7_reltimes.dat", "1234567_reltimes.dat"})
    EXPECT_EQ(files.count(f), 1u) << f;
}

}  // namespace

namespace {

TEST(TimeAlignerGraph, TheExampleGraphRecoversTheModuleClockOffsets) {
  tarntest::TempDir dir;
  synth::RunSpec spec;
  spec.run = 42;
  spec.events = 200;
  spec.vf48Modules = 4;
  const std::string file = dir.path() + "/run.mid";
  std::string error;
  ASSERT_TRUE(synth::writeRun(file, synth::makeRun(spec), false, synth::Damage::None, error))
      << error;
  char cwd[4096];
  ASSERT_TRUE(::getcwd(cwd, sizeof cwd) && ::chdir(dir.path().c_str()) == 0);
  tarntest::RunResult r = tarntest::runTarn({"run", TARN_SOURCE_DIR "/examples/timealigner.tarn",
                                             "--no-progress", "--set", "in.file=" + file});
  ASSERT_EQ(::chdir(cwd), 0);
  ASSERT_EQ(r.status, 0) << r.err;
  // The module read last meets every other one in each trigger.
  const uint32_t reference = spec.vf48Modules - 1;
  EXPECT_NE(r.out.find("Most connections (3) for module 3\n"), std::string::npos) << r.out;
  std::string lines;
  for (uint32_t m = 0; m < spec.vf48Modules; ++m)
    lines += std::to_string(m) + "\t" +
             std::to_string(synth::vf48ClockOffset(reference) - synth::vf48ClockOffset(m)) + "\n";
  EXPECT_EQ(filesIn(dir.path()).at("00042_reltimes.dat"), table(int(reference), lines));
}

}  // namespace
