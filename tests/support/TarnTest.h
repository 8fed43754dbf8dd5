// Fixtures shared by the tests: loading modules, capturing output, running tarn.
#pragma once

#include <sys/types.h>

#include <csignal>
#include <set>
#include <string>
#include <vector>

#include "Graph.h"
#include "ModuleLoader.h"
#include "TarnBase.h"

namespace tarntest {

// The loader every test uses: test plug-ins, then the build's plug-ins.
ModuleLoader& loader();

// Standard output (fd 1, C stdio and iostreams) captured while alive.
class CapturedStdout {
 public:
  CapturedStdout();
  ~CapturedStdout();
  // Everything written so far; stops the capture.
  std::string text();

 private:
  int saved;
  int file;
  bool open;
  std::string captured;
};

// One plug-in instance made through the loader, destroyed with delObject.
class Node {
 public:
  Node(const std::string& type, const std::string& name);
  ~Node();
  Node(const Node&) = delete;
  Node& operator=(const Node&) = delete;

  TarnBase* operator->() const { return object; }
  TarnBase* get() const { return object; }
  pluginHandle* module() const { return handle; }

 private:
  pluginHandle* handle;
  TarnBase* object;
};

// Runs build/bin/tarn with `args`, optionally sending `signal` (SIGINT by
// default) `interruptAfterMs` after start (negative: never) and a second one
// `secondAfterMs` later.
// Starts build/bin/tarn with `args`, its stdout and stderr on `out` and `err`,
// stdin from /dev/null; the child's pid (the caller waits for it).
pid_t startTarn(const std::vector<std::string>& args, int out, int err);

struct RunResult {
  int status;  // exit status, or 128 + signal number
  std::string out;
  std::string err;
};
RunResult runTarn(const std::vector<std::string>& args, int interruptAfterMs = -1,
                  int secondAfterMs = -1, int signal = SIGINT);

// The names in `dir` ("." and ".." left out), and a file's bytes ("" when unreadable).
std::set<std::string> namesIn(const std::string& dir);
std::string contentOf(const std::string& path);

// A directory removed with its files when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return dir; }
  // Writes `content` to path()/name and returns the full path.
  std::string write(const std::string& name, const std::string& content) const;

 private:
  std::string dir;
};

// A tmpfs of its own at a fresh directory, unmounted when the object goes.
// Mounting needs root: `mounted` is false otherwise, and `why` says why.
class Tmpfs {
 public:
  explicit Tmpfs(size_t bytes);
  ~Tmpfs();
  Tmpfs(const Tmpfs&) = delete;
  Tmpfs& operator=(const Tmpfs&) = delete;
  const std::string& path() const { return dir.path(); }
  bool readOnly();  // remounts it read-only
  // Takes all the space but `leave` bytes with the file "filler"; false when it cannot.
  bool fill(size_t leave);

  bool mounted;
  std::string why;

 private:
  TempDir dir;
};

}  // namespace tarntest
