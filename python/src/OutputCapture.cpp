#include "OutputCapture.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

namespace tarnpy {

OutputCapture::OutputCapture() {
  std::cout.flush();
  std::fflush(stdout);
  file = ::memfd_create("tarn-output", MFD_CLOEXEC);
  if (file < 0) return;
  saved = ::dup(1);
  if (saved < 0 || ::dup2(file, 1) < 0) {
    if (saved >= 0) ::close(saved);
    ::close(file);
    saved = file = -1;
  }
}

OutputCapture::~OutputCapture() { end(); }

std::string OutputCapture::end() {
  if (saved < 0) return "";
  std::cout.flush();
  std::fflush(stdout);
  ::dup2(saved, 1);
  ::close(saved);
  saved = -1;
  std::string text;
  char buffer[65536];
  ssize_t n;
  off_t at = 0;
  while ((n = ::pread(file, buffer, sizeof buffer, at)) > 0) {
    text.append(buffer, static_cast<size_t>(n));
    at += n;
  }
  ::close(file);
  file = -1;
  // Passed on as it was printed: the terminal or the notebook's log still shows it.
  for (size_t done = 0; done < text.size();) {
    const ssize_t w = ::write(1, text.data() + done, text.size() - done);
    if (w <= 0) break;
    done += static_cast<size_t>(w);
  }
  return text;
}

}  // namespace tarnpy
