// `tarn merge` on batch directories made here the way `tarn batch` makes them:
// one `tarn run` of the batch example per synthesised run into DIR/NAME/, and
// its status.json. The merge must read as one long run over both run files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "TarnTest.h"

namespace {

using tarntest::runTarn;

void spit(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

bool exists(const std::string& path) { return std::ifstream(path).good(); }

int shell(const std::string& command) { return std::system(command.c_str()); }

// A Histogrammer table with each finite edge doubled: the same rows and counts
// over other bins.
std::string edgesDoubled(const std::string& table) {
  std::istringstream in(table);
  std::string line, out;
  std::getline(in, line);
  out = line + "\n";
  while (std::getline(in, line)) {
    const size_t a = line.find(','), b = line.find(',', a + 1);
    auto twice = [](const std::string& x) {
      return x.find_first_of("in") != std::string::npos ? x : std::to_string(2 * std::stod(x));
    };
    out += twice(line.substr(0, a)) + "," + twice(line.substr(a + 1, b - a - 1)) + line.substr(b) + "\n";
  }
  return out;
}

const char* const kProperties[] = {"ADCChannel", "ADCValue", "TDCChannel", "TDCValue"};

class Merge : public ::testing::Test {
 protected:
  // Two runs of different lengths, each run alone into batch-out/NAME/, and
  // both in sequence through one RunFile list into long/.
  static void SetUpTestSuite() {
    dir = new tarntest::TempDir;
    const std::string d = dir->path();
    batch = d + "/batch-out";
    ASSERT_EQ(shell("mkdir -p " + d + "/data " + d + "/long"), 0);
    const int events[] = {300, 200};
    std::string list;
    for (int k = 0; k < 2; ++k) {
      const std::string name = "run0000" + std::to_string(k + 1), file = d + "/data/" + name + ".mid.gz";
      ASSERT_EQ(shell(std::string(MIDAS_SYNTH_BINARY) + " --modules --seed " + std::to_string(k + 1) + " --run " + std::to_string(k + 1) +
                      " --events " + std::to_string(events[k]) + " " + file),
                0);
      list += file + "\n";
      addRun(batch, k, name, file);
    }
    dir->write("runs.list", list);
    auto r = runTarn({"run", TARN_SOURCE_DIR "/examples/batch.tarn", "--no-progress", "-s", "in.file=", "-s",
                      "in.listfile=" + d + "/runs.list", "-s", "hist.prefix=" + d + "/long/long", "-s",
                      "h5.file=" + d + "/long/spectra.h5"});
    ASSERT_EQ(r.status, 0) << r.err;
  }
  static void TearDownTestSuite() { delete dir; }

  // One finished run of the batch example into BATCH/NAME/, with its status.
  static void addRun(const std::string& batchDir, int index, const std::string& name, const std::string& file) {
    const std::string out = batchDir + "/" + name;
    ASSERT_EQ(shell("mkdir -p " + out), 0);
    auto r = runTarn({"run", TARN_SOURCE_DIR "/examples/batch.tarn", "--no-progress", "-s", "in.file=" + file, "-s",
                      "hist.prefix=" + out + "/" + name, "-s", "h5.file=" + out + "/spectra.h5"});
    ASSERT_EQ(r.status, 0) << r.err;
    spit(out + "/stdout", r.out);
    status(batchDir, index, name, "done");
  }

  static void status(const std::string& batchDir, int index, const std::string& name, const std::string& state) {
    spit(batchDir + "/" + name + "/status.json",
         "{\"run\": \"data/" + name + ".mid.gz\", \"name\": \"" + name + "\", \"index\": " +
             std::to_string(index) + ", \"state\": \"" + state + "\", \"exit\": " + (state == "done" ? "0" : "1") +
             ", \"signal\": 0, \"reason\": \"" + (state == "done" ? "" : "exit status 1") + "\"}\n");
  }

  static tarntest::TempDir* dir;
  static std::string batch;
};

tarntest::TempDir* Merge::dir = nullptr;
std::string Merge::batch;

// Every dataset and attribute of the long run's file is in the merged one with
// the same type and values; the merged one adds `run` and the run list.
// MOverflow counts overflows since the unpacker was made, so one process over
// both runs keeps counting where separate runs start anew: it is left out.
const char kCompare[] = R"(
import sys, h5py, numpy
long, merged = h5py.File(sys.argv[1]), h5py.File(sys.argv[2])
assert list(merged.attrs["runs"]) == ["run00001", "run00002"], merged.attrs["runs"]
assert list(merged.attrs["run_index"]) == [0, 1]
assert list(merged.attrs["run_numbers"]) == [1, 2] and "subruns" not in merged.attrs
assert merged.attrs["events"] == long.attrs["events"] == 500
assert set(long) == set(merged) and "ADCValue" in long
for g in long:
    a, b = long[g], merged[g]
    assert set(b) == set(a) | {"run"} and dict(a.attrs) == dict(b.attrs), g
    assert list(numpy.bincount(b["run"][:], minlength=3)) == [0, numpy.sum(b["event"][:] < 300), numpy.sum(b["event"][:] >= 300)], g
    if g == "MOverflow": continue
    for d in a:
        assert a[d].dtype == b[d].dtype and numpy.array_equal(a[d][:], b[d][:]), (g, d)
)";

bool haveH5py() { return shell("/usr/bin/python3 -c 'import h5py' >/dev/null 2>&1") == 0; }

TEST_F(Merge, TablesAndHdf5FilesReadAsOneLongRun) {
  auto r = runTarn({"merge", batch});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err.find("tarn merge:"), std::string::npos) << r.err;  // nothing skipped, nothing to note
  EXPECT_NE(r.out.find(batch + "/merged/spectra.h5: 2 runs, 500 events"), std::string::npos) << r.out;
  for (const char* p : kProperties) {
    const std::string merged = batch + "/merged/all_" + p;
    EXPECT_EQ(tarntest::contentOf(merged + ".csv"), tarntest::contentOf(dir->path() + "/long/long_" + p + ".csv")) << p;
    EXPECT_EQ(tarntest::contentOf(merged + ".png").substr(1, 3), "PNG") << p;
  }
  // The merged plots keep the units of the runs' plots.
  const std::string axis("X axis\0ADCValue [ch]", 20);
  EXPECT_NE(tarntest::contentOf(batch + "/merged/all_ADCValue.png").find(axis), std::string::npos);
  if (!haveH5py()) GTEST_SKIP() << "/usr/bin/python3 has no h5py";
  dir->write("compare.py", kCompare);
  EXPECT_EQ(shell("/usr/bin/python3 " + dir->path() + "/compare.py " + dir->path() + "/long/spectra.h5 " + batch +
                  "/merged/spectra.h5"),
            0);

  // The README's Python lines for the merged file run as written.
  const std::string readme = tarntest::contentOf(TARN_SOURCE_DIR "/README.md");
  const size_t start = readme.find("```python\n", readme.find("## Many runs"));
  ASSERT_NE(start, std::string::npos);
  dir->write("readme.py", readme.substr(start + 10, readme.find("```", start + 10) - start - 10));
  EXPECT_EQ(shell("cd " + dir->path() + " && /usr/bin/python3 readme.py >/dev/null"), 0);
}

TEST_F(Merge, DamagedAndForeignFilesAreNamedAndNeverSummed) {
  const std::string bad = dir->path() + "/bad";
  ASSERT_EQ(shell("rm -rf " + bad + " && cp -r " + batch + " " + bad + " && rm -rf " + bad + "/merged"), 0);
  const std::string one = bad + "/run00001/run00001_";
  const std::string table = tarntest::contentOf(one + "ADCValue.csv"), h5 = tarntest::contentOf(bad + "/run00001/spectra.h5");
  // run00003: a table and an HDF5 file cut short.
  ASSERT_EQ(shell("mkdir -p " + bad + "/run00003 " + bad + "/run00004 " + bad + "/run00005"), 0);
  spit(bad + "/run00003/run00003_ADCValue.csv", table.substr(0, table.find('\n', table.size() / 2) + 1));
  spit(bad + "/run00003/spectra.h5", h5.substr(0, h5.size() / 2));
  status(bad, 2, "run00003", "done");
  // run00004: a foreign table and HDF5 file, and a table of another binning.
  spit(bad + "/run00004/run00004_ADCChannel.csv", "low,high\n0,1\n");
  spit(bad + "/run00004/spectra.h5", "not HDF5\n");
  spit(bad + "/run00004/run00004_TDCChannel.csv", "low,high,count\n-inf,0,0\n0,8,5\n8,16,6\n16,inf,0\n");
  // ...and one of as many bins as run00001's, each twice as wide.
  spit(bad + "/run00004/run00004_TDCValue.csv", edgesDoubled(tarntest::contentOf(one + "TDCValue.csv")));
  status(bad, 3, "run00004", "done");
  // run00005 failed: its files are not even looked at.
  spit(bad + "/run00005/run00005_ADCValue.csv", "garbage");
  status(bad, 4, "run00005", "failed");
  // run00006 is in the manifest only: never started.
  spit(bad + "/batch.json", "{\"graph\": \"/g.tarn\", \"settings\": [], \"runs\": [{\"index\": 5, \"name\": "
                            "\"run00006\", \"run\": \"data/run00006.mid.gz\"}]}\n");

  auto r = runTarn({"merge", bad});
  EXPECT_EQ(r.status, 1);
  for (const char* named :
       {"run00003/run00003_ADCValue.csv: no overflow row", "run00003/spectra.h5: not an HDF5 file, or cut short",
        "run00004/run00004_ADCChannel.csv: no 'low,high,count' header", "run00004/spectra.h5: not an HDF5",
        "run00005: state failed: exit status 1; skipped", "run00006: no directory (not run); skipped"})
    EXPECT_NE(r.err.find(named), std::string::npos) << named << "\n" << r.err;
  EXPECT_NE(r.err.find(one + "TDCChannel.csv and " + bad + "/run00004/run00004_TDCChannel.csv have different binnings"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find(one + "TDCValue.csv and " + bad + "/run00004/run00004_TDCValue.csv have different binnings"),
            std::string::npos)
      << r.err;
  EXPECT_FALSE(exists(bad + "/merged/all_TDCChannel.csv"));
  EXPECT_FALSE(exists(bad + "/merged/all_TDCChannel.png"));
  // What was merged holds the two good runs only.
  EXPECT_FALSE(exists(bad + "/merged/all_TDCValue.csv"));
  for (const char* p : {"ADCChannel", "ADCValue"})
    EXPECT_EQ(tarntest::contentOf(bad + "/merged/all_" + p + ".csv"), tarntest::contentOf(dir->path() + "/long/long_" + p + ".csv")) << p;
  EXPECT_NE(r.out.find(bad + "/merged/spectra.h5: 2 runs, 500 events"), std::string::npos) << r.out;
}

// Lists of lists (string lists, SHORT_VV) of two runs, written the way the
// HDF5 writer lays them out: the merged offsets point into the joined levels.
const char kListsOfLists[] = R"(
import sys, h5py, numpy
def write(path, run, events, lists):
    with h5py.File(path, "w") as f:
        f.attrs["events"] = numpy.int64(events)
        f.attrs["run_number"] = numpy.int64(run)
        g = f.create_group("Names")
        g.attrs["tarn_type"] = numpy.int64(7)
        g.attrs["type"] = "SHORT_VV"
        inner = [0]; outer = [0]; values = []
        for entry in lists:
            for l in entry:
                values += l; inner.append(len(values))
            outer.append(len(inner) - 1)
        g["event"] = numpy.arange(len(lists), dtype=numpy.int64)
        g["values"] = numpy.array(values, dtype=numpy.int16)
        g["offsets"] = numpy.array(outer, dtype=numpy.int64)
        g["inner_offsets"] = numpy.array(inner, dtype=numpy.int64)
if sys.argv[1] == "write":
    write(sys.argv[2], 1, 2, [[[1, 2], [3]], [[4]]])
    write(sys.argv[3], 2, 1, [[[5], [6, 7]]])
else:
    g = h5py.File(sys.argv[2])["Names"]
    assert list(g["values"][:]) == [1, 2, 3, 4, 5, 6, 7], g["values"][:]
    assert list(g["inner_offsets"][:]) == [0, 2, 3, 4, 5, 7], g["inner_offsets"][:]
    assert list(g["offsets"][:]) == [0, 2, 3, 5], g["offsets"][:]
    assert list(g["event"][:]) == [0, 1, 2] and list(g["run"][:]) == [1, 1, 2]
)";

TEST_F(Merge, ListsOfListsKeepTheirInnerOffsets) {
  if (!haveH5py()) GTEST_SKIP() << "/usr/bin/python3 has no h5py";
  const std::string lists = dir->path() + "/lists";
  ASSERT_EQ(shell("mkdir -p " + lists + "/run00001 " + lists + "/run00002"), 0);
  status(lists, 0, "run00001", "done");
  status(lists, 1, "run00002", "done");
  dir->write("lists.py", kListsOfLists);
  const std::string script = "/usr/bin/python3 " + dir->path() + "/lists.py ";
  ASSERT_EQ(shell(script + "write " + lists + "/run00001/names.h5 " + lists + "/run00002/names.h5"), 0);
  auto r = runTarn({"merge", lists});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(shell(script + "check " + lists + "/merged/names.h5"), 0);
}

// Per-run files that read well at their ends but not within: columns whose
// chunks were never stored (the join copied their fill values for ever), an
// event count that overflows the sum, offsets that descend inside.
const char kForged[] = R"(
import sys, h5py, numpy
def write(path, events=3, hollow=None, offsets=(0, 2, 2, 3)):
    with h5py.File(path, "w") as f:
        f.attrs["events"] = numpy.int64(events)
        for name in "VL":
            g = f.create_group(name)
            g.attrs["tarn_type"] = numpy.int64(1)
            g.attrs["type"] = "X"
            if name == "V" and hollow:
                for c, t in (("values", "i2"), ("event", "i8")):
                    g.create_dataset(c, shape=(1 << 22,), dtype=t, **({"chunks": (1024,), "maxshape": (None,)} if hollow == "chunked" else {}))
                continue
            g["values"] = numpy.array([5, 6, 7], dtype=numpy.int16)
            g["event"] = numpy.arange(3, dtype=numpy.int64)
            if name == "L": g["offsets"] = numpy.array(offsets, dtype=numpy.int64)
d = sys.argv[1]
write(d + "/run00001/spectra.h5")
write(d + "/run00002/spectra.h5", hollow="chunked")
write(d + "/run00003/spectra.h5", hollow="contiguous")
write(d + "/run00004/spectra.h5", events=(1 << 63) - 2)
write(d + "/run00005/spectra.h5", offsets=(0, 3, 1, 3))
)";

TEST_F(Merge, ForgedFilesAreNamedAndSkippedNotJoined) {
  if (!haveH5py()) GTEST_SKIP() << "/usr/bin/python3 has no h5py";
  const std::string forged = dir->path() + "/forged";
  for (int k = 1; k <= 5; ++k) {
    const std::string name = "run0000" + std::to_string(k);
    ASSERT_EQ(shell("mkdir -p " + forged + "/" + name), 0);
    status(forged, k - 1, name, "done");
  }
  dir->write("forged.py", kForged);
  ASSERT_EQ(shell("/usr/bin/python3 " + dir->path() + "/forged.py " + forged), 0);
  // Counts that would wrap past 2^64 when summed.
  const std::string table = "low,high,count\n-inf,0,0\n0,1,18446744073709551615\n1,inf,0\n";
  spit(forged + "/run00001/run00001_A.csv", table);
  spit(forged + "/run00002/run00002_A.csv", table);
  // A record of '[' far larger than any status: named, never parsed.
  ASSERT_EQ(shell("mkdir -p " + forged + "/run00006 && head -c 5000000 /dev/zero | tr '\\0' '[' > " + forged +
                  "/run00006/status.json"),
            0);
  auto r = runTarn({"merge", forged});
  EXPECT_EQ(r.status, 1);
  for (const char* named :
       {"run00002/spectra.h5: group V: values: 0 of its 4096 chunks stored; skipped",
        "run00003/spectra.h5: group V: values: its data are not in the file; skipped",
        "run00004/spectra.h5: its 9223372036854775806 events and the 3 before overflow the count; skipped",
        "run00005/spectra.h5: property L: offsets descends at element 2; nothing written",
        "run00002/run00002_A.csv: its counts would take the sum past 2^64; skipped",
        "run00006: status.json: larger than the 4 MiB a record may hold; read as damaged; skipped"})
    EXPECT_NE(r.err.find(named), std::string::npos) << named << "\n" << r.err;
}

// A run named like a word of a file every run writes under the same name:
// the files are still one, not split into spectra.h5 and all.h5.
TEST_F(Merge, ARunNamedLikeAResultFileIsGroupedWithTheOthers) {
  const std::string named = dir->path() + "/named";
  ASSERT_EQ(shell("mkdir -p " + named + "/spectra " + named + "/run00002 && cp " + batch + "/run00001/spectra.h5 " +
                  named + "/spectra/ && cp " + batch + "/run00002/spectra.h5 " + named + "/run00002/"),
            0);
  status(named, 0, "spectra", "done");
  status(named, 1, "run00002", "done");
  auto r = runTarn({"merge", named});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(named + "/merged/spectra.h5: 2 runs, 500 events"), std::string::npos) << r.out;
  EXPECT_FALSE(exists(named + "/merged/all.h5"));
}

// A merge that can no longer make a file removes the one an earlier merge
// made, and leaves files it did not make alone.
TEST_F(Merge, FilesOfAnEarlierMergeNotMadeAgainAreRemoved) {
  const std::string again = dir->path() + "/again";
  ASSERT_EQ(shell("rm -rf " + again + " && cp -r " + batch + " " + again + " && rm -rf " + again + "/merged"), 0);
  ASSERT_EQ(runTarn({"merge", again}).status, 0);
  spit(again + "/merged/notes.txt", "mine\n");
  const std::string other = again + "/run00002/run00002_TDCValue.csv";
  spit(other, edgesDoubled(tarntest::contentOf(other)));
  auto r = runTarn({"merge", again});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find(again + "/merged/all_TDCValue.png: removed, made by an earlier merge"), std::string::npos) << r.out;
  EXPECT_FALSE(exists(again + "/merged/all_TDCValue.csv"));
  EXPECT_FALSE(exists(again + "/merged/all_TDCValue.png"));
  EXPECT_TRUE(exists(again + "/merged/all_ADCValue.csv"));
  EXPECT_EQ(tarntest::contentOf(again + "/merged/notes.txt"), "mine\n");
}

TEST_F(Merge, AFailedWriteIsNamedWithTheReasonAndFails) {
  const std::string blocked = dir->path() + "/blocked";
  ASSERT_EQ(shell("mkdir -p " + blocked + " && cp -r " + batch + "/run00001 " + blocked + "/"), 0);
  spit(blocked + "/merged", "a file where the directory goes\n");
  auto r = runTarn({"merge", blocked});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("cannot write " + blocked + "/merged/all_ADCValue.csv: " + blocked + "/merged: Not a directory"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(tarntest::contentOf(blocked + "/merged"), "a file where the directory goes\n");

  auto usage = runTarn({"merge"});
  EXPECT_EQ(usage.status, 2);
  EXPECT_NE(usage.err.find("usage: tarn merge DIR"), std::string::npos);
  auto none = runTarn({"merge", dir->path() + "/data"});  // no run directories
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.err.find("no finished run"), std::string::npos);

  // A run's name is replaced where it is a word of its own, not inside others.
  const std::string shortName = dir->path() + "/short";
  ASSERT_EQ(shell("mkdir -p " + shortName + "/a && cp " + batch + "/run00001/spectra.h5 " + shortName + "/a/"), 0);
  status(shortName, 0, "a", "done");
  EXPECT_EQ(runTarn({"merge", shortName}).status, 0);
  EXPECT_TRUE(exists(shortName + "/merged/spectra.h5"));
}

// A real full disk under DIR/merged: the plots and the join run out of space half-way.
TEST_F(Merge, AFullDiskLeavesThePreviousFileAsItWas) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root";
  const std::string full = dir->path() + "/full", merged = full + "/merged";
  for (const std::string name : {"run00001", "run00002"})
    ASSERT_EQ(shell("mkdir -p " + full + "/" + name + " && cd " + batch + "/" + name + " && cp spectra.h5 status.json " +
                    name + "_ADCValue.csv " + name + "_TDCValue.csv " + full + "/" + name + "/"),
              0);
  ASSERT_EQ(shell("mkdir -p " + merged), 0);
  if (shell("mount -t tmpfs -o size=64k tmpfs " + merged) != 0) GTEST_SKIP() << "cannot mount a tmpfs";
  spit(merged + "/spectra.h5", "the previous merge\n");
  auto r = runTarn({"merge", full});
  const std::string previous = tarntest::contentOf(merged + "/spectra.h5");
  const int left = shell("ls -A " + merged + " | grep -q '^[.].*[.]tmp$'");  // no temporary file stays
  std::string plots[2], tables[2];
  for (int k = 0; k < 2; ++k) {
    plots[k] = tarntest::contentOf(merged + "/all_" + kProperties[2 * k + 1] + ".png");
    tables[k] = tarntest::contentOf(merged + "/all_" + kProperties[2 * k + 1] + ".csv");
  }
  EXPECT_EQ(shell("umount " + merged), 0);
  for (int k = 0; k < 2; ++k) {
    const std::string p = kProperties[2 * k + 1];
    // A plot is whole, ending with its IEND chunk, or is not there and is named.
    if (plots[k].empty()) {
      EXPECT_NE(r.err.find("cannot write " + merged + "/all_" + p + ".png: "), std::string::npos) << r.err;
    } else {
      EXPECT_EQ(plots[k].substr(plots[k].size() - 8, 4), "IEND") << p;
    }
    if (!tables[k].empty()) {
      EXPECT_EQ(tables[k], tarntest::contentOf(dir->path() + "/long/long_" + p + ".csv"));
    }
  }
  EXPECT_EQ(r.status, 1) << r.err;  // not a crash in the library's exit handlers
  EXPECT_NE(r.err.find("No space left on device; nothing written for " + merged + "/spectra.h5"), std::string::npos)
      << r.err;
  EXPECT_EQ(previous, "the previous merge\n");
  EXPECT_NE(left, 0);
}

}  // namespace
