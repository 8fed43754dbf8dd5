#include "GrowthWait.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cstdint>

namespace {

const int kMostWaitMs = 100;

// Reads away what is pending on a non-blocking descriptor.
void drain(int fd) {
  char buf[4096];
  while (fd >= 0 && ::read(fd, buf, sizeof buf) > 0) {
  }
}

}  // namespace

GrowthWait::GrowthWait()
    : fNotify(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)),
      fWatch(-1),
      fWake(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

GrowthWait::~GrowthWait() {
  if (fNotify >= 0) ::close(fNotify);
  if (fWake >= 0) ::close(fWake);
}

void GrowthWait::watch(const std::string& path) {
  if (fNotify < 0) return;
  if (fWatch >= 0) ::inotify_rm_watch(fNotify, fWatch);
  fWatch = ::inotify_add_watch(fNotify, path.c_str(), IN_MODIFY | IN_ATTRIB | IN_MOVE_SELF | IN_DELETE_SELF);
  drain(fNotify);
}

void GrowthWait::wait() {
  pollfd fds[2] = {{fWake, POLLIN, 0}, {fNotify, POLLIN, 0}};
  const nfds_t n = fNotify >= 0 && fWatch >= 0 ? 2 : 1;
  if (fWake < 0) {
    ::usleep(kMostWaitMs * 1000);  // no eventfd: still no busy loop
    return;
  }
  if (::poll(fds, n, kMostWaitMs) > 0 && n == 2 && (fds[1].revents & POLLIN)) drain(fNotify);
}

void GrowthWait::wake() {
  const uint64_t one = 1;
  if (fWake >= 0) {
    ssize_t w = ::write(fWake, &one, sizeof one);
    (void)w;  // a full counter is woken already
  }
}

void GrowthWait::rearm() { drain(fWake); }
