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
#include "Merge.h"

namespace merge {

namespace {

using h5out::Column;
using h5out::Handle;

// Elements read and appended at a time: memory stays flat however long the runs.
constexpr hsize_t kBlock = 1 << 18;

// The length of the 1-D dataset `name` of `group`; -1 when there is none.
long long lengthOf(hid_t group, const char* name) {
  if (H5Lexists(group, name, H5P_DEFAULT) <= 0) return -1;
  Handle d(H5Dopen2(group, name, H5P_DEFAULT), H5Dclose);
  Handle space(d >= 0 ? H5Dget_space(d) : -1, H5Sclose);
  hsize_t n = 0;
  if (space < 0 || H5Sget_simple_extent_ndims(space) != 1 || H5Sget_simple_extent_dims(space, &n, nullptr) != 1)
    return -1;
  return static_cast<long long>(n);
}

bool isInt64(hid_t group, const char* name) {
  Handle d(H5Dopen2(group, name, H5P_DEFAULT), H5Dclose);
  Handle t(d >= 0 ? H5Dget_type(d) : -1, H5Tclose);
  return t >= 0 && H5Tequal(t, H5T_NATIVE_INT64) > 0;
}

// Element k of the int64 dataset `name`, or -1 when it cannot be read.
int64_t elementOf(hid_t group, const char* name, hsize_t k) {
  Handle d(H5Dopen2(group, name, H5P_DEFAULT), H5Dclose);
  Handle file(d >= 0 ? H5Dget_space(d) : -1, H5Sclose);
  const hsize_t one = 1;
  Handle memory(H5Screate_simple(1, &one, nullptr), H5Sclose);
  int64_t v = -1;
  if (file < 0 || H5Sselect_hyperslab(file, H5S_SELECT_SET, &k, nullptr, &one, nullptr) < 0 ||
      H5Dread(d, H5T_NATIVE_INT64, memory, file, H5P_DEFAULT, &v) < 0)
    return -1;
  return v;
}

bool readInt64Attribute(hid_t object, const char* name, int64_t& v) {
  if (H5Aexists(object, name) <= 0) return false;
  Handle a(H5Aopen(object, name, H5P_DEFAULT), H5Aclose);
  Handle space(a >= 0 ? H5Aget_space(a) : -1, H5Sclose);
  Handle type(a >= 0 ? H5Aget_type(a) : -1, H5Tclose);
  return space >= 0 && H5Sget_simple_extent_type(space) == H5S_SCALAR && H5Tget_class(type) == H5T_INTEGER &&
         H5Aread(a, H5T_NATIVE_INT64, &v) >= 0;
}

bool readStringAttribute(hid_t object, const char* name, std::string& v) {
  if (H5Aexists(object, name) <= 0) return false;
  Handle a(H5Aopen(object, name, H5P_DEFAULT), H5Aclose);
  Handle type(a >= 0 ? H5Aget_type(a) : -1, H5Tclose);
  if (type < 0 || H5Tget_class(type) != H5T_STRING || H5Tis_variable_str(type) <= 0) return false;
  Handle memory(H5Tcopy(H5T_C_S1), H5Tclose);
  char* text = nullptr;
  if (H5Tset_size(memory, H5T_VARIABLE) < 0 || H5Tset_cset(memory, H5Tget_cset(type)) < 0 ||
      H5Aread(a, memory, &text) < 0)
    return false;
  v = text ? text : "";
  H5free_memory(text);
  return true;
}

// One property's group in one run's file, as far as the join needs it.
struct Part {
  int64_t tarnType = 0;
  std::string typeLabel;
  int depth = 0;  // 0 one value an entry, 1 a list, 2 a list of lists
  long long entries = 0, values = 0, inner = 0;  // lengths of event, values, inner_offsets less one
};

// Checks that `group` is laid out as Hdf5Writer lays out a property; false with `why`.
bool readPart(hid_t group, int64_t events, Part& p, std::string& why) {
  if (!readInt64Attribute(group, "tarn_type", p.tarnType) || !readStringAttribute(group, "type", p.typeLabel)) {
    why = "no tarn_type and type attributes";
    return false;
  }
  p.entries = lengthOf(group, "event");
  p.values = lengthOf(group, "values");
  if (p.entries < 0 || p.values < 0 || !isInt64(group, "event")) {
    why = "no 1-D values and int64 event datasets";
    return false;
  }
  const long long offsets = lengthOf(group, "offsets"), inner = lengthOf(group, "inner_offsets");
  p.depth = offsets < 0 ? 0 : inner < 0 ? 1 : 2;
  if (p.depth == 0 && (inner >= 0 || p.values != p.entries)) {
    why = "values and event differ in length";
    return false;
  }
  if (p.depth >= 1) {
    // offsets cut the next level down: values for lists, inner_offsets for lists of lists.
    const long long below = p.depth == 1 ? p.values : inner - 1;
    if (offsets != p.entries + 1 || !isInt64(group, "offsets") || elementOf(group, "offsets", 0) != 0 ||
        elementOf(group, "offsets", hsize_t(offsets - 1)) != below) {
      why = "offsets do not cut the values of its entries";
      return false;
    }
  }
  if (p.depth == 2) {
    if (inner < 1 || !isInt64(group, "inner_offsets") || elementOf(group, "inner_offsets", 0) != 0 ||
        elementOf(group, "inner_offsets", hsize_t(inner - 1)) != p.values) {
      why = "inner_offsets do not cut the values";
      return false;
    }
    p.inner = inner - 1;
  }
  if (p.entries > 0 && !(elementOf(group, "event", hsize_t(p.entries - 1)) < events)) {
    why = "event numbers beyond the file's event count";
    return false;
  }
  return true;
}

struct Listing {
  std::map<std::string, Part>* parts;
  int64_t events;
  std::string why;
};

herr_t visitLink(hid_t root, const char* name, const H5L_info_t*, void* data) {
  Listing& l = *static_cast<Listing*>(data);
  Handle object(H5Oopen(root, name, H5P_DEFAULT), H5Oclose);
  if (object < 0 || H5Iget_type(object) != H5I_GROUP) {
    l.why = std::string(name) + " is not a group";
    return 1;
  }
  const hid_t group = object;
  Part p;
  std::string why;
  if (group < 0 || !readPart(group, l.events, p, why)) {
    l.why = "group " + std::string(name) + ": " + why;
    return 1;
  }
  (*l.parts)[name] = p;
  return 0;
}

// One run's file, checked as a whole before anything of it is joined.
struct RunFile {
  const Source* source = nullptr;
  int64_t events = 0;
  int64_t number = -1;  // the run number its writer recorded, else its name's
  std::map<std::string, Part> parts;
};

bool readRunFile(const Source& s, RunFile& f, std::string& why) {
  f.source = &s;
  Handle file(H5Fopen(s.path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT), H5Fclose);
  if (file < 0) {
    why = "not an HDF5 file, or cut short";
    return false;
  }
  if (!readInt64Attribute(file, "events", f.events) || f.events < 0) {
    why = "no events attribute: not written by Hdf5Writer";
    return false;
  }
  if (!readInt64Attribute(file, "run_number", f.number)) f.number = s.run->number;
  Listing listing{&f.parts, f.events, ""};
  if (H5Literate(file, H5_INDEX_NAME, H5_ITER_INC, nullptr, visitLink, &listing) != 0) {
    why = listing.why.empty() ? "its groups cannot be listed" : listing.why;
    return false;
  }
  return true;
}

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
// to each when `shifted` (int64 datasets). False with `error` when reading or writing fails.
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
      for (hsize_t i = 0; i < count; ++i) v[i] += shift;
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
  Handle sourceValues(H5Dopen2(source, "values", H5P_DEFAULT), H5Dclose);
  j.valuesType.reset(sourceValues >= 0 ? H5Dget_type(sourceValues) : -1, H5Tclose);
  j.group.reset(h5out::createGroup(file, name), H5Gclose);
  const int64_t zero = 0;
  bool ok = j.valuesType >= 0 && j.group >= 0 && h5out::writeAttribute(j.group, "tarn_type", p.tarnType) &&
            h5out::writeAttribute(j.group, "type", p.typeLabel) &&
            j.values.create(j.group, "values", j.valuesType, fast, queue, error) &&
            j.event.create(j.group, "event", H5T_NATIVE_INT64, fast, queue, error) &&
            j.run.create(j.group, "run", H5T_NATIVE_INT64, fast, queue, error) &&
            (!subruns || j.subrun.create(j.group, "subrun", H5T_NATIVE_INT64, fast, queue, error));
  if (ok && p.depth >= 1)
    ok = j.offsets.create(j.group, "offsets", H5T_NATIVE_INT64, fast, queue, error) && j.offsets.append(&zero, 1, error);
  if (ok && p.depth == 2)
    ok = j.innerOffsets.create(j.group, "inner_offsets", H5T_NATIVE_INT64, fast, queue, error) &&
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
  if (!copy(source, "values", j.valuesType, 0, false, 0, j.values, error) ||
      !copy(source, "event", H5T_NATIVE_INT64, 0, true, eventBase, j.event, error))
    return false;
  if (p.depth == 1 && !copy(source, "offsets", H5T_NATIVE_INT64, 1, true, j.valueCount, j.offsets, error))
    return false;
  if (p.depth == 2 && (!copy(source, "offsets", H5T_NATIVE_INT64, 1, true, j.innerCount, j.offsets, error) ||
                       !copy(source, "inner_offsets", H5T_NATIVE_INT64, 1, true, j.valueCount, j.innerOffsets, error)))
    return false;
  if (!repeat(run, p.entries, j.run, error) || (j.subrun.isOpen() && !repeat(subrun, p.entries, j.subrun, error)))
    return false;
  j.valueCount += p.values;
  j.innerCount += p.inner;
  return true;
}

bool sameValueType(hid_t group, hid_t type) {
  Handle d(H5Dopen2(group, "values", H5P_DEFAULT), H5Dclose);
  Handle t(d >= 0 ? H5Dget_type(d) : -1, H5Tclose);
  return t >= 0 && H5Tequal(t, type) > 0;
}

bool closeFailed = false;

std::string systemReason() { return errno ? std::string(": ") + std::strerror(errno) : std::string(); }

}  // namespace

bool hdf5CloseFailed() { return closeFailed; }

bool mergeHdf5(const std::string& target, const std::vector<Source>& sources) {
  bool clean = true;
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
  std::map<std::string, std::unique_ptr<Joined>> joined;
  int64_t events = 0;
  std::vector<std::string> names;
  std::vector<int64_t> indices, numbers, subrunNumbers;
  bool subruns = false;
  for (const RunFile& f : files) subruns = subruns || f.source->run->subrun >= 0;
  std::string error;
  bool ok = true;
  for (const RunFile& f : files) {
    Handle source(H5Fopen(f.source->path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT), H5Fclose);
    ok = source >= 0;
    if (!ok) error = "cannot open " + f.source->path;
    for (auto part = f.parts.begin(); ok && part != f.parts.end(); ++part) {
      Handle group(H5Gopen2(source, part->first.c_str(), H5P_DEFAULT), H5Gclose);
      std::unique_ptr<Joined>& j = joined[part->first];
      if (!j) {
        j.reset(new Joined);
        ok = startJoined(file, part->first, group, part->second, subruns, queue, *j, error);
        if (!ok) break;
      }
      if (j->stopped) continue;
      if (part->second.tarnType != j->first.tarnType || part->second.depth != j->first.depth ||
          !sameValueType(group, j->valuesType)) {
        // A long run stops writing a property whose type changes; so does the join.
        j->stopped = true;
        std::cerr << "tarn merge: " << f.source->path << ": property " << part->first << " changed type from "
                  << j->first.typeLabel << " to " << part->second.typeLabel << "; not joined from this run on\n";
        clean = false;
        continue;
      }
      ok = appendPart(group, part->second, events, f.number, f.source->run->subrun, *j, error);
      if (!ok) error = f.source->path + ": property " + part->first + ": " + error;
    }
    if (!ok) break;
    events += f.events;
    names.push_back(f.source->run->name);
    indices.push_back(f.source->run->index);
    numbers.push_back(f.number);
    subrunNumbers.push_back(f.source->run->subrun);
  }
  if (!ok) queue.discard();  // the file is lost: its chunks go before their datasets close
  for (auto& entry : joined) {
    Joined& j = *entry.second;
    for (Column* c : {&j.values, &j.offsets, &j.innerOffsets, &j.event, &j.run, &j.subrun}) {
      std::string closing;
      if (!ok) {
        c->abandon();
      } else if (!c->close(closing)) {
        ok = false;
        error = target + ": property " + entry.first + ": " + closing + systemReason();
        queue.discard();
      }
    }
    j.group.reset();
  }
  if (ok && !(h5out::writeAttribute(file, "events", events) && h5out::writeAttribute(file, "runs", names) &&
              h5out::writeAttribute(file, "run_index", indices) &&
              h5out::writeAttribute(file, "run_numbers", numbers) &&
              (!subruns || h5out::writeAttribute(file, "subruns", subrunNumbers)))) {
    ok = false;
    error = target + ": cannot write its attributes" + systemReason();
  }
  joined.clear();
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
  std::cout << target << ": " << files.size() << (files.size() == 1 ? " run, " : " runs, ") << events << " events\n";
  return clean;
}

}  // namespace merge
