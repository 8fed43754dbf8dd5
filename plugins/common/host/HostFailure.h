// How a plug-in that must also load in other hosts tells the host that the
// run failed. A host that counts failed runs (the stand-in host's runner
// does) offers tarn_run_failed; in a host without it the plug-in's own
// message alone tells.
#pragma once

#include <dlfcn.h>

#include <string>

inline void tellHostTheRunFailed() {
  using Call = void (*)();
  static const Call call = reinterpret_cast<Call>(::dlsym(RTLD_DEFAULT, "tarn_run_failed"));
  if (call) call();
}

// The same with the reason, for a host that names it on its error stream
// (tarn_run_failed_because); one without it only counts the failure.
inline void tellHostTheRunFailed(const std::string& node, const std::string& reason) {
  using Call = void (*)(const char*, const char*);
  static const Call call = reinterpret_cast<Call>(::dlsym(RTLD_DEFAULT, "tarn_run_failed_because"));
  if (call)
    call(node.c_str(), reason.c_str());
  else
    tellHostTheRunFailed();
}

// A damaged run file (cut, a checksum error, an event that does not decode)
// ends the run as its end would, so the run is not failed; a host that keeps
// such runs apart (tarn_run_damaged) is told why. Others go without.
inline void tellHostTheRunWasDamaged(const std::string& node, const std::string& reason) {
  using Call = void (*)(const char*, const char*);
  static const Call call = reinterpret_cast<Call>(::dlsym(RTLD_DEFAULT, "tarn_run_damaged"));
  if (call) call(node.c_str(), reason.c_str());
}
