// The command-line tool: its files must be those of the library for the same
// options, and bad arguments or unwritable outputs must say so by exit code.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>

#include "MidasSynth.h"
#include "SynthFiles.h"
#include "TarnTest.h"

using namespace synthtest;

namespace {

struct Result {
  int status;
  std::string out;
  std::string err;
};

std::string slurp(const std::string& path) {
  const Bytes b = readFile(path);
  return std::string(b.begin(), b.end());
}

Result synthTool(const tarntest::TempDir& dir, const std::vector<std::string>& args) {
  std::string cmd = "'" MIDAS_SYNTH_BINARY "'";
  for (const std::string& a : args) cmd += " '" + a + "'";
  cmd += " >'" + dir.path() + "/stdout' 2>'" + dir.path() + "/stderr'";
  const int rc = std::system(cmd.c_str());
  return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, slurp(dir.path() + "/stdout"),
          slurp(dir.path() + "/stderr")};
}

Bytes library(const synth::RunSpec& spec, synth::Damage damage, const std::string& path) {
  std::string error;
  EXPECT_TRUE(synth::writeRun(path, synth::makeRun(spec), spec.swapped, damage, error)) << error;
  return readFile(path);
}

bool exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace

TEST(SynthCli, WritesWhatTheLibraryWrites) {
  tarntest::TempDir dir;
  synth::RunSpec spec;
  spec.events = 25;
  spec.run = 7;
  spec.seed = 3;
  spec.bank32 = true;
  spec.swapped = true;
  const Bytes want = library(spec, synth::Damage::None, dir.path() + "/lib.mid");
  const std::vector<std::string> opts = {"--events", "25", "--run", "7", "--seed", "3", "--bank32",
                                         "--swapped"};

  std::vector<std::string> args = opts;
  args.push_back(dir.path() + "/cli.mid");
  Result r = synthTool(dir, args);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(readFile(dir.path() + "/cli.mid"), want);
  const std::string joined = dir.path() + "/joined.mid";  // --opt=value as well
  ASSERT_EQ(synthTool(dir, {"--events=25", "--run=7", "--seed=3", "--bank32", "--swapped", joined}).status, 0);
  EXPECT_EQ(readFile(joined), want);

  args.back() = dir.path() + "/cli.mid.gz";
  ASSERT_EQ(synthTool(dir, args).status, 0);
  EXPECT_EQ(gunzip(dir.path() + "/cli.mid.gz"), want);
  const Bytes first = readFile(dir.path() + "/cli.mid.gz");
  ASSERT_EQ(synthTool(dir, args).status, 0);
  EXPECT_EQ(readFile(dir.path() + "/cli.mid.gz"), first);

  // Defaults: 10 events of run 1, seed 1, 16-bit headers, host order.
  ASSERT_EQ(synthTool(dir, {dir.path() + "/default.mid"}).status, 0);
  EXPECT_EQ(readFile(dir.path() + "/default.mid"),
            library(synth::RunSpec{}, synth::Damage::None, dir.path() + "/libdefault.mid"));
}

// Each form as its own tool reads it, in one member or in many: the tool's
// output is the plain run, and the members are really there.
TEST(SynthCli, EachCompressedFormIsWhatItsToolDecodes) {
  tarntest::TempDir dir;
  const std::vector<std::string> opts = {"--events", "300", "--modules"};
  std::vector<std::string> args = opts;
  args.push_back(dir.path() + "/plain.mid");
  ASSERT_EQ(synthTool(dir, args).status, 0);
  const std::string plain = slurp(dir.path() + "/plain.mid");
  const std::pair<const char*, const char*> forms[] = {
      {".gz", "gzip"}, {".lz4", "lz4"}, {".bz2", "bzip2"}, {".zst", "zstd"}};
  for (const auto& [ending, tool] : forms) {
    size_t oneMember = 0;
    for (const char* member : {"", "7000"}) {
      SCOPED_TRACE(std::string(ending) + " members of " + (*member ? member : "the whole run"));
      std::vector<std::string> a = opts;
      if (*member) a.insert(a.end(), {"--compress-member-size", member});
      const std::string out = dir.path() + "/run.mid" + ending;
      a.push_back(out);
      const Result r = synthTool(dir, a);
      ASSERT_EQ(r.status, 0) << r.err;
      const std::string command = std::string(tool) + " -dc '" + out + "' >'" + dir.path() + "/decoded' 2>/dev/null";
      if (std::system(("command -v " + std::string(tool) + " >/dev/null").c_str()) != 0)
        GTEST_SKIP() << tool << " is not installed";
      ASSERT_EQ(std::system(command.c_str()), 0);
      EXPECT_TRUE(slurp(dir.path() + "/decoded") == plain);
      const size_t size = slurp(out).size();
      if (!*member) oneMember = size;
      else EXPECT_GT(size, oneMember + plain.size() / 7000 * 8);  // each member has its own header
    }
  }
  EXPECT_NE(synthTool(dir, {"--compress-member-size", "0", dir.path() + "/x.mid.gz"}).status, 0);
}

TEST(SynthCli, DamageKinds) {
  tarntest::TempDir dir;
  synth::RunSpec spec;
  spec.events = 4;
  const std::pair<const char*, synth::Damage> kinds[] = {
      {"truncated-header", synth::Damage::TruncatedHeader},
      {"truncated-data", synth::Damage::TruncatedData},
      {"zero-size", synth::Damage::ZeroSize},
      {"oversize", synth::Damage::OversizeData}};
  for (const auto& [name, damage] : kinds) {
    const std::string out = dir.path() + "/" + name + ".mid";
    const Result r = synthTool(dir, {"--events", "4", "--damage", name, out});
    ASSERT_EQ(r.status, 0) << name << ": " << r.err;
    EXPECT_EQ(readFile(out), library(spec, damage, dir.path() + "/lib.mid")) << name;
  }
}

TEST(SynthCli, DescribeListsEveryEvent) {
  tarntest::TempDir dir;
  const Result r = synthTool(dir, {"--events", "3", "--run", "12", "--describe", dir.path() + "/d.mid"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::istringstream lines(r.out);
  std::vector<std::string> got;
  for (std::string line; std::getline(lines, line);) got.push_back(line);
  ASSERT_EQ(got.size(), 5u) << r.out;
  EXPECT_EQ(got[0].rfind("id 0x8000 mask 0x0000 serial 12 ", 0), 0u) << got[0];
  EXPECT_NE(got[0].find("odb-xml"), std::string::npos);
  EXPECT_EQ(got[2].rfind("id 0x0002 mask 0x0002 serial 1 ", 0), 0u) << got[2];
  EXPECT_NE(got[2].find(" PAD5:1:5"), std::string::npos) << got[2];
  EXPECT_EQ(got[4].rfind("id 0x8001 ", 0), 0u) << got[4];
  // The size shown is the data size in the header.
  const std::string borSize = std::to_string(get32(readFile(dir.path() + "/d.mid"), 12));
  EXPECT_NE(got[0].find(" size " + borSize + " "), std::string::npos) << got[0];
}

TEST(SynthCli, BadArgumentsExitTwoAndWriteNothing) {
  tarntest::TempDir dir;
  const std::string out = dir.path() + "/x.mid";
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"--events", "12x", out},
      {"--events", "-3", out},
      {"--events", "+3", out},
      {"--seed", "4294967296", out},
      {"--run", "", out},
      {"--events"},
      {"--damage", "crumpled", out},
      {"--frobnicate", out},
      {out, dir.path() + "/y.mid"},
  };
  for (const auto& args : cases) {
    std::string shown;
    for (const auto& a : args) shown += " [" + a + "]";
    const Result r = synthTool(dir, args);
    EXPECT_EQ(r.status, 2) << shown;
    EXPECT_NE(r.err.find("midas-synth: "), std::string::npos) << shown << ": " << r.err;
    EXPECT_FALSE(exists(out)) << shown;
  }
  const Result help = synthTool(dir, {"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("usage: midas-synth"), std::string::npos);
  EXPECT_NE(help.out.find("--damage"), std::string::npos);
}

TEST(SynthCli, WriteFailuresExitOne) {
  tarntest::TempDir dir;
  const std::string full = dir.path() + "/full.mid";
  const std::string fullGz = dir.path() + "/full.mid.gz";
  ASSERT_EQ(::symlink("/dev/full", full.c_str()), 0);
  ASSERT_EQ(::symlink("/dev/full", fullGz.c_str()), 0);
  for (const std::string& out : {dir.path() + "/none/x.mid", dir.path() + "/none/x.mid.gz", full, fullGz}) {
    const Result r = synthTool(dir, {"--events", "2000", out});
    EXPECT_EQ(r.status, 1) << out;
    EXPECT_NE(r.err.find(out + ": " + (out.find("none") != std::string::npos
                                           ? "No such file or directory"
                                           : "No space left on device")),
              std::string::npos)
        << r.err;
  }
  struct stat st;
  ASSERT_EQ(::lstat(full.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));  // written through the link, never renamed over it
}

TEST(SynthCli, FillBringsOrdinaryEventsUpToTheGivenSize) {
  tarntest::TempDir dir;
  for (const char* headers : {"--modules", "--bank32"}) {
    const Result r = synthTool(dir, {"--events", "6", headers, "--fill", "1000", "--describe",
                                     dir.path() + "/f.mid"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream lines(r.out);
    int filled = 0;
    for (std::string line; std::getline(lines, line);) {
      const size_t at = line.find(" size ");
      ASSERT_NE(at, std::string::npos) << line;
      const unsigned long size = std::stoul(line.substr(at + 6));
      if (line.find("odb-xml") != std::string::npos) continue;  // dumps stay as they are
      EXPECT_GE(size, 1000u) << line;
      EXPECT_LT(size, 1000u + 16) << line;
      filled += line.find(" FILL:6:") != std::string::npos;
    }
    EXPECT_EQ(filled, 6) << r.out;
  }
  EXPECT_EQ(synthTool(dir, {"--fill", "65537", dir.path() + "/g.mid"}).status, 2);
  EXPECT_FALSE(exists(dir.path() + "/g.mid"));
}
