// Ends a reader's waits at once when another thread asks: a run being stopped
// must not stay blocked on its decoder or on a pipe that sends nothing. It
// lives as long as the reader, not its sources, so that any thread may raise
// it while the reader opens and closes files.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

class Interruption {
 public:
  Interruption();
  ~Interruption();
  Interruption(const Interruption&) = delete;
  Interruption& operator=(const Interruption&) = delete;

  // Any thread: every wait of the reader ends, now and until clear().
  void raise();
  // The reader's thread, before it reads on after a stop.
  void clear();
  bool raised() const { return fRaised.load(std::memory_order_acquire); }

  // Readable while raised: a source waiting for a descriptor polls it too
  // (-1 where the system has no eventfd; such waits cannot be ended). Made
  // at the first call, so that readers of regular files hold no descriptor.
  int fd();
  // Makes fd() readable without raising, to end a source's waits for good
  // (its thread is being joined); settle() takes that back.
  void poke();
  void settle();

  // While hurried, a source that would wait for a descriptor's bytes stops,
  // Interrupted, instead: its reader has bytes to hand on before it waits.
  void hurry(bool on) { fHurried.store(on, std::memory_order_relaxed); }
  bool hurried() const { return fHurried.load(std::memory_order_relaxed); }

  // The lock and signal of whatever waits under this interruption.
  std::mutex& mutex() { return fMutex; }
  std::condition_variable& changed() { return fChanged; }

 private:
  void drain();
  void write();

  std::mutex fMutex;
  std::condition_variable fChanged;
  std::atomic<bool> fRaised{false};
  std::atomic<bool> fHurried{false};
  int fFd = -1;  // under fMutex
};
