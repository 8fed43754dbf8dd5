// A result file written under a temporary name in its own directory and
// renamed over its final name only once all of it was written, flushed and
// closed without error. Until then a previous file of that name stays as it
// was; a process killed half-way leaves at most the hidden temporary file.
//
// A final name that is not a regular file (/dev/null, /dev/full, a pipe) is
// written in place: renaming over a device would replace the device.
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
  // the mode a new file would get (or the mode of the file it will replace).
  // False (and error()) when it cannot.
  bool open();
  // Instead of open(): writes the final name itself from the start, for a file
  // that others read while it grows (a live run). A failure leaves what was written.
  bool openGrowing();
  // A stdio stream on the temporary file, for writers that print; null before
  // open(). Its write errors are kept with their reason and reported by
  // commit(). Whoever closes it (fclose, or a library it was handed to),
  // commit() still syncs and renames the file. Writers that need a file name
  // (HDF5) use tempPath() instead.
  std::FILE* stream();
  const std::string& tempPath() const { return temp_; }
  const std::string& finalPath() const { return final_; }
  // The system's reason of the first write that failed on stream(), or 0.
  int writeError() const { return writeErr_; }
  // Bytes that went through stream() to the file so far.
  unsigned long long bytesWritten() const { return written_; }

  // Whether commit() waits for the file and its rename to reach the disk.
  // Unsynced is for small records that are cheap to make again (a batch's
  // run status): the rename still keeps a half file from ever being read,
  // only a machine crash may lose the record, and a sync per record would
  // cost a short run as much as its own work.
  enum class Sync { Disk, None };

  // Flushes, syncs (unless Sync::None) and closes the temporary file, then
  // renames it over the final name. False (and error()) on any failure, the
  // temporary file removed.
  bool commit(Sync sync = Sync::Disk);
  // Removes the temporary file; the final name is left untouched.
  void discard();
  // Records a failure found by the writer itself (errno-style code) so that
  // error() names it; the file is discarded.
  void fail(int err);

  // "PATH: reason" of the first failure, naming the final path.
  const std::string& error() const { return error_; }

 private:
  struct Cookie;
  bool fail(const char* what, int err);
  bool openInPlace();

  std::string final_;
  std::string target_;  // the file that is replaced: final_, or where its symlink points
  std::string temp_;
  std::string error_;
  int fd_ = -1;
  std::FILE* stream_ = nullptr;
  int writeErr_ = 0;
  unsigned long long written_ = 0;
  bool inPlace_ = false;
  bool committed_ = false;
};
