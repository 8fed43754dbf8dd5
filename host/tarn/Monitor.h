// A watcher thread for a run: Ctrl-C or SIGTERM stops the running source, a
// second one quits; optionally a progress line on stderr.
#pragma once

#include <atomic>
#include <thread>

class Graph;
class TarnBase;

class Monitor {
 public:
  // Blocks SIGINT and SIGTERM in the calling thread (call before any other thread exists).
  static void blockSignals();

  Monitor(Graph& graph, bool progress);
  ~Monitor();  // ends the thread and clears the progress line

  bool interrupted() const { return signals.load() > 0; }
  // The first signal that stopped the run (SIGINT or SIGTERM), or 0.
  int stoppedBy() const { return firstSignal.load(); }

 private:
  void run();
  void drawProgress(TarnBase* source, unsigned long long sent, double seconds);

  Graph& graph;
  bool progress;
  std::atomic<bool> done;
  std::atomic<int> signals;
  std::atomic<int> firstSignal;
  std::thread thread;
};
