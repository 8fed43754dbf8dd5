// A batch as a Slurm array job: one task per run, each `tarn batch --task K`
// on the same directory, so the per-run files are those of a local batch.
// Only Slurm's commands are run; nothing of it is linked.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Batch.h"

namespace {

std::string absolutePath(const Batch& batch, const std::string& path) {
  return !path.empty() && path[0] == '/' ? path : batch.cwd + "/" + path;
}

// Runs sbatch with `args`, naming the job it submitted; with --wait it stays
// until the array ends. The exit status of `tarn batch --slurm` without --wait.
int runSbatch(const Batch& batch, std::vector<std::string> args, size_t runs, bool wait,
              int skipped) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) {
    std::fprintf(stderr, "tarn batch: cannot start sbatch: %s\n", std::strerror(errno));
    return 1;
  }
  std::fflush(stderr);
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(pipeFds[1], 1);
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    ::execvp("sbatch", argv.data());
    ::_exit(127);
  }
  ::close(pipeFds[1]);
  // The job id comes first; with --wait sbatch then stays until the array ends.
  std::string line;
  bool submitted = false;
  char c;
  while (::read(pipeFds[0], &c, 1) == 1) {
    if (c != '\n') {
      line += c;
      continue;
    }
    std::fprintf(stderr, "tarn batch: submitted Slurm job %s: %zu run(s)%s\n", line.c_str(), runs,
                 wait ? ", waiting for it to end" : "");
    line.clear();
    submitted = true;
  }
  ::close(pipeFds[0]);
  int wstatus = 0;
  while (::waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
  }
  const bool ended = WIFEXITED(wstatus);
  if (!submitted || !wait) {
    if (!submitted || !ended || WEXITSTATUS(wstatus) != 0) {
      std::fprintf(stderr, "tarn batch: sbatch failed; nothing was submitted\n");
      return 1;
    }
    std::fprintf(stderr, "tarn batch: follow it with: tarn batch --status %s\n", batch.out.c_str());
    return 0;
  }
  // sbatch --wait ends with the array's highest exit status: the status files tell which.
  return summarise(batch, skipped);
}

}  // namespace

std::string shellQuoted(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::string arraySpec(const std::vector<int>& todo, int jobs) {
  std::string spec;
  for (size_t k = 0; k < todo.size(); ++k) spec += (k ? "," : "") + std::to_string(todo[k]);
  return jobs > 0 ? spec + "%" + std::to_string(jobs) : spec;
}

std::string jobScriptRefusal(const Batch& batch) {
  const std::string dir = absolutePath(batch, batch.out);
  // A directive is one line; Slurm reads a backslash in a file name as "no
  // patterns", and the task's launch then fails with no log to say why.
  if (dir.find_first_of("\n\r") != std::string::npos)
    return "the output directory (--out) holds a line break, which a Slurm job script cannot hold";
  if (dir.find('\\') != std::string::npos)
    return "the output directory (--out) holds a backslash, which Slurm's log file names cannot hold";
  return "";
}

// The file `dir` + `pattern` as the value of an #SBATCH option: within double
// quotes (sbatch splits a directive at blanks outside them), each % of `dir`
// doubled so that Slurm's file patterns leave it as it is.
static std::string slurmFileValue(const std::string& dir, const std::string& pattern) {
  std::string v = "\"";
  for (char c : dir) v += c == '%' ? std::string("%%") : c == '"' ? std::string("\\\"") : std::string(1, c);
  return v + pattern + "\"";
}

std::string slurmScript(const Batch& batch, const std::vector<int>& todo, int jobs,
                        const std::string& tarn) {
  if (!jobScriptRefusal(batch).empty()) return "";
  const std::string dir = absolutePath(batch, batch.out);
  return "#!/bin/sh\n"
         "# One task per run of batch.json; each writes its run's directory as a local batch does.\n"
         "#SBATCH --job-name=tarn-batch\n"
         "#SBATCH --array=" + arraySpec(todo, jobs) + "\n"
         "#SBATCH --output=" + slurmFileValue(dir, "/slurm/%A_%a.out") + "\n"
         "cd " + shellQuoted(batch.cwd) + " || exit 2\n"
         "exec " + shellQuoted(tarn) + " batch --task \"$SLURM_ARRAY_TASK_ID\" --out " +
         shellQuoted(dir) + "\n";
}

bool slurmAvailable() {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  for (size_t at = 0; at <= dirs.size();) {
    size_t end = dirs.find(':', at);
    if (end == std::string::npos) end = dirs.size();
    std::string dir = dirs.substr(at, end - at);
    if (::access(((dir.empty() ? "." : dir) + "/sbatch").c_str(), X_OK) == 0) return true;
    at = end + 1;
  }
  return false;
}

int submitToSlurm(const Batch& batch, const std::vector<int>& todo, int jobs, bool wait,
                  const std::vector<std::string>& extra, int skipped) {
  if (todo.empty()) {
    std::fprintf(stderr, "tarn batch: every run is done already; nothing submitted\n");
    return summarise(batch, skipped);
  }
  const std::string dir = absolutePath(batch, batch.out);
  const std::string logs = dir + "/slurm";
  if (::mkdir(logs.c_str(), 0755) != 0 && errno != EEXIST) {
    std::fprintf(stderr, "tarn batch: cannot make %s: %s\n", logs.c_str(), std::strerror(errno));
    return 2;
  }
  const std::string script = slurmScript(batch, todo, jobs, tarnExecutable());
  std::string error = jobScriptRefusal(batch);
  if (script.empty()) {
    std::fprintf(stderr, "tarn batch: %s\n", error.c_str());
    return 2;
  }
  const std::string scriptPath = dir + "/batch.sbatch";
  if (!writeFileAtomically(scriptPath, script, error)) {
    std::fprintf(stderr, "tarn batch: %s\n", error.c_str());
    return 2;
  }
  // A queued run has no status yet; an old one must not speak for it.
  for (int k : todo) ::unlink((runDirectory(batch, batch.runs[k]) + "/status.json").c_str());

  std::vector<std::string> args = {"sbatch", "--parsable"};
  if (wait) args.push_back("--wait");
  args.insert(args.end(), extra.begin(), extra.end());
  args.push_back(scriptPath);
  return runSbatch(batch, args, todo.size(), wait, skipped);
}
