#include <gtest/gtest.h>
#include <hdf5.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include <unistd.h>

#include "RunStatus.h"
#include "StrandEvent.h"
#include "TarnTest.h"

namespace {

// Reading back with the C library. A memory type of -1 reads in the file's own type.
class H5File {
 public:
  explicit H5File(const std::string& path) : id(H5Fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT)) {}
  ~H5File() {
    if (id >= 0) H5Fclose(id);
  }
  bool has(const std::string& path) const { return H5Lexists(id, path.c_str(), H5P_DEFAULT) > 0; }

  template <class T>
  std::vector<T> read(const std::string& path, hid_t memory = -1) const {
    std::vector<T> v;
    hid_t d = H5Dopen2(id, path.c_str(), H5P_DEFAULT);
    if (d < 0) {
      ADD_FAILURE() << "no dataset " << path;
      return v;
    }
    hid_t space = H5Dget_space(d), own = H5Dget_type(d);
    v.resize(size_t(H5Sget_simple_extent_npoints(space)));
    EXPECT_EQ(H5Tget_size(memory < 0 ? own : memory), sizeof(T)) << path;
    if (!v.empty()) {
      EXPECT_GE(H5Dread(d, memory < 0 ? own : memory, H5S_ALL, H5S_ALL, H5P_DEFAULT, v.data()), 0);
    }
    H5Tclose(own);
    H5Sclose(space);
    H5Dclose(d);
    return v;
  }
  std::string text(const std::string& path) const {
    std::vector<char> bytes = read<char>(path);
    return std::string(bytes.begin(), bytes.end());
  }
  int64_t attribute(const std::string& object, const char* name) const {
    int64_t value = -1;
    hid_t a = H5Aopen_by_name(id, object.c_str(), name, H5P_DEFAULT, H5P_DEFAULT);
    EXPECT_GE(H5Aread(a, H5T_NATIVE_INT64, &value), 0) << object << " " << name;
    H5Aclose(a);
    return value;
  }
  hid_t id;
};

template <class T>
std::vector<T> seq(std::initializer_list<T> v) { return v; }

// One value of every type a strand event can hold, changed with the event number.
struct EveryType {
  uint8_t u8 = 0, bits = 0;
  int8_t i8 = 0;
  char ch = 0;
  uint16_t u16 = 0;
  short s = 0;
  uint32_t u32 = 0;
  int i = 0;
  bool b = false;
  float f = 0;
  double d = 0;
  uint64_t u64 = 0;
  char cstr[8] = "";
  std::string str;
  std::vector<short> sv;
  std::vector<int> iv;
  std::vector<uint64_t> u64v;
  std::vector<bool> bv;
  std::vector<float> fv;
  std::vector<double> dv;
  std::vector<std::string> strv;
  std::vector<std::vector<short>> svv;

  void set(int k) {
    u8 = uint8_t(200 + k); bits = uint8_t(0x81 + k); i8 = int8_t(-5 - k); ch = char('c' + k);
    u16 = uint16_t(60000 + k); s = short(-300 - k); u32 = 4000000000u + k; i = -70000 - k;
    b = k % 2; f = 1.5f + k; d = 2.25 + k; u64 = (uint64_t(1) << 40) + k;
    std::snprintf(cstr, sizeof cstr, "c%d", k);
    str = std::string("a\0b", 3) + std::to_string(k);  // the NUL is kept
    sv = {short(k), short(-k)};
    iv.assign(size_t(k), -7);  // empty in event 0
    u64v = {uint64_t(k) << 33};
    bv = {true, false, k == 2};
    fv = {0.5f * k};
    dv = {-1.0 * k, 1e300};
    strv = {"x", "", "yz" + std::to_string(k)};
    svv = {{short(k)}, {}, {3, 4}};
  }
  void registerIn(StrandEvent& e) {
    const StrandBinning none;
    e["u8"] = StrandProperty(TARN_UINT8, none, &u8); e["bits"] = StrandProperty(TARN_BITFIELD, none, &bits);
    e["i8"] = StrandProperty(TARN_INT8, none, &i8); e["ch"] = StrandProperty(TARN_CHAR, none, &ch);
    e["u16"] = StrandProperty(TARN_UINT16, none, &u16); e["s"] = StrandProperty(TARN_SHORT, none, &s);
    e["u32"] = StrandProperty(TARN_UINT32, none, &u32); e["i"] = StrandProperty(TARN_INT, none, &i);
    e["b"] = StrandProperty(TARN_BOOL, none, &b); e["f"] = StrandProperty(TARN_FLOAT, none, &f);
    e["d"] = StrandProperty(TARN_DOUBLE, none, &d); e["u64"] = StrandProperty(TARN_UINT64, none, &u64);
    e["cstr"] = StrandProperty(TARN_CSTRING, none, cstr); e["str"] = StrandProperty(TARN_STRING, none, &str);
    e["sv"] = StrandProperty(TARN_SHORT_V, none, &sv); e["iv"] = StrandProperty(TARN_INT_V, none, &iv);
    e["u64v"] = StrandProperty(TARN_UINT64_V, none, &u64v); e["bv"] = StrandProperty(TARN_BOOL_V, none, &bv);
    e["fv"] = StrandProperty(TARN_FLOAT_V, none, &fv); e["dv"] = StrandProperty(TARN_DOUBLE_V, none, &dv);
    e["strv"] = StrandProperty(TARN_STRING_V, none, &strv); e["svv"] = StrandProperty(TARN_SHORT_VV, none, &svv);
  }
};

class Hdf5WriterTest : public ::testing::Test {
 protected:
  tarntest::TempDir dir;
  std::string file() const { return dir.path() + "/out.h5"; }
};

TEST_F(Hdf5WriterTest, EveryScalarAndListTypeReadsBack) {
  EveryType v;
  StrandEvent e;
  v.registerIn(e);
  {
    tarntest::Node w("Hdf5Writer", "w");
    w->SetInput("file", file());
    e.layout = true;  // announces only: not an event
    w->SetInput(0, &e);
    e.layout = false;
    for (int k = 0; k < 3; ++k) {
      v.set(k);
      w->SetInput(0, &e);
    }
  }
  H5File f(file());
  ASSERT_GE(f.id, 0);
  EXPECT_EQ(f.attribute("/", "events"), 3);
  EXPECT_EQ(f.attribute("u32", "tarn_type"), TARN_UINT32);
  EXPECT_EQ(f.read<int64_t>("u8/event"), seq<int64_t>({0, 1, 2}));
  EXPECT_EQ(f.read<uint8_t>("u8/values"), seq<uint8_t>({200, 201, 202}));
  EXPECT_EQ(f.read<uint8_t>("bits/values"), seq<uint8_t>({0x81, 0x82, 0x83}));
  EXPECT_EQ(f.read<int8_t>("i8/values"), seq<int8_t>({-5, -6, -7}));
  EXPECT_EQ(f.text("ch/values"), "cde");
  EXPECT_EQ(f.read<uint16_t>("u16/values"), seq<uint16_t>({60000, 60001, 60002}));
  EXPECT_EQ(f.read<short>("s/values"), seq<short>({-300, -301, -302}));
  EXPECT_EQ(f.read<uint32_t>("u32/values"), seq<uint32_t>({4000000000u, 4000000001u, 4000000002u}));
  EXPECT_EQ(f.read<int>("i/values"), seq<int>({-70000, -70001, -70002}));
  EXPECT_EQ(f.read<int8_t>("b/values"), seq<int8_t>({0, 1, 0}));  // the enum h5py reads as bool
  EXPECT_EQ(f.read<float>("f/values"), seq<float>({1.5f, 2.5f, 3.5f}));
  EXPECT_EQ(f.read<double>("d/values"), seq<double>({2.25, 3.25, 4.25}));
  EXPECT_EQ(f.read<uint64_t>("u64/values"), seq<uint64_t>({1ull << 40, (1ull << 40) + 1, (1ull << 40) + 2}));
  hid_t boolean = H5Dopen2(f.id, "bv/values", H5P_DEFAULT), t = H5Dget_type(boolean);
  EXPECT_EQ(H5Tget_class(t), H5T_ENUM);
  H5Tclose(t);
  H5Dclose(boolean);

  // Texts are lists of bytes; lists are flat values cut by offsets.
  EXPECT_EQ(f.text("cstr/values"), "c0c1c2");
  EXPECT_EQ(f.read<int64_t>("cstr/offsets"), seq<int64_t>({0, 2, 4, 6}));
  EXPECT_EQ(f.text("str/values"), std::string("a\0b0a\0b1a\0b2", 12));
  EXPECT_EQ(f.read<int64_t>("str/offsets"), seq<int64_t>({0, 4, 8, 12}));
  EXPECT_EQ(f.read<short>("sv/values"), seq<short>({0, 0, 1, -1, 2, -2}));
  EXPECT_EQ(f.read<int64_t>("sv/offsets"), seq<int64_t>({0, 2, 4, 6}));
  EXPECT_EQ(f.read<int>("iv/values"), seq<int>({-7, -7, -7}));
  EXPECT_EQ(f.read<int64_t>("iv/offsets"), seq<int64_t>({0, 0, 1, 3}));
  EXPECT_EQ(f.read<uint64_t>("u64v/values"), seq<uint64_t>({0, 1ull << 33, 2ull << 33}));
  EXPECT_EQ(f.read<int8_t>("bv/values"), seq<int8_t>({1, 0, 0, 1, 0, 0, 1, 0, 1}));
  EXPECT_EQ(f.read<int64_t>("bv/offsets"), seq<int64_t>({0, 3, 6, 9}));
  EXPECT_EQ(f.read<float>("fv/values"), seq<float>({0, 0.5f, 1}));
  EXPECT_EQ(f.read<double>("dv/values"), seq<double>({-0.0, 1e300, -1, 1e300, -2, 1e300}));
  EXPECT_EQ(f.read<int64_t>("dv/event"), seq<int64_t>({0, 1, 2}));
  // Lists of lists: offsets cut the inner lists, inner_offsets cut the values.
  EXPECT_EQ(f.text("strv/values"), "xyz0xyz1xyz2");
  EXPECT_EQ(f.read<int64_t>("strv/inner_offsets"), seq<int64_t>({0, 1, 1, 4, 5, 5, 8, 9, 9, 12}));
  EXPECT_EQ(f.read<int64_t>("strv/offsets"), seq<int64_t>({0, 3, 6, 9}));
  EXPECT_EQ(f.read<short>("svv/values"), seq<short>({0, 3, 4, 1, 3, 4, 2, 3, 4}));
  EXPECT_EQ(f.read<int64_t>("svv/inner_offsets"), seq<int64_t>({0, 1, 1, 3, 4, 4, 6, 7, 7, 9}));
  EXPECT_EQ(f.read<int64_t>("svv/offsets"), seq<int64_t>({0, 3, 6, 9}));
}

TEST_F(Hdf5WriterTest, MissingPropertiesTypeChangesAndUnwritableTypesKeepWhatWasWritten) {
  int m = 0, t = 0;
  double td = 0;
  StrandEvent nested, e0, e1, e2, e3;
  e0["M"] = StrandProperty(TARN_INT, StrandBinning(), &m);
  e0["T"] = StrandProperty(TARN_INT, StrandBinning(), &t);
  e0["Nest"] = StrandProperty(TARN_STRANDEVENT, StrandBinning(), &nested);
  e1["T"] = e0["T"];
  e1["Nest"] = e0["Nest"];
  e2["M"] = e0["M"];
  e2["T"] = StrandProperty(TARN_DOUBLE, StrandBinning(), &td);
  e3["T"] = e0["T"];
  e3["M"] = StrandProperty(TARN_INT, StrandBinning(), nullptr);  // registered, no value: missing
  testing::internal::CaptureStderr();
  {
    tarntest::Node w("Hdf5Writer", "w");
    w->SetInput("file", file());
    StrandEvent* events[] = {&e0, &e1, &e2, &e3, &e1};
    for (int k = 0; k < 5; ++k) {
      m = 7 + k;
      t = k + 1;
      w->SetInput(0, events[k]);
    }
  }
  const std::string err = testing::internal::GetCapturedStderr();
  H5File f(file());
  EXPECT_EQ(f.attribute("/", "events"), 5);
  EXPECT_EQ(f.read<int>("M/values"), seq<int>({7, 9}));
  EXPECT_EQ(f.read<int64_t>("M/event"), seq<int64_t>({0, 2}));
  EXPECT_EQ(f.read<int>("T/values"), seq<int>({1, 2}));  // from the change on, never again
  EXPECT_EQ(f.read<int64_t>("T/event"), seq<int64_t>({0, 1}));
  EXPECT_FALSE(f.has("Nest"));
  EXPECT_EQ(err, "w: property Nest of type StrandEvent is not written\n"
                 "w: property T changed type from int to double at event 2; not written from here on\n");
}

TEST_F(Hdf5WriterTest, LongRunsGoOutInCompressedChunksAndEveryValueComesBack) {
  uint32_t serial = 0;
  std::vector<int> list;
  StrandEvent e;
  e["Serial"] = StrandProperty(TARN_UINT32, StrandBinning(), &serial);
  e["List"] = StrandProperty(TARN_INT_V, StrandBinning(), &list);
  const uint32_t n = 200000;
  {
    tarntest::Node w("Hdf5Writer", "w");
    w->SetInput("file", file());
    for (serial = 0; serial < n; ++serial) {
      list.assign(serial % 5, int(serial));
      if (serial == 1000) list.assign(100000, -1);  // one list longer than a chunk
      w->SetInput(0, &e);
    }
  }
  H5File f(file());
  std::vector<uint32_t> s = f.read<uint32_t>("Serial/values");
  ASSERT_EQ(s.size(), n);
  for (uint32_t k = 0; k < n; ++k) ASSERT_EQ(s[k], k);
  std::vector<int> values = f.read<int>("List/values");
  std::vector<int64_t> offsets = f.read<int64_t>("List/offsets");
  ASSERT_EQ(offsets.size(), n + 1);
  ASSERT_EQ(size_t(offsets.back()), values.size());
  for (uint32_t k = 0; k < n; ++k) {
    const size_t length = k == 1000 ? 100000 : k % 5;
    ASSERT_EQ(size_t(offsets[k + 1] - offsets[k]), length) << k;
    for (int64_t j = offsets[k]; j < offsets[k + 1]; ++j) ASSERT_EQ(values[size_t(j)], k == 1000 ? -1 : int(k));
  }
  hid_t d = H5Dopen2(f.id, "List/values", H5P_DEFAULT), plist = H5Dget_create_plist(d);
  EXPECT_EQ(H5Pget_layout(plist), H5D_CHUNKED);
  EXPECT_EQ(H5Pget_nfilters(plist), 2);  // shuffle and deflate
  H5Pclose(plist);
  H5Dclose(d);
}

TEST_F(Hdf5WriterTest, AFileThatCannotBeMadeIsReportedOnceAndANewNameIsTaken) {
  int x = 1;
  StrandEvent e;
  e["X"] = StrandProperty(TARN_INT, StrandBinning(), &x);
  testing::internal::CaptureStderr();
  {
    tarntest::Node w("Hdf5Writer", "w");
    w->SetInput("file", dir.path() + "/no/such/dir/x.h5");
    for (int k = 0; k < 3; ++k) w->SetInput(0, &e);
    w->SetInput("file", file());
    w->SetInput(0, &e);
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "w: cannot create HDF5 file " + dir.path() +
                "/no/such/dir/x.h5: No such file or directory; events are not written\n");
  EXPECT_EQ(H5File(file()).read<int>("X/values"), seq<int>({1}));
}

TEST_F(Hdf5WriterTest, AFullDiskStopsTheFileWithOneMessageAndReleasesEveryIdentifier) {
  tarntest::Tmpfs disk(256 << 10);
  if (!disk.mounted) GTEST_SKIP() << "cannot mount a tmpfs (" << disk.why << "); needs root";
  const std::string path = disk.path() + "/out.h5";
  std::ofstream(path) << "earlier results\n";
  std::vector<double> noise(4096);
  StrandEvent e;
  e["Noise"] = StrandProperty(TARN_DOUBLE_V, StrandBinning(), &noise);
  e["Serial"] = StrandProperty(TARN_INT, StrandBinning(), &noise);
  const unsigned failuresBefore = tarn_run_failures();
  testing::internal::CaptureStderr();
  {
    tarntest::Node w("Hdf5Writer", "w");
    w->SetInput("file", path);
    for (int k = 0; k < 200; ++k) {
      for (double& x : noise) x = std::rand();  // does not compress away
      w->SetInput(0, &e);
    }
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "w: cannot write " + path + ": No space left on device; nothing more is written, "
            "and an earlier file of that name stays as it was\n");
  EXPECT_EQ(tarn_run_failures(), failuresBefore + 1);
  EXPECT_EQ(H5Fget_obj_count(H5F_OBJ_ALL, H5F_OBJ_ALL), 0);  // nothing left for the library's cleanup
  EXPECT_TRUE(tarntest::contentOf(path) == "earlier results\n");
  EXPECT_EQ(tarntest::namesIn(disk.path()), std::set<std::string>{"out.h5"});
}

TEST_F(Hdf5WriterTest, CtrlCClosesTheFileWithEveryEventSentSoFar) {
  const std::string graph = dir.write("g.tarn",
                                      "node gen StrandEventGenerator\n"
                                      "node w Hdf5Writer\n"
                                      "set gen.steps 0\n"
                                      "set gen.interval 0.0005\n"
                                      "set w.file " + file() + "\n"
                                      "connect gen.fevent w.fevent\n"
                                      "start gen\n");
  tarntest::RunResult r = tarntest::runTarn({"run", graph, "--no-progress"}, 400);
  EXPECT_EQ(r.status, 130) << r.err;
  H5File f(file());
  ASSERT_GE(f.id, 0);
  const int64_t n = f.attribute("/", "events");
  EXPECT_GT(n, 10);
  std::vector<uint32_t> serial = f.read<uint32_t>("Serial/values");
  ASSERT_EQ(int64_t(serial.size()), n);
  EXPECT_EQ(serial.back(), uint32_t(n));  // Serial counts from 1
  std::vector<int64_t> offsets = f.read<int64_t>("Ramp/offsets");
  ASSERT_EQ(int64_t(offsets.size()), n + 1);
  int64_t ramp = 0;
  for (int64_t k = 1; k <= n; ++k) ramp += k % 4;
  EXPECT_EQ(offsets.back(), ramp);
  EXPECT_EQ(int64_t(f.read<double>("Weight/values").size()), n);
}

// The README's h5py snippet runs as written on a file laid out as in the worked analysis.
TEST_F(Hdf5WriterTest, TheReadmeSnippetPlotsAProperty) {
  if (std::system("/usr/bin/python3 -c 'import h5py, matplotlib' >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "/usr/bin/python3 has no h5py or matplotlib";
  std::ifstream in(TARN_SOURCE_DIR "/README.md");
  std::stringstream readme;
  readme << in.rdbuf();
  const std::string text = readme.str();
  const size_t start = text.find("```python\n", text.find("## A worked analysis"));
  ASSERT_NE(start, std::string::npos);
  const size_t end = text.find("```", start + 10);
  const std::string snippet = text.substr(start + 10, end - start - 10);
  EXPECT_LE(std::count(snippet.begin(), snippet.end(), '\n'), 5) << snippet;
  dir.write("snippet.py", snippet);

  std::vector<short> adc;
  StrandEvent e;
  e["ADCValue"] = StrandProperty(TARN_SHORT_V, StrandBinning(4096.0, 0.0, 4096), &adc);
  ASSERT_EQ(std::system(("mkdir -p " + dir.path() + "/build/spectra").c_str()), 0);
  {
    tarntest::Node w("Hdf5Writer", "w");
    w->SetInput("file", dir.path() + "/build/spectra/run00002.h5");
    for (int k = 0; k < 50; ++k) {
      adc = {short(k * 80), short(4000 - k)};
      w->SetInput(0, &e);
    }
  }
  const std::string command = "cd " + dir.path() + " && MPLBACKEND=Agg /usr/bin/python3 snippet.py";
  ASSERT_EQ(std::system(command.c_str()), 0) << snippet;
  std::ifstream png(dir.path() + "/ADCValue.png", std::ios::binary);
  char head[4] = {};
  png.read(head, 4);
  EXPECT_EQ(std::string(head + 1, 3), "PNG");
}

// Files of every compression setting and thread count, read back value for
// value by stock h5py and h5dump: the chunks we compress ourselves must be
// what HDF5's own shuffle and deflate filters decode. The lists are long
// enough that chunk boundaries fall inside them, and the run's last chunks
// are partial.
struct Setting {
  const char* compression;
  int threads;
};
void PrintTo(const Setting& s, std::ostream* out) { *out << s.compression << " on " << s.threads << " threads"; }

class Hdf5WriterSettings : public Hdf5WriterTest, public ::testing::WithParamInterface<Setting> {};

TEST_P(Hdf5WriterSettings, EverySettingAndThreadCountReadsBackInH5pyAndH5dump) {
  const Setting setting = GetParam();
  const int events = 300;
  uint32_t serial = 0;
  std::vector<int> list;
  std::vector<double> wide;
  StrandEvent e;
  e["Serial"] = StrandProperty(TARN_UINT32, StrandBinning(), &serial);
  e["List"] = StrandProperty(TARN_INT_V, StrandBinning(), &list);
  e["Wide"] = StrandProperty(TARN_DOUBLE_V, StrandBinning(), &wide);
  testing::internal::CaptureStderr();
  {
    tarntest::Node w("Hdf5Writer", "w");
    w->SetInput("file", file());
    w->SetInput("compression", std::string(setting.compression));
    w->SetInput("threads", std::to_string(setting.threads));
    for (int k = 0; k < events; ++k) {
      serial = uint32_t(k) * 2654435761u;
      list.resize(size_t(k * 7 % 1000));
      for (size_t j = 0; j < list.size(); ++j) list[j] = int(k * 131 + int(j)) - 5000;
      wide.assign(size_t(k % 3), 0.25 * k);
      w->SetInput(0, &e);
    }
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

  if (std::system("/usr/bin/python3 -c 'import h5py' >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "/usr/bin/python3 has no h5py";
  dir.write("check.py",
            "import sys, h5py, numpy as np\n"
            "f = h5py.File(sys.argv[1], 'r')\n"
            "n = 300\n"
            "assert f.attrs['events'] == n\n"
            "k = np.arange(n, dtype=np.uint64)\n"
            "assert (f['Serial/values'][:] == (k * 2654435761 % 2**32).astype(np.uint32)).all()\n"
            "lists = [np.arange(i * 7 % 1000, dtype=np.int64) + i * 131 - 5000 for i in range(n)]\n"
            "assert (f['List/values'][:] == np.concatenate(lists)).all()\n"
            "assert (f['List/offsets'][:] == np.concatenate([[0], np.cumsum([len(l) for l in lists])])).all()\n"
            "assert (f['List/event'][:] == np.arange(n)).all()\n"
            "wide = [np.full(i % 3, 0.25 * i) for i in range(n)]\n"
            "assert (f['Wide/values'][:] == np.concatenate(wide)).all()\n"
            "filters = f['List/values'].compression, f['List/values'].shuffle\n"
            "print(filters[0], filters[1])\n");
  const std::string out = dir.path() + "/check.out";
  ASSERT_EQ(std::system(("/usr/bin/python3 " + dir.path() + "/check.py " + file() + " >" + out).c_str()), 0);
  const bool filtered = std::string(setting.compression) != "none";
  EXPECT_EQ(tarntest::contentOf(out), filtered ? "gzip True\n" : "None False\n");

  if (std::system("h5dump --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no h5dump";
  const std::string dump = dir.path() + "/dump.out";
  ASSERT_EQ(std::system(("h5dump -p -d /List/values " + file() + " >" + dump).c_str()), 0);
  const std::string text = tarntest::contentOf(dump);
  EXPECT_EQ(text.find("SHUFFLE") != std::string::npos, filtered);
  const std::string level = std::string("LEVEL ") + (std::string(setting.compression) == "small" ? "6" : "1");
  EXPECT_EQ(text.find(level) != std::string::npos, filtered) << text.substr(0, 2000);
  // The last value h5dump decodes is the run's last list's last element.
  EXPECT_NE(text.find(std::to_string(299 * 131 + 299 * 7 % 1000 - 1 - 5000) + "\n"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Settings, Hdf5WriterSettings,
                         ::testing::Values(Setting{"fast", 0}, Setting{"fast", 1}, Setting{"fast", 3},
                                           Setting{"small", 0}, Setting{"small", 2}, Setting{"none", 0},
                                           Setting{"none", 2}),
                         [](const ::testing::TestParamInfo<Setting>& i) {
                           return std::string(i.param.compression) + "_threads" + std::to_string(i.param.threads);
                         });

// The writer's compressing threads, by the name they give themselves.
size_t compressingThreads() {
  size_t n = 0;
  for (const std::string& task : tarntest::namesIn("/proc/self/task"))
    n += tarntest::contentOf("/proc/self/task/" + task + "/comm") == "tarn-h5-deflate\n";
  return n;
}

// A run of one event: every column's only chunk is its partial last one,
// written when the file closes, with worker threads still idle. The workers
// are gone once the module is.
TEST_F(Hdf5WriterTest, ARunOfOneEventWithThreadsWritesEveryColumn) {
  EveryType v;
  StrandEvent e;
  v.registerIn(e);
  v.set(2);
  {
    tarntest::Node w("Hdf5Writer", "w");
    w->SetInput("file", file());
    w->SetInput("threads", "2");
    w->SetInput(0, &e);
    EXPECT_EQ(compressingThreads(), 2u);
  }
  // A joined thread may still be listed for a moment while the kernel reaps it.
  for (int k = 0; k < 200 && compressingThreads() != 0; ++k) usleep(5000);
  EXPECT_EQ(compressingThreads(), 0u);
  H5File f(file());
  EXPECT_EQ(f.attribute("/", "events"), 1);
  EXPECT_EQ(f.read<uint16_t>("u16/values"), seq<uint16_t>({60002}));
  EXPECT_EQ(f.read<uint64_t>("u64/values"), seq<uint64_t>({(1ull << 40) + 2}));
  EXPECT_EQ(f.read<double>("dv/values"), seq<double>({-2, 1e300}));
  EXPECT_EQ(f.read<int64_t>("svv/inner_offsets"), seq<int64_t>({0, 1, 1, 3}));
  EXPECT_EQ(f.text("strv/values"), "xyz2");
  EXPECT_EQ(f.read<int64_t>("i/event"), seq<int64_t>({0}));
}

TEST_F(Hdf5WriterTest, AnUnknownCompressionIsNamedAndTheOneBeforeKept) {
  int x = 3;
  StrandEvent e;
  e["X"] = StrandProperty(TARN_INT, StrandBinning(), &x);
  testing::internal::CaptureStderr();
  {
    tarntest::Node w("Hdf5Writer", "w");
    w->SetInput("file", file());
    w->SetInput("compression", std::string("none"));
    w->SetInput("compression", std::string("lz4"));
    w->SetInput(0, &e);
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "w: compression 'lz4' is not fast, small, none or zlib1 to zlib9; kept at the one before\n");
  H5File f(file());
  hid_t d = H5Dopen2(f.id, "X/values", H5P_DEFAULT), plist = H5Dget_create_plist(d);
  EXPECT_EQ(H5Pget_nfilters(plist), 0);
  H5Pclose(plist);
  H5Dclose(d);
  EXPECT_EQ(f.read<int>("X/values"), seq<int>({3}));
}

}  // namespace
