#include "RunState.h"

#include "CurrentRun.h"
#include "TarnBase.h"

namespace live {

void RunState::sourceStarting(TarnBase* node) {
  std::lock_guard<std::mutex> hold(lock);
  if (!started) {
    started = true;
    start = Clock::now();
  }
  source = node;
  sentBefore = node ? node->SentCount() : 0;
  lastSource = node ? node->name : std::string();
}

void RunState::sourceEnded() {
  std::lock_guard<std::mutex> hold(lock);
  if (source) earlier += source->SentCount() - sentBefore;
  source = nullptr;
}

void RunState::runEnded() {
  std::lock_guard<std::mutex> hold(lock);
  if (source) earlier += source->SentCount() - sentBefore;
  source = nullptr;
  endSeconds = started ? std::chrono::duration<double>(Clock::now() - start).count() : 0;
  done = true;
}

Status RunState::now() const {
  std::lock_guard<std::mutex> hold(lock);
  Status s;
  s.done = done;
  s.events = earlier + (source ? source->SentCount() - sentBefore : 0);
  s.seconds = done ? endSeconds
                   : started ? std::chrono::duration<double>(Clock::now() - start).count() : 0;
  s.rate = s.seconds > 0 ? double(s.events) / s.seconds : 0;
  s.source = lastSource;
  s.file = sourceFile(lastSource);
  s.run = s.file.empty() ? -1 : currentRun().number;
  return s;
}

}  // namespace live
