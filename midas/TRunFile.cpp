#include "TRunFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "BusErrorGuard.h"
#include "TMidasEvent.h"

namespace {

// Room for the largest event wherever it starts in a page, and few enough
// mapped pages that the resident size stays small.
const uint64_t kMapWindow = 4 * 1024 * 1024;
static_assert(kMapWindow > TMidasEvent::kMaxDataSize + sizeof(MidasEventHeader) + 65536,
              "a window holds the largest event");

// Their data areas go out as C text, so they get a copy with a NUL after it.
bool isTextEvent(uint16_t id) { return id == 0x8000 || id == 0x8001 || id == 0x8002; }

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
    : fLastErrno(0),
      fFile(-1),
      fGzFile(nullptr),
      fBufferBegin(0),
      fBufferEnd(0),
      fMapped(false),
      fGuard(-1),
      fTripped(busguard::tripped(-1)),
      fMap(nullptr),
      fMapOffset(0),
      fMapLength(0),
      fPos(0),
      fSize(0) {}

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
    return true;
  }
  // Pipes, devices and files whose size cannot be learnt are read().
  if (::fstat(fFile, &st) == 0 && S_ISREG(st.st_mode)) {
    fGuard = busguard::watch();
    fTripped = busguard::tripped(fGuard);
    fMapped = fGuard >= 0;
    fSize = static_cast<uint64_t>(st.st_size);
    fPos = 0;
  }
  return true;
}

void TRunFile::unmap() {
  if (fMap) ::munmap(fMap, fMapLength);
  fMap = nullptr;
  fMapOffset = fMapLength = 0;
  busguard::cover(fGuard, nullptr, 0);
}

// Goes on with read() from the next byte to hand out (a file that cannot be
// mapped, or whose mapped pages failed).
void TRunFile::stopMapping() {
  unmap();
  busguard::forget(fGuard);
  fGuard = -1;
  fTripped = busguard::tripped(-1);
  if (fMapped) ::lseek(fFile, static_cast<off_t>(fPos), SEEK_SET);
  fMapped = false;
}

// Maps a window of the file that holds [begin, end), both within fSize. False
// when the file cannot be mapped; reading then goes on by read().
bool TRunFile::mapWindow(uint64_t begin, uint64_t end) {
  unmap();
  const uint64_t page = static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
  const uint64_t base = begin / page * page;
  uint64_t length = end - base > kMapWindow ? end - base : kMapWindow;
  if (length > fSize - base) length = fSize - base;
  // Writable but private: an event's bytes are swapped in place, never in the file.
  void* m = ::mmap(nullptr, static_cast<size_t>(length), PROT_READ | PROT_WRITE, MAP_PRIVATE, fFile,
                   static_cast<off_t>(base));
  if (m == MAP_FAILED) {
    stopMapping();
    return false;
  }
  fMap = static_cast<char*>(m);
  fMapOffset = base;
  fMapLength = length;
  busguard::cover(fGuard, fMap, static_cast<size_t>(length));
  return true;
}

// The next `count` bytes of the file, fewer where it ends, with *got their
// number; null with *got 0 at the end of the file or when the file could not
// be mapped (fMapped is then false). Nothing is handed out: fPos stays.
const char* TRunFile::view(uint64_t count, uint64_t* got) {
  *got = 0;
  uint64_t end = fPos + count;
  if (end > fSize) {
    // The file may have grown since it was last looked at, as read() would see.
    struct stat st;
    if (::fstat(fFile, &st) == 0) fSize = static_cast<uint64_t>(st.st_size);
    if (end > fSize) end = fSize > fPos ? fSize : fPos;
  }
  if (end == fPos) return nullptr;
  if (fPos < fMapOffset || end > fMapOffset + fMapLength) {
    if (!mapWindow(fPos, end)) return nullptr;
  }
  *got = end - fPos;
  return fMap + (fPos - fMapOffset);
}

// A bus error hit the window: the file was cut short under us, or a page of it
// could not be read. Its zero pages are dropped and the reader stops mapping.
bool TRunFile::mappedPagesFailed() {
  struct stat st;
  const bool cut = ::fstat(fFile, &st) == 0 &&
                   static_cast<uint64_t>(st.st_size) < fMapOffset + fMapLength;
  if (cut) {
    fLastErrno = -1;
    fLastError = "Run file was cut short while being read";
  } else {
    fLastErrno = EIO;
    fLastError = std::strerror(EIO);
  }
  stopMapping();
  return false;
}

// Asks the processor for the window's bytes a fixed distance past the
// `count` bytes that end at the read position: by the time the events there
// are read their headers and banks are in the cache, rather than each costing
// a wait on memory. Offsets, not pointers, so nothing points outside the map.
// Always inlined: a call to it has no effect the compiler can see, so GCC
// drops the call altogether (and the reader waits on every header again).
__attribute__((always_inline)) inline void TRunFile::prefetchAhead(uint64_t count) const {
  // A few events ahead for ~1 KiB events: far enough to hide the wait, near
  // enough that the pages are already mapped (the kernel maps them in runs).
  const uint64_t distance = 4096;
  const uint64_t line = 64;
  if (count == 0) return;
  const uint64_t from = fPos - count - fMapOffset + distance;
  const uint64_t to = from + count < fMapLength ? from + count : fMapLength;
  for (uint64_t at = from; at < to; at += line) __builtin_prefetch(fMap + at);
}

// Whether a bus error hit the window. The fence keeps the compiler from asking
// before the accesses that might have raised it.
bool TRunFile::tripped() const {
  std::atomic_signal_fence(std::memory_order_seq_cst);
  return fTripped->load(std::memory_order_relaxed);
}

// Read for a mapped file, with the same results in the same cases.
bool TRunFile::readMapped(TMidasEvent* event, bool inPlace) {
  // A bus error in the last event's data, met by whoever used them.
  if (tripped()) return mappedPagesFailed();
  const uint64_t headerSize = sizeof(MidasEventHeader);
  uint64_t got = 0;
  const char* header = view(headerSize, &got);
  if (!fMapped) return read(event, inPlace);  // from fPos on, by read()
  if (got == 0) {
    fLastErrno = 0;
    fLastError = "EOF";
    return false;
  }
  if (got < headerSize) {
    fPos += got;
    errno = 0;
    setReadError();
    return false;
  }
  std::memcpy(event->GetEventHeader(), header, headerSize);
  if (tripped()) return mappedPagesFailed();
  fPos += headerSize;
  if (!event->IsGoodSize()) {
    fLastErrno = -1;
    fLastError = "Invalid event size";
    return false;
  }
  const uint32_t size = event->GetDataSize();
  char* data = const_cast<char*>(view(size, &got));
  if (!fMapped) {
    // The header came from the map, the data come by read().
    const long n = readBuffered(event->GetData(), size);
    if (n == static_cast<long>(size)) {
      event->SwapBytes(false);
      return true;
    }
    setReadError();
    return false;
  }
  fPos += got;
  prefetchAhead(got);
  if (got < size) {
    errno = 0;
    setReadError();
    return false;
  }
  if (inPlace && !isTextEvent(event->GetEventId())) {
    event->SetData(size, data);  // turns the bytes as Read does
  } else {
    std::memcpy(event->GetData(), data, size);
    event->SwapBytes(false);
  }
  if (tripped()) {
    event->Clear();
    return mappedPagesFailed();
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

bool TRunFile::Read(TMidasEvent* event) { return read(event, false); }

bool TRunFile::ReadInPlace(TMidasEvent* event) { return read(event, true); }

bool TRunFile::read(TMidasEvent* event, bool inPlace) {
  event->Clear();
  errno = 0;
  if (fMapped) return readMapped(event, inPlace);
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
  fMapped = false;  // nothing to go on reading from
  stopMapping();
  if (fGzFile) {
    gzclose(fGzFile);  // closes the descriptor too
    fGzFile = nullptr;
  } else if (fFile >= 0) {
    ::close(fFile);
  }
  fPos = fSize = 0;
  fFile = -1;
  fFilename.clear();
  fBufferBegin = fBufferEnd = 0;  // bytes of the former file are no one's now
}
