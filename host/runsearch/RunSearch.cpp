#include "RunSearch.h"

#include <cstdlib>
#include <filesystem>

#include "RunFileNames.h"

std::string findRunFile(const std::string& name) {
  const char* data = std::getenv("MIDASDATA");
  std::error_code ec;
  for (const std::string& path : runFileNames(name, data ? data : ""))
    if (std::filesystem::is_regular_file(path, ec)) return path;
  return "";
}
