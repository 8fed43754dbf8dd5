// Precondition checks of the MIDAS record classes. They stay on in release
// builds: a violated one means a caller bug that would corrupt memory.
#pragma once

#include <cstdio>
#include <cstdlib>

[[noreturn]] inline void midasAssertFailed(const char* file, unsigned line, const char* condition) {
  std::fprintf(stderr, "%s:%u: failed assertion `%s'\n", file, line, condition);
  std::fflush(stderr);
  std::abort();
}

#define MIDAS_ASSERT(condition) \
  ((condition) ? static_cast<void>(0) : midasAssertFailed(__FILE__, __LINE__, #condition))
