// How a plug-in that must also load in other hosts tells the host that the
// run failed. A host that counts failed runs (the stand-in host's runner
// does) offers tarn_run_failed; in a host without it the plug-in's own
// message alone tells.
#pragma once

#include <dlfcn.h>

inline void tellHostTheRunFailed() {
  using Call = void (*)();
  static const Call call = reinterpret_cast<Call>(::dlsym(RTLD_DEFAULT, "tarn_run_failed"));
  if (call) call();
}
