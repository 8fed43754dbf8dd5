// `tarn batch`: one graph over many runs, each a `tarn run` of its own, here
// or as the tasks of a Slurm array job; the shared records of both.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "RunRecord.h"

struct BatchRun {
  int index = 0;
  std::string run;    // the run file as given
  std::string name;   // {name}: file name without directory, compression and .mid
  std::string input;  // the file found for it ("" when none is)
  std::vector<std::string> settings;  // -s settings after the word replacement
  // With --by-run: the run's files in order (as given; the first is `run`),
  // and the file found for each ("" when none is).
  std::vector<std::string> files, inputs;
};

struct Batch {
  std::string graph;                  // absolute path of the graph file
  std::vector<std::string> settings;  // -s settings as given
  std::string out;                    // DIR as given
  std::string cwd;                    // where the runs' relative paths start
  std::vector<BatchRun> runs;
  bool byRun = false;  // the sub-run files of a run are one run
};


// --- the run list (BatchRuns.cpp) ---

// `path` without its directory, compression suffix (.gz .lz4 .bz2 .zst) and .mid.
std::string runName(const std::string& path);
// Run files from the command line, each @LIST replaced by its lines; false
// with `error` when a list cannot be read.
bool expandRuns(const std::vector<std::string>& given, std::vector<std::string>& runs,
                std::string& error);
// With --by-run: run files named NAMEsubMMMM (the logger's sub-runs of run
// NAME) gathered into one run NAME, in the order of MMMM; other files stay
// runs of their own. False with `error` when two files are the same sub-run.
bool groupSubruns(const std::vector<std::string>& files, std::vector<BatchRun>& runs, std::string& error);
// Fills each run's name, input and settings; false with `error` naming both
// runs when two share a name (or a name is no directory name of its own).
bool prepareRuns(Batch& batch, std::string& error);
// With --by-run: writes DIR/NAME/subruns.txt, the list of the run's files
// that {list} names for RunFile's listfile.
bool writeRunList(const Batch& batch, const BatchRun& run, std::string& error);
// The first of the run's files that was not found.
std::string missingFile(const BatchRun& run);
// DIR/NAME, the run's own directory.
std::string runDirectory(const Batch& batch, const BatchRun& run);
// What a finished run's result depends on: graph content, settings and input.
nlohmann::json runInputs(const Batch& batch, const BatchRun& run);

// --- the records on disk (BatchRecords.cpp) ---

// Writes `text` through AtomicFile (a hidden temporary name beside `path`,
// renamed there); `durable`: synced to the disk before the rename.
bool writeFileAtomically(const std::string& path, const std::string& text, std::string& error,
                         bool durable = true);
// The records' JSON text: bytes that are not UTF-8 (a message's, a file
// name's) replaced by U+FFFD, so that no record fails to be written.
std::string recordText(const nlohmann::json& j, int indent = -1);
// True when `text` is UTF-8, as every argument a record holds must be.
bool isUtf8(const std::string& text);
bool writeManifest(const Batch& batch, std::string& error);
bool readManifest(const std::string& dir, Batch& batch, std::string& error);
// DIR/NAME/status.json; false when it is missing or no record.
bool readStatus(const Batch& batch, const BatchRun& run, RunRecord& record);
bool writeStatus(const Batch& batch, const BatchRun& run, const RunRecord& record);

// --- running (BatchLocal.cpp) ---

struct LocalOptions {
  int jobs = 1;
  bool force = false;
  int progress = -1;  // -1: when stderr is a terminal
};
// Runs batch.runs[k] for each k of `todo`, at most `jobs` at once; returns
// true when interrupted (Ctrl-C or SIGTERM).
bool runLocally(const Batch& batch, const std::vector<int>& todo, const LocalOptions& options);
// This very tarn, which runs each run and each Slurm task.
std::string tarnExecutable();
// The indexes of runs not yet done with unchanged inputs (all with force).
std::vector<int> runsToDo(const Batch& batch, bool force);

// --- reporting (BatchReport.cpp) ---

// One line per run that is not done, then the totals, on stderr; 0 when
// every run is done, else 1.
int summarise(const Batch& batch, int skipped);
// `tarn batch --status DIR`: a table of every run.
int printStatusTable(const std::string& dir);

// --- Slurm (BatchSlurm.cpp) ---

// `s` as one word of the shell, whatever it holds.
std::string shellQuoted(const std::string& s);
// Slurm's --array value for the runs `todo`, at most `jobs` at once (0: no limit).
std::string arraySpec(const std::vector<int>& todo, int jobs);
// Why the batch's paths cannot go into a job script safely ("" when they can):
// a line break or a backslash in the output directory.
std::string jobScriptRefusal(const Batch& batch);
// The job script of the array: each task `tarn batch --task K` run by `tarn`;
// "" when jobScriptRefusal says why it cannot be written.
std::string slurmScript(const Batch& batch, const std::vector<int>& todo, int jobs,
                        const std::string& tarn);

// Writes DIR/batch.sbatch for `todo`, at most `jobs` at once (0: no limit),
// and submits it with sbatch and `extra`.
// True when sbatch is on PATH.
bool slurmAvailable();
int submitToSlurm(const Batch& batch, const std::vector<int>& todo, int jobs, bool wait,
                  const std::vector<std::string>& extra, int skipped);
