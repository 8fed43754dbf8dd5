#include "Hdf5Column.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace h5out {

namespace {

// About 128 KiB a chunk: good compression, little memory per column.
constexpr size_t kChunkBytes = 128 * 1024;

}  // namespace

Column::~Column() {
  std::string ignored;
  close(ignored);
}

bool Column::create(hid_t group, const std::string& name, hid_t t, Compression how, ChunkQueue& q,
                    std::string& error) {
  type = H5Tcopy(t);
  elementSize = H5Tget_size(t);
  chunk = std::max<size_t>(1024, kChunkBytes / elementSize);
  compression = how;
  queue = &q;
  const hsize_t zero = 0, unlimited = H5S_UNLIMITED, chunkDims = chunk;
  Handle space(H5Screate_simple(1, &zero, &unlimited), H5Sclose);
  Handle create(H5Pcreate(H5P_DATASET_CREATE), H5Pclose);
  Handle access(H5Pcreate(H5P_DATASET_ACCESS), H5Pclose);
  // The filters are recorded for readers; the chunks are compressed here, as they would.
  bool ok = space >= 0 && create >= 0 && access >= 0 && H5Pset_chunk(create, 1, &chunkDims) >= 0 &&
            (how.method == Compression::None ||
             (H5Pset_shuffle(create) >= 0 && H5Pset_deflate(create, unsigned(how.level)) >= 0)) &&
            // No times in the object header: the same run gives the same bytes.
            H5Pset_obj_track_times(create, false) >= 0 &&
            // Chunks are written whole and never read back: no cache needed.
            H5Pset_chunk_cache(access, 0, 0, 1.0) >= 0;
  if (ok) dataset = H5Dcreate2(group, name.c_str(), type, space, H5P_DEFAULT, create, access);
  if (dataset < 0) {
    error = failureReason("cannot create dataset " + name);
    return false;
  }
  return true;
}

bool Column::handOver(size_t n, std::string& error) {
  filling->raw.resize(chunk * elementSize);  // a partial chunk is padded with zeros, as HDF5 fills it
  filling->dataset = dataset;
  filling->offset = written;
  filling->extent = written + n;
  filling->elementSize = elementSize;
  filling->compression = compression;
  written += n;
  return queue->put(std::move(filling), error);
}

bool Column::append(const void* data, size_t n, std::string& error) {
  if (dataset < 0) return false;
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  const size_t capacity = chunk * elementSize;
  while (n > 0) {
    if (!filling) {
      filling = queue->blank();
      filling->raw.reserve(capacity);
    }
    std::vector<unsigned char>& buffer = filling->raw;
    const size_t take = std::min(n, (capacity - buffer.size()) / elementSize);
    buffer.insert(buffer.end(), bytes, bytes + take * elementSize);
    bytes += take * elementSize;
    n -= take;
    if (buffer.size() == capacity && !handOver(chunk, error)) return false;
  }
  return true;
}

bool Column::close(std::string& error) {
  if (dataset < 0) return true;
  bool ok = !filling || filling->raw.empty() || handOver(filling->raw.size() / elementSize, error);
  ok = ok && queue->finish(error);
  filling.reset();
  if (H5Dclose(dataset) < 0 && ok) {
    error = failureReason("cannot close a dataset");
    ok = false;
  }
  H5Tclose(type);
  dataset = type = -1;
  return ok;
}

void Column::abandon() {
  filling.reset();
  if (dataset >= 0) H5Dclose(dataset);
  if (type >= 0) H5Tclose(type);
  dataset = type = -1;
}

namespace {

// The file drivers put "errno = N" into the message of a failed system call.
herr_t findErrno(unsigned, const H5E_error2_t* record, void* found) {
  const char* at = record->desc ? std::strstr(record->desc, "errno = ") : nullptr;
  if (at && *static_cast<int*>(found) == 0) *static_cast<int*>(found) = std::atoi(at + 8);
  return 0;
}

}  // namespace

std::string failureReason(const std::string& otherwise) {
  int err = 0;
  H5Ewalk2(H5E_DEFAULT, H5E_WALK_DOWNWARD, findErrno, &err);
  return err > 0 ? std::string(std::strerror(err)) : otherwise;
}

hid_t createGroup(hid_t parent, const std::string& name) {
  Handle create(H5Pcreate(H5P_GROUP_CREATE), H5Pclose);
  if (create < 0 || H5Pset_obj_track_times(create, false) < 0) return -1;
  return H5Gcreate2(parent, name.c_str(), H5P_DEFAULT, create, H5P_DEFAULT);
}

hid_t createFile(const std::string& path, hid_t access) {
  Handle create(H5Pcreate(H5P_FILE_CREATE), H5Pclose);
  if (create < 0 || H5Pset_obj_track_times(create, false) < 0) return -1;
  const hid_t file = H5Fcreate(path.c_str(), H5F_ACC_TRUNC, create, access);
  if (file < 0) {
    // Closing the list would clear the error stack that failureReason reads.
    const hid_t stack = H5Eget_current_stack();
    create.reset();
    if (stack >= 0) H5Eset_current_stack(stack);
  }
  return file;
}

void setFlatAccess(hid_t access) {
  if (access < 0) return;
  H5Pset_libver_bounds(access, H5F_LIBVER_V110, H5F_LIBVER_LATEST);
  H5AC_cache_config_t cache;
  cache.version = H5AC__CURR_CACHE_CONFIG_VERSION;
  if (H5Pget_mdc_config(access, &cache) >= 0) {
    cache.set_initial_size = true;
    cache.initial_size = 1 << 20;
    cache.min_size = 1 << 20;
    cache.max_size = 1 << 20;
    cache.incr_mode = H5C_incr__off;
    cache.flash_incr_mode = H5C_flash_incr__off;
    cache.decr_mode = H5C_decr__off;
    H5Pset_mdc_config(access, &cache);
  }
}

hid_t boolType() {
  hid_t t = H5Tenum_create(H5T_NATIVE_INT8);
  for (int8_t v : {int8_t(0), int8_t(1)}) H5Tenum_insert(t, v ? "TRUE" : "FALSE", &v);
  return t;
}

bool writeAttribute(hid_t object, const char* name, int64_t value) {
  Handle space(H5Screate(H5S_SCALAR), H5Sclose);
  Handle a(H5Acreate2(object, name, H5T_NATIVE_INT64, space, H5P_DEFAULT, H5P_DEFAULT), H5Aclose);
  return a >= 0 && H5Awrite(a, H5T_NATIVE_INT64, &value) >= 0;
}

bool writeAttribute(hid_t object, const char* name, const std::string& value) {
  // Variable-length UTF-8, which h5py reads as str.
  Handle t(H5Tcopy(H5T_C_S1), H5Tclose);
  if (t < 0 || H5Tset_size(t, H5T_VARIABLE) < 0 || H5Tset_cset(t, H5T_CSET_UTF8) < 0) return false;
  Handle space(H5Screate(H5S_SCALAR), H5Sclose);
  Handle a(H5Acreate2(object, name, t, space, H5P_DEFAULT, H5P_DEFAULT), H5Aclose);
  const char* text = value.c_str();
  return a >= 0 && H5Awrite(a, t, &text) >= 0;
}

bool writeAttribute(hid_t object, const char* name, const std::vector<std::string>& texts) {
  Handle type(H5Tcopy(H5T_C_S1), H5Tclose);
  if (type < 0 || H5Tset_size(type, H5T_VARIABLE) < 0 || H5Tset_cset(type, H5T_CSET_UTF8) < 0) return false;
  std::vector<const char*> pointers;
  for (const std::string& t : texts) pointers.push_back(t.c_str());
  const hsize_t n = pointers.size();
  Handle space(H5Screate_simple(1, &n, nullptr), H5Sclose);
  Handle a(H5Acreate2(object, name, type, space, H5P_DEFAULT, H5P_DEFAULT), H5Aclose);
  return a >= 0 && H5Awrite(a, type, pointers.data()) >= 0;
}

bool writeAttribute(hid_t object, const char* name, const std::vector<int64_t>& values) {
  const hsize_t n = values.size();
  Handle space(H5Screate_simple(1, &n, nullptr), H5Sclose);
  Handle a(H5Acreate2(object, name, H5T_NATIVE_INT64, space, H5P_DEFAULT, H5P_DEFAULT), H5Aclose);
  return a >= 0 && H5Awrite(a, H5T_NATIVE_INT64, values.data()) >= 0;
}

}  // namespace h5out
