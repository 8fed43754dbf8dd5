#include "MappedFileSource.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "BusErrorGuard.h"

namespace {

// Room for the largest event wherever it starts in a page, and few enough
// mapped pages that the resident size stays small.
const uint64_t kMapWindow = 4 * 1024 * 1024;
static_assert(kMapWindow > ByteSource::kMaxPeek + 65536, "a window holds the largest event");

}  // namespace

MappedFileSource::MappedFileSource(int fd) : fFd(fd), fGuard(busguard::watch()) {
  fTripped = busguard::tripped(fGuard);
  struct stat st;
  if (::fstat(fFd, &st) == 0) fSize = static_cast<uint64_t>(st.st_size);
  // Read from start to end: the kernel reads ahead further than by default.
  ::posix_fadvise(fFd, 0, 0, POSIX_FADV_SEQUENTIAL);
  if (fGuard < 0) stopMapping();  // no guard: a cut file would end the process
}

MappedFileSource::~MappedFileSource() {
  unmap();
  busguard::forget(fGuard);
}

void MappedFileSource::unmap() {
  if (fMap) ::munmap(fMap, fMapLength);
  fMap = nullptr;
  fMapOffset = fMapLength = 0;
  busguard::cover(fGuard, nullptr, 0);
}

// Goes on with read() from the next byte to hand out.
void MappedFileSource::stopMapping() {
  unmap();
  busguard::forget(fGuard);
  fGuard = -1;
  fTripped = busguard::tripped(-1);
  ::lseek(fFd, static_cast<off_t>(fPos), SEEK_SET);
  fBlocks.reset(new BlockSource(fFd));
}

// Maps a window of the file that holds [begin, end), both within fSize. False
// when the file cannot be mapped; reading then goes on by read().
bool MappedFileSource::mapWindow(uint64_t begin, uint64_t end) {
  unmap();
  const uint64_t page = static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
  const uint64_t base = begin / page * page;
  uint64_t length = end - base > kMapWindow ? end - base : kMapWindow;
  if (length > fSize - base) length = fSize - base;
  // Writable but private: an event's bytes are swapped in place, never in the file.
  void* m = ::mmap(nullptr, static_cast<size_t>(length), PROT_READ | PROT_WRITE, MAP_PRIVATE, fFd,
                   static_cast<off_t>(base));
  if (m == MAP_FAILED) {
    stopMapping();
    return false;
  }
  fMap = static_cast<char*>(m);
  fMapOffset = base;
  fMapLength = length;
  busguard::cover(fGuard, fMap, static_cast<size_t>(length));
  // The window's pages that are in the page cache mapped in one call rather
  // than by a fault every few pages (costly in a virtual machine). Read-only,
  // so that no private copy is made; where the kernel cannot, faults do it.
#ifdef MADV_POPULATE_READ
  ::madvise(m, static_cast<size_t>(length), MADV_POPULATE_READ);
#endif
  // The next window is read from the disk while this one's events are used,
  // rather than page by page as they are touched (a cold page cache).
  if (base + length < fSize)
    ::posix_fadvise(fFd, static_cast<off_t>(base + length), static_cast<off_t>(kMapWindow), POSIX_FADV_WILLNEED);
  return true;
}

// A bus error hit the window: the file was cut short under us, or a page of it
// could not be read. Its zero pages are dropped and the source goes on by read().
void MappedFileSource::pagesFailed() {
  struct stat st;
  const bool cut = ::fstat(fFd, &st) == 0 &&
                   static_cast<uint64_t>(st.st_size) < fMapOffset + fMapLength;
  if (cut)
    failed(-1, "Run file was cut short while being read");
  else
    failed(EIO, std::strerror(EIO));
  stopMapping();
}

// Whether a bus error hit the window. The fence keeps the compiler from asking
// before the accesses that might have raised it.
bool MappedFileSource::tripped() const {
  std::atomic_signal_fence(std::memory_order_seq_cst);
  return fTripped->load(std::memory_order_relaxed);
}

bool MappedFileSource::intact() {
  if (!tripped()) return true;
  pagesFailed();
  return false;
}

size_t MappedFileSource::peek(size_t count, char** data) {
  // A bus error in the bytes last handed out, met by whoever used them.
  if (!fBlocks && tripped()) {
    pagesFailed();
    *data = nullptr;
    return 0;
  }
  if (fBlocks) {
    const size_t got = fBlocks->peek(count, data);
    stoppedAs(*fBlocks);
    return got;
  }
  going();
  uint64_t end = fPos + count;
  if (end > fSize) {
    // The file may have grown since it was last looked at, as read() would see.
    struct stat st;
    if (::fstat(fFd, &st) == 0) fSize = static_cast<uint64_t>(st.st_size);
    if (end > fSize) {
      end = fSize > fPos ? fSize : fPos;
      stopped(SourceStop::End);
    }
  }
  *data = nullptr;
  if (end == fPos) return 0;
  if (fPos < fMapOffset || end > fMapOffset + fMapLength) {
    if (!mapWindow(fPos, end)) return peek(count, data);  // by read() from here
  }
  const uint64_t last = fMapOffset + fMapLength < fSize ? fMapOffset + fMapLength : fSize;
  *data = fMap + (fPos - fMapOffset);
  return static_cast<size_t>(last - fPos);
}

// Asks the processor for the window's bytes a fixed distance past those
// handed out: by the time the events there are read their headers and banks
// are in the cache, rather than each costing a wait on memory. Offsets, not
// pointers, so nothing points outside the map.
void MappedFileSource::skip(size_t count) {
  if (fBlocks) return fBlocks->skip(count);
  fPos += count;
  // A few events ahead for ~1 KiB events: far enough to hide the wait, near
  // enough that the pages are already mapped (the kernel maps them in runs).
  // Only the first bytes of a large piece: a decoder takes megabytes at once.
  const uint64_t distance = 4096;
  const uint64_t line = 64;
  const uint64_t most = 16384;
  const uint64_t from = fPos - count - fMapOffset + distance;
  const uint64_t length = count < most ? count : most;
  const uint64_t to = from + length < fMapLength ? from + length : fMapLength;
  for (uint64_t at = from; at < to; at += line) __builtin_prefetch(fMap + at);
}
