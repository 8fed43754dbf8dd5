#include "LiveBoard.h"

#include <algorithm>
#include <chrono>

LiveBoard& LiveBoard::instance() {
  static LiveBoard board;
  return board;
}

void LiveBoard::publish(Snapshot histogram) {
  if (!histogram) return;
  std::lock_guard<std::mutex> hold(lock);
  for (Snapshot& s : published)
    if (s->node == histogram->node && s->property == histogram->property) {
      s.swap(histogram);
      return;  // the old snapshot is freed outside the lock, by `histogram`
    }
  published.push_back(std::move(histogram));
}

void LiveBoard::withdraw(const std::string& node) {
  std::vector<Snapshot> gone;
  std::lock_guard<std::mutex> hold(lock);
  auto keep = std::stable_partition(published.begin(), published.end(),
                                    [&](const Snapshot& s) { return s->node != node; });
  gone.assign(keep, published.end());
  published.erase(keep, published.end());
}

int LiveBoard::subscribe(std::function<void()> publisher) {
  std::lock_guard<std::mutex> hold(lock);
  publishers.emplace_back(++nextId, std::move(publisher));
  return nextId;
}

void LiveBoard::unsubscribe(int id) {
  std::lock_guard<std::mutex> hold(lock);
  publishers.erase(std::remove_if(publishers.begin(), publishers.end(),
                                  [&](const auto& p) { return p.first == id; }),
                   publishers.end());
}

void LiveBoard::publishAll() {
  std::vector<std::function<void()>> calls;
  {
    std::lock_guard<std::mutex> hold(lock);
    for (const auto& p : publishers) calls.push_back(p.second);
  }
  for (const auto& call : calls) call();  // they publish, which takes the lock
}

void LiveBoard::request() {
  using namespace std::chrono;
  const int64_t now = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
  int64_t last = lastRequestMs.load(std::memory_order_relaxed);
  if (now - last < kRequestSpacingMs) return;
  if (lastRequestMs.compare_exchange_strong(last, now, std::memory_order_relaxed))
    requests.fetch_add(1, std::memory_order_release);
}

std::vector<LiveBoard::Snapshot> LiveBoard::histograms() const {
  std::lock_guard<std::mutex> hold(lock);
  return published;
}
