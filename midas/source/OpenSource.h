// Chooses how a run file's bytes are got, from its first bytes alone: the
// magic number of gzip, lz4, bzip2 or zstd picks that decoder, anything else
// is read plain (mapped when it is a regular file).
#pragma once

#include <memory>

#include "ByteSource.h"

class Interruption;

// Which inflate reads gzip.
enum class GzipInflater {
  Fastest,  // ISA-L where the build has it, else zlib
  Zlib,
};

// The name of the form chosen, for messages and tests.
enum class RunForm { Plain, Gzip, Lz4, Bzip2, Zstd };

// The form whose magic number begins [bytes, bytes + n); Plain for none.
RunForm formOf(const unsigned char* bytes, size_t n);
// Whether this build reads gzip through ISA-L when asked for the fastest.
bool haveIsal();

// How a source is made, besides the form its bytes tell.
struct SourceOptions {
  GzipInflater inflater = GzipInflater::Fastest;
  // A compressed run is decoded on a thread of its own, ahead of the reader.
  bool decodeThread = false;
  // Ends the waits of the source (for a pipe's bytes, for the decoder's
  // thread); it must outlive the source. Null: waits end by themselves only.
  Interruption* interruption = nullptr;
  // A plain regular file is mapped, its events used where they lie. False:
  // read() into one reused buffer instead, for a reader that copies out all
  // it keeps; no page table changes as it goes, which mapping pays per page.
  bool mapPlainFile = true;
};

// A source for the open descriptor `fd` (not owned), read from its start.
// Null with *empty true when a regular file holds no byte yet: nothing can be
// chosen, and the caller asks again later.
std::unique_ptr<ByteSource> openSource(int fd, const SourceOptions& options, bool* empty);
inline std::unique_ptr<ByteSource> openSource(int fd, GzipInflater inflater, bool* empty) {
  SourceOptions options;
  options.inflater = inflater;
  return openSource(fd, options, empty);
}
