// Waits for a followed run file to grow: woken by the kernel when the file is
// written to, at the latest after a tenth of a second (a file on a network
// disk, or a replaced one, sends no word), and at once by wake(), which any
// thread may call.
#pragma once

#include <string>

class GrowthWait {
 public:
  GrowthWait();
  ~GrowthWait();
  GrowthWait(const GrowthWait&) = delete;
  GrowthWait& operator=(const GrowthWait&) = delete;

  // Watches `path` from now on (a new path replaces the old one).
  void watch(const std::string& path);
  // Returns once the file was written to, wake() was called (since the last
  // rearm()), or the tenth of a second has passed.
  void wait();
  // Ends the current or the next wait at once.
  void wake();
  // Forgets earlier wake() calls: a new run of the node begins.
  void rearm();

 private:
  int fNotify;  // inotify, or -1 where there is none: then only the timeout
  int fWatch;
  int fWake;    // eventfd written by wake()
};
