#include "ThreadedSource.h"

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <cstring>
#include <system_error>

std::unique_ptr<ByteSource> ThreadedSource::start(std::unique_ptr<DecoderSource>& decoder,
                                                  Interruption& interruption, size_t blockSize,
                                                  size_t blocks) {
  std::unique_ptr<ThreadedSource> s(
      new ThreadedSource(std::move(decoder), interruption, blockSize, blocks < 2 ? 2 : blocks));
  // The host's signals (Ctrl-C) stay with its own threads. A bus error in the
  // mapped input is raised by the access itself and must reach the guard.
  sigset_t all, before;
  sigfillset(&all);
  for (int sig : {SIGBUS, SIGSEGV, SIGFPE, SIGILL, SIGTRAP, SIGABRT}) sigdelset(&all, sig);
  pthread_sigmask(SIG_BLOCK, &all, &before);
  try {
    s->fThread = std::thread(&ThreadedSource::decodeAhead, s.get());
  } catch (const std::system_error&) {
    decoder = std::move(s->fDecoder);
    s.reset();
  }
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  return std::unique_ptr<ByteSource>(s.release());
}

ThreadedSource::ThreadedSource(std::unique_ptr<DecoderSource> decoder, Interruption& interruption,
                               size_t blockSize, size_t blocks)
    : fDecoder(std::move(decoder)), fInterruption(interruption), fBlockSize(blockSize), fSizes(blocks, 0) {
  for (size_t k = 0; k < blocks; ++k) fBlocks.emplace_back(new char[blockSize]);
}

ThreadedSource::~ThreadedSource() {
  {
    std::lock_guard<std::mutex> lock(fInterruption.mutex());
    fEnding = true;
  }
  fInterruption.changed().notify_all();
  if (!fThread.joinable()) return;
  fInterruption.poke();  // a decoder waiting on a silent pipe
  fThread.join();
  fInterruption.settle();
}

// The thread: fills the free blocks of the ring, one after another, until the
// decoder stops; then waits to be asked again.
void ThreadedSource::decodeAhead() {
  pthread_setname_np(pthread_self(), "tarn-decode");  // as top and ps show it
  std::condition_variable& changed = fInterruption.changed();
  std::unique_lock<std::mutex> lock(fInterruption.mutex());
  for (;;) {
    // A full ring is refilled once half of it is free, not block by block:
    // a decoder faster than the graph would else be woken for every block.
    fRingFull = fMade - fFreed >= fBlocks.size();
    changed.wait(lock, [this] {
      return fEnding || (!fParked && !fInterruption.raised() && fMade - fFreed <= refillBelow());
    });
    fRingFull = false;
    if (fEnding) return;
    const size_t k = fMade % fBlocks.size();
    char* block = fBlocks[k].get();
    const bool unseen = fMade != fMadeWhenWoken;  // blocks the reader was not woken for
    lock.unlock();
    size_t size = 0, made = 1;
    while (size < fBlockSize && made > 0 && !fEnding && !fInterruption.raised()) {
      // Bytes made are handed on before a wait for a pipe's next ones: the
      // reader may need them now (a live run).
      fInterruption.hurry(size > 0 || unseen);
      made = fDecoder->decode(block + size, fBlockSize - size);
      size += made;
    }
    fInterruption.hurry(false);
    lock.lock();
    if (size > 0) {
      fSizes[k] = size;
      ++fMade;
    }
    // An interrupted (or hurried) input is no stop: the decoder goes on once it may.
    if (made == 0 && fDecoder->stop() != SourceStop::Interrupted) {
      fParked = true;
      fStop = fDecoder->stop();
      fErrorNumber = fDecoder->errorNumber();
      fErrorText = fDecoder->errorText();
    }
    // A reader that waits is woken for a batch of full blocks; at once when
    // the decoder stopped or paused (what it made may be all there is), and
    // before the decoder waits for room (the reader must free it).
    if (made == 0 || fMade - fTaken >= wakeReaderAt() || fMade - fFreed > refillBelow()) {
      fMadeWhenWoken = fMade;
      changed.notify_all();
    }
  }
}

// Hands back the block being read and takes the next one. False, with the
// stop set, when the decoder stopped again after being asked once more, or
// when the reader's waits are interrupted.
bool ThreadedSource::nextBlock() {
  std::condition_variable& changed = fInterruption.changed();
  std::unique_lock<std::mutex> lock(fInterruption.mutex());
  if (fHolding) {
    ++fFreed;
    fHolding = false;
    fBlock = nullptr;
    fBlockBegin = fBlockEnd = 0;
    if (fMade - fFreed <= refillBelow()) changed.notify_all();
  }
  bool asked = false;
  for (;;) {
    if (fTaken < fMade) {
      const size_t k = fTaken++ % fBlocks.size();
      fHolding = true;
      fBlock = fBlocks[k].get();
      fBlockBegin = 0;
      fBlockEnd = fSizes[k];
      return true;
    }
    if (fInterruption.raised()) {
      stopped(SourceStop::Interrupted);
      return false;
    }
    if (fParked && asked) {
      if (fStop == SourceStop::Failed)
        failed(fErrorNumber, fErrorText);
      else
        stopped(fStop);
      return false;
    }
    if (fParked) {
      // What it stopped on may be stale (a growing file): once more.
      asked = true;
      fParked = false;
      changed.notify_all();
    }
    changed.wait(lock);
  }
}

// The whole of the block just taken is the view.
void ThreadedSource::viewBlock() {
  fInSpare = false;
  fView = fBlock;
  fBegin = fBlockBegin;
  fEnd = fBlockEnd;
  fBlockBegin = fBlockEnd;
}

size_t ThreadedSource::peek(size_t count, char** data) {
  going();
  if (count > kMaxPeek) count = kMaxPeek;
  if (fEnd - fBegin >= count) {
    *data = fView + fBegin;
    return fEnd - fBegin;
  }
  return gather(count, data);
}

size_t ThreadedSource::gather(size_t count, char** data) {
  // Nothing left over: the next block alone may hold what is asked.
  while (!fInSpare && fBegin == fEnd) {
    if (!nextBlock()) {
      *data = fView ? fView + fBegin : nullptr;
      return 0;
    }
    viewBlock();
    if (fEnd - fBegin >= count) {
      *data = fView + fBegin;
      return fEnd - fBegin;
    }
  }
  // The bytes asked for span blocks: they are put together in the spare area.
  if (!fSpare) fSpare.reset(new char[kMaxPeek]);
  if (!fInSpare) {
    std::memcpy(fSpare.get(), fView + fBegin, fEnd - fBegin);
    fInSpare = true;
  } else {
    std::memmove(fSpare.get(), fView + fBegin, fEnd - fBegin);
  }
  fView = fSpare.get();
  fEnd -= fBegin;
  fBegin = 0;
  while (fEnd < count) {
    if (fBlockBegin == fBlockEnd && !nextBlock()) break;
    const size_t n = std::min(count - fEnd, fBlockEnd - fBlockBegin);
    std::memcpy(fSpare.get() + fEnd, fBlock + fBlockBegin, n);
    fEnd += n;
    fBlockBegin += n;
  }
  *data = fView;
  return fEnd;
}

void ThreadedSource::skip(size_t count) {
  fBegin += count;
  // The spare area used up: on with the rest of the block.
  if (fInSpare && fBegin == fEnd) viewBlock();
}
