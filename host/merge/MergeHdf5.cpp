// Hdf5Writer files of many runs joined into one that reads as one long run
// over all of them would have written it: each property's values appended,
// offsets and event numbers shifted by what came before. Each group gains
// `run` (the run number of the run each entry came from) and, when sub-run
// files were joined, `subrun`; the file gains the attributes `runs` (the
// names of the runs joined, in order), `run_index` (their batch indices),
// `run_numbers` and, with sub-runs, `subruns`.
#include <cerrno>
#include <cstring>
#include <iostream>
#include <map>
#include <memory>

#include "AtomicFile.h"
#include "Hdf5Column.h"
#include "Hdf5Layout.h"
#include "Hdf5RunFile.h"
#include "Merge.h"

namespace merge {

namespace {

using h5out::Column;
using h5out::Handle;

// Elements read and appended at a time: memory stays flat however long the runs.
constexpr hsize_t kBlock = 1 << 18;

// A property of the joined file.
struct Joined {
  Part first;
  Handle valuesType{-1, H5Tclose};
  Handle group{-1, H5Gclose};
  Column values, offsets, innerOffsets, event, run, subrun;
  int64_t valueCount = 0, innerCount = 0;
  bool stopped = false;
};

// Appends elements [from, n) of the dataset `name` of `group` to `out`, `shift` added
// to each when `shifted` (int64 datasets, which must ascend from 0: offsets and
// event numbers). False with `error` when reading or writing fails, or one descends.
bool copy(hid_t group, const char* name, hid_t type, hsize_t from, bool shifted, int64_t shift, Column& out,
          std::string& error) {
  Handle d(H5Dopen2(group, name, H5P_DEFAULT), H5Dclose);
  Handle file(d >= 0 ? H5Dget_space(d) : -1, H5Sclose);
  hsize_t n = 0;
  if (file < 0 || H5Sget_simple_extent_dims(file, &n, nullptr) != 1) {
    error = std::string("cannot read ") + name;
    return false;
  }
  const size_t size = H5Tget_size(type);
  int64_t previous = 0;
  std::vector<unsigned char> buffer(size_t(std::min(kBlock, n > from ? n - from : 1)) * size);
  for (hsize_t start = from; start < n;) {
    const hsize_t count = std::min(kBlock, n - start);
    Handle memory(H5Screate_simple(1, &count, nullptr), H5Sclose);
    if (H5Sselect_hyperslab(file, H5S_SELECT_SET, &start, nullptr, &count, nullptr) < 0 ||
        H5Dread(d, type, memory, file, H5P_DEFAULT, buffer.data()) < 0) {
      error = std::string("cannot read ") + name;
      return false;
    }
    if (shifted) {
      int64_t* v = reinterpret_cast<int64_t*>(buffer.data());
      for (hsize_t i = 0; i < count; ++i) {
        // The first and last were checked before the join began; the rest are checked here.
        if (v[i] < previous) {
          error = std::string(name) + " descends at element " + std::to_string(start + i);
          return false;
        }
        previous = v[i];
        v[i] += shift;
      }
    }
    if (!out.append(buffer.data(), size_t(count), error)) return false;
    start += count;
  }
  return true;
}

// The merged file is written as Hdf5Writer writes a run's: fast deflate, on every core.
bool startJoined(hid_t file, const std::string& name, hid_t source, const Part& p, bool subruns,
                 h5out::ChunkQueue& queue, Joined& j, std::string& error) {
  const h5out::Compression fast;
  j.first = p;
  Handle sourceValues(H5Dopen2(source, h5layout::kValues, H5P_DEFAULT), H5Dclose);
  j.valuesType.reset(sourceValues >= 0 ? H5Dget_type(sourceValues) : -1, H5Tclose);
  j.group.reset(h5out::createGroup(file, name), H5Gclose);
  const int64_t zero = 0;
  bool ok = j.valuesType >= 0 && j.group >= 0 && h5out::writeAttribute(j.group, h5layout::kTarnType, p.tarnType) &&
            h5out::writeAttribute(j.group, h5layout::kType, p.typeLabel) &&
            j.values.create(j.group, h5layout::kValues, j.valuesType, fast, queue, error) &&
            j.event.create(j.group, h5layout::kEvent, H5T_NATIVE_INT64, fast, queue, error) &&
            j.run.create(j.group, "run", H5T_NATIVE_INT64, fast, queue, error) &&
            (!subruns || j.subrun.create(j.group, "subrun", H5T_NATIVE_INT64, fast, queue, error));
  if (ok && p.depth >= 1)
    ok = j.offsets.create(j.group, h5layout::kOffsets, H5T_NATIVE_INT64, fast, queue, error) && j.offsets.append(&zero, 1, error);
  if (ok && p.depth == 2)
    ok = j.innerOffsets.create(j.group, h5layout::kInnerOffsets, H5T_NATIVE_INT64, fast, queue, error) &&
         j.innerOffsets.append(&zero, 1, error);
  if (!ok && error.empty()) error = "cannot create group " + name;
  return ok;
}

// One run's part of a property, appended as the same run's events would have
// been by a writer that had already written `eventBase` events.
// Appends `entries` copies of `value` to `out`.
bool repeat(int64_t value, long long entries, Column& out, std::string& error) {
  const std::vector<int64_t> block(size_t(std::min<long long>(entries, kBlock)), value);
  for (long long left = entries; left > 0; left -= (long long)block.size())
    if (!out.append(block.data(), size_t(std::min<long long>(left, (long long)block.size())), error)) return false;
  return true;
}

bool appendPart(hid_t source, const Part& p, int64_t eventBase, int64_t run, int64_t subrun, Joined& j,
                std::string& error) {
  if (!copy(source, h5layout::kValues, j.valuesType, 0, false, 0, j.values, error) ||
      !copy(source, h5layout::kEvent, H5T_NATIVE_INT64, 0, true, eventBase, j.event, error))
    return false;
  if (p.depth == 1 && !copy(source, h5layout::kOffsets, H5T_NATIVE_INT64, 1, true, j.valueCount, j.offsets, error))
    return false;
  if (p.depth == 2 && (!copy(source, h5layout::kOffsets, H5T_NATIVE_INT64, 1, true, j.innerCount, j.offsets, error) ||
                       !copy(source, h5layout::kInnerOffsets, H5T_NATIVE_INT64, 1, true, j.valueCount, j.innerOffsets, error)))
    return false;
  if (!repeat(run, p.entries, j.run, error) || (j.subrun.isOpen() && !repeat(subrun, p.entries, j.subrun, error)))
    return false;
  j.valueCount += p.values;
  j.innerCount += p.inner;
  return true;
}

bool sameValueType(hid_t group, hid_t type) {
  Handle d(H5Dopen2(group, h5layout::kValues, H5P_DEFAULT), H5Dclose);
  Handle t(d >= 0 ? H5Dget_type(d) : -1, H5Tclose);
  return t >= 0 && H5Tequal(t, type) > 0;
}

bool closeFailed = false;

std::string systemReason() { return errno ? std::string(": ") + std::strerror(errno) : std::string(); }

// The runs' files that can be joined, those that cannot named on stderr.
std::vector<RunFile> readRunFiles(const std::vector<Source>& sources, bool& clean) {
  std::vector<RunFile> files;
  for (const Source& s : sources) {
    RunFile f;
    std::string why;
    if (readRunFile(s, f, why)) {
      files.push_back(std::move(f));
    } else {
      std::cerr << "tarn merge: " << s.path << ": " << why << "; skipped\n";
      clean = false;
    }
  }
  return files;
}

// The joined file as it grows, run by run.
struct Join {
  Join(hid_t f, h5out::ChunkQueue& q) : file(f), queue(q) {}
  hid_t file;
  h5out::ChunkQueue& queue;
  bool subruns = false;
  std::map<std::string, std::unique_ptr<Joined>> joined;
  int64_t events = 0;
  std::vector<std::string> names;
  std::vector<int64_t> indices, numbers, subrunNumbers;
};

// Appends every property of run file `f`; false with `error` when the joined
// file cannot be written. A property that changed type is named and `clean` cleared.
bool joinRun(Join& join, const RunFile& f, bool& clean, std::string& error) {
  Handle source(H5Fopen(f.source->path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT), H5Fclose);
  if (source < 0) {
    error = "cannot open " + f.source->path;
    return false;
  }
  for (const auto& part : f.parts) {
    Handle group(H5Gopen2(source, part.first.c_str(), H5P_DEFAULT), H5Gclose);
    std::unique_ptr<Joined>& j = join.joined[part.first];
    if (!j) {
      j.reset(new Joined);
      if (!startJoined(join.file, part.first, group, part.second, join.subruns, join.queue, *j, error))
        return false;
    }
    if (j->stopped) continue;
    if (part.second.tarnType != j->first.tarnType || part.second.depth != j->first.depth ||
        !sameValueType(group, j->valuesType)) {
      // A long run stops writing a property whose type changes; so does the join.
      j->stopped = true;
      std::cerr << "tarn merge: " << f.source->path << ": property " << part.first << " changed type from "
                << j->first.typeLabel << " to " << part.second.typeLabel << "; not joined from this run on\n";
      clean = false;
      continue;
    }
    if (!appendPart(group, part.second, join.events, f.number, f.source->run->subrun, *j, error)) {
      error = f.source->path + ": property " + part.first + ": " + error;
      return false;
    }
  }
  join.events += f.events;
  join.names.push_back(f.source->run->name);
  join.indices.push_back(f.source->run->index);
  join.numbers.push_back(f.number);
  join.subrunNumbers.push_back(f.source->run->subrun);
  return true;
}

// Closes every column (abandons them when `ok` is false already), then writes
// the file's attributes; false with `error` at the first failure.
bool finishJoin(Join& join, const std::string& target, bool ok, std::string& error) {
  if (!ok) join.queue.discard();  // the file is lost: its chunks go before their datasets close
  for (auto& entry : join.joined) {
    Joined& j = *entry.second;
    for (Column* c : {&j.values, &j.offsets, &j.innerOffsets, &j.event, &j.run, &j.subrun}) {
      std::string closing;
      if (!ok) {
        c->abandon();
      } else if (!c->close(closing)) {
        ok = false;
        error = target + ": property " + entry.first + ": " + closing + systemReason();
        join.queue.discard();
      }
    }
    j.group.reset();
  }
  if (ok && !(h5out::writeAttribute(join.file, h5layout::kEvents, join.events) &&
              h5out::writeAttribute(join.file, "runs", join.names) &&
              h5out::writeAttribute(join.file, "run_index", join.indices) &&
              h5out::writeAttribute(join.file, "run_numbers", join.numbers) &&
              (!join.subruns || h5out::writeAttribute(join.file, "subruns", join.subrunNumbers)))) {
    ok = false;
    error = target + ": cannot write its attributes" + systemReason();
  }
  join.joined.clear();
  return ok;
}

}  // namespace

bool hdf5CloseFailed() { return closeFailed; }

bool mergeHdf5(const std::string& target, const std::vector<Source>& sources, std::vector<std::string>& made) {
  bool clean = true;
  const std::vector<RunFile> files = readRunFiles(sources, clean);
  if (files.empty()) {
    std::cerr << "tarn merge: no HDF5 file to join for " << target << "\n";
    return false;
  }
  AtomicFile out(target);
  if (!out.open()) {
    std::cerr << "tarn merge: cannot write " << out.error() << "\n";
    return false;
  }
  Handle access(H5Pcreate(H5P_FILE_ACCESS), H5Pclose);
  h5out::setFlatAccess(access);
  errno = 0;
  hid_t file = h5out::createFile(out.tempPath(), access);
  if (file < 0) {
    std::cerr << "tarn merge: cannot write " << target << systemReason() << "\n";
    return false;
  }
  h5out::ChunkQueue queue(h5out::usableCores());  // outlives the columns it writes for
  Join join(file, queue);
  for (const RunFile& f : files) join.subruns = join.subruns || f.source->run->subrun >= 0;
  std::string error;
  bool ok = true;
  for (const RunFile& f : files) {
    int64_t total = 0;
    if (__builtin_add_overflow(join.events, f.events, &total)) {
      std::cerr << "tarn merge: " << f.source->path << ": its " << f.events << " events and the " << join.events
                << " before overflow the count; skipped\n";
      clean = false;
      continue;
    }
    if (!(ok = joinRun(join, f, clean, error))) break;
  }
  ok = finishJoin(join, target, ok, error);
  errno = 0;
  if (H5Fclose(file) < 0) {
    closeFailed = true;
    if (ok) error = target + ": cannot close" + systemReason();
    ok = false;
  }
  if (!ok) {
    std::cerr << "tarn merge: " << error << "; nothing written for " << target << "\n";
    return false;
  }
  if (!out.commit()) {
    std::cerr << "tarn merge: cannot write " << out.error() << "\n";
    return false;
  }
  made.push_back(target);
  std::cout << target << ": " << join.names.size() << (join.names.size() == 1 ? " run, " : " runs, ") << join.events
            << " events\n";
  return clean;
}

}  // namespace merge
