#include "Hdf5RunFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "Hdf5Column.h"
#include "Hdf5Layout.h"

namespace merge {

namespace {

using h5out::Handle;

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

// The largest chunk the join reads (the Hdf5Writer's are 128 KiB), and the
// widest value (the writer's are at most 8 bytes).
constexpr hsize_t kMaxChunkBytes = hsize_t(16) << 20;
constexpr size_t kMaxValueBytes = 16;
constexpr hsize_t kMaxExpansion = 2048;

// Whether the data dataset `name` claims are really in the file: every chunk
// stored, or a contiguous block inside the file as long as the extent. A chunk
// that is not stored reads as fill values, so a few bytes could claim 2^40 entries
// and the join would copy them for ever. Adds what the dataset claims to `claimed`.
bool stored(hid_t group, const char* name, hsize_t fileSize, hsize_t& claimed, std::string& why) {
  Handle d(H5Dopen2(group, name, H5P_DEFAULT), H5Dclose);
  Handle space(d >= 0 ? H5Dget_space(d) : -1, H5Sclose);
  Handle type(d >= 0 ? H5Dget_type(d) : -1, H5Tclose);
  Handle create(d >= 0 ? H5Dget_create_plist(d) : -1, H5Pclose);
  hsize_t n = 0;
  const size_t size = type >= 0 ? H5Tget_size(type) : 0;
  auto refuse = [&](const std::string& reason) {
    why = name + (": " + reason);
    return false;
  };
  if (space < 0 || create < 0 || H5Sget_simple_extent_dims(space, &n, nullptr) != 1) return refuse("unreadable");
  if (size == 0 || size > kMaxValueBytes || H5Tis_variable_str(type) != 0 || H5Tdetect_class(type, H5T_VLEN) != 0 ||
      H5Tget_class(type) == H5T_REFERENCE)
    return refuse("not a column of numbers");
  if (n > (hsize_t(1) << 56) / size) return refuse("too long");
  claimed += n * size;
  if (H5Pget_external_count(create) != 0) return refuse("its data are in other files");
  switch (H5Pget_layout(create)) {
    case H5D_COMPACT:
      return true;  // in the object's header, at most 64 KiB
    case H5D_CONTIGUOUS: {
      const haddr_t at = H5Dget_offset(d);
      if (n == 0 || (H5Dget_storage_size(d) >= n * size && at != HADDR_UNDEF && at <= fileSize && fileSize - at >= n * size))
        return true;
      return refuse("its data are not in the file");
    }
    case H5D_CHUNKED: {
      hsize_t chunk = 0, chunks = 0;
      if (H5Pget_chunk(create, 1, &chunk) != 1 || chunk == 0 || chunk > kMaxChunkBytes / size)
        return refuse("chunks of more than 16 MiB");
      if (H5Dget_num_chunks(d, space, &chunks) < 0 || chunks != (n + chunk - 1) / chunk)
        return refuse(std::to_string(chunks) + " of its " + std::to_string((n + chunk - 1) / chunk) + " chunks stored");
      return true;
    }
    default:
      return refuse("not laid out as a column");
  }
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

// Checks that `group` is laid out as Hdf5Writer lays out a property; false with `why`.
bool readPart(hid_t group, int64_t events, hsize_t fileSize, hsize_t& claimed, Part& p, std::string& why) {
  if (!readInt64Attribute(group, h5layout::kTarnType, p.tarnType) || !readStringAttribute(group, h5layout::kType, p.typeLabel)) {
    why = "no tarn_type and type attributes";
    return false;
  }
  p.entries = lengthOf(group, h5layout::kEvent);
  p.values = lengthOf(group, h5layout::kValues);
  if (p.entries < 0 || p.values < 0 || !isInt64(group, h5layout::kEvent)) {
    why = "no 1-D values and int64 event datasets";
    return false;
  }
  const long long offsets = lengthOf(group, h5layout::kOffsets), inner = lengthOf(group, h5layout::kInnerOffsets);
  const std::pair<const char*, long long> columns[] = {
      {h5layout::kValues, p.values}, {h5layout::kEvent, p.entries}, {h5layout::kOffsets, offsets}, {h5layout::kInnerOffsets, inner}};
  for (const auto& column : columns)
    if (column.second >= 0 && !stored(group, column.first, fileSize, claimed, why)) return false;
  p.depth = offsets < 0 ? 0 : inner < 0 ? 1 : 2;
  if (p.depth == 0 && (inner >= 0 || p.values != p.entries)) {
    why = "values and event differ in length";
    return false;
  }
  if (p.depth >= 1) {
    // offsets cut the next level down: values for lists, inner_offsets for lists of lists.
    const long long below = p.depth == 1 ? p.values : inner - 1;
    if (offsets != p.entries + 1 || !isInt64(group, h5layout::kOffsets) || elementOf(group, h5layout::kOffsets, 0) != 0 ||
        elementOf(group, h5layout::kOffsets, hsize_t(offsets - 1)) != below) {
      why = "offsets do not cut the values of its entries";
      return false;
    }
  }
  if (p.depth == 2) {
    if (inner < 1 || !isInt64(group, h5layout::kInnerOffsets) || elementOf(group, h5layout::kInnerOffsets, 0) != 0 ||
        elementOf(group, h5layout::kInnerOffsets, hsize_t(inner - 1)) != p.values) {
      why = "inner_offsets do not cut the values";
      return false;
    }
    p.inner = inner - 1;
  }
  if (p.entries > 0 && !(elementOf(group, h5layout::kEvent, hsize_t(p.entries - 1)) < events)) {
    why = "event numbers beyond the file's event count";
    return false;
  }
  return true;
}

struct Listing {
  std::map<std::string, Part>* parts;
  int64_t events;
  hsize_t fileSize, claimed;  // bytes of the file, and of the data its columns claim
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
  if (group < 0 || !readPart(group, l.events, l.fileSize, l.claimed, p, why)) {
    l.why = "group " + std::string(name) + ": " + why;
    return 1;
  }
  (*l.parts)[name] = p;
  return 0;
}

// The checks themselves, in whichever process makes them.
bool readLayout(const Source& s, RunFile& f, std::string& why) {
  f.source = &s;
  Handle file(H5Fopen(s.path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT), H5Fclose);
  if (file < 0) {
    why = "not an HDF5 file, or cut short";
    return false;
  }
  if (!readInt64Attribute(file, h5layout::kEvents, f.events) || f.events < 0) {
    why = "no events attribute: not written by Hdf5Writer";
    return false;
  }
  if (!readInt64Attribute(file, h5layout::kRunNumber, f.number)) f.number = s.run->number;
  struct stat st;
  Listing listing{&f.parts, f.events, ::stat(s.path.c_str(), &st) == 0 ? hsize_t(st.st_size) : 0, 0, ""};
  if (H5Literate(file, H5_INDEX_NAME, H5_ITER_INC, nullptr, visitLink, &listing) != 0) {
    why = listing.why.empty() ? "its groups cannot be listed" : listing.why;
    return false;
  }
  // Deflate packs at most about 1,000 bytes into one: more than twice that is
  // chunks that repeat one another's bytes.
  if (listing.claimed / kMaxExpansion > listing.fileSize) {
    why = "its columns claim " + std::to_string(listing.claimed) + " bytes, far more than its " +
          std::to_string(listing.fileSize) + " could hold";
    return false;
  }
  return true;
}

// Whether the HDF5 library reads the file's layout without crashing, tried in
// a child: the library faults on some forged files (a damaged global heap), and
// one forged run must cost only itself. False with `why` when it does not.
bool readsSafely(const Source& s, std::string& why) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return true;  // no child: read as before
  const pid_t child = ::fork();
  if (child == 0) {
    RunFile f;
    std::string reason;
    bool ok = readLayout(s, f, reason);
    ::close(fds[0]);
    if (::write(fds[1], reason.data(), reason.size()) < 0) ok = false;
    ::_exit(ok ? 0 : 1);
  }
  ::close(fds[1]);
  std::string reason;
  char buffer[512];
  for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) != 0;)
    if (n > 0) reason.append(buffer, size_t(n));
    else if (errno != EINTR) break;
  ::close(fds[0]);
  int status = 0;
  if (child < 0) return true;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {}
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
  why = WIFSIGNALED(status) ? "the HDF5 library fails reading it (" + std::string(strsignal(WTERMSIG(status))) + ")"
                            : reason;
  return false;
}

}  // namespace

bool readRunFile(const Source& s, RunFile& f, std::string& why) {
  f.source = &s;
  return readsSafely(s, why) && readLayout(s, f, why);
}

}  // namespace merge
