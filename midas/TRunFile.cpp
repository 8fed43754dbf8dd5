#include "TRunFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "TMidasEvent.h"

namespace {

// Large enough that a read's system-call cost is small beside its copying,
// small enough to stay in the processor's cache for the copy out.
const long kBufferSize = 256 * 1024;
// zlib's input and output buffers, each (its default is 8 KiB).
const unsigned kGzBufferSize = 256 * 1024;

// Reads `count` bytes unless the file ends first; -1 on a failed read.
long readpipe(int fd, char* buffer, long count) {
  if (count < 1) return 0;
  long done = 0;
  while (done < count) {
    ssize_t n = ::read(fd, buffer + done, static_cast<size_t>(count - done));
    if (n == 0) return done;
    if (n < 0) {
      if (errno == EINTR) continue;  // a signal is no read error
      return -1;
    }
    done += n;
  }
  return done;
}

}  // namespace

TRunFile::TRunFile()
    : fLastErrno(0), fFile(-1), fGzFile(nullptr), fBufferBegin(0), fBufferEnd(0) {}

TRunFile::~TRunFile() { Close(); }

bool TRunFile::Open(const char* filename) {
  if (fFile >= 0 || fGzFile) Close();
  fFilename = filename ? filename : "";
  fFile = ::open(fFilename.c_str(), O_RDONLY | O_CLOEXEC);
  if (fFile < 0) {
    fLastErrno = errno;
    fLastError = std::strerror(errno);
    return false;
  }
  // A directory opens read-only but is no run file: let the search go on.
  struct stat st;
  if (::fstat(fFile, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fFile);
    fFile = -1;
    fLastErrno = EISDIR;
    fLastError = std::strerror(EISDIR);
    return false;
  }
  const size_t n = fFilename.size();
  if (n >= 2 && fFilename.compare(n - 2, 2, "gz") == 0) {
    fGzFile = gzdopen(fFile, "rb");
    if (!fGzFile) {
      fLastErrno = -1;
      fLastError = "zlib gzdopen() error";
      return false;
    }
    gzbuffer(fGzFile, kGzBufferSize);  // before the first read, or zlib ignores it
  }
  return true;
}

long TRunFile::readBytes(void* buffer, unsigned count) {
  if (fGzFile) return gzread(fGzFile, buffer, count);
  return readBuffered(static_cast<char*>(buffer), count);
}

// What readpipe gives for the same count, in the same cases, with the file
// taken in blocks: `count` bytes, fewer when the file ends first (all that was
// left is handed out, as readpipe would have consumed it), -1 on a failed read.
long TRunFile::readBuffered(char* buffer, long count) {
  if (count < 1) return 0;
  long done = 0;
  for (;;) {
    const long have = fBufferEnd - fBufferBegin;
    const long take = have < count - done ? have : count - done;
    if (take > 0) {
      std::memcpy(buffer + done, fBuffer.get() + fBufferBegin, static_cast<size_t>(take));
      fBufferBegin += take;
      done += take;
    }
    if (done == count) return done;
    // The buffer is empty. What is left of a large event goes straight to it.
    fBufferBegin = fBufferEnd = 0;
    if (count - done >= kBufferSize) {
      const long n = readpipe(fFile, buffer + done, count - done);
      return n < 0 ? -1 : done + n;
    }
    if (!fBuffer) fBuffer.reset(new char[kBufferSize]);
    ssize_t n;
    do {
      n = ::read(fFile, fBuffer.get(), static_cast<size_t>(kBufferSize));
    } while (n < 0 && errno == EINTR);
    if (n < 0) return -1;
    if (n == 0) return done;
    fBufferEnd = n;
  }
}

// A short or failed read. A file that simply ends inside an event leaves errno
// at 0, which must not read as "Success".
void TRunFile::setReadError() {
  if (fGzFile) {
    int zerr = Z_OK;
    const char* text = gzerror(fGzFile, &zerr);
    if (zerr != Z_OK && zerr != Z_ERRNO) {
      fLastErrno = -1;
      fLastError = std::string("zlib: ") + (text ? text : "read error");
      return;
    }
  }
  if (errno != 0) {
    fLastErrno = errno;
    fLastError = std::strerror(errno);
  } else {
    fLastErrno = -1;
    fLastError = "Unexpected end of file inside an event";
  }
}

bool TRunFile::Read(TMidasEvent* event) {
  event->Clear();
  errno = 0;
  const long headerSize = sizeof(MidasEventHeader);
  long got = readBytes(event->GetEventHeader(), headerSize);
  if (got == 0) {
    fLastErrno = 0;
    fLastError = "EOF";
    return false;
  }
  if (got == headerSize) {
    if (!event->IsGoodSize()) {
      fLastErrno = -1;
      fLastError = "Invalid event size";
      return false;
    }
    const long size = event->GetDataSize();
    got = readBytes(event->GetData(), static_cast<unsigned>(size));
    if (got == size) {
      event->SwapBytes(false);
      return true;
    }
  }
  setReadError();
  return false;
}

void TRunFile::Close() {
  if (fGzFile) {
    gzclose(fGzFile);  // closes the descriptor too
    fGzFile = nullptr;
  } else if (fFile >= 0) {
    ::close(fFile);
  }
  fFile = -1;
  fFilename.clear();
  fBufferBegin = fBufferEnd = 0;  // bytes of the former file are no one's now
}
