#include "Interruption.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

Interruption::Interruption() = default;

Interruption::~Interruption() {
  if (fFd >= 0) ::close(fFd);
}

void Interruption::raise() {
  {
    std::lock_guard<std::mutex> lock(fMutex);
    fRaised.store(true, std::memory_order_release);
    write();
  }
  fChanged.notify_all();
}

void Interruption::clear() {
  {
    std::lock_guard<std::mutex> lock(fMutex);
    fRaised.store(false, std::memory_order_release);
    drain();
  }
  fChanged.notify_all();  // a decoder held back goes on
}

int Interruption::fd() {
  std::lock_guard<std::mutex> lock(fMutex);
  if (fFd < 0) {
    fFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (raised()) write();
  }
  return fFd;
}

void Interruption::poke() {
  std::lock_guard<std::mutex> lock(fMutex);
  write();
}

void Interruption::write() {
  const uint64_t one = 1;
  if (fFd >= 0 && ::write(fFd, &one, sizeof one) < 0) {
    // A full counter is readable already.
  }
}

void Interruption::settle() {
  std::lock_guard<std::mutex> lock(fMutex);
  if (!raised()) drain();
}

void Interruption::drain() {
  uint64_t count;
  while (fFd >= 0 && ::read(fFd, &count, sizeof count) > 0) {
  }
}
