#include "ExecutablePath.h"

#include <climits>
#include <cstdlib>

std::string executablePath() {
  char real[PATH_MAX];
  return ::realpath("/proc/self/exe", real) ? std::string(real) : std::string();
}

std::string executableDirectory() {
  const std::string path = executablePath();
  if (path.empty()) return "";
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash == 0 ? 1 : slash);
}
