// `tarn batch`: the command line, the checks made once before any run, and
// the choice of engine.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "Batch.h"
#include "Commands.h"

namespace {

const char kBatchUsage[] =
    "usage: tarn batch GRAPH RUN... [--by-run] [-j N] [--out DIR] [-s NODE.PORT=TEXT]... [--force]\n"
    "                  [--progress|--no-progress] [--slurm [--wait]] [-- SBATCH-OPTION...]\n"
    "       tarn batch --status DIR\n"
    "       tarn batch --task K --out DIR      (one run of DIR/batch.json; Slurm's tasks)\n";

const char kBatchHelp[] =
    "\n"
    "Each run is one `tarn run GRAPH` in a process of its own, the -s settings\n"
    "given after the graph's own with {run} (the run file as given), {name} (its\n"
    "file name without directory, .mid and .gz/.lz4/.bz2/.zst) and {out} (DIR/{name},\n"
    "made before the run) replaced. RUN may be @LIST, a file of run files one a line.\n"
    "\n"
    "      --by-run      the sub-run files of a run (runNNNNNsubMMMM.mid...) are one\n"
    "                    run {name} = runNNNNN, {list} a list of them for RunFile's\n"
    "                    listfile (-s in.listfile={list}); {run} is the first\n"
    "  -j, --jobs N      at most N runs at once (default: the number of cores)\n"
    "  -o, --out DIR     where each run's directory goes (default batch-out)\n"
    "  -s, --set NODE.PORT=TEXT  a setting of every run (may be repeated)\n"
    "      --force       run again the runs that are done already\n"
    "      --progress    show the progress line even when stderr is no terminal\n"
    "      --no-progress never show it\n"
    "      --slurm       submit an array job of one task per run with sbatch;\n"
    "                    options after a lone -- go to sbatch\n"
    "      --wait        with --slurm: wait for the array to end, then summarise\n"
    "      --status DIR  a table of every run of the batch in DIR\n"
    "\n"
    "DIR/{name}/ holds the run's stdout, stderr and status.json. A second batch on\n"
    "DIR skips runs done with the same graph, settings and input file; Ctrl-C stops\n"
    "the runs cleanly and a later batch runs them again.\n"
    "Exit status: 0 every run done, 1 a run failed, 2 error in the graph or the\n"
    "command line (no run started), 130 interrupted.\n";

int usage(const std::string& message) {
  std::cerr << "tarn batch: " << message << "\n" << kBatchUsage;
  return 2;
}

bool parseCount(const std::string& text, int& n) {
  char* end = nullptr;
  long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end || v < 0 || v > INT_MAX) return false;
  n = static_cast<int>(v);
  return true;
}

std::string absolute(const std::string& path) {
  char resolved[PATH_MAX];
  return ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

std::string currentDirectory() {
  char cwd[PATH_MAX];
  return ::getcwd(cwd, sizeof cwd) ? std::string(cwd) : std::string(".");
}

// One run of the manifest, as a Slurm task runs it: always, since the
// submitting batch chose it.
int runTask(int task, const std::string& dir) {
  Batch batch;
  std::string error;
  if (!readManifest(dir, batch, error)) {
    std::cerr << "tarn batch: " << error << "\n";
    return 2;
  }
  if (!batch.cwd.empty() && ::chdir(batch.cwd.c_str()) != 0) {
    std::cerr << "tarn batch: cannot enter " << batch.cwd << ": " << std::strerror(errno) << "\n";
    return 2;
  }
  if (task < 0 || task >= static_cast<int>(batch.runs.size()))
    return usage("task " + std::to_string(task) + " is not a run of " + dir);
  if (!prepareRuns(batch, error)) {
    std::cerr << "tarn batch: " << error << "\n";
    return 2;
  }
  LocalOptions options;
  options.progress = 0;
  if (runLocally(batch, {task}, options)) return 130;
  nlohmann::json s = readStatus(batch, batch.runs[task]);
  if (!s.is_null() && s.value("state", "") == "done") return 0;
  const std::string state = s.is_null() ? "not recorded" : s.value("state", "?");
  const std::string reason = s.is_null() ? "" : s.value("reason", "");
  std::cerr << "tarn batch: run " << batch.runs[task].run << " " << state
            << (reason.empty() ? "" : ": " + reason) << "\n";
  return 1;
}

}  // namespace

int batchCommand(int argc, char** argv) {
  std::vector<std::string> positional, extra;
  Batch batch;
  batch.out = "batch-out";
  LocalOptions options;
  long cores = ::sysconf(_SC_NPROCESSORS_ONLN);
  options.jobs = cores > 0 ? static_cast<int>(cores) : 1;
  bool slurm = false, wait = false, outGiven = false, jobsGiven = false;
  int task = -1;
  std::string statusDir;
  for (int i = 0; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](std::string& v) {
      if (i + 1 >= argc) return false;
      v = argv[++i];
      return true;
    };
    std::string v;
    if (a == "-h" || a == "--help") {
      std::cout << kBatchUsage << kBatchHelp;
      return 0;
    } else if (a == "-s" || a == "--set") {
      if (!value(v)) return usage(a + " needs NODE.PORT=TEXT");
      batch.settings.push_back(v);
    } else if (a.compare(0, 6, "--set=") == 0) {
      batch.settings.push_back(a.substr(6));
    } else if (a == "-j" || a == "--jobs") {
      if (!value(v) || !parseCount(v, options.jobs) || options.jobs < 1)
        return usage(a + " needs a number of runs at once, at least 1");
      jobsGiven = true;
    } else if (a.size() > 2 && a.compare(0, 2, "-j") == 0) {
      if (!parseCount(a.substr(2), options.jobs) || options.jobs < 1)
        return usage(a + ": expected -jN, N at least 1");
      jobsGiven = true;
    } else if (a == "-o" || a == "--out") {
      if (!value(batch.out)) return usage(a + " needs a directory");
      outGiven = true;
    } else if (a == "--by-run") {
      batch.byRun = true;
    } else if (a == "--force") {
      options.force = true;
    } else if (a == "--progress") {
      options.progress = 1;
    } else if (a == "--no-progress") {
      options.progress = 0;
    } else if (a == "--slurm") {
      slurm = true;
    } else if (a == "--wait") {
      wait = true;
    } else if (a == "--status") {
      if (!value(statusDir)) return usage("--status needs the batch's directory");
    } else if (a == "--task") {
      if (!value(v) || !parseCount(v, task)) return usage("--task needs a run index");
    } else if (a == "--") {
      extra.assign(argv + i + 1, argv + argc);
      break;
    } else if (a.size() > 1 && a[0] == '-') {
      return usage("unknown option " + a);
    } else {
      positional.push_back(a);
    }
  }
  if (!slurm) {
    // Held from here, so a Ctrl-C while the graph is checked stops the batch
    // as one during its runs does, with each run's state recorded.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    ::sigprocmask(SIG_BLOCK, &set, nullptr);
  }
  if (!statusDir.empty()) {
    if (!positional.empty()) return usage("--status takes only the batch's directory");
    return printStatusTable(statusDir);
  }
  if (task >= 0) {
    if (!outGiven) return usage("--task needs --out DIR");
    return runTask(task, batch.out);
  }
  if (wait && !slurm) return usage("--wait goes with --slurm");
  if (!extra.empty() && !slurm) return usage("options after -- are for sbatch and need --slurm");
  if (positional.size() < 2) return usage(positional.empty() ? "no graph file" : "no run files");
  if (slurm && !slurmAvailable()) {
    std::cerr << "tarn batch: sbatch not found on PATH; --slurm needs Slurm's commands\n";
    return 2;
  }

  batch.graph = absolute(positional[0]);
  batch.cwd = currentDirectory();
  std::string error;
  std::vector<std::string> runs;
  if (!expandRuns({positional.begin() + 1, positional.end()}, runs, error))
    return usage(error);
  if (runs.empty()) return usage("the run lists name no runs");
  if (batch.byRun) {
    if (!groupSubruns(runs, batch.runs, error)) {
      std::cerr << "tarn batch: " << error << "\n";
      return 2;
    }
  } else {
    for (const std::string& r : runs) {
      batch.runs.emplace_back();
      batch.runs.back().run = r;
    }
  }
  if (!prepareRuns(batch, error)) {
    std::cerr << "tarn batch: " << error << "\n";
    return 2;
  }

  // A mistake in the graph shows once, here, as `tarn run` would show it.
  RunOptions check;
  check.graphFile = positional[0];
  check.overrides = batch.runs[0].settings;
  if (checkGraph(check) != 0) return 2;

  if (::mkdir(batch.out.c_str(), 0755) != 0 && errno != EEXIST) {
    std::cerr << "tarn batch: cannot make " << batch.out << ": " << std::strerror(errno) << "\n";
    return 2;
  }
  // Two batches on one directory would run the same runs over each other.
  const std::string lockPath = batch.out + "/.lock";
  int lock = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (lock < 0 || ::flock(lock, LOCK_EX | LOCK_NB) != 0) {
    std::cerr << "tarn batch: " << batch.out
              << (lock < 0 ? " cannot be locked: " + std::string(std::strerror(errno))
                           : std::string(" is in use by another tarn batch"))
              << "\n";
    return 2;
  }
  if (!writeManifest(batch, error)) {
    std::cerr << "tarn batch: " << error << "\n";
    return 2;
  }
  std::vector<int> todo = runsToDo(batch, options.force);
  const int skipped = static_cast<int>(batch.runs.size() - todo.size());
  // On a cluster the cores of this machine say nothing: no limit unless asked.
  if (slurm) return submitToSlurm(batch, todo, jobsGiven ? options.jobs : 0, wait, extra, skipped);
  const bool interrupted = runLocally(batch, todo, options);
  const int status = summarise(batch, skipped);
  return interrupted ? 130 : status;
}
