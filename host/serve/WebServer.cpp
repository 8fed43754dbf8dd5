#include "WebServer.h"

#include <civetweb.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "Site.h"

namespace live {

namespace {

int answerRequest(mg_connection* connection, void* data) {
  const Site* site = static_cast<const Site*>(data);
  const mg_request_info* request = mg_get_request_info(connection);
  const std::string method = request->request_method ? request->request_method : "";
  // The decoded path as sent: no dot segments removed, so nothing is mapped to
  // a path the site did not name. The site serves exact paths only.
  const std::string path = request->local_uri_raw ? request->local_uri_raw : "";
  const Answer a = site->answer(method, path);
  std::string head = "HTTP/1.1 " + std::to_string(a.status) + " " +
                     mg_get_response_code_text(connection, a.status) + "\r\n";
  head += "Content-Type: " + a.type + "\r\n";
  head += "Content-Length: " + std::to_string(a.body.size()) + "\r\n";
  head += "Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\nConnection: close\r\n";
  if (a.status == 405) head += "Allow: GET, HEAD\r\n";
  head += "\r\n";
  mg_write(connection, head.data(), head.size());
  if (method != "HEAD" && !a.body.empty()) mg_write(connection, a.body.data(), a.body.size());
  return a.status;
}

// civetweb's own messages (a client that went away, a request too large) are
// the client's affair, not the run's: they are dropped.
int quiet(const mg_connection*, const char*) { return 1; }

// One connection to host:port, closed at once; false when none was made.
bool knock(const std::string& host, int port) {
  std::string name = host;
  if (name.size() >= 2 && name.front() == '[') name = name.substr(1, name.size() - 2);
  if (name == "0.0.0.0") name = "127.0.0.1";
  if (name == "::") name = "::1";
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(name.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return false;
  bool made = false;
  for (addrinfo* a = found; a && !made; a = a->ai_next) {
    const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) continue;
    made = ::connect(fd, a->ai_addr, a->ai_addrlen) == 0;
    ::close(fd);
  }
  freeaddrinfo(found);
  return made;
}

}  // namespace

bool parseListenAddress(const std::string& text, std::string& host, int& port) {
  std::string portText = text;
  host = "127.0.0.1";
  const size_t colon = text.rfind(':');
  if (colon != std::string::npos) {
    host = text.substr(0, colon);
    portText = text.substr(colon + 1);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
      if (host.find(']') != host.size() - 1) return false;
    } else if (host.empty() || host.find_first_of(":[]/ ") != std::string::npos) {
      return false;
    }
  }
  if (portText.empty() || portText.size() > 5 ||
      portText.find_first_not_of("0123456789") != std::string::npos)
    return false;
  port = std::atoi(portText.c_str());
  return port <= 65535;
}

WebServer::~WebServer() { stop(); }

bool WebServer::start(const std::string& host, int port, const Site& site, std::string& error,
                      const ServerLimits& limits) {
  if (context) {
    error = "already serving";
    return false;
  }
  static std::once_flag library;
  std::call_once(library, [] { mg_init_library(0); });
  const std::string listen = host + ":" + std::to_string(port);
  const std::string threads = std::to_string(limits.threads);
  const std::string queued = std::to_string(limits.queued);
  const std::string timeout = std::to_string(limits.requestTimeoutMs);
  const std::string maxRequest = std::to_string(limits.maxRequestBytes);
  // No document_root: civetweb never touches the file system.
  const char* options[] = {"listening_ports", listen.c_str(),
                           "num_threads", threads.c_str(),
                           "connection_queue", queued.c_str(),
                           "request_timeout_ms", timeout.c_str(),
                           "max_request_size", maxRequest.c_str(),
                           "enable_keep_alive", "no",
                           nullptr};
  mg_callbacks callbacks;
  std::memset(&callbacks, 0, sizeof callbacks);
  callbacks.log_message = quiet;
  char text[256] = "";
  unsigned code = 0;
  mg_error_data failure{&code, text, sizeof text};
  mg_init_data init{&callbacks, nullptr, options};
  context = mg_start2(&init, &failure);
  boundHost = host;
  if (!context) {
    error = "cannot serve on " + listen + (text[0] ? std::string(": ") + text : std::string());
    return false;
  }
  mg_set_request_handler(context, "/", answerRequest, const_cast<Site*>(&site));
  mg_server_port ports[4];
  const int n = mg_get_server_ports(context, 4, ports);
  boundPort = n > 0 ? ports[0].port : port;
  return true;
}

void WebServer::stop() {
  if (!context) return;
  // civetweb's accepting thread looks at its stop flag only between waits of
  // up to two seconds; a connection wakes it, so tarn ends with its run.
  std::atomic<bool> stopped{false};
  std::thread stopper([&] {
    mg_stop(context);
    stopped = true;
  });
  for (int i = 0; i < 200 && !stopped; ++i) {
    knock(boundHost, boundPort);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  stopper.join();
  context = nullptr;
}

}  // namespace live
