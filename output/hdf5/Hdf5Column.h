// One extendible, chunked and compressed 1-D HDF5 dataset that is written in
// whole chunks as values arrive, so memory does not grow with the run.
#pragma once

#include <hdf5.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Hdf5ChunkQueue.h"
#include "Hdf5Deflate.h"

namespace h5out {

class Column {
 public:
  Column() = default;
  ~Column();
  Column(const Column&) = delete;
  Column& operator=(const Column&) = delete;

  // `type` is used in memory and in the file; the column copies it. Its
  // chunks go through `queue`, which must outlive the column's close.
  bool create(hid_t group, const std::string& name, hid_t type, Compression compression, ChunkQueue& queue,
              std::string& error);
  bool isOpen() const { return dataset >= 0; }

  // Buffers n elements; whole chunks go to the file as soon as they are complete.
  bool append(const void* data, size_t n, std::string& error);
  // Writes what is buffered (the last, partial chunk), waits for the queue to
  // write every chunk, and closes the dataset.
  bool close(std::string& error);
  // Closes the dataset without writing what is buffered (the file is lost);
  // the queue's chunks must be discarded first.
  void abandon();

 private:
  // Hands the chunk being filled, `n` elements of it real, to the queue.
  bool handOver(size_t n, std::string& error);

  hid_t dataset = -1;
  hid_t type = -1;
  size_t elementSize = 0;
  size_t chunk = 0;  // elements
  uint64_t written = 0;  // elements handed over
  Compression compression;
  ChunkQueue* queue = nullptr;
  std::unique_ptr<Chunk> filling;
};

// Owns an HDF5 identifier and closes it with the right call.
class Handle {
 public:
  explicit Handle(hid_t id = -1, herr_t (*closer)(hid_t) = H5Oclose) : id(id), closer(closer) {}
  ~Handle() { reset(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  void reset(hid_t other = -1, herr_t (*c)(hid_t) = H5Oclose) {
    if (id >= 0) closer(id);
    id = other;
    closer = c;
  }
  operator hid_t() const { return id; }

 private:
  hid_t id;
  herr_t (*closer)(hid_t);
};

// The system's reason ("No space left on device") of the HDF5 call that just
// failed, from the library's error stack, or `otherwise` when it names none.
// Call it before any other HDF5 call, which would clear the stack.
std::string failureReason(const std::string& otherwise);

// The HDF5 type that h5py reads as numpy bool: an 8-bit enum FALSE = 0, TRUE = 1.
hid_t boolType();

// A group without times in its object header, so that the same data give the
// same file, byte for byte (a Slurm task's and a local run's, say). -1 on failure.
hid_t createGroup(hid_t parent, const std::string& name);
// The same for a new file (its root group), replacing any file at `path`.
hid_t createFile(const std::string& path, hid_t access);

// Index chunks of growing datasets with the newer file format's extensible
// arrays instead of B-trees, and keep the metadata cache small and fixed: both
// keep memory flat however long the run (readers need HDF5 1.10). `access` is
// a file-access property list; a negative one is left alone.
void setFlatAccess(hid_t access);

// Attributes on a group or file.
bool writeAttribute(hid_t object, const char* name, int64_t value);
bool writeAttribute(hid_t object, const char* name, const std::string& value);
// One-dimensional: variable-length UTF-8 texts, or int64 numbers.
bool writeAttribute(hid_t object, const char* name, const std::vector<std::string>& texts);
bool writeAttribute(hid_t object, const char* name, const std::vector<int64_t>& values);

}  // namespace h5out
