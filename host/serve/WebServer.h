// The HTTP side of the live page: civetweb on one address, answering from a
// Site. Its threads only read snapshots; the run never waits for them.
#pragma once

#include <string>

struct mg_context;

namespace live {

class Site;

// Limits that keep a slow, stalled or hostile client from holding the server.
struct ServerLimits {
  int threads = 16;             // requests served at once
  int queued = 16;              // accepted connections waiting for a thread
  int requestTimeoutMs = 2000;  // a request not read or written by then is dropped
  int maxRequestBytes = 8192;   // request line and headers together
};

// "[HOST:]PORT" (HOST a name or IPv4 address, or [IPv6]); false when it does not parse.
bool parseListenAddress(const std::string& text, std::string& host, int& port);

class WebServer {
 public:
  WebServer() = default;
  ~WebServer();  // stops, waiting for the requests in progress
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  // Listens on host:port (port 0: a free one); false with `error` when it cannot.
  bool start(const std::string& host, int port, const Site& site, std::string& error,
             const ServerLimits& limits = ServerLimits());
  void stop();
  int port() const { return boundPort; }

 private:
  mg_context* context = nullptr;
  std::string boundHost;
  int boundPort = 0;
};

}  // namespace live
