#include "RunSearch.h"

#include <sys/stat.h>

#include <cstdlib>
#include <vector>

std::string findRunFile(const std::string& name) {
  const char* data = std::getenv("MIDASDATA");
  const std::string dir = std::string(data ? data : "") + "/";
  const size_t n = name.size();
  const bool gz = n >= 3 && name.find(".gz") == n - 3;
  const std::string base = gz ? name.substr(0, n - 3) : name;
  std::vector<std::string> forms = {name, gz ? base : name + ".gz"};
  for (const char* ending : {".lz4", ".bz2", ".zst"}) forms.push_back(base + ending);
  for (const std::string& f : forms) {
    for (const std::string& path : {f, dir + f}) {
      struct stat st;
      if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return path;
    }
  }
  return "";
}
