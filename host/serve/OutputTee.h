// What the plug-ins print, kept for the live page: standard output goes
// through a pipe whose reader passes it on to where it went before and keeps
// the last lines, a line printed again and again counted rather than kept
// each time. To a terminal the repeats are not passed on either: they are
// counted, and the counts shown when the tee ends.
#pragma once

#include <mutex>
#include <string>
#include <thread>

#include "RepeatedLines.h"

namespace live {

class OutputTee {
 public:
  OutputTee();   // starts teeing fd 1 (no-op, with `active()` false, when it cannot)
  ~OutputTee();  // flushes, puts fd 1 back and passes on what is left

  OutputTee(const OutputTee&) = delete;
  OutputTee& operator=(const OutputTee&) = delete;

  bool active() const { return saved >= 0; }
  // The last lines printed (at most about kKeptBytes), repeats counted.
  std::string recent() const;

  static constexpr size_t kKeptBytes = 32 * 1024;

 private:
  void pass();
  void take(const char* bytes, size_t n);
  void write(const std::string& text) const;

  int saved = -1;    // where fd 1 went before
  int readEnd = -1;
  bool terminal = false;  // repeats are counted on the way out too
  mutable std::mutex lock;
  std::string partial;  // the line being printed
  RepeatedLines kept{kKeptBytes};
  RepeatedLines shown{1 << 20};
  std::thread reader;
};

}  // namespace live
