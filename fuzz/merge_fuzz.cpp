// `tarn merge` over a batch directory with one forged run: the input is the
// run's status.json, spectra.h5 and table, and the merged directory's list of
// what an earlier merge made, cut apart by kPart. The other run's spectra.h5 is
// whole; it has no table, since drawing a merged table's plot takes nine
// tenths of a round: one seed forges the HDF5 file, the other the table. The
// merge names what it cannot join, never crashes, hangs or grows without bound.
#include <hdf5.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "FuzzTarget.h"
#include "Hdf5Column.h"
#include "Histogram.h"
#include "HistogramCsv.h"
#include "Merge.h"
#include "tarn_type.h"

// The merged plot is drawn by PLplot, which keeps its device modules (libltdl)
// and whose cairo device's fontconfig and pango caches are never freed: once a
// process, as scripts/lsan-suppressions.txt says for the tests.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libltdl.so\nleak:libfontconfig.so\nleak:libpango\nleak:libhdf5_serial.so\n";
}

namespace {

const std::string kPart = "\n--part--\n";
const char* const kFiles[] = {"status.json", "spectra.h5", "NAME_A.csv", "../merged/.merged.json"};

std::string* scratch = nullptr;

void removeScratch() { std::filesystem::remove_all(*scratch); }

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string status(const std::string& name, int index) {
  return "{\"run\": \"" + name + ".mid\", \"name\": \"" + name + "\", \"index\": " + std::to_string(index) +
         ", \"state\": \"done\", \"exit\": 0, \"signal\": 0, \"reason\": \"\"}\n";
}

// A run's file as the Hdf5Writer lays it out: a value and a list a event, chunks of two.
void writeHdf5(const std::string& path) {
  using h5out::Handle;
  Handle file(H5Fcreate(path.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT), H5Fclose);
  h5out::writeAttribute(file, "events", int64_t(3));
  auto column = [](hid_t group, const char* name, hid_t type, const void* data, hsize_t n) {
    const hsize_t chunk = 2, unlimited = H5S_UNLIMITED;
    Handle space(H5Screate_simple(1, &n, &unlimited), H5Sclose), create(H5Pcreate(H5P_DATASET_CREATE), H5Pclose);
    H5Pset_chunk(create, 1, &chunk);
    H5Pset_deflate(create, 1);
    Handle d(H5Dcreate2(group, name, type, space, H5P_DEFAULT, create, H5P_DEFAULT), H5Dclose);
    H5Dwrite(d, type, H5S_ALL, H5S_ALL, H5P_DEFAULT, data);
  };
  const int64_t event[] = {0, 1, 2}, offsets[] = {0, 2, 2, 3};
  const short values[] = {5, -6, 7};
  for (const char* name : {"v", "l"}) {
    Handle g(H5Gcreate2(file, name, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT), H5Gclose);
    const bool list = name[0] == 'l';
    h5out::writeAttribute(g, "tarn_type", int64_t(list ? TARN_SHORT_V : TARN_SHORT));
    h5out::writeAttribute(g, "type", std::string(list ? "SHORT_V" : "SHORT"));
    column(g, "values", H5T_NATIVE_SHORT, values, 3);
    column(g, "event", H5T_NATIVE_INT64, event, 3);
    if (list) column(g, "offsets", H5T_NATIVE_INT64, offsets, 4);
  }
}

void writeTable(const std::string& path) {
  hist::Histogram h({0, 1, 2});
  for (double x : {0.5, 1.5, 1.5, -1.0}) h.fill(x);
  std::string error;
  hist::writeCsv(h, path, error);
}

// The batch directory, its whole run made once.
const std::string& batch() {
  if (scratch) return *scratch;
  // In memory where there is a tmpfs: the merge syncs what it writes.
  char shm[] = "/dev/shm/tarn-fuzz-merge-XXXXXX", tmp[] = "/tmp/tarn-fuzz-merge-XXXXXX";
  const char* made = ::mkdtemp(shm);
  if (!made && !(made = ::mkdtemp(tmp))) std::abort();
  scratch = new std::string(made);
  std::atexit(removeScratch);
  H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
  std::filesystem::create_directories(*scratch + "/run00001");
  std::filesystem::create_directories(*scratch + "/run00002");
  writeHdf5(*scratch + "/run00001/spectra.h5");
  writeTable(*scratch + "/table.csv");  // the seed's: no run directory, not merged
  std::ofstream(*scratch + "/run00001/status.json") << status("run00001", 0);
  return *scratch;
}

std::string runFile(const char* name) {
  std::string f = name;
  const size_t at = f.find("NAME");
  if (at != std::string::npos) f.replace(at, 4, "run00002");
  return batch() + "/run00002/" + f;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1 << 16)) return 0;
  const std::string input(reinterpret_cast<const char*>(data), size), dir = batch();
  std::filesystem::remove_all(dir + "/merged");
  std::filesystem::create_directories(dir + "/merged");
  size_t from = 0;
  for (const char* name : kFiles) {
    const size_t end = std::min(input.find(kPart, from), input.size());
    std::ofstream(runFile(name), std::ios::binary) << input.substr(from, end - from);
    from = std::min(end + kPart.size(), input.size());
  }
  // What the merge says is the point of other tests; here only that it ends soundly.
  std::streambuf *out = std::cout.rdbuf(nullptr), *err = std::cerr.rdbuf(nullptr);
  merge::mergeBatch(dir);
  std::cout.rdbuf(out);
  std::cerr.rdbuf(err);
  std::cout.clear();
  std::cerr.clear();
  return 0;
}

std::vector<std::vector<uint8_t>> tarnFuzzSeeds() {
  const std::string dir = batch(), list = "{\"made\": [\"spectra.h5\", \"gone.csv\", \"../outside\"]}\n";
  const std::string seeds[] = {
      status("run00002", 1) + kPart + slurp(dir + "/run00001/spectra.h5") + kPart + kPart + list,
      status("run00002", 1) + kPart + kPart + slurp(dir + "/table.csv") + kPart + list,
  };
  std::vector<std::vector<uint8_t>> bytes;
  for (const std::string& seed : seeds) bytes.emplace_back(seed.begin(), seed.end());
  return bytes;
}
