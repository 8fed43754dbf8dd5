// The runner's sub-commands; each returns the process exit status.
#pragma once

#include <string>
#include <vector>

struct RunOptions {
  std::string graphFile;
  std::vector<std::string> overrides;  // NODE.PORT=TEXT, delivered after the file's settings
  int progress = -1;                   // -1: when stderr is a terminal; 0 never; 1 always
  std::string serve;                   // [HOST:]PORT of the live page; empty: none
  bool linger = false;                 // keep serving after the run, until Ctrl-C
};

int runGraph(const RunOptions& options);
int inspectType(const std::string& type);
int listTypes();
