// Sends standard output to /dev/null while alive (plug-ins announce themselves
// when made and destroyed; `inspect` and `list` keep stdout for their listing).
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

class QuietStdout {
 public:
  QuietStdout() {
    std::cout.flush();
    std::fflush(stdout);
    saved = ::dup(1);
    int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0) {
      ::dup2(null, 1);
      ::close(null);
    }
  }
  ~QuietStdout() {
    std::cout.flush();
    std::fflush(stdout);
    if (saved >= 0) {
      ::dup2(saved, 1);
      ::close(saved);
    }
  }
  QuietStdout(const QuietStdout&) = delete;
  QuietStdout& operator=(const QuietStdout&) = delete;

 private:
  int saved;
};
