// How a plug-in that must also load in other hosts tells a host that offers
// it that a value list holds unsigned numbers although its property type is
// a signed list (a WORD bank in a vector<short>). Other hosts go without.
#pragma once

#include <dlfcn.h>

inline void tellHostValuesAreUnsigned(const void* container, bool isUnsigned) {
  using Call = void (*)(const void*, int);
  static const Call call = reinterpret_cast<Call>(::dlsym(RTLD_DEFAULT, "tarn_values_unsigned"));
  if (call) call(container, isUnsigned ? 1 : 0);
}
