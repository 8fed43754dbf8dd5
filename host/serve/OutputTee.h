// What the plug-ins print, kept for the live page: standard output goes
// through a pipe whose reader passes every byte on to where it went before
// and keeps the last lines.
#pragma once

#include <mutex>
#include <string>
#include <thread>

namespace live {

class OutputTee {
 public:
  OutputTee();   // starts teeing fd 1 (no-op, with `active()` false, when it cannot)
  ~OutputTee();  // flushes, puts fd 1 back and passes on what is left

  OutputTee(const OutputTee&) = delete;
  OutputTee& operator=(const OutputTee&) = delete;

  bool active() const { return saved >= 0; }
  // The last lines printed (at most about kKeptBytes).
  std::string recent() const;

  static constexpr size_t kKeptBytes = 32 * 1024;

 private:
  void pass();

  int saved = -1;    // where fd 1 went before
  int readEnd = -1;
  mutable std::mutex lock;
  std::string kept;
  std::thread reader;
};

}  // namespace live
