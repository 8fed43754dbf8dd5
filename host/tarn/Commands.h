// The runner's sub-commands; each returns the process exit status.
#pragma once

#include <string>
#include <vector>

struct RunOptions {
  std::string graphFile;
  std::vector<std::string> overrides;  // NODE.PORT=TEXT, delivered after the file's settings
  int progress = -1;                   // -1: when stderr is a terminal; 0 never; 1 always
  int countsFd = -1;                   // where a batch reads the events sent (-1: none)
  int damageFd = -1;                   // where a batch reads the damage the run met (-1: none)
  std::string serve;                   // [HOST:]PORT of the live page; empty: none
  bool linger = false;                 // keep serving after the run, until Ctrl-C
};

int runGraph(const RunOptions& options);
// Reads, loads, makes, sets and connects as runGraph does, and runs nothing:
// 0, or 2 with the mistakes on stderr.
int checkGraph(const RunOptions& options);
// `tarn batch ARGS...` (argv after "batch").
int batchCommand(int argc, char** argv);
int inspectType(const std::string& type);
// `tarn odb ARGS...` (argv after "odb").
int odbCommand(int argc, char** argv);
// `tarn dump ARGS...` (argv after "dump").
int dumpCommand(int argc, char** argv);
int listTypes();
// Replaces the process by the program `tool` beside tarn, given argv[0..argc);
// returns only when it cannot be started.
int runSiblingTool(const std::string& tool, int argc, char** argv);
