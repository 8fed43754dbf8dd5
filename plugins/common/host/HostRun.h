// How a source that must also load in other hosts tells a host that offers it
// which run file it opened and which run began, so that the host can record
// them with its results. Other hosts go without.
#pragma once

#include <dlfcn.h>

#include <string>

// `node` names the source, for a host that shows how far each one got.
inline void tellHostTheRunFile(const std::string& node, const std::string& path) {
  using Call = void (*)(const char*, const char*);
  static const Call call = reinterpret_cast<Call>(::dlsym(RTLD_DEFAULT, "tarn_source_file"));
  if (call) call(node.c_str(), path.c_str());
}

inline void tellHostTheRunBegan(unsigned run) {
  using Call = void (*)(unsigned);
  static const Call call = reinterpret_cast<Call>(::dlsym(RTLD_DEFAULT, "tarn_run_began"));
  if (call) call(run);
}
