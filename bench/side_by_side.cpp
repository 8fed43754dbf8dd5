// side_by_side ROUNDS -- COMMAND A... -- COMMAND B... [-- COMMAND C...]...
// Runs each command once to warm the page cache, then ROUNDS times in turn
// (A, B, A, B, ...), each with standard output to /dev/null. Prints one line:
//   <median seconds of A> <median seconds of B> <peak KiB of A> <peak KiB of B>
//   <median CPU seconds of A> <median CPU seconds of B>
// and with more commands, the same three groups with one figure per command.
// The peak is the largest resident size any round of the command reached; CPU
// seconds are user and system time together.
// On a machine shared with other work, times of separate runs are not
// comparable; the ratio of two commands measured in turn is.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Outcome {
  double seconds;
  double cpuSeconds;
  long peakKiB;
};

double seconds(const timeval& t) { return double(t.tv_sec) + 1e-6 * double(t.tv_usec); }

double now() {
  timespec t;
  ::clock_gettime(CLOCK_MONOTONIC, &t);
  return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

bool runOnce(const std::vector<char*>& argv, Outcome& out) {
  const double start = now();
  const pid_t pid = ::fork();
  if (pid < 0) return false;
  if (pid == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0) ::dup2(null, 1);
    ::execvp(argv[0], argv.data());
    std::fprintf(stderr, "side_by_side: cannot run %s: %s\n", argv[0], std::strerror(errno));
    std::_Exit(127);
  }
  int status = 0;
  rusage usage;
  if (::wait4(pid, &status, 0, &usage) != pid) return false;
  out.seconds = now() - start;
  out.peakKiB = usage.ru_maxrss;
  out.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "side_by_side: %s failed (status %d)\n", argv[0], status);
    return false;
  }
  return true;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

int usage() {
  std::fprintf(stderr, "usage: side_by_side ROUNDS -- COMMAND A... -- COMMAND B... [-- COMMAND...]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  const int rounds = std::atoi(argv[1]);
  std::vector<std::vector<char*>> cmd;
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--") == 0) {
      cmd.emplace_back();
      continue;
    }
    if (cmd.empty()) return usage();
    cmd.back().push_back(argv[i]);
  }
  if (rounds < 1 || cmd.size() < 2) return usage();
  for (auto& c : cmd) {
    if (c.empty()) return usage();
    c.push_back(nullptr);
  }

  const size_t n = cmd.size();
  std::vector<std::vector<double>> wall(n), cpu(n);
  std::vector<long> peak(n, 0);
  for (int round = -1; round < rounds; ++round)
    for (size_t k = 0; k < n; ++k) {
      Outcome o;
      if (!runOnce(cmd[k], o)) return 1;
      if (round < 0) continue;  // the warm-up round is not counted
      wall[k].push_back(o.seconds);
      cpu[k].push_back(o.cpuSeconds);
      peak[k] = std::max(peak[k], o.peakKiB);
    }
  std::string line;
  char figure[64];
  for (size_t k = 0; k < n; ++k) line += (std::snprintf(figure, sizeof figure, "%.6f ", median(wall[k])), figure);
  for (size_t k = 0; k < n; ++k) line += (std::snprintf(figure, sizeof figure, "%ld ", peak[k]), figure);
  for (size_t k = 0; k < n; ++k) line += (std::snprintf(figure, sizeof figure, "%.6f ", median(cpu[k])), figure);
  line.back() = '\n';
  std::fputs(line.c_str(), stdout);
  return 0;
}
