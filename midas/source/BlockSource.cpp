#include "BlockSource.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

BlockSource::BlockSource(int fd, size_t readSize)
    : fFd(fd), fReadSize(readSize), fCapacity(kMaxPeek + readSize), fBuffer(new char[fCapacity]) {}

size_t BlockSource::peek(size_t count, char** data) {
  going();
  if (count > kMaxPeek) count = kMaxPeek;
  while (fEnd - fBegin < count) {
    // Too little room after what is held: move it to the front. What is held
    // is mostly less than one event, so the move is cheap.
    if (fCapacity - fBegin < count || fEnd == fCapacity) {
      std::memmove(fBuffer.get(), fBuffer.get() + fBegin, fEnd - fBegin);
      fEnd -= fBegin;
      fBegin = 0;
    }
    size_t want = fCapacity - fEnd;
    if (want > fReadSize && fEnd - fBegin + fReadSize >= count) want = fReadSize;
    const ssize_t n = ::read(fFd, fBuffer.get() + fEnd, want);
    if (n < 0 && errno == EINTR) continue;  // a signal is no read error
    if (n < 0) {
      failed(errno, std::strerror(errno));
      break;
    }
    if (n == 0) {
      stopped(SourceStop::End);
      break;
    }
    fEnd += static_cast<size_t>(n);
  }
  *data = fBuffer.get() + fBegin;
  return fEnd - fBegin;
}
