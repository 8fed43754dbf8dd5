// `tarn run --serve`: the run's state, the site and its server, together.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "LiveBoard.h"

#include "OutputTee.h"
#include "RunState.h"
#include "Site.h"
#include "WebServer.h"

class Graph;
class TarnBase;

namespace live {

class LiveSession {
 public:
  // After the graph is built and connected: its diagram does not change.
  explicit LiveSession(const Graph& graph);
  ~LiveSession();  // stops serving

  // ADDRESS is "[HOST:]PORT"; false with `error` when it does not parse or cannot listen.
  bool start(const std::string& address, std::string& error);
  std::string url() const;

  // Graph thread only, around each source's Start and after the last one.
  void sourceStarting(TarnBase* node) { run.sourceStarting(node); }
  void sourceEnded() { run.sourceEnded(); }
  // Takes the final snapshots (no plug-in runs now).
  void runEnded();
  // After the nodes are gone (their files written): shows the final snapshots
  // again, as copies of the runner's own, which outlive the plug-ins' modules,
  // and marks the run done.
  void showFinal();

 private:
  RunState run;
  OutputTee output;
  Site site;
  WebServer server;
  std::string host;
  std::vector<LiveBoard::Snapshot> final;
};

}  // namespace live
