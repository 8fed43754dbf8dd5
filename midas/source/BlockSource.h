// Bytes read() from a descriptor in large blocks: pipes, devices, files that
// cannot be mapped, and the compressed input of every decoder.
#pragma once

#include <memory>

#include "ByteSource.h"

class Interruption;

class BlockSource : public ByteSource {
 public:
  // Reads `fd` (not owned) in steps of `readSize` bytes, more where one peek
  // asks for more.
  explicit BlockSource(int fd, size_t readSize = 1 << 20);
  size_t peek(size_t count, char** data) override;
  void skip(size_t count) override { fBegin += count; }
  void holdPeeksUpTo(size_t most) override;
  // From now on, where `fd` is no regular file, its bytes are waited for by
  // poll() (a non-blocking FIFO's too), and the wait ends, Interrupted, as
  // soon as `interruption` (not owned, may be null) is raised or hurried.
  void wakeOn(Interruption* interruption);
  // The bytes held but not yet handed out.
  size_t held() const { return fEnd - fBegin; }

 private:
  bool waitForBytes();

  int fFd;
  bool fPolled = false;  // false: read() waits as long as it takes
  Interruption* fInterruption = nullptr;
  int fWakeFd = -1;
  size_t fReadSize;
  size_t fMostPeek = kMaxPeek;
  size_t fCapacity;
  std::unique_ptr<char[]> fBuffer;
  size_t fBegin = 0;  // [fBegin, fEnd) of fBuffer are read but not handed out
  size_t fEnd = 0;
};
