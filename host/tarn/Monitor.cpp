// Signals are taken with sigtimedwait in this thread, so Stop() runs in an
// ordinary thread rather than a signal handler.
#include "Monitor.h"

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "BatchProgress.h"
#include "Graph.h"
#include "StopSignals.h"
#include "CurrentRun.h"
#include "TarnBase.h"

namespace {
using Clock = std::chrono::steady_clock;

// How far this process has read the file at `real` (a resolved path): the
// position of a descriptor open on it (compressed runs are read through one),
// or the end of the furthest window mapped (plain runs).
uint64_t bytesReadHere(const std::string& real) {
  uint64_t bytes = bytesMapped(::getpid(), real);
  DIR* fds = ::opendir("/proc/self/fd");
  if (!fds) return bytes;
  while (const dirent* e = ::readdir(fds)) {
    char target[PATH_MAX];
    const std::string link = std::string("/proc/self/fd/") + e->d_name;
    const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
    if (n <= 0 || real.compare(0, std::string::npos, target, size_t(n)) != 0) continue;
    std::ifstream info(std::string("/proc/self/fdinfo/") + e->d_name);
    std::string key;
    unsigned long long pos = 0;
    if (info >> key >> pos && key == "pos:") bytes = std::max<uint64_t>(bytes, pos);
  }
  ::closedir(fds);
  return bytes;
}

}  // namespace

void Monitor::blockSignals() {
  sigset_t set = stopSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void Monitor::writeCount(int fd, uint64_t events) {
  if (fd >= 0 && ::pwrite(fd, &events, sizeof events, 0) != sizeof events) {
    // A count lost only dims a batch's progress line; the run goes on.
  }
}

Monitor::Monitor(Graph& g, bool p, int fd)
    : graph(g), progress(p), countsFd(fd), done(false), signals(0), firstSignal(0) {
  // The thread is born with the signals blocked (it takes them with
  // sigtimedwait), so the SIGTERM that wakes it at the end cannot end the process.
  blockSignals();
  thread = std::thread(&Monitor::run, this);
}

Monitor::~Monitor() {
  done = true;
  // Wake the thread from its wait: the run is over, and the process should not
  // end up to a tick later than its work.
  pthread_kill(thread.native_handle(), SIGTERM);
  thread.join();
  if (progress) {
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
  }
}

void Monitor::run() {
  sigset_t set = stopSignals();
  const timespec tick = {0, 250 * 1000 * 1000};
  TarnBase* shown = nullptr;
  Clock::time_point since = Clock::now();
  unsigned long long before = 0;  // events the source had sent before it started
  unsigned long long earlier = 0;  // events of the sources that ran before this one
  unsigned long long shownSent = 0;  // what the shown source had sent when last seen
  while (!done) {
    int sig = sigtimedwait(&set, nullptr, &tick);
    if (done) break;  // woken by the destructor, or the run ended meanwhile
    if (sig == SIGINT || sig == SIGTERM) {
      if (signals.fetch_add(1) == 0) {
        firstSignal = sig;
        std::fputs(progress ? "\r\033[K" : "", stderr);
        std::fputs(sig == SIGTERM ? "tarn: terminated, stopping the run (again to quit at once)\n"
                                  : "tarn: interrupted, stopping the run (again to quit at once)\n",
                   stderr);
        graph.stopRunning();
      } else {
        // Quitting at once leaves the results being written as hidden
        // temporary files, never as half files under their names.
        std::fputs("\ntarn: interrupted twice, quitting\n", stderr);
        _exit(128 + sig);
      }
    }
    if ((!progress && countsFd < 0) || done) continue;
    // The source is read only under the graph's hold on it: once it has
    // ended, the graph may destroy it at any moment.
    TarnBase* source = nullptr;
    unsigned long long sent = 0;
    std::string sourceName;
    graph.withRunning([&](TarnBase* n) {
      source = n;
      sent = n->SentCount();
      if (progress) sourceName = n->name;
    });
    if (source != shown) {
      earlier += shownSent - before;  // the last count seen of the source that ran before
      shown = source;
      since = Clock::now();
      before = sent;
    }
    shownSent = sent;
    if (source) writeCount(countsFd, earlier + sent - before);
    if (source && progress)
      drawProgress(sourceName, sent - before, std::chrono::duration<double>(Clock::now() - since).count());
  }
}

std::string Monitor::fileProgress(const std::string& source, double seconds) {
  const std::string file = sourceFile(source);
  if (file.empty()) return "";
  const long runNumber = currentRun().number;
  std::string text = runNumber >= 0 ? ", run " + std::to_string(runNumber) + " (" + file + ")" : ", " + file;
  char* real = ::realpath(file.c_str(), nullptr);
  struct stat st;
  if (!real || ::stat(real, &st) != 0 || st.st_size <= 0) {
    std::free(real);
    return text;
  }
  const uint64_t size = uint64_t(st.st_size), bytes = std::min(bytesReadHere(real), size);
  std::free(real);
  char part[80];
  std::snprintf(part, sizeof part, ", %.0f%%", 100.0 * double(bytes) / double(size));
  text += part;
  if (bytes > 0 && bytes < size) {
    const long s = static_cast<long>(seconds * double(size - bytes) / double(bytes) + 0.5);
    std::snprintf(part, sizeof part, ", %ldh%02ldm%02lds left", s / 3600, s / 60 % 60, s % 60);
    text += part;
  }
  return text;
}

void Monitor::drawProgress(const std::string& source, unsigned long long sent, double seconds) {
  const std::string file = fileProgress(source, seconds);
  std::fprintf(stderr, "\r\033[K%s: %llu events, %.1f s, %.0f events/s%s", source.c_str(),
               sent, seconds, seconds > 0 ? sent / seconds : 0.0, file.c_str());
  std::fflush(stderr);
}
