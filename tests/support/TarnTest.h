// Fixtures shared by the tests: loading modules, capturing output, running tarn.
#pragma once

#include <csignal>
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

// Runs build/bin/tarn with `args`, optionally sending SIGINT (or `signalNumber`)
// `interruptAfterMs` after start (negative: never) and a second one `secondAfterMs` later.
struct RunResult {
  int status;  // exit status, or 128 + signal number
  std::string out;
  std::string err;
};
RunResult runTarn(const std::vector<std::string>& args, int interruptAfterMs = -1,
                  int secondAfterMs = -1, int signalNumber = SIGINT);

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

}  // namespace tarntest
