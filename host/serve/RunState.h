// The run as the live page shows it: which source runs, events sent, time.
// The graph thread reports each source's start and end; any thread reads.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

class TarnBase;

namespace live {

struct Status {
  bool done = false;
  uint64_t events = 0;  // sent by the sources so far
  double seconds = 0;   // since the first source started
  double rate = 0;      // events per second over that time
  std::string source;   // the running source, or the last one that ran
  std::string file;     // the run file it reads, as it named it ("" when none)
  long run = -1;        // the run its begin-of-run event named (-1: not known)
};

class RunState {
 public:
  // Graph thread only.
  void sourceStarting(TarnBase* node);
  void sourceEnded();
  void runEnded();

  Status now() const;

 private:
  using Clock = std::chrono::steady_clock;

  mutable std::mutex lock;  // never held while a plug-in runs
  TarnBase* source = nullptr;
  uint64_t sentBefore = 0;  // the running source's count when it started
  uint64_t earlier = 0;     // events of the sources that ended
  std::string lastSource;
  bool started = false, done = false;
  Clock::time_point start;
  double endSeconds = 0;
};

}  // namespace live
