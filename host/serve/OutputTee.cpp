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
  terminal = ::isatty(saved);
  // A terminal showed lines as they came; a pipe would make stdio wait for a full buffer.
  if (terminal) std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
  reader = std::thread(&OutputTee::pass, this);
}

OutputTee::~OutputTee() {
  if (!active()) return;
  std::cout.flush();
  std::fflush(stdout);
  ::dup2(saved, 1);  // closes the pipe's last write end: the reader sees its end
  reader.join();
  if (!partial.empty()) take("\n", 1);
  if (terminal) write(shown.repeats());
  ::close(readEnd);
  ::close(saved);
}

void OutputTee::write(const std::string& text) const {
  for (size_t done = 0; done < text.size();) {
    const ssize_t w = ::write(saved, text.data() + done, text.size() - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) break;  // the output went away; the page still gets the text
    done += size_t(w);
  }
}

// Elsewhere than to a terminal every byte goes on as it came.
void OutputTee::take(const char* bytes, size_t n) {
  if (!terminal) write(std::string(bytes, n));
  std::string out;
  {
    std::lock_guard<std::mutex> hold(lock);
    for (size_t i = 0; i < n; ++i) {
      // A line without end (binary noise) is taken in pieces of at most 64 KiB.
      if (bytes[i] != '\n' && partial.size() < 65536) {
        partial += bytes[i];
        continue;
      }
      if (bytes[i] != '\n') --i;  // this byte begins the next piece
      kept.add(partial);
      if (terminal && shown.add(partial)) out += partial + "\n";
      partial.clear();
    }
  }
  if (!out.empty()) write(out);
}

void OutputTee::pass() {
  char buffer[16384];
  for (;;) {
    const ssize_t n = ::read(readEnd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    take(buffer, size_t(n));
  }
}

std::string OutputTee::recent() const {
  std::lock_guard<std::mutex> hold(lock);
  return kept.text() + partial;
}

}  // namespace live
