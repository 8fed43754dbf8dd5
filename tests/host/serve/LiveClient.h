// Talking to `tarn run --serve` from tests: raw HTTP over loopback, and a tarn
// process that serves while the test looks at it.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace livetest {

// Sends `request` as it is to 127.0.0.1:port and reads until the server
// closes (at most `timeoutMs`); "" when it cannot connect.
std::string exchange(int port, const std::string& request, int timeoutMs = 10000);
// GET of `path` (or another method), the whole response.
std::string request(int port, const std::string& method, const std::string& path);
int statusOf(const std::string& response);  // 0 when there is no status line
std::string bodyOf(const std::string& response);

// A connection opened and left as it is (stalled mid-request, or silent).
int openConnection(int port);

// build/bin/tarn with `args` (which should hold --serve 0), stdout and stderr to files.
class LiveTarn {
 public:
  explicit LiveTarn(const std::vector<std::string>& args);
  ~LiveTarn();  // interrupts and reaps the process if still running

  // The port it serves on, once its "serving" line appears (0 after `timeoutMs`).
  int port(int timeoutMs = 10000);
  void interrupt();
  // Exit status (128 + signal when killed), waiting at most `timeoutMs`; -1 on timeout.
  int wait(int timeoutMs = 30000);
  std::string out() const;
  std::string err() const;

 private:
  pid_t pid = -1;
  std::string outPath, errPath;
  int status = -1;
};

}  // namespace livetest
