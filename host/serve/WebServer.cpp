#include "WebServer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <vector>

#include "HttpMessage.h"
#include "Site.h"

namespace live {

namespace {

using Clock = std::chrono::steady_clock;

struct Connection {
  int fd = -1;
  Clock::time_point until;     // the end of the time its request has
  Clock::time_point deadline;  // when it is closed: `until`, or later while its answer is taken
  std::string in;              // the request as far as it came
  std::string out;             // the answer while it is sent
  size_t sent = 0;
  bool answered = false;
  bool sending() const { return answered && sent < out.size(); }
};

// Reads what is pending without waiting, so that closing sends FIN and not
// RST, which could destroy an answer the client has not read yet.
void closeSocket(int fd) {
  char sink[4096];
  for (int i = 0; i < 16 && ::recv(fd, sink, sizeof sink, MSG_DONTWAIT) > 0; ++i) {
  }
  ::close(fd);
}

}  // namespace

// Every connection is held in one poll set, each with its own deadline, so a
// client that sends nothing or trickles a byte at a time costs a descriptor
// and a few bytes, never a thread other clients wait for.
class WebServer::Loop {
 public:
  Loop(int listener, int wakeRead, int wakeWrite, const Site& site, const ServerLimits& limits)
      : listener(listener), wakeRead(wakeRead), wakeWrite(wakeWrite), site(site), limits(limits) {}
  ~Loop() {
    for (Connection& c : connections)
      if (c.fd >= 0) ::close(c.fd);
    ::close(listener);
    ::close(wakeRead);
    ::close(wakeWrite);
  }

  void run();
  void stop() {
    stopping = true;
    const char byte = 0;
    [[maybe_unused]] const ssize_t n = ::write(wakeWrite, &byte, 1);
  }

 private:
  void closeExpired(Clock::time_point now);
  int pollAll(std::vector<pollfd>& fds, Clock::time_point now);
  void acceptNew();
  void read(Connection& c);
  void answer(Connection& c, const Answer& a, bool headOnly);
  void send(Connection& c);
  void drop(Connection& c) {
    closeSocket(c.fd);
    c.fd = -1;
  }
  bool dropOldest();

  const int listener, wakeRead, wakeWrite;
  const Site& site;
  const ServerLimits limits;
  std::atomic<bool> stopping{false};
  std::vector<Connection> connections;  // in the order they came
  Clock::time_point acceptPausedUntil;  // out of descriptors: accept again later
};

void WebServer::Loop::run() {
  std::vector<pollfd> fds;
  while (!stopping) {
    closeExpired(Clock::now());
    if (pollAll(fds, Clock::now()) < 0 && errno != EINTR) break;
    if (stopping) break;
    for (size_t i = 0; i < connections.size(); ++i) {
      if (!fds[i + 2].revents) continue;
      if (connections[i].sending()) send(connections[i]);
      else read(connections[i]);
    }
    if (fds[1].revents & POLLIN) acceptNew();
  }
}

void WebServer::Loop::closeExpired(Clock::time_point now) {
  for (Connection& c : connections)
    if (c.fd >= 0 && now >= c.deadline) drop(c);
  connections.erase(std::remove_if(connections.begin(), connections.end(),
                                   [](const Connection& c) { return c.fd < 0; }),
                    connections.end());
}

int WebServer::Loop::pollAll(std::vector<pollfd>& fds, Clock::time_point now) {
  fds.clear();
  fds.push_back({wakeRead, POLLIN, 0});
  fds.push_back({listener, short(now >= acceptPausedUntil ? POLLIN : 0), 0});
  Clock::time_point next = now + std::chrono::seconds(1);
  if (now < acceptPausedUntil) next = std::min(next, acceptPausedUntil);
  for (const Connection& c : connections) {
    fds.push_back({c.fd, short(c.sending() ? POLLOUT : POLLIN), 0});
    next = std::min(next, c.deadline);
  }
  const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count() + 1;
  return ::poll(fds.data(), fds.size(), int(std::max<long long>(0, wait)));
}

bool WebServer::Loop::dropOldest() {
  for (Connection& c : connections)
    if (c.fd >= 0) {
      drop(c);
      return true;
    }
  return false;
}

void WebServer::Loop::acceptNew() {
  // A bounded batch, so that a flood of connections does not starve the answers.
  for (int i = 0; i < 64; ++i) {
    const int open = int(std::count_if(connections.begin(), connections.end(),
                                       [](const Connection& c) { return c.fd >= 0; }));
    if (open >= limits.connections) dropOldest();
    const int fd = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EMFILE || errno == ENFILE) {
        // The oldest connection makes room; with none to close, wait a while.
        if (!dropOldest()) acceptPausedUntil = Clock::now() + std::chrono::milliseconds(100);
        continue;
      }
      if (errno == EINTR || errno == ECONNABORTED) continue;
      return;  // EAGAIN: none waiting
    }
    Connection c;
    c.fd = fd;
    c.until = c.deadline = Clock::now() + std::chrono::milliseconds(limits.requestTimeoutMs);
    connections.push_back(std::move(c));
  }
}

void WebServer::Loop::read(Connection& c) {
  char buffer[16384];
  const ssize_t n = ::recv(c.fd, buffer, sizeof buffer, 0);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
  if (n <= 0) return drop(c);
  if (c.answered) return;  // the rest of a body: only the time limit matters
  c.in.append(buffer, size_t(n));
  const size_t end = headEnd(c.in);
  if (end == std::string::npos || end > size_t(limits.maxRequestBytes)) {
    if (c.in.size() > size_t(limits.maxRequestBytes))
      answer(c, refusal(431, "the request's head is over " + std::to_string(limits.maxRequestBytes) + " bytes"),
             false);
    return;
  }
  RequestHead head;
  if (const int refused = parseHead(c.in.substr(0, end), head))
    return answer(c, refusal(refused, "not an HTTP/1.1 request this server answers"), false);
  // The page polls the JSON API; it has no WebSocket to upgrade to.
  if (head.webSocket) return answer(c, refusal(400, "no WebSocket here"), head.method == "HEAD");
  answer(c, site.answer(head.method, head.path), head.method == "HEAD");
}

void WebServer::Loop::answer(Connection& c, const Answer& a, bool headOnly) {
  c.answered = true;
  c.in.clear();
  c.in.shrink_to_fit();
  c.out = responseText(a, headOnly);
  c.deadline = Clock::now() + std::chrono::milliseconds(limits.requestTimeoutMs);
  send(c);
}

void WebServer::Loop::send(Connection& c) {
  const ssize_t n = ::send(c.fd, c.out.data() + c.sent, c.out.size() - c.sent, MSG_NOSIGNAL | MSG_DONTWAIT);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
  if (n < 0) return drop(c);
  c.sent += size_t(n);
  if (c.sending()) return;
  // All sent: end our side, and hold the connection (reading what still comes)
  // until the client closes or the request's time is up.
  ::shutdown(c.fd, SHUT_WR);
  c.out.clear();
  c.out.shrink_to_fit();
  c.sent = 0;
  c.deadline = c.until;
}

WebServer::WebServer() = default;

WebServer::~WebServer() { stop(); }

bool WebServer::start(const std::string& host, int port, const Site& site, std::string& error,
                      const ServerLimits& limits) {
  if (loop) {
    error = "already serving";
    return false;
  }
  const int listener = openListener(host, port, boundPort, error);
  if (listener < 0) return false;
  int wake[2];
  if (::pipe2(wake, O_NONBLOCK | O_CLOEXEC) != 0) {
    ::close(listener);
    error = "cannot serve on " + host + ":" + std::to_string(port) + ": no pipe";
    return false;
  }
  loop.reset(new Loop(listener, wake[0], wake[1], site, limits));
  thread = std::thread([this] { loop->run(); });
  return true;
}

void WebServer::stop() {
  if (!loop) return;
  loop->stop();
  thread.join();
  loop.reset();
}

}  // namespace live
