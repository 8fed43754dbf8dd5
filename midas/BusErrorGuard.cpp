#include "BusErrorGuard.h"

#include <signal.h>
#include <sys/mman.h>

#include <mutex>

namespace busguard {
namespace {

// A reader maps one window at a time; a few readers per process at most.
const int kSlots = 32;

struct Slot {
  std::atomic<bool> used{false};
  std::atomic<char*> begin{nullptr};
  std::atomic<size_t> length{0};
  std::atomic<bool> tripped{false};
};

Slot slots[kSlots];
std::mutex installing;
int watching = 0;             // slots in use, under `installing`
struct sigaction previous;    // the handler ours stands in front of

// Only async-signal-safe work: atomics, mmap, sigaction.
void onBusError(int sig, siginfo_t* info, void* context) {
  char* at = static_cast<char*>(info->si_addr);
  for (Slot& s : slots) {
    if (!s.used.load()) continue;
    char* begin = s.begin.load();
    const size_t length = s.length.load();
    if (begin && at >= begin && at < begin + length) {
      // Zero pages in place of the window: the access is retried and succeeds.
      if (::mmap(begin, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1,
                 0) != MAP_FAILED) {
        s.tripped.store(true);
        return;
      }
    }
  }
  // Not ours: whoever handled bus errors before us, else the default, raised
  // again (pending until we return) so the process ends as without us.
  if ((previous.sa_flags & SA_SIGINFO) && previous.sa_sigaction) {
    previous.sa_sigaction(sig, info, context);
  } else if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
    previous.sa_handler(sig);
  } else {
    struct sigaction fallback = {};
    fallback.sa_handler = SIG_DFL;
    ::sigaction(SIGBUS, &fallback, nullptr);
    ::raise(sig);
  }
}

bool install() {
  struct sigaction ours = {};
  ours.sa_sigaction = onBusError;
  ours.sa_flags = SA_SIGINFO;
  sigemptyset(&ours.sa_mask);
  return ::sigaction(SIGBUS, &ours, &previous) == 0;
}

void uninstall() {
  // Put the former handler back only if ours is still the one in place: a
  // later handler chained to ours must not lose its place.
  struct sigaction current;
  if (::sigaction(SIGBUS, nullptr, &current) == 0 && (current.sa_flags & SA_SIGINFO) &&
      current.sa_sigaction == onBusError)
    ::sigaction(SIGBUS, &previous, nullptr);
}

}  // namespace

int watch() {
  std::lock_guard<std::mutex> lock(installing);
  if (watching == 0 && !install()) return -1;
  for (int i = 0; i < kSlots; ++i) {
    bool expected = false;
    if (slots[i].used.load() || !slots[i].used.compare_exchange_strong(expected, true)) continue;
    slots[i].begin.store(nullptr);
    slots[i].tripped.store(false);
    ++watching;
    return i;
  }
  if (watching == 0) uninstall();
  return -1;
}

void cover(int slot, char* begin, size_t length) {
  if (slot < 0 || slot >= kSlots) return;
  Slot& s = slots[slot];
  s.begin.store(nullptr);  // never a begin with another window's length
  s.length.store(length);
  s.tripped.store(false);
  s.begin.store(begin);
}

const std::atomic<bool>* tripped(int slot) {
  static const std::atomic<bool> never{false};
  return slot >= 0 && slot < kSlots ? &slots[slot].tripped : &never;
}

void forget(int slot) {
  if (slot < 0 || slot >= kSlots) return;
  std::lock_guard<std::mutex> lock(installing);
  if (!slots[slot].used.load()) return;
  slots[slot].begin.store(nullptr);
  slots[slot].length.store(0);
  slots[slot].used.store(false);
  if (--watching == 0) uninstall();
}

}  // namespace busguard
