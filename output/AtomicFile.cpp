#include "AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

// The stream handed out by stream() writes straight to the descriptor, so the
// reason of a failed write is kept however much the writer prints afterwards
// (errno alone would be overwritten long before commit()).
struct AtomicFile::Cookie {
  static ssize_t write(void* cookie, const char* data, size_t size) {
    AtomicFile& f = *static_cast<AtomicFile*>(cookie);
    if (f.writeErr_) return 0;  // nothing after a gap
    size_t done = 0;
    while (done < size) {
      const ssize_t n = ::write(f.fd_, data + done, size - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        f.writeErr_ = n < 0 ? errno : ENOSPC;
        errno = f.writeErr_;
        break;  // a short count marks the stream's error
      }
      done += size_t(n);
    }
    f.written_ += done;
    return ssize_t(done);
  }
  static int seek(void* cookie, off64_t* offset, int whence) {
    const off64_t at = ::lseek64(static_cast<AtomicFile*>(cookie)->fd_, *offset, whence);
    if (at < 0) return -1;
    *offset = at;
    return 0;
  }
  // The descriptor stays open for commit()'s fsync.
  static int close(void* cookie) {
    static_cast<AtomicFile*>(cookie)->stream_ = nullptr;
    return 0;
  }
};

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

void AtomicFile::fail(int err) {
  fail(nullptr, err ? err : EIO);
  discard();
}

// Devices and pipes take the data where they are.
bool AtomicFile::openInPlace() {
  const int fd = ::open(final_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd < 0) return fail(nullptr, errno);
  fd_ = fd;
  temp_ = final_;
  inPlace_ = true;
  return true;
}

bool AtomicFile::openGrowing() {
  if (fd_ >= 0 || !temp_.empty()) return true;
  if (!error_.empty()) return false;
  const int fd = ::open(final_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return fail(nullptr, errno);
  fd_ = fd;
  temp_ = target_ = final_;
  inPlace_ = true;
  return true;
}

bool AtomicFile::open() {
  if (fd_ >= 0 || !temp_.empty()) return true;
  if (!error_.empty()) return false;
  target_ = final_;
  struct stat st;
  bool replaces = false;
  if (::stat(final_.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode)) {
      if (S_ISDIR(st.st_mode)) return fail(nullptr, EISDIR);
      return openInPlace();
    }
    replaces = true;
    // A link stays a link: the file it points to is the one replaced.
    struct stat link;
    char resolved[PATH_MAX];
    if (::lstat(final_.c_str(), &link) == 0 && S_ISLNK(link.st_mode) &&
        ::realpath(final_.c_str(), resolved))
      target_ = resolved;
  }
  const size_t slash = target_.rfind('/');
  const std::string dir = slash == std::string::npos ? std::string() : target_.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? target_ : target_.substr(slash + 1);
  if (name.empty()) return fail(nullptr, EISDIR);
  std::string pattern = dir + "." + name + ".XXXXXX.tmp";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  const int fd = ::mkstemps(buf.data(), 4);
  if (fd < 0) return fail(nullptr, errno);
  // mkstemp gives 0600; a result file gets what any new file would, or keeps
  // the mode of the one it replaces.
  mode_t mode;
  if (replaces) {
    mode = st.st_mode & 07777;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  if (::fchmod(fd, mode) != 0) {
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
  const cookie_io_functions_t io = {nullptr, &Cookie::write, &Cookie::seek, &Cookie::close};
  stream_ = ::fopencookie(this, "w", io);
  if (!stream_) fail(nullptr, errno);
  return stream_;
}

bool AtomicFile::commit(Sync sync) {
  if (committed_) return true;
  if (temp_.empty() || !error_.empty()) {
    discard();
    return error_.empty() ? fail(nullptr, EBADF) : false;
  }
  int err = 0;
  if (stream_) {
    const bool flushed = std::fflush(stream_) == 0;
    if (!flushed || std::ferror(stream_)) err = writeErr_ ? writeErr_ : (errno ? errno : EIO);
    std::fclose(stream_);  // the cookie clears stream_
    stream_ = nullptr;
  }
  if (writeErr_) err = writeErr_;  // also when a library closed the stream itself
  if (fd_ >= 0) {
    // Devices and pipes cannot be synced (EINVAL); a file written by a
    // library through tempPath() is synced through this descriptor.
    if (!err && sync == Sync::Disk && ::fsync(fd_) != 0 && errno != EINVAL) err = errno;
    if (::close(fd_) != 0 && !err) err = errno;
    fd_ = -1;
  }
  if (!err && !inPlace_ && ::rename(temp_.c_str(), target_.c_str()) != 0) err = errno;
  if (err) {
    discard();
    return fail(nullptr, err);
  }
  committed_ = true;
  if (!inPlace_ && sync == Sync::Disk) {
    // The rename itself reaches the disk with its directory.
    const size_t slash = target_.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : target_.substr(0, slash + 1);
    const int d = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (d >= 0) {
      ::fsync(d);
      ::close(d);
    }
  }
  return true;
}

void AtomicFile::discard() {
  if (stream_) std::fclose(stream_);
  stream_ = nullptr;
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temp_.empty() && !committed_ && !inPlace_) ::unlink(temp_.c_str());
  temp_.clear();
}
