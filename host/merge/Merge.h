// `tarn merge DIR`: the result files of a batch's finished runs, combined into
// DIR/merged/ as one long run over all of them would have written them.
#pragma once

#include <string>
#include <vector>

namespace merge {

// Merges the finished runs of the batch in `dir` into dir/merged/, naming on
// stderr what it leaves out: 0 all merged, 1 something skipped or not written,
// 2 `dir` cannot be read.
int mergeBatch(std::string dir);

// A run of the batch whose status says it finished.
struct Run {
  std::string name;  // its {name}: the directory DIR/NAME/ holds its files
  std::string file;  // the run file as given to the batch
  long long index = 0;  // its place in the batch
  // What its name says (run00410sub0003: 410 and 3); -1 where it says nothing.
  long long number = -1, subrun = -1;
};

// The run and sub-run numbers a run's name gives: the digits that end it, and
// those after a final "sub" (the logger's runNNNNNsubMMMM); -1 for what it lacks.
void numbersOfName(const std::string& name, long long& number, long long& subrun);

// One run's copy of a result file.
struct Source {
  const Run* run;
  std::string path;
};

// The finished runs under `dir`, in batch order; every run directory left out
// is named on stderr with the reason. False (and `error`) when `dir` cannot be read.
bool finishedRuns(const std::string& dir, std::vector<Run>& runs, std::string& error);

// Each merge writes `target` (and, for a table, its plot) from `sources`, in run
// order, through a temporary file renamed when complete, and adds each file it
// wrote to `made`. Files that are not what they should be are named on stderr
// and left out; true only when every source was merged and the result written.
bool mergeTables(const std::string& target, const std::vector<Source>& sources, std::vector<std::string>& made);
bool mergeHdf5(const std::string& target, const std::vector<Source>& sources, std::vector<std::string>& made);

// True once an HDF5 file failed to close (a full disk): the library would try
// again at exit and crash, so the process must end without its exit handlers.
bool hdf5CloseFailed();

}  // namespace merge
