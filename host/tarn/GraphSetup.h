// Reading, checking and building a graph file, shared by `run` and `batch`.
#pragma once

#include <string>
#include <vector>

#include "GraphFile.h"

class Graph;
class ModuleLoader;
struct RunOptions;

struct GraphPlan {
  struct Override {
    std::string node, port, text, spec;
  };
  std::string file;
  std::vector<GraphStatement> statements;
  std::vector<Override> overrides;
};

// Reads and parses the graph file, checks the settings and loads every module;
// all mistakes go to stderr as FILE:LINE: or `tarn: --set`; false on any.
bool prepareGraph(const RunOptions& options, ModuleLoader& loader, GraphPlan& plan);

// Makes the nodes, gives the settings (file, then command line) and connects;
// stops at the first mistake and returns false with its message line. A graph
// that starts no node is a mistake too: it would run nothing.
bool buildGraph(Graph& graph, const GraphPlan& plan, std::string& message);
bool buildNodes(Graph& graph, const GraphPlan& plan, std::string& message);
