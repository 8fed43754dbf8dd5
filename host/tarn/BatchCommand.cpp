// `tarn batch`: the command line, the checks made once before any run, and
// the choice of engine.
#include <fcntl.h>
#include <getopt.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>

#include "Batch.h"
#include "Commands.h"
#include "StopSignals.h"

namespace {

void blockStops() {
  const sigset_t set = stopSignals();
  ::sigprocmask(SIG_BLOCK, &set, nullptr);
}

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
  std::error_code error;
  const std::filesystem::path resolved = std::filesystem::canonical(path, error);
  return error ? path : resolved.string();
}

std::string currentDirectory() {
  std::error_code error;
  const std::filesystem::path cwd = std::filesystem::current_path(error);
  return error ? std::string(".") : cwd.string();
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
  RunRecord s;
  const bool recorded = readStatus(batch, batch.runs[task], s);
  if (recorded && s.state == RunState::Done) return 0;
  const std::string state = recorded ? stateName(s.state) : "not recorded";
  const std::string reason = recorded ? s.reason : "";
  std::cerr << "tarn batch: run " << batch.runs[task].run << " " << state
            << (reason.empty() ? "" : ": " + reason) << "\n";
  return 1;
}

// What the command line asks for.
struct BatchArgs {
  Batch batch;
  LocalOptions options;
  std::vector<std::string> positional, extra;  // extra: after a lone --, for sbatch
  bool slurm = false, wait = false, outGiven = false, jobsGiven = false, help = false;
  int task = -1;
  std::string statusDir;
};

// Reads `argv` (after "batch") into `args`; "" or what is wrong.
std::string parseArgs(int argc, char** argv, BatchArgs& args) {
  enum { kByRun = 256, kForce, kProgress, kNoProgress, kSlurm, kWait, kStatus, kTask };
  static const option kOptions[] = {
      {"help", no_argument, nullptr, 'h'},         {"set", required_argument, nullptr, 's'},
      {"jobs", required_argument, nullptr, 'j'},   {"out", required_argument, nullptr, 'o'},
      {"by-run", no_argument, nullptr, kByRun},    {"force", no_argument, nullptr, kForce},
      {"progress", no_argument, nullptr, kProgress}, {"no-progress", no_argument, nullptr, kNoProgress},
      {"slurm", no_argument, nullptr, kSlurm},     {"wait", no_argument, nullptr, kWait},
      {"status", required_argument, nullptr, kStatus}, {"task", required_argument, nullptr, kTask},
      {nullptr, 0, nullptr, 0}};
  std::vector<char*> words = {const_cast<char*>("tarn batch")};
  words.insert(words.end(), argv, argv + argc);
  words.push_back(nullptr);
  const int n = static_cast<int>(words.size()) - 1;
  long cores = ::sysconf(_SC_NPROCESSORS_ONLN);
  args.options.jobs = cores > 0 ? static_cast<int>(cores) : 1;
  args.batch.out = "batch-out";
  optind = 0;  // from the start, whatever parsed before
  // '-': the graph and runs come back in order among the options; ':': no messages of getopt's own.
  for (int c; (c = ::getopt_long(n, words.data(), "-:hs:j:o:", kOptions, nullptr)) != -1;) {
    const std::string given = words[optind - 1];
    switch (c) {
      case 1: args.positional.push_back(optarg); break;
      case 'h': args.help = true; return "";
      case 's': args.batch.settings.push_back(optarg); break;
      case 'j':
        if (!parseCount(optarg, args.options.jobs) || args.options.jobs < 1)
          return "-j needs a number of runs at once, at least 1 (-jN, --jobs=N)";
        args.jobsGiven = true;
        break;
      case 'o': args.batch.out = optarg; args.outGiven = true; break;
      case kByRun: args.batch.byRun = true; break;
      case kForce: args.options.force = true; break;
      case kProgress: args.options.progress = 1; break;
      case kNoProgress: args.options.progress = 0; break;
      case kSlurm: args.slurm = true; break;
      case kWait: args.wait = true; break;
      case kStatus: args.statusDir = optarg; break;
      case kTask:
        if (!parseCount(optarg, args.task)) return "--task needs a run index";
        break;
      case ':': return given + " needs a value";
      default: return "unknown option " + given;
    }
  }
  args.extra.assign(words.begin() + optind, words.begin() + n);
  return "";
}

// The batch's records are JSON, which holds UTF-8 text alone: an argument
// that is not is refused before anything is written. "" or what is wrong.
std::string notUtf8(const Batch& batch, const std::vector<std::string>& runs) {
  std::vector<std::pair<std::string, std::string>> given = {
      {"the graph file's path", batch.graph}, {"the output directory", batch.out},
      {"the current directory", batch.cwd}};
  for (const std::string& s : batch.settings) given.push_back({"the setting", s});
  for (const std::string& r : runs) given.push_back({"the run file", r});
  for (const auto& g : given)
    if (!isUtf8(g.second))
      return g.first + " " + recordText(g.second) + " is not UTF-8 text, which the batch's records cannot hold";
  return "";
}

// The runs the command line names, each with its name, input and settings.
int gatherRuns(BatchArgs& args) {
  Batch& batch = args.batch;
  std::string error;
  std::vector<std::string> runs;
  if (!expandRuns({args.positional.begin() + 1, args.positional.end()}, runs, error))
    return usage(error);
  if (runs.empty()) return usage("the run lists name no runs");
  error = notUtf8(batch, runs);
  if (!error.empty()) {
    std::cerr << "tarn batch: " << error << "\n";
    return 2;
  }
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
  return 0;
}

// Makes DIR, takes it for this batch alone and writes its manifest.
int claimDirectory(const Batch& batch) {
  if (::mkdir(batch.out.c_str(), 0755) != 0 && errno != EEXIST) {
    std::cerr << "tarn batch: cannot make " << batch.out << ": " << std::strerror(errno) << "\n";
    return 2;
  }
  // Two batches on one directory would run the same runs over each other; the
  // lock is held until the process ends.
  const std::string lockPath = batch.out + "/.lock";
  int lock = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (lock < 0 || ::flock(lock, LOCK_EX | LOCK_NB) != 0) {
    std::cerr << "tarn batch: " << batch.out
              << (lock < 0 ? " cannot be locked: " + std::string(std::strerror(errno))
                           : std::string(" is in use by another tarn batch"))
              << "\n";
    return 2;
  }
  std::string error;
  if (!writeManifest(batch, error)) {
    std::cerr << "tarn batch: " << error << "\n";
    return 2;
  }
  return 0;
}

// The checks of a new batch that need no run: "" or what is wrong.
std::string mistakeOfNewBatch(const BatchArgs& args) {
  if (args.wait && !args.slurm) return "--wait goes with --slurm";
  if (!args.extra.empty() && !args.slurm) return "options after -- are for sbatch and need --slurm";
  if (args.positional.size() < 2) return args.positional.empty() ? "no graph file" : "no run files";
  return "";
}

}  // namespace

int batchCommand(int argc, char** argv) {
  BatchArgs args;
  const std::string mistake = parseArgs(argc, argv, args);
  if (!mistake.empty()) return usage(mistake);
  if (args.help) {
    std::cout << kBatchUsage << kBatchHelp;
    return 0;
  }
  // Held from here, so a Ctrl-C while the graph is checked stops the batch
  // as one during its runs does, with each run's state recorded.
  if (!args.slurm) blockStops();
  if (!args.statusDir.empty()) {
    if (!args.positional.empty()) return usage("--status takes only the batch's directory");
    return printStatusTable(args.statusDir);
  }
  if (args.task >= 0) {
    if (!args.outGiven) return usage("--task needs --out DIR");
    return runTask(args.task, args.batch.out);
  }
  const std::string wrong = mistakeOfNewBatch(args);
  if (!wrong.empty()) return usage(wrong);
  if (args.slurm && !slurmAvailable()) {
    std::cerr << "tarn batch: sbatch not found on PATH; --slurm needs Slurm's commands\n";
    return 2;
  }
  Batch& batch = args.batch;
  batch.graph = absolute(args.positional[0]);
  batch.cwd = currentDirectory();
  if (int status = gatherRuns(args)) return status;
  const std::string unscriptable = args.slurm ? jobScriptRefusal(batch) : "";
  if (!unscriptable.empty()) {
    std::cerr << "tarn batch: " << unscriptable << "\n";
    return 2;
  }

  // A mistake in the graph shows once, here, as `tarn run` would show it.
  RunOptions check;
  check.graphFile = args.positional[0];
  check.overrides = batch.runs[0].settings;
  if (checkGraph(check) != 0) return 2;
  if (int status = claimDirectory(batch)) return status;

  std::vector<int> todo = runsToDo(batch, args.options.force);
  const int skipped = static_cast<int>(batch.runs.size() - todo.size());
  // On a cluster the cores of this machine say nothing: no limit unless asked.
  if (args.slurm)
    return submitToSlurm(batch, todo, args.jobsGiven ? args.options.jobs : 0, args.wait, args.extra,
                         skipped);
  const bool interrupted = runLocally(batch, todo, args.options);
  const int status = summarise(batch, skipped);
  return interrupted ? 130 : status;
}
