// What host plug-ins show while a graph runs. The graph thread publishes
// immutable snapshots; a reader (the runner's web server) only copies the
// pointers. Until a reader asks, publishing costs one atomic load per event.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// One histogram as its result file would hold it at the moment it was taken.
struct LiveHistogram {
  std::string node, property, unit;
  std::vector<double> edges;  // bins are [edges[i], edges[i+1])
  std::vector<uint64_t> counts;
  uint64_t underflow = 0, overflow = 0, nan = 0, entries = 0;
  double mean = 0, rms = 0;
};

class LiveBoard {
 public:
  using Snapshot = std::shared_ptr<const LiveHistogram>;

  static LiveBoard& instance();

  // Graph side. True once after each request(): time to publish; `seen` is
  // the caller's own record of the last request it answered.
  bool due(unsigned& seen) const {
    const unsigned now = requests.load(std::memory_order_acquire);
    if (now == seen) return false;
    seen = now;
    return true;
  }
  // Replaces the snapshot of the same node and property.
  void publish(Snapshot histogram);
  // Drops every snapshot of `node` (the node is going away).
  void withdraw(const std::string& node);

  // A publisher called by publishAll (e.g. a node that publishes its histograms).
  int subscribe(std::function<void()> publisher);
  void unsubscribe(int id);
  // Calls every publisher now. Only from the graph's thread while no plug-in runs.
  void publishAll();

  // Reader side: asks for fresh snapshots (at most one request per
  // kRequestSpacingMs, however many readers ask), and copies the current ones.
  void request();
  std::vector<Snapshot> histograms() const;

  static constexpr int kRequestSpacingMs = 100;

 private:
  LiveBoard() = default;

  mutable std::mutex lock;  // held only to copy or swap pointers, never while a plug-in runs
  std::vector<Snapshot> published;
  std::vector<std::pair<int, std::function<void()>>> publishers;
  int nextId = 0;
  std::atomic<unsigned> requests{0};
  std::atomic<int64_t> lastRequestMs{INT64_MIN / 2};
};
