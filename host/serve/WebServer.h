// The HTTP side of the live page: one thread that answers from a Site on one
// address, polling every connection it holds. It only reads snapshots; the run
// never waits for it.
#pragma once

#include <memory>
#include <string>
#include <thread>

#include "Listener.h"

namespace live {

class Site;

// Limits that keep slow, stalled or hostile clients from holding the server.
struct ServerLimits {
  int connections = 2048;       // held at once; a newcomer past it closes the oldest
  int requestTimeoutMs = 2000;  // to send the whole request, a body included, and again to take the answer
  int maxRequestBytes = 8192;   // request line and headers together
};

class WebServer {
 public:
  WebServer();
  ~WebServer();  // stops
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  // Listens on host:port (port 0: a free one); false with `error` when it cannot.
  bool start(const std::string& host, int port, const Site& site, std::string& error,
             const ServerLimits& limits = ServerLimits());
  // Closes every connection, answered or not.
  void stop();
  int port() const { return boundPort; }

 private:
  class Loop;
  std::unique_ptr<Loop> loop;
  std::thread thread;
  int boundPort = 0;
};

}  // namespace live
