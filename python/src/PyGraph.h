// tarn.Graph: a graph of plug-in nodes built from Python and run in the process.
#pragma once

#include <pybind11/pybind11.h>

#include <memory>
#include <string>
#include <vector>

#include "Graph.h"
#include "ModuleLoader.h"
#include "StrandCollector.h"

namespace tarnpy {

class PyGraph {
 public:
  PyGraph();
  void load(const std::string& file);
  void node(const std::string& name, const std::string& type, const pybind11::dict& settings);
  void set(const std::string& ref, const pybind11::handle& value);
  void connect(const std::string& from, const std::string& to);
  void start(const std::string& name);
  // Keeps the strand events of "node.output" for the result, as columns.
  void collect(const std::string& output);
  // Runs the started nodes in order; see GraphRun.cpp.
  pybind11::object run();
  std::vector<std::string> names() const { return graph.names(); }

 private:
  ModuleLoader loader;
  // Before the graph: the nodes that send to them go first.
  std::vector<std::pair<std::string, std::unique_ptr<StrandCollector>>> collectors;
  Graph graph;
  std::vector<std::string> starts;
  bool ran = false;
};

// The plug-in directories: TARN_PLUGIN_PATH, then the build's or the installed tree's.
std::vector<std::string> pluginSearchPath();
// How a Python value is given to a setting: text as it is, bools as true/false, lists space-separated.
std::string settingText(const pybind11::handle& value);

void defineGraph(pybind11::module_& m);

}  // namespace tarnpy
