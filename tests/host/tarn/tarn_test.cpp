// The runner as a user meets it: commands, graph errors, runs and Ctrl-C.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <regex>
#include <sstream>

#include "TarnTest.h"

namespace {

using tarntest::namesIn;
using tarntest::runTarn;

TEST(TarnCommand, HelpVersionAndUsage) {
  auto help = runTarn({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("usage: tarn"), std::string::npos);
  EXPECT_NE(help.out.find("TARN_PLUGIN_PATH"), std::string::npos);
  auto version = runTarn({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("tarn ", 0), 0u);
  auto none = runTarn({});
  EXPECT_EQ(none.status, 2);
  EXPECT_TRUE(none.out.empty());
  EXPECT_NE(none.err.find("usage:"), std::string::npos);
  EXPECT_EQ(runTarn({"run", "--bogus", "x"}).status, 2);
  EXPECT_EQ(runTarn({"inspect"}).status, 2);
  // Each subcommand explains itself, and an option's value may follow '='.
  for (const char* sub : {"run", "inspect", "list", "odb", "dump", "batch"}) {
    auto own = runTarn({sub, "--help"});
    EXPECT_EQ(own.status, 0) << sub << ": " << own.err;
    EXPECT_EQ(own.out.rfind("usage: tarn", 0), 0u) << sub << ": " << own.out;
  }
  auto serve = runTarn({"run", "--serve"});
  EXPECT_EQ(serve.status, 2);
  EXPECT_EQ(serve.err.rfind("tarn: --serve needs [HOST:]PORT\n", 0), 0u) << serve.err;
  auto unset = runTarn({"run", "--linger", "--serve=127.0.0.1:0"});
  EXPECT_EQ(unset.err.rfind("tarn: no graph file\n", 0), 0u) << unset.err;
}

TEST(TarnCommand, InspectShowsDescriptionAndPorts) {
  auto r = runTarn({"inspect", "Probe"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.find("instantiated"), std::string::npos);
  EXPECT_NE(r.out.find("Type:         Probe\n"), std::string::npos);
  EXPECT_NE(r.out.find("Description:  Report every arriving value (tests only)\n"),
            std::string::npos);
  EXPECT_NE(r.out.find("  #3  list     21 vector<int>     int list\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Outputs:\n  #0  echo        7 int  what arrived on 'int'\n"),
            std::string::npos)
      << r.out;

  auto printer = runTarn({"inspect", "StrandPrinter"});
  EXPECT_EQ(printer.status, 0);
  EXPECT_NE(printer.out.find("#0  fevent  100 StrandEvent  StrandEvent to print"), std::string::npos)
      << printer.out;
  EXPECT_NE(printer.out.find("Outputs:\n  none\n"), std::string::npos);

  auto missing = runTarn({"inspect", "NoSuchThing"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.err.find("NoSuchThing.tnp"), std::string::npos);
}

TEST(TarnCommand, ListShowsModulesByDirectory) {
  auto r = runTarn({"list"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.find("instantiated"), std::string::npos);
  EXPECT_NE(r.out.find("test-plugins:\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Probe "), std::string::npos);
  EXPECT_NE(r.out.find("StrandPrinter "), std::string::npos);
  EXPECT_NE(r.out.find("Broken "), std::string::npos);  // listed with its load error
  EXPECT_NE(r.out.find("newObject"), std::string::npos);
}

TEST(TarnRun, RunsAGraphWithStdoutOnlyFromPlugins) {
  tarntest::TempDir dir;
  std::string g = dir.write("g.tarn",
                            "# generator to printer\n"
                            "node gen StrandEventGenerator\n"
                            "node show StrandPrinter\n"
                            "set gen.steps 2\n"
                            "connect gen.fevent show.fevent\n"
                            "start gen\n");
  auto r = runTarn({"run", g});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "Ramp:\tvector<int>\nSerial:\tuint32\nWeight:\tdouble\n\n"
            "Ramp:\t   0 \nSerial:\t1\nWeight:\t1\n\n"
            "Ramp:\t   0    2 \nSerial:\t2\nWeight:\t0.5\n\n");
  EXPECT_EQ(r.err, "");
  auto same = runTarn({g, "--set", "gen.steps=1"});  // `run` may be left out
  EXPECT_EQ(same.status, 0);
  EXPECT_EQ(same.out.find("Serial:\t2"), std::string::npos);
}

struct BadGraph {
  const char* text;
  const char* message;
};

TEST(TarnRun, EachKindOfGraphErrorGivesFileLineAndStatusTwo) {
  const BadGraph cases[] = {
      {"node a Probe\nfrobnicate a\n", ":2: unknown statement 'frobnicate'"},
      {"node a Probe\nset b.int 1\n", ":2: no node 'b'"},
      {"node a NoSuchType\n", ":1: no plug-in 'NoSuchType' (looked for NoSuchType.tnp in "},
      {"node a Broken\n", ":1: cannot load "},
      {"node a Probe\n\nset a.nope 1\n", ":3: node 'a' (Probe) has no input 'nope'"},
      {"node a Probe\nset a.int 1.5\n", ":2: cannot set a.int: '1.5' is not a valid int value"},
      {"node a Probe\nnode s StrandPrinter\nconnect a.echo s.fevent\n",
       ":3: cannot connect a.echo (int) to s.fevent (StrandEvent): types differ"},
      {"node a Probe\nconnect a.nope a.int\n", ":2: node 'a' (Probe) has no output 'nope'"},
  };
  for (const BadGraph& c : cases) {
    tarntest::TempDir dir;
    std::string g = dir.write("bad.tarn", c.text);
    auto r = runTarn({"run", g});
    EXPECT_EQ(r.status, 2) << c.text;
    EXPECT_EQ(r.err.rfind(g + c.message, 0), 0u) << "stderr: " << r.err;
  }
  auto missing = runTarn({"run", "/no/such/graph.tarn"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.err.find("cannot read /no/such/graph.tarn"), std::string::npos);
}

TEST(TarnRun, SyntaxErrorsAreFoundBeforeAnythingIsMade) {
  tarntest::TempDir dir;
  std::string g = dir.write("bad.tarn", "node a Probe\nnode b Probe\nconnect a.echo\n");
  auto r = runTarn({"run", g});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");  // no " instantiated": nothing was constructed
}

TEST(TarnRun, PortErrorsStillDestroyWhatWasMade) {
  tarntest::TempDir dir;
  std::string g = dir.write("bad.tarn", "node a Probe\nnode b Probe\nset b.nope 1\n");
  auto r = runTarn({"run", g});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "a instantiated\nb instantiated\nb deleted\na deleted\n");
}

TEST(TarnRun, CtrlCStopsTheRunningSourceAndDestructorsRun) {
  tarntest::TempDir dir;
  std::string g = dir.write("endless.tarn",
                            "node gen StrandEventGenerator\n"
                            "node v ValuePrinter\n"
                            "node p Probe\n"
                            "set gen.steps 0\n"
                            "set gen.interval 0.002\n"
                            "connect gen.serial v.value\n"
                            "start gen\n");
  auto r = runTarn({"run", g}, 400);
  EXPECT_EQ(r.status, 130) << r.err;
  EXPECT_NE(r.err.find("interrupted"), std::string::npos);
  EXPECT_EQ(r.out.rfind("p instantiated\np initialized.\n1\n2\n3\n", 0), 0u) << r.out;
  EXPECT_EQ(r.out.size() - r.out.rfind("p deleted\n"), 10u);  // the last line, printed on the way out
}

TEST(TarnRun, ProgressLineOnRequest) {
  tarntest::TempDir dir;
  std::string g = dir.write("slow.tarn",
                            "node gen StrandEventGenerator\n"
                            "set gen.steps 40\n"
                            "set gen.interval 0.02\n"
                            "start gen\n");
  auto r = runTarn({"run", "--progress", g});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("gen: "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(" events/s"), std::string::npos);
  EXPECT_EQ(r.err.substr(r.err.size() - 4), "\r\033[K");  // cleared at the end
  auto quiet = runTarn({"run", g});  // stderr is no terminal here
  EXPECT_EQ(quiet.err, "");
}

// The progress line reads the source from a thread of its own. A sink made
// before the source is destroyed after it, and here slowly: that thread goes
// on ticking meanwhile and must not reach the destroyed source (ASan tells:
// heap-use-after-free).
TEST(TarnRun, TheProgressLineLetsGoOfASourceThatHasEnded) {
  tarntest::TempDir dir;
  std::string g = dir.write("slow-end.tarn",
                            "node sink SlowSink\n"
                            "set sink.linger 700\n"
                            "node gen StrandEventGenerator\n"
                            "set gen.steps 4\n"
                            "set gen.interval 0.1\n"  // long enough for the thread to see it run
                            "start gen\n");
  auto r = runTarn({"run", "--progress", g});
  EXPECT_EQ(r.status, 0) << r.err;
}

// A graph of a source that runs until stopped, writing spectra and an HDF5 file into `dir`.
std::string endlessAnalysis(const tarntest::TempDir& dir) {
  return dir.write("endless.tarn",
                   "node gen StrandEventGenerator\n"
                   "node hist Histogrammer\n"
                   "node h5 Hdf5Writer\n"
                   "set gen.steps 0\n"
                   "set gen.interval 0.002\n"
                   "set hist.properties Serial\n"
                   "set hist.prefix " + dir.path() + "/s\n"
                   "set h5.file " + dir.path() + "/s.h5\n"
                   "connect gen.fevent hist.fevent\n"
                   "connect gen.fevent h5.fevent\n"
                   "start gen\n");
}

TEST(TarnRun, SigtermStopsTheRunAsCtrlCDoesAndTheResultsAreWritten) {
  tarntest::TempDir dir;
  auto r = runTarn({"run", endlessAnalysis(dir)}, 400, -1, SIGTERM);
  EXPECT_EQ(r.status, 143) << r.err;
  EXPECT_NE(r.err.find("terminated, stopping the run"), std::string::npos) << r.err;
  EXPECT_EQ(namesIn(dir.path()), (std::set<std::string>{"endless.tarn", "s.h5", "s_Serial.csv", "s_Serial.png"}));
  EXPECT_NE(r.out.find("hist: " + dir.path() + "/s_Serial.csv, .png: "), std::string::npos) << r.out;
}

TEST(TarnRun, AKilledRunLeavesNoFileUnderAResultsName) {
  tarntest::TempDir dir;
  auto r = runTarn({"run", endlessAnalysis(dir)}, 400, -1, SIGKILL);
  EXPECT_EQ(r.status, 128 + SIGKILL);
  for (const std::string& name : namesIn(dir.path())) {
    if (name == "endless.tarn") continue;
    EXPECT_TRUE(name[0] == '.' && name.size() > 4 && name.substr(name.size() - 4) == ".tmp") << name;
  }
}

}  // namespace

namespace {

std::string synthRun(const tarntest::TempDir& dir, const std::string& name, const std::string& options) {
  const std::string path = dir.path() + "/" + name;
  const std::string cmd = std::string(MIDAS_SYNTH_BINARY) + " " + options + " '" + path + "'";
  EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
  return path;
}

}  // namespace

// Each way a run ends without doing its work: its status, and a line on
// stderr that says why, whatever the plug-ins printed on stdout.
TEST(TarnRun, EveryFailedRunSaysWhyOnStderr) {
  tarntest::TempDir dir;
  const std::string run = synthRun(dir, "run.mid", "--events 3");
  const std::string source = "node in RunFile\nnode h5 Hdf5Writer\nset h5.file " + dir.path() + "/r.h5\n";
  const std::string reads = dir.write("reads.tarn", source + "set in.file " + run + "\nstart in\n");
  const std::string unset = dir.write("unset.tarn", source + "start in\n");
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string err;
  } cases[] = {
      {{reads}, 0, ""},
      // The graph's own file opened, but the one asked for last is not there.
      {{reads, "-s", "in.file=" + dir.path() + "/run9.mid"}, 1,
       "tarn: in: no run file opened: " + dir.path() + "/run9.mid not found\n"},
      {{reads, "-s", "in.file=" + dir.path()}, 1,
       "tarn: in: no run file opened: " + dir.path() + " is a directory\n"},
      {{unset}, 1, "tarn: in: no run file opened: no file set\n"},
      {{dir.write("idle.tarn", source)}, 2, "starts no node"},
      {{dir.write("sink.tarn", source + "start h5\n")}, 2, "sink.tarn:4: h5 (Hdf5Writer) is no source"},
      {{reads, "-s", "h5.compression=tiny"}, 2, "tarn: --set h5.compression=tiny: cannot set"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"run"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    auto r = runTarn(args);
    EXPECT_EQ(r.status, c.status) << c.args.back() << "\n" << r.err;
    if (c.err.empty()) {
      EXPECT_EQ(r.err, "");
    } else {
      EXPECT_NE(r.err.find(c.err), std::string::npos) << c.args.back() << "\n" << r.err;
    }
    if (c.status == 2) {
      EXPECT_EQ(r.out.find("Running:"), std::string::npos);  // nothing ran
    }
  }
}

// The sample run goes through every module unpacker without a warning; asked
// for noise, the same unpackers warn (so a warning would be seen).
TEST(TarnRun, TheSynthesisedModulesUnpackWithoutWarnings) {
  tarntest::TempDir dir;
  const std::string graph =
      "node in RunFile\nnode cu CompositeUnpacker\nnode tdc V1190Unpacker\nnode adc V785Unpacker\n"
      "node io Io32Unpacker\nnode madc Mdi2Unpacker\nnode sis Sis3320Unpacker\n"
      "set tdc.bank TDC0\nset adc.bank ADC0\nset io.bank IO32\nset madc.bank MADC\n"
      "connect in.event cu.event\nconnect in.event tdc.event\nconnect in.event adc.event\n"
      "connect in.event io.event\nconnect in.event madc.event\nconnect in.event sis.event\nstart in\n";
  const std::string g = dir.write("all.tarn", graph);
  const std::regex quiet("[a-z]+ (instantiated|initialized\\.|deleted)|in: RunFile \".*\" opened\\.|"
                         "in: Running: .*|Stop\\(\\)");
  for (const char* noise : {"", "--noise 0.5"}) {
    const std::string run = synthRun(dir, "run.mid.gz", std::string("--modules --events 3000 ") + noise);
    auto r = runTarn({"run", g, "-s", "in.file=" + run});
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream lines(r.out);
    size_t warnings = 0;
    for (std::string line; std::getline(lines, line);)
      if (!std::regex_match(line, quiet)) ++warnings;
    if (*noise) EXPECT_GT(warnings, 100u);
    else EXPECT_EQ(warnings, 0u) << r.out.substr(0, 2000);
  }
}

// The progress line of a run file tells its run number, the file and how far it is read.
TEST(TarnRun, ProgressShowsTheRunFileAndHowFarItIsRead) {
  tarntest::TempDir dir;
  const std::string run = synthRun(dir, "run00007.mid.gz", "--modules --run 7 --events 400");
  const std::string g = dir.write("read.tarn", "node in RunFile\nset in.interval 0.002\nset in.file " + run + "\nstart in\n");
  auto r = runTarn({"run", "--progress", g});
  EXPECT_EQ(r.status, 0) << r.err;
  const std::regex line("in: [0-9]+ events, [0-9.]+ s, [0-9]+ events/s, run 7 \\(" + run + "\\), [0-9]+%");
  EXPECT_TRUE(std::regex_search(r.err, line)) << r.err;
}

// On a terminal a warning of every event shows once as it comes and once at
// the end with its count, instead of scrolling everything else away.
TEST(TarnRun, ATerminalShowsARepeatedLineOnceAndItsCount) {
  tarntest::TempDir dir;
  const std::string run = synthRun(dir, "noisy.mid", "--modules --noise 1 --events 400");
  const std::string g = dir.write("t.tarn", "node in RunFile\nnode cu CompositeUnpacker\nset in.file " + run +
                                                "\nconnect in.event cu.event\nstart in\n");
  int master = -1, slave = -1;
  ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  const int err = ::open("/dev/null", O_WRONLY);
  const pid_t pid = tarntest::startTarn({"run", g}, slave, err);
  ::close(slave);
  ::close(err);
  std::string out;
  char buffer[4096];
  for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;) out.append(buffer, size_t(n));
  ::close(master);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  size_t shown = 0;
  for (size_t at = out.find("Not valid datum"); at != std::string::npos; at = out.find("Not valid datum", at + 1))
    ++shown;
  EXPECT_EQ(shown, 2u) << out.substr(0, 3000);
  EXPECT_TRUE(std::regex_search(out, std::regex("Not valid datum\r?\n\\.\\.\\. and [1-9][0-9,]* more like it"))) << out;
}
