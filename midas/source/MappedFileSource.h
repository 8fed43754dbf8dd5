// A regular plain file mapped a window at a time: its bytes never pass through
// a read() copy, and events are taken where they lie in the window. A window
// that cannot be mapped, or whose pages fail, hands over to read() from the
// next byte on.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "BlockSource.h"

class MappedFileSource : public ByteSource {
 public:
  // Maps `fd` (not owned, a regular file) from its start.
  explicit MappedFileSource(int fd);
  ~MappedFileSource() override;
  MappedFileSource(const MappedFileSource&) = delete;
  MappedFileSource& operator=(const MappedFileSource&) = delete;

  size_t peek(size_t count, char** data) override;
  void skip(size_t count) override;
  bool intact() override;

 private:
  bool mapWindow(uint64_t begin, uint64_t end);
  void unmap();
  void stopMapping();
  void pagesFailed();
  bool tripped() const;

  int fFd;
  std::unique_ptr<BlockSource> fBlocks;  // once the file is read() instead
  int fGuard;
  const std::atomic<bool>* fTripped;  // the guard's mark for our window
  // fPos is the file offset of the next byte to hand out, fSize the file's
  // length as last seen, and [fMapOffset, fMapOffset + fMapLength) the part
  // of the file at fMap.
  char* fMap = nullptr;
  uint64_t fMapOffset = 0;
  uint64_t fMapLength = 0;
  uint64_t fPos = 0;
  uint64_t fSize = 0;
};
