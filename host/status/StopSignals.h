// The signals that ask a run or a batch to stop cleanly (Ctrl-C, kill):
// held by each, and taken when it is ready to act on them.
#pragma once

#include <signal.h>

inline sigset_t stopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}
