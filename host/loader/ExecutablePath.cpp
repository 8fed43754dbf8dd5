#include "ExecutablePath.h"

#include <climits>
#include <cstdlib>

std::string executableDirectory() {
  char real[PATH_MAX];
  if (!::realpath("/proc/self/exe", real)) return "";
  std::string path = real;
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash == 0 ? 1 : slash);
}
