// `tarn run`: check the graph file, then build, configure, connect, init,
// start and destroy, in that order.
#include <unistd.h>

#include <cstdint>
#include <iostream>
#include <memory>

#include "Commands.h"
#include "Graph.h"
#include "GraphSetup.h"
#include "LiveSession.h"
#include "ModuleLoader.h"
#include "OutputTee.h"
#include "Monitor.h"
#include "QuietStdout.h"
#include "RunStatus.h"
#include "TarnBase.h"

namespace {

enum { kOk = 0, kFailed = 1, kGraphError = 2 };

// The run is over; its final spectra stay on the page until Ctrl-C.
void lingerUntilInterrupted(const Monitor& monitor, const std::string& url) {
  std::cerr << "tarn: run done; still serving " << url << " until Ctrl-C\n";
  while (!monitor.interrupted()) ::usleep(100 * 1000);
}

// What damaged run files did to the run, one "NODE: REASON" a line, for the
// batch that gave `fd` to record beside how the run ended.
void writeDamage(int fd) {
  if (fd < 0) return;
  std::string text;
  for (const std::string& d : runDamage()) text += d + "\n";
  for (size_t at = 0; at < text.size();) {
    const ssize_t n = ::write(fd, text.data() + at, text.size() - at);
    if (n <= 0) break;  // the run's own result stands; the batch then misses the note
    at += static_cast<size_t>(n);
  }
}

}  // namespace

int runGraph(const RunOptions& options) {
  ModuleLoader loader;
  GraphPlan plan;
  if (!prepareGraph(options, loader, plan)) return kGraphError;

  Monitor::blockSignals();
  const bool progress = options.progress > 0 || (options.progress < 0 && ::isatty(2));
  Graph graph(loader);
  std::unique_ptr<Monitor> monitor(new Monitor(graph, progress, options.countsFd));
  std::string message;
  if (!buildGraph(graph, plan, message)) {
    monitor.reset();
    std::cerr << message << "\n";
    return kGraphError;
  }

  std::unique_ptr<live::LiveSession> live;
  if (!options.serve.empty()) {
    live.reset(new live::LiveSession(graph));
    if (!live->start(options.serve, message)) {
      monitor.reset();
      std::cerr << "tarn: --serve " << message << "\n";
      return kGraphError;
    }
    std::cerr << "tarn: serving " << live->url() << "\n";
  }

  // A terminal shows a line printed at every event once, and its count at the end.
  std::unique_ptr<live::OutputTee> terminal;
  if (!live && ::isatty(1)) terminal.reset(new live::OutputTee);

  graph.initAll();
  uint64_t events = 0;
  std::string startError;
  for (const GraphStatement& st : plan.statements) {
    if (st.kind != GraphStatement::Start) continue;
    if (monitor->interrupted()) break;
    TarnBase* source = graph.node(st.node);
    const uint64_t before = source ? source->SentCount() : 0;
    std::string error;
    if (live) live->sourceStarting(source);
    const bool started = graph.start(st.node, error);
    if (live) live->sourceEnded();
    if (source) events += source->SentCount() - before;
    if (!started) {
      startError = plan.file + ":" + std::to_string(st.line) + ": " + error;
      break;
    }
  }
  if (live) live->runEnded();  // the final snapshots, while the nodes are there
  // The nodes write their last results as they go; a signal meanwhile still
  // counts, and a second one still quits.
  graph.destroyAll();
  const int signal = monitor->stoppedBy();
  std::cout.flush();
  terminal.reset();
  if (live) {
    // Lingering ends with Ctrl-C, which is not the run's own stop.
    live->showFinal();
    if (options.linger && !signal) lingerUntilInterrupted(*monitor, live->url());
    live.reset();
  }
  monitor.reset();
  Monitor::writeCount(options.countsFd, events);
  writeDamage(options.damageFd);
  if (!startError.empty()) {
    std::cerr << startError << "\n";
    return kGraphError;
  }
  // What the nodes did not say on stderr themselves.
  for (const std::string& reason : runFailureReasons()) std::cerr << "tarn: " << reason << "\n";
  // A result that was not written outweighs the stop: the run is not complete.
  if (tarn_run_failures() > 0) return kFailed;
  return signal ? 128 + signal : kOk;
}

int checkGraph(const RunOptions& options) {
  ModuleLoader loader;
  GraphPlan plan;
  if (!prepareGraph(options, loader, plan)) return kGraphError;
  std::string message;
  {
    QuietStdout quiet;  // plug-ins announce themselves; nothing of this is the run's output
    Graph graph(loader);
    if (buildGraph(graph, plan, message)) return kOk;
  }
  std::cerr << message << "\n";
  return kGraphError;
}
