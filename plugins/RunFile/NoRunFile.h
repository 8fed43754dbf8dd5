// Why a source has no run file to read, in a few words for the host's error
// stream: what was asked for, and what stood in the way.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

// `file`, `list`: the settings as given; `listOpen`: whether the list file opened.
inline std::string whyNoRunFile(const std::string& file, const std::string& list, bool listOpen,
                                const std::string& dataDir) {
  if (!list.empty())
    return listOpen ? "no file of list " + dataDir + "/" + list + " found"
                    : "list file " + dataDir + "/" + list + " cannot be opened";
  if (file.empty()) return "no file set";
  // The name as given, then in the data directory: the first that is there tells.
  for (const std::string& path : {file, dataDir + "/" + file}) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) return path + " is a directory";
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) return path + ": " + std::strerror(errno);
    ::close(fd);
  }
  return file + " not found";
}
