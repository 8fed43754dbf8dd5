#include "BlockSource.h"

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "Interruption.h"

BlockSource::BlockSource(int fd, size_t readSize)
    : fFd(fd), fReadSize(readSize), fCapacity(kMaxPeek + readSize), fBuffer(new char[fCapacity]) {}

void BlockSource::wakeOn(Interruption* interruption) {
  // A regular file's read() never waits long: only pipes and devices are
  // polled. Polled, a FIFO opened without waiting for its writer waits here.
  struct stat st;
  if (::fstat(fFd, &st) == 0 && S_ISREG(st.st_mode)) return;
  fPolled = true;
  fInterruption = interruption;
  if (interruption) fWakeFd = interruption->fd();  // -1: the wait cannot be ended
}

void BlockSource::holdPeeksUpTo(size_t most) {
  if (most <= fMostPeek) return;
  fMostPeek = most;
  if (most <= fCapacity) return;
  std::unique_ptr<char[]> larger(new char[most]);
  std::memcpy(larger.get(), fBuffer.get() + fBegin, fEnd - fBegin);
  fBuffer = std::move(larger);
  fCapacity = most;
  fEnd -= fBegin;
  fBegin = 0;
}

// False when the wake descriptor ended the wait before `fFd` had anything.
bool BlockSource::waitForBytes() {
  if (!fPolled) return true;
  pollfd fds[2] = {{fFd, POLLIN, 0}, {fWakeFd, POLLIN, 0}};
  for (;;) {
    const int n = ::poll(fds, 2, fInterruption && fInterruption->hurried() ? 0 : -1);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) return false;  // hurried, and nothing there
    if (n < 0) return true;  // read() itself will say what is wrong
    // Bytes, an end or an error on fFd are read() first, stopping or not.
    return fds[0].revents != 0 || !(fds[1].revents & POLLIN);
  }
}

size_t BlockSource::peek(size_t count, char** data) {
  going();
  if (count > fMostPeek) count = fMostPeek;
  while (fEnd - fBegin < count) {
    // Too little room after what is held: move it to the front. What is held
    // is mostly less than one event, so the move is cheap.
    if (fCapacity - fBegin < count || fEnd == fCapacity) {
      std::memmove(fBuffer.get(), fBuffer.get() + fBegin, fEnd - fBegin);
      fEnd -= fBegin;
      fBegin = 0;
    }
    if (!waitForBytes()) {
      stopped(SourceStop::Interrupted);
      break;
    }
    // Steps of fReadSize; more than a step is read just as far as asked, so
    // that nothing is left over to move when the reader takes it whole.
    size_t want = fCapacity - fEnd;
    if (fEnd - fBegin + fReadSize >= count) {
      if (want > fReadSize) want = fReadSize;
    } else {
      want = count - (fEnd - fBegin);
    }
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
