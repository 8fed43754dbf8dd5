// A result file written under a temporary name in its own directory and
// renamed over its final name only once all of it was written, flushed and
// closed without error. Until then a previous file of that name stays as it
// was; a process killed half-way leaves at most the hidden temporary file.
#pragma once

#include <cstdio>
#include <string>

class AtomicFile {
 public:
  explicit AtomicFile(std::string finalPath);
  ~AtomicFile();  // removes the temporary file unless committed
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Creates the temporary file ".NAME.XXXXXX.tmp" beside the final name, with
  // the mode a new file would get. False (and error()) when it cannot.
  bool open();
  // A stdio stream on the temporary file, for writers that print; null before
  // open(). Writers that need a file name (HDF5, PLplot) use tempPath() instead.
  std::FILE* stream();
  const std::string& tempPath() const { return temp_; }
  const std::string& finalPath() const { return final_; }

  // Flushes, syncs and closes the temporary file, then renames it over the
  // final name. False (and error()) on any failure, the temporary file removed.
  bool commit();
  // Removes the temporary file; the final name is left untouched.
  void discard();

  // "PATH: reason" of the first failure, naming the final path.
  const std::string& error() const { return error_; }

 private:
  bool fail(const char* what, int err);

  std::string final_;
  std::string temp_;
  std::string error_;
  int fd_ = -1;
  std::FILE* stream_ = nullptr;
  bool committed_ = false;
};
