// The progress line of a local batch: runs done, running and failed, events
// per second of the running ones, and the time left judged by input bytes read.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct Batch;

// How far into `path` the process has mapped it: the end of the furthest
// mapped window, 0 when none is mapped (a plain run is read that way, so
// read(2)'s count misses it).
uint64_t bytesMapped(pid_t pid, const std::string& path);

class BatchProgress {
 public:
  BatchProgress(const Batch& batch, const std::vector<int>& todo, bool shown);
  void started(int index, pid_t pid);
  // state: "done", "failed" or "interrupted".
  void finished(int index, const std::string& state);
  // `events`: the events each running run has sent so far, by run index.
  void draw(const std::map<int, uint64_t>& events);
  void clear();

 private:
  using Clock = std::chrono::steady_clock;
  struct Going {
    pid_t pid;
    Clock::time_point since;
  };
  uint64_t bytesRead(int index, const Going& g) const;

  bool shown;
  size_t total;
  int done = 0, failed = 0, interrupted = 0;
  uint64_t bytesTotal = 0, bytesFinished = 0;
  std::map<int, uint64_t> sizes;
  std::map<int, std::string> paths;  // resolved, as the process's mappings name them
  std::map<int, Going> going;
  Clock::time_point since;
  bool drawn = false;
};
