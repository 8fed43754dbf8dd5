// Sub-commands with heavy libraries of their own (HDF5, PLplot) are programs
// beside tarn, so that `tarn run` starts without loading them.
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "Commands.h"
#include "ExecutablePath.h"

int runSiblingTool(const std::string& tool, int argc, char** argv) {
  const std::string dir = executableDirectory();
  const std::string path = (dir.empty() ? std::string(".") : dir) + "/" + tool;
  std::vector<char*> args{const_cast<char*>(path.c_str())};
  for (int i = 0; i < argc; ++i) args.push_back(argv[i]);
  args.push_back(nullptr);
  ::execv(path.c_str(), args.data());
  std::cerr << "tarn: cannot run " << path << ": " << std::strerror(errno) << "\n";
  return 1;
}
