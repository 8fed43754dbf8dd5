// How a source that must also load in other hosts tells a host that offers it
// which run file it opened and which run began, so that the host can record
// them with its results. Other hosts go without.
#pragma once

#include <dlfcn.h>

inline void tellHostTheRunFile(const char* path) {
  using Call = void (*)(const char*);
  static const Call call = reinterpret_cast<Call>(::dlsym(RTLD_DEFAULT, "tarn_run_file_opened"));
  if (call) call(path);
}

inline void tellHostTheRunBegan(unsigned run) {
  using Call = void (*)(unsigned);
  static const Call call = reinterpret_cast<Call>(::dlsym(RTLD_DEFAULT, "tarn_run_began"));
  if (call) call(run);
}
