#include "TarnTest.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
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

RunResult runTarn(const std::vector<std::string>& args, int interruptAfterMs, int secondAfterMs,
                  int signalNumber) {
  int out = tempFile(), err = tempFile();
  flushAll();
  pid_t pid = ::fork();
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
  if (interruptAfterMs >= 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(interruptAfterMs));
    ::kill(pid, signalNumber);
    if (secondAfterMs >= 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(secondAfterMs));
      ::kill(pid, signalNumber);
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

}  // namespace tarntest
