// side_by_side ROUNDS -- COMMAND A... -- COMMAND B...
// Runs A and B once each to warm the page cache, then ROUNDS times in turn
// (A, B, A, B, ...), each with standard output to /dev/null. Prints one line:
//   <median seconds of A> <median seconds of B> <peak KiB of A> <peak KiB of B>
//   <median CPU seconds of A> <median CPU seconds of B>
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
  std::fprintf(stderr, "usage: side_by_side ROUNDS -- COMMAND A... -- COMMAND B...\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  const int rounds = std::atoi(argv[1]);
  std::vector<char*> cmd[2];
  int which = -1;
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--") == 0 && which < 1) {
      ++which;
      continue;
    }
    if (which < 0) return usage();
    cmd[which].push_back(argv[i]);
  }
  if (rounds < 1 || cmd[0].empty() || cmd[1].empty()) return usage();
  for (auto& c : cmd) c.push_back(nullptr);

  std::vector<double> wall[2], cpu[2];
  long peak[2] = {0, 0};
  for (int round = -1; round < rounds; ++round)
    for (int k = 0; k < 2; ++k) {
      Outcome o;
      if (!runOnce(cmd[k], o)) return 1;
      if (round < 0) continue;  // the warm-up round is not counted
      wall[k].push_back(o.seconds);
      cpu[k].push_back(o.cpuSeconds);
      peak[k] = std::max(peak[k], o.peakKiB);
    }
  std::printf("%.6f %.6f %ld %ld %.6f %.6f\n", median(wall[0]), median(wall[1]), peak[0], peak[1],
              median(cpu[0]), median(cpu[1]));
  return 0;
}
