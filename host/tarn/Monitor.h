// A watcher thread for a run: Ctrl-C or SIGTERM stops the running source, a
// second one quits; optionally a progress line on stderr, and the events sent
// so far kept in a file descriptor for a batch that runs this as one of many.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

class Graph;
class TarnBase;

class Monitor {
 public:
  // Blocks SIGINT and SIGTERM in the calling thread (call before any other thread exists).
  static void blockSignals();

  // countsFd < 0: no count is kept.
  Monitor(Graph& graph, bool progress, int countsFd = -1);
  ~Monitor();  // ends the thread and clears the progress line

  bool interrupted() const { return signals.load() > 0; }
  // The first signal that stopped the run (SIGINT or SIGTERM), or 0.
  int stoppedBy() const { return firstSignal.load(); }

  // Stores `events` as 8 bytes at offset 0 of fd (nothing when fd < 0).
  static void writeCount(int fd, uint64_t events);

 private:
  void run();
  void drawProgress(const std::string& source, unsigned long long sent, double seconds);
  // ", run 42 (FILE), 45%, 0h01m10s left" for the run file the source reads, or "".
  std::string fileProgress(const std::string& source, double seconds);

  Graph& graph;
  bool progress;
  int countsFd;
  std::atomic<bool> done;
  std::atomic<int> signals;
  std::atomic<int> firstSignal;
  std::thread thread;
};
