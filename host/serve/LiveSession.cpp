#include "LiveSession.h"

#include "GraphJson.h"
#include "LiveBoard.h"

namespace live {

LiveSession::LiveSession(const Graph& graph)
    : site(graphJson(graph), run, LiveBoard::instance(), [this] { return output.recent(); }) {}

LiveSession::~LiveSession() { server.stop(); }

bool LiveSession::start(const std::string& address, std::string& error) {
  int port = 0;
  if (!parseListenAddress(address, host, port)) {
    error = "'" + address + "' is not [HOST:]PORT";
    return false;
  }
  return server.start(host, port, site, error);
}

std::string LiveSession::url() const {
  return "http://" + host + ":" + std::to_string(server.port()) + "/";
}

void LiveSession::runEnded() {
  LiveBoard::instance().publishAll();
  final.clear();
  for (const LiveBoard::Snapshot& h : LiveBoard::instance().histograms())
    final.push_back(std::make_shared<const LiveHistogram>(*h));
}

void LiveSession::showFinal() {
  for (const LiveBoard::Snapshot& h : final) LiveBoard::instance().publish(h);
  run.runEnded();
}

}  // namespace live
