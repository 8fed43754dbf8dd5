// `tarn run`: check the graph file, then build, configure, connect, init,
// start and destroy, in that order.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <set>
#include <sstream>

#include "Commands.h"
#include "Graph.h"
#include "GraphFile.h"
#include "LiveSession.h"
#include "ModuleLoader.h"
#include "Monitor.h"

namespace {

enum { kOk = 0, kGraphError = 2, kInterrupted = 130 };

bool readFile(const std::string& path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream all;
  all << in.rdbuf();
  text = all.str();
  return !in.bad();
}

// The run is over; its final spectra stay on the page until Ctrl-C.
void lingerUntilInterrupted(const Monitor& monitor, const std::string& url) {
  std::cerr << "tarn: run done; still serving " << url << " until Ctrl-C\n";
  while (!monitor.interrupted()) ::usleep(100 * 1000);
}

}  // namespace

int runGraph(const RunOptions& options) {
  const std::string& file = options.graphFile;
  std::string text;
  if (!readFile(file, text)) {
    std::cerr << "tarn: cannot read " << file << ": " << std::strerror(errno) << "\n";
    return kGraphError;
  }
  auto report = [&](int line, const std::string& message) {
    std::cerr << file << ":" << line << ": " << message << "\n";
  };

  std::vector<GraphProblem> problems;
  std::vector<GraphStatement> statements = parseGraph(text, problems);

  // Command-line settings, checked with the file so all mistakes show at once.
  struct Override {
    std::string node, port, text, spec;
  };
  std::vector<Override> overrides;
  std::set<std::string> declared;
  for (const GraphStatement& st : statements)
    if (st.kind == GraphStatement::Node) declared.insert(st.node);
  bool badOverride = false;
  for (const std::string& o : options.overrides) {
    Override ov;
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
    overrides.push_back(ov);
  }

  ModuleLoader loader;
  for (const GraphStatement& st : statements) {
    if (st.kind != GraphStatement::Node) continue;
    std::string error;
    if (!loader.load(st.type, error)) problems.push_back(GraphProblem{st.line, error});
  }
  std::stable_sort(problems.begin(), problems.end(),
                   [](const GraphProblem& a, const GraphProblem& b) { return a.line < b.line; });
  for (const GraphProblem& p : problems) report(p.line, p.message);
  if (!problems.empty() || badOverride) return kGraphError;

  Monitor::blockSignals();
  const bool progress = options.progress > 0 || (options.progress < 0 && ::isatty(2));
  Graph graph(loader);
  std::unique_ptr<Monitor> monitor(new Monitor(graph, progress));
  auto fail = [&](int line, const std::string& message) {
    monitor.reset();
    report(line, message);
    return kGraphError;
  };

  std::string error;
  for (const GraphStatement& st : statements)
    if (st.kind == GraphStatement::Node && !graph.addNode(st.node, st.type, error))
      return fail(st.line, error);
  for (const GraphStatement& st : statements)
    if (st.kind == GraphStatement::Set && !graph.set(st.node, st.port, st.text, error))
      return fail(st.line, error);
  for (const Override& ov : overrides) {
    if (!graph.set(ov.node, ov.port, ov.text, error)) {
      monitor.reset();
      std::cerr << "tarn: --set " << ov.spec << ": " << error << "\n";
      return kGraphError;
    }
  }
  for (const GraphStatement& st : statements)
    if (st.kind == GraphStatement::Connect &&
        !graph.connect(st.node, st.port, st.toNode, st.toPort, error))
      return fail(st.line, error);

  std::unique_ptr<live::LiveSession> live;
  if (!options.serve.empty()) {
    live.reset(new live::LiveSession(graph));
    if (!live->start(options.serve, error)) {
      monitor.reset();
      std::cerr << "tarn: --serve " << error << "\n";
      return kGraphError;
    }
    std::cerr << "tarn: serving " << live->url() << "\n";
  }

  graph.initAll();
  bool anyStart = false;
  for (const GraphStatement& st : statements) anyStart |= st.kind == GraphStatement::Start;
  if (!anyStart) std::cerr << "tarn: " << file << " starts no node; nothing ran\n";
  for (const GraphStatement& st : statements) {
    if (st.kind != GraphStatement::Start) continue;
    if (monitor->interrupted()) break;
    if (live) live->sourceStarting(graph.node(st.node));
    graph.start(st.node, error);
    if (live) live->sourceEnded();
  }
  const bool interrupted = monitor->interrupted();
  std::cout.flush();
  if (live) {
    live->runEnded();
    if (options.linger && !interrupted) lingerUntilInterrupted(*monitor, live->url());
    live.reset();
  }
  monitor.reset();
  return interrupted ? kInterrupted : kOk;
}
