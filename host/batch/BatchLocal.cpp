// Runs of a batch on this machine: each a child `tarn run` with its output in
// the run's directory, at most N at once, Ctrl-C passed on to each.
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <fstream>
#include <map>

#include "Batch.h"
#include "BatchProgress.h"
#include "ExecutablePath.h"
#include "StopSignals.h"

using Clock = std::chrono::steady_clock;

namespace {

struct Child {
  int index;
  int countsFd, damageFd;  // the run's windows: events sent, damage met
  Clock::time_point started;
};

bool makeDirectory(const std::string& path) {
  return ::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST;
}

RunRecord baseStatus(const BatchRun& run, RunState state) {
  RunRecord r;
  r.run = run.run;
  r.name = run.name;
  r.index = run.index;
  r.state = state;
  return r;
}

char hostName[256];

// In the child: its windows on fd 3 and 4, and the run directory's lock kept
// across exec, whatever numbers the batch's descriptors had.
void placeDescriptors(const Child& child, int lockFd) {
  const int counts = ::fcntl(child.countsFd, F_DUPFD_CLOEXEC, 10);
  const int damage = ::fcntl(child.damageFd, F_DUPFD_CLOEXEC, 10);
  const int lock = ::fcntl(lockFd, F_DUPFD_CLOEXEC, 10);
  ::dup2(counts, 3);
  ::dup2(damage, 4);
  if (lock >= 0) ::dup2(lock, 5);
}

// Starts `tarn run` for one run in a process of its own, which holds the run
// directory's lock (`lockFd`, -1 when none) for its life; -1 when it cannot.
pid_t startRun(const Batch& batch, const BatchRun& run, const Child& child, int lockFd, std::string& error) {
  const std::string dir = runDirectory(batch, run);
  // New files rather than truncated ones: ext4 flushes a file truncated and
  // rewritten when it is closed, a disk write per run for nothing.
  ::unlink((dir + "/stdout").c_str());
  ::unlink((dir + "/stderr").c_str());
  int out = ::open((dir + "/stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  int err = ::open((dir + "/stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (out < 0 || err < 0) {
    error = "cannot write in " + dir + ": " + std::strerror(errno);
    if (out >= 0) ::close(out);
    if (err >= 0) ::close(err);
    return -1;
  }
  static const std::string self = tarnExecutable();
  std::vector<std::string> args = {self, "run", "--no-progress", "--counts-fd", "3", "--damage-fd", "4"};
  for (const std::string& s : run.settings) {
    args.push_back("-s");
    args.push_back(s);
  }
  args.push_back("--");
  args.push_back(batch.graph);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);

  const pid_t parent = ::getpid();
  pid_t pid = ::fork();
  if (pid == 0) {
    // A batch killed outright takes its runs with it: each stops as on
    // Ctrl-C, holding its directory's lock until it has (a later batch waits).
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) ::_exit(143);
    // Its own process group: a Ctrl-C at the terminal reaches the batch only,
    // which passes one interrupt on (two would make `tarn run` quit at once).
    ::setpgid(0, 0);
    // Interrupts stay held: `tarn run` takes them when its watcher starts, so
    // one that comes early still stops the run cleanly rather than ending it.
    const sigset_t held = stopSignals();
    ::sigprocmask(SIG_SETMASK, &held, nullptr);
    int in = ::open("/dev/null", O_RDONLY);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    placeDescriptors(child, lockFd);
    ::execv(self.c_str(), argv.data());
    ::dprintf(2, "tarn batch: cannot run %s: %s\n", self.c_str(), std::strerror(errno));
    ::_exit(127);
  }
  ::close(out);
  ::close(err);
  if (pid < 0) error = std::string("cannot start a process: ") + std::strerror(errno);
  return pid;
}

uint64_t readCount(int fd) {
  uint64_t n = 0;
  return ::pread(fd, &n, sizeof n, 0) == sizeof n ? n : 0;
}

// The damage the run wrote on its window, its lines joined; the start of it
// when there is much.
std::string readDamage(int fd) {
  char text[1024];
  const ssize_t n = ::pread(fd, text, sizeof text, 0);
  std::string damage(text, n > 0 ? static_cast<size_t>(n) : 0);
  while (!damage.empty() && damage.back() == '\n') damage.pop_back();
  for (size_t at = damage.find('\n'); at != std::string::npos; at = damage.find('\n', at))
    damage.replace(at, 1, "; ");
  return damage;
}

// The run directory, locked for the life of the run's process: a run of a
// batch killed outright still stops (its results written) after the batch is
// gone, and a later batch must not write there before it has. Waits for the
// lock, saying so; -1 when a stop signal came meanwhile. A file system
// without locks goes without.
int lockRunDirectory(const std::string& dir, BatchProgress& progress, bool& stopAsked) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const sigset_t stops = stopSignals();
  const timespec poll = {0, 100 * 1000 * 1000};
  for (bool told = false; fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;) {
    if (!told) {
      progress.clear();
      std::fprintf(stderr, "tarn batch: waiting for an earlier run still writing in %s to end\n", dir.c_str());
      told = true;
    }
    if (::sigtimedwait(&stops, nullptr, &poll) > 0) {
      ::close(fd);
      stopAsked = true;
      return -1;
    }
  }
  return fd;
}

// The last line `tarn run` wrote on stderr: usually why it failed.
std::string lastLine(const std::string& path) {
  std::ifstream in(path);
  std::string line, last;
  while (std::getline(in, line))
    if (!line.empty()) last = line;
  if (last.size() > 300) last = last.substr(0, 300) + "...";
  return last;
}

RunRecord finishedStatus(const Batch& batch, const BatchRun& run, int wstatus, const rusage& use,
                         double seconds, const Child& child, bool interruptSent) {
  RunRecord s = baseStatus(run, endedState(wstatus, interruptSent));
  s.exit = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 0;
  s.signal = WIFSIGNALED(wstatus) ? WTERMSIG(wstatus) : 0;
  s.seconds = seconds;
  s.cpuSeconds = use.ru_utime.tv_sec + use.ru_stime.tv_sec +
                 (use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e6;
  s.maxRssKib = use.ru_maxrss;
  s.events = readCount(child.countsFd);
  s.damage = readDamage(child.damageFd);
  s.host = hostName;
  if (s.state == RunState::Failed) {
    std::string why = s.signal ? std::string("ended by signal ") + std::to_string(s.signal) + " (" +
                                     strsignal(s.signal) + ")"
                               : "exit status " + std::to_string(s.exit);
    std::string last = lastLine(runDirectory(batch, run) + "/stderr");
    s.reason = last.empty() ? why : why + ": " + last;
  } else if (s.state == RunState::Interrupted) {
    s.reason = "interrupted";
  } else {
    s.inputs = runInputs(batch, run);
  }
  return s;
}

// Makes the run's directory, waits for its lock and starts the run: its pid,
// or 0 with the run recorded as failed, or 0 with `stopAsked` and nothing
// recorded when a stop signal came while it waited.
pid_t launch(const Batch& batch, const BatchRun& run, BatchProgress& progress, Child& child, bool& stopAsked) {
  std::string error;
  int lock = -1;
  pid_t pid = 0;
  if (!makeDirectory(batch.out + "/" + run.name)) {
    error = "cannot make " + runDirectory(batch, run) + ": " + std::strerror(errno);
  } else if ((lock = lockRunDirectory(runDirectory(batch, run), progress, stopAsked)) < 0 && stopAsked) {
    return 0;
  } else if (run.input.empty()) {
    error = "run file " + missingFile(run) + " not found";
  } else if (batch.byRun && !writeRunList(batch, run, error)) {
    error = "cannot write the list of its files: " + error;
  } else {
    // No status of an earlier run may vouch for this one while it goes.
    RunRecord going = baseStatus(run, RunState::Running);
    going.host = hostName;
    going.pid = ::getpid();
    writeStatus(batch, run, going);
    child.countsFd = ::memfd_create("tarn-batch-count", MFD_CLOEXEC);
    child.damageFd = ::memfd_create("tarn-batch-damage", MFD_CLOEXEC);
    if (child.countsFd < 0 || child.damageFd < 0)
      error = std::string("cannot make a counter: ") + std::strerror(errno);
    else
      pid = startRun(batch, run, child, lock, error);
  }
  if (lock >= 0) ::close(lock);  // the run's process holds it now
  if (pid > 0) {
    child.started = Clock::now();
    progress.started(run.index, pid);
    return pid;
  }
  for (int fd : {child.countsFd, child.damageFd})
    if (fd >= 0) ::close(fd);
  RunRecord status = baseStatus(run, RunState::Failed);
  status.reason = error;
  writeStatus(batch, run, status);
  progress.finished(run.index, "failed");
  return 0;
}

}  // namespace

std::string tarnExecutable() {
  const std::string self = executablePath();
  return self.empty() ? std::string("tarn") : self;
}

std::vector<int> runsToDo(const Batch& batch, bool force) {
  std::vector<int> todo;
  for (const BatchRun& r : batch.runs) {
    if (!force) {
      RunRecord s;
      if (readStatus(batch, r, s) && s.state == RunState::Done && s.inputs == runInputs(batch, r))
        continue;
    }
    todo.push_back(r.index);
  }
  return todo;
}

bool runLocally(const Batch& batch, const std::vector<int>& todo, const LocalOptions& options) {
  ::gethostname(hostName, sizeof hostName - 1);
  sigset_t set = stopSignals();
  sigaddset(&set, SIGCHLD);
  ::sigprocmask(SIG_BLOCK, &set, nullptr);

  const bool showProgress = options.progress > 0 || (options.progress < 0 && ::isatty(2));
  BatchProgress progress(batch, todo, showProgress);
  std::map<pid_t, Child> running;
  size_t next = 0;
  int interrupts = 0;
  const sigset_t stops = stopSignals();
  auto interrupt = [&] {
    // The first interrupt stops each run cleanly; a second makes them quit at once.
    ++interrupts;
    progress.clear();
    std::fprintf(stderr, "tarn batch: interrupted, stopping %zu running run(s)%s\n", running.size(),
                 interrupts == 1 ? " (again to quit at once)" : "");
    for (const auto& c : running) ::kill(c.first, SIGINT);
  };
  const timespec now = {0, 0};
  while ((!interrupts && next < todo.size()) || !running.empty()) {
    // An interrupt already waiting starts no more runs.
    if (!interrupts && next < todo.size() && ::sigtimedwait(&stops, nullptr, &now) > 0) interrupt();
    while (!interrupts && next < todo.size() && static_cast<int>(running.size()) < options.jobs) {
      const BatchRun& run = batch.runs[todo[next++]];
      bool stopAsked = false;
      Child child{run.index, -1, -1, Clock::now()};
      const pid_t pid = launch(batch, run, progress, child, stopAsked);
      if (stopAsked) interrupt();  // the run never started
      if (pid > 0) running[pid] = child;
    }

    const timespec tick = {0, 250 * 1000 * 1000};
    int sig = ::sigtimedwait(&set, nullptr, &tick);
    if (sig == SIGINT || sig == SIGTERM) interrupt();
    int wstatus;
    rusage use;
    pid_t pid;
    while ((pid = ::wait4(-1, &wstatus, WNOHANG, &use)) > 0) {
      auto c = running.find(pid);
      if (c == running.end()) continue;
      const BatchRun& run = batch.runs[c->second.index];
      const double seconds = std::chrono::duration<double>(Clock::now() - c->second.started).count();
      RunRecord status = finishedStatus(batch, run, wstatus, use, seconds, c->second, interrupts > 0);
      ::close(c->second.countsFd);
      ::close(c->second.damageFd);
      running.erase(c);
      writeStatus(batch, run, status);
      progress.finished(run.index, stateName(status.state));
    }
    std::map<int, uint64_t> events;
    for (const auto& c : running) events[c.second.index] = readCount(c.second.countsFd);
    progress.draw(events);
  }
  progress.clear();
  return interrupts > 0;
}
