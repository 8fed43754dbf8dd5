#include "TarnTest.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace tarntest {

ModuleLoader& loader() {
  static ModuleLoader instance;
  return instance;
}

static void flushAll() {
  std::cout.flush();
  std::fflush(stdout);
}

static std::string readAll(int fd) {
  std::string s;
  char buf[4096];
  ::lseek(fd, 0, SEEK_SET);
  ssize_t n;
  while ((n = ::read(fd, buf, sizeof buf)) > 0) s.append(buf, static_cast<size_t>(n));
  return s;
}

CapturedStdout::CapturedStdout() : open(true) {
  flushAll();
  char name[] = "/tmp/tarn-capture-XXXXXX";
  file = ::mkstemp(name);
  if (file < 0) throw std::runtime_error("mkstemp failed");
  ::unlink(name);
  saved = ::dup(1);
  ::dup2(file, 1);
}

CapturedStdout::~CapturedStdout() { text(); }

std::string CapturedStdout::text() {
  if (open) {
    flushAll();
    ::dup2(saved, 1);
    ::close(saved);
    captured = readAll(file);
    ::close(file);
    open = false;
  }
  return captured;
}

Node::Node(const std::string& type, const std::string& name) {
  std::string error;
  handle = loader().load(type, error);
  if (!handle) throw std::runtime_error(error);
  object = loader().create(handle, name);
  if (!object) throw std::runtime_error("newObject returned null for " + type);
}

Node::~Node() { loader().destroy(handle, object); }

static int tempFile() {
  char name[] = "/tmp/tarn-run-XXXXXX";
  int fd = ::mkstemp(name);
  ::unlink(name);
  return fd;
}

pid_t startTarn(const std::vector<std::string>& args, int out, int err) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out, 1);
    ::dup2(err, 2);
    int null = ::open("/dev/null", O_RDONLY);
    ::dup2(null, 0);
    std::vector<char*> argv;
    static std::string binary = TARN_BINARY;
    argv.push_back(const_cast<char*>(binary.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(binary.c_str(), argv.data());
    ::_exit(127);
  }
  return pid;
}

RunResult runTarn(const std::vector<std::string>& args, int interruptAfterMs, int secondAfterMs,
                  int signal) {
  int out = tempFile(), err = tempFile();
  flushAll();
  const pid_t pid = startTarn(args, out, err);
  if (interruptAfterMs >= 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(interruptAfterMs));
    ::kill(pid, signal);
    if (secondAfterMs >= 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(secondAfterMs));
      ::kill(pid, signal);
    }
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  RunResult r;
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  r.out = readAll(out);
  r.err = readAll(err);
  ::close(out);
  ::close(err);
  return r;
}

std::set<std::string> namesIn(const std::string& dir) {
  std::set<std::string> names;
  DIR* d = ::opendir(dir.c_str());
  while (dirent* e = d ? ::readdir(d) : nullptr)
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.insert(e->d_name);
  if (d) ::closedir(d);
  return names;
}

std::string contentOf(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

TempDir::TempDir() {
  char name[] = "/tmp/tarn-test-XXXXXX";
  if (!::mkdtemp(name)) throw std::runtime_error("mkdtemp failed");
  dir = name;
}

TempDir::~TempDir() {
  std::string cmd = "rm -rf '" + dir + "'";
  if (std::system(cmd.c_str()) != 0) std::cerr << "could not remove " << dir << "\n";
}

std::string TempDir::write(const std::string& name, const std::string& content) const {
  std::string p = dir + "/" + name;
  std::ofstream f(p, std::ios::binary);
  f << content;
  return p;
}

Tmpfs::Tmpfs(size_t bytes) {
  const std::string size = "size=" + std::to_string(bytes);
  mounted = ::mount("tmpfs", dir.path().c_str(), "tmpfs", MS_NOSUID | MS_NODEV, size.c_str()) == 0;
  if (!mounted) why = std::strerror(errno);
}

Tmpfs::~Tmpfs() {
  if (mounted && ::umount(dir.path().c_str()) != 0) ::umount2(dir.path().c_str(), MNT_DETACH);
}

bool Tmpfs::readOnly() {
  return ::mount(nullptr, path().c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
}

bool Tmpfs::fill(size_t leave) {
  const std::string filler = path() + "/filler";
  FILE* f = std::fopen(filler.c_str(), "w");
  if (!f) return false;
  static const char block[4096] = {};
  size_t size = 0;
  while (std::fwrite(block, 1, sizeof block, f) == sizeof block) size += sizeof block;
  std::fclose(f);
  return ::truncate(filler.c_str(), off_t(size > leave ? size - leave : 0)) == 0;
}

}  // namespace tarntest
