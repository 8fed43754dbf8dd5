#include "AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

AtomicFile::AtomicFile(std::string finalPath) : final_(std::move(finalPath)) {}

AtomicFile::~AtomicFile() {
  if (!committed_) discard();
}

bool AtomicFile::fail(const char* what, int err) {
  if (error_.empty()) {
    error_ = final_ + ": ";
    if (what) error_ += std::string(what) + ": ";
    error_ += std::strerror(err);
  }
  return false;
}

bool AtomicFile::open() {
  if (fd_ >= 0 || !temp_.empty()) return true;
  const size_t slash = final_.rfind('/');
  const std::string dir = slash == std::string::npos ? std::string() : final_.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? final_ : final_.substr(slash + 1);
  if (name.empty()) return fail(nullptr, EISDIR);
  std::string pattern = dir + "." + name + ".XXXXXX.tmp";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  const int fd = ::mkstemps(buf.data(), 4);
  if (fd < 0) return fail(nullptr, errno);
  // mkstemp gives 0600; a result file gets what any new file would.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  if (::fchmod(fd, 0666 & ~mask) != 0) {
    const int err = errno;
    ::close(fd);
    ::unlink(buf.data());
    return fail(nullptr, err);
  }
  fd_ = fd;
  temp_ = buf.data();
  return true;
}

std::FILE* AtomicFile::stream() {
  if (stream_ || fd_ < 0) return stream_;
  stream_ = ::fdopen(fd_, "w");
  if (!stream_) fail(nullptr, errno);
  return stream_;
}

bool AtomicFile::commit() {
  if (committed_) return true;
  if (temp_.empty()) {
    discard();
    return error_.empty() ? fail(nullptr, EBADF) : false;
  }
  int err = 0;
  if (stream_) {
    if (std::fflush(stream_) != 0 || std::ferror(stream_)) err = errno ? errno : EIO;
    if (!err && ::fsync(fd_) != 0 && errno != EINVAL) err = errno;
    if (std::fclose(stream_) != 0 && !err) err = errno;
    stream_ = nullptr;
    fd_ = -1;
  } else if (fd_ >= 0) {
    // Written by a library through tempPath(): sync what it closed.
    if (::fsync(fd_) != 0 && errno != EINVAL) err = errno;
    if (::close(fd_) != 0 && !err) err = errno;
    fd_ = -1;
  }
  if (!err && ::rename(temp_.c_str(), final_.c_str()) != 0) err = errno;
  if (err) {
    discard();
    return fail(nullptr, err);
  }
  committed_ = true;
  return true;
}

void AtomicFile::discard() {
  if (stream_) std::fclose(stream_);
  else if (fd_ >= 0) ::close(fd_);
  stream_ = nullptr;
  fd_ = -1;
  if (!temp_.empty() && !committed_) ::unlink(temp_.c_str());
  temp_.clear();
}
