// A compressed run decoded on a thread of its own, a few blocks ahead of the
// reader, so that decoding and the work done on the events take a core each.
// Events are framed where they lie in the decoded blocks; only the bytes
// asked for across the end of a block (mostly one event per block) are
// copied, into a spare area. What the decoder stopped on (an end, a cut, a
// damaged stream) reaches the reader only when it has taken every byte made
// before it, and a reader that runs out asks the decoder once more, as a
// decoder in the reader's own thread would be asked: a growing file is read on.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "DecoderSource.h"
#include "Interruption.h"

class ThreadedSource : public ByteSource {
 public:
  static const size_t kBlockSize = 256 * 1024;
  // 8 MiB in flight: the half left when a full ring wakes the decoder keeps
  // the graph fed while the decoder's core comes back, which takes
  // milliseconds on a busy machine.
  static const size_t kBlocks = 32;

  // `decoder` runs on the thread; `interruption` (which outlives this) ends
  // the reader's waits. Null where no thread could be started: the decoder
  // is then given back in `decoder`.
  static std::unique_ptr<ByteSource> start(std::unique_ptr<DecoderSource>& decoder,
                                           Interruption& interruption,
                                           size_t blockSize = kBlockSize, size_t blocks = kBlocks);
  ~ThreadedSource() override;  // ends and joins the thread at once
  ThreadedSource(const ThreadedSource&) = delete;
  ThreadedSource& operator=(const ThreadedSource&) = delete;

  size_t peek(size_t count, char** data) override;
  void skip(size_t count) override;

 private:
  ThreadedSource(std::unique_ptr<DecoderSource> decoder, Interruption& interruption,
                 size_t blockSize, size_t blocks);
  void decodeAhead();
  size_t gather(size_t count, char** data);
  bool nextBlock();
  void viewBlock();
  // The most blocks in flight at which the decoder goes on (under the mutex).
  size_t refillBelow() const { return fRingFull ? fBlocks.size() / 2 : fBlocks.size() - 1; }
  // The full blocks waiting at which a reader that waits is woken: each wake
  // costs the decoder a system call and the machine an interrupt between
  // cores (5 % of the decoder's time on a virtual machine, block by block).
  size_t wakeReaderAt() const { return fBlocks.size() / 4 > 0 ? fBlocks.size() / 4 : 1; }

  std::unique_ptr<DecoderSource> fDecoder;
  Interruption& fInterruption;
  const size_t fBlockSize;
  std::vector<std::unique_ptr<char[]>> fBlocks;  // a ring
  std::vector<size_t> fSizes;                    // bytes made in each block
  std::thread fThread;
  std::atomic<bool> fEnding{false};

  // Under the interruption's mutex.
  uint64_t fMade = 0;    // blocks handed to the reader
  uint64_t fTaken = 0;   // blocks the reader took
  uint64_t fFreed = 0;   // blocks the reader is done with
  bool fParked = false;  // the decoder stopped and waits to be asked again
  bool fRingFull = false;  // the decoder waits for half of the ring to be free
  uint64_t fMadeWhenWoken = 0;  // fMade when the reader was last woken
  SourceStop fStop = SourceStop::None;  // why, with its error
  int fErrorNumber = 0;
  std::string fErrorText;

  // The reader's own. [fBegin, fEnd) of fView are what is left to hand out;
  // the view is the block being read or the spare area, and in the latter
  // case [fBlockBegin, fBlockEnd) of fBlock is left after it.
  bool fHolding = false;
  char* fBlock = nullptr;
  size_t fBlockBegin = 0, fBlockEnd = 0;
  std::unique_ptr<char[]> fSpare;
  bool fInSpare = false;
  char* fView = nullptr;
  size_t fBegin = 0, fEnd = 0;
};
