#include "GraphSetup.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>

#include "Commands.h"
#include "Graph.h"
#include "ModuleLoader.h"
#include "SettingPath.h"

namespace {

bool readFile(const std::string& path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream all;
  all << in.rdbuf();
  text = all.str();
  return !in.bad();
}

}  // namespace

bool prepareGraph(const RunOptions& options, ModuleLoader& loader, GraphPlan& plan) {
  const std::string& file = options.graphFile;
  plan.file = file;
  std::string text;
  if (!readFile(file, text)) {
    std::cerr << "tarn: cannot read " << file << ": " << std::strerror(errno) << "\n";
    return false;
  }
  std::vector<GraphProblem> problems;
  plan.statements = parseGraph(text, problems);

  // Command-line settings, checked with the file so all mistakes show at once.
  std::set<std::string> declared;
  for (const GraphStatement& st : plan.statements)
    if (st.kind == GraphStatement::Node) declared.insert(st.node);
  bool badOverride = false;
  for (const std::string& o : options.overrides) {
    GraphPlan::Override ov;
    ov.spec = o;
    size_t eq = o.find('=');
    if (eq == std::string::npos || !splitPortRef(o.substr(0, eq), ov.node, ov.port)) {
      std::cerr << "tarn: --set " << o << ": expected NODE.PORT=TEXT\n";
      badOverride = true;
      continue;
    }
    ov.text = o.substr(eq + 1);
    if (!declared.count(ov.node)) {
      std::cerr << "tarn: --set " << o << ": no node '" << ov.node << "' in " << file << "\n";
      badOverride = true;
      continue;
    }
    plan.overrides.push_back(ov);
  }

  for (const GraphStatement& st : plan.statements) {
    if (st.kind != GraphStatement::Node) continue;
    std::string error;
    if (!loader.load(st.type, error)) problems.push_back(GraphProblem{st.line, error});
  }
  std::stable_sort(problems.begin(), problems.end(),
                   [](const GraphProblem& a, const GraphProblem& b) { return a.line < b.line; });
  for (const GraphProblem& p : problems) std::cerr << file << ":" << p.line << ": " << p.message << "\n";
  return problems.empty() && !badOverride;
}

bool buildGraph(Graph& graph, const GraphPlan& plan, std::string& message) {
  if (!buildNodes(graph, plan, message)) return false;
  for (const GraphStatement& st : plan.statements)
    if (st.kind == GraphStatement::Start) return true;
  message = "tarn: " + plan.file + " starts no node ('start NAME' starts the source NAME); nothing would run";
  return false;
}

bool buildNodes(Graph& graph, const GraphPlan& plan, std::string& message) {
  std::string error;
  auto at = [&](int line) {
    message = plan.file + ":" + std::to_string(line) + ": " + error;
    return false;
  };
  for (const GraphStatement& st : plan.statements)
    if (st.kind == GraphStatement::Node && !graph.addNode(st.node, st.type, error)) return at(st.line);
  for (const GraphStatement& st : plan.statements)
    if (st.kind == GraphStatement::Set &&
        !graph.set(st.node, st.port, settingText(graph, plan.file, st), error))
      return at(st.line);
  for (const GraphPlan::Override& ov : plan.overrides) {
    if (!graph.set(ov.node, ov.port, ov.text, error)) {
      message = "tarn: --set " + ov.spec + ": " + error;
      return false;
    }
  }
  for (const GraphStatement& st : plan.statements)
    if (st.kind == GraphStatement::Connect &&
        !graph.connect(st.node, st.port, st.toNode, st.toPort, error))
      return at(st.line);
  return true;
}
