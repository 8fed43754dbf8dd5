#include "RecordFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

nlohmann::json readRecordFile(const std::string& path, std::string& damage) {
  damage.clear();
  // Non-blocking: a FIFO planted at the record's name is refused, not waited on.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0 && (errno == ENOENT || errno == ENOTDIR)) return nlohmann::json();
  if (fd < 0) {
    damage = path + ": " + std::strerror(errno);
    return nlohmann::json::value_t::discarded;
  }
  const std::string tooLarge = path + ": larger than the 4 MiB a record may hold; read as damaged";
  struct stat st;
  std::string text;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    damage = path + ": not a regular file";
  } else if (st.st_size > off_t(kRecordLimit)) {
    damage = tooLarge;
  } else {
    // Read at most one byte past the limit: a file that grows while read is caught too.
    char buffer[65536];
    for (ssize_t n; text.size() <= kRecordLimit && (n = ::read(fd, buffer, sizeof buffer)) != 0;) {
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        damage = path + ": " + std::strerror(errno);
        break;
      }
      text.append(buffer, size_t(n));
    }
    if (damage.empty() && text.size() > kRecordLimit) damage = tooLarge;
  }
  ::close(fd);
  if (!damage.empty()) return nlohmann::json::value_t::discarded;
  nlohmann::json value = nlohmann::json::parse(text, nullptr, false);
  if (value.is_discarded()) damage = path + ": not JSON";
  return value;
}

