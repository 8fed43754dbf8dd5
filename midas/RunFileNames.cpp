#include "RunFileNames.h"

std::vector<std::string> runFileNames(const std::string& name, const std::string& dataDir) {
  const std::string inDir = dataDir + "/";
  const size_t n = name.size();
  // Only a ".gz" whose first occurrence ends the name marks a gzip file.
  const bool gz = n >= 3 && name.find(".gz") == n - 3;
  const std::string base = gz ? name.substr(0, n - 3) : name;
  std::vector<std::string> names;
  for (const std::string& form : {name, gz ? base : name + ".gz", base + ".lz4", base + ".bz2", base + ".zst"}) {
    names.push_back(form);
    names.push_back(inDir + form);
  }
  return names;
}
