#include "OutputTee.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <iostream>

namespace live {

OutputTee::OutputTee() {
  int ends[2];
  std::cout.flush();
  std::fflush(stdout);
  if (::pipe2(ends, O_CLOEXEC) != 0) return;
  saved = ::fcntl(1, F_DUPFD_CLOEXEC, 3);
  if (saved < 0 || ::dup2(ends[1], 1) < 0) {
    if (saved >= 0) ::close(saved);
    saved = -1;
    ::close(ends[0]);
    ::close(ends[1]);
    return;
  }
  ::close(ends[1]);
  readEnd = ends[0];
  // A terminal showed lines as they came; a pipe would make stdio wait for a full buffer.
  if (::isatty(saved)) std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
  reader = std::thread(&OutputTee::pass, this);
}

OutputTee::~OutputTee() {
  if (!active()) return;
  std::cout.flush();
  std::fflush(stdout);
  ::dup2(saved, 1);  // closes the pipe's last write end: the reader sees its end
  reader.join();
  ::close(readEnd);
  ::close(saved);
}

void OutputTee::pass() {
  char buffer[16384];
  for (;;) {
    const ssize_t n = ::read(readEnd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = ::write(saved, buffer + done, size_t(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) break;  // the output went away; the page still gets the text
      done += w;
    }
    std::lock_guard<std::mutex> hold(lock);
    kept.append(buffer, size_t(n));
    if (kept.size() > 2 * kKeptBytes) {
      const size_t cut = kept.find('\n', kept.size() - kKeptBytes);
      kept.erase(0, cut == std::string::npos ? kept.size() - kKeptBytes : cut + 1);
    }
  }
}

std::string OutputTee::recent() const {
  std::lock_guard<std::mutex> hold(lock);
  if (kept.size() <= kKeptBytes) return kept;
  const size_t cut = kept.find('\n', kept.size() - kKeptBytes);
  return kept.substr(cut == std::string::npos ? kept.size() - kKeptBytes : cut + 1);
}

}  // namespace live
