// The two factory functions every plug-in module exports, written once.
//
//   class EventDumper : public TarnBase { ... };
//   TARN_PLUGIN(EventDumper)
//
// The host finds `newObject` and `delObject` by their unmangled names; the
// pointer handed over is always the object's TarnBase part.
#pragma once

#include <string>

#define TARN_PLUGIN(ClassName)                                                  \
  extern "C" __attribute__((visibility("default"))) void* newObject(           \
      std::string& name) {                                                      \
    return static_cast<TarnBase*>(new ClassName(name));                         \
  }                                                                             \
  extern "C" __attribute__((visibility("default"))) void delObject(             \
      void* object) {                                                           \
    if (object) delete static_cast<TarnBase*>(object);                          \
  }
