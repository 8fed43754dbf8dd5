#include "Listener.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace live {

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

int openListener(const std::string& host, int port, int& bound, std::string& error) {
  const std::string name = host.size() >= 2 && host.front() == '[' ? host.substr(1, host.size() - 2) : host;
  const std::string where = host + ":" + std::to_string(port);
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo* found = nullptr;
  if (const int e = getaddrinfo(name.c_str(), std::to_string(port).c_str(), &hints, &found)) {
    error = "cannot serve on " + where + ": " + gai_strerror(e);
    return -1;
  }
  int fd = -1, why = 0;
  for (addrinfo* a = found; a && fd < 0; a = a->ai_next) {
    fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) {
      why = errno;
      continue;
    }
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(fd, a->ai_addr, a->ai_addrlen) != 0 || ::listen(fd, SOMAXCONN) != 0) {
      why = errno;
      ::close(fd);
      fd = -1;
    }
  }
  freeaddrinfo(found);
  if (fd < 0) {
    error = "cannot serve on " + where + ": " + std::strerror(why);
    return -1;
  }
  sockaddr_storage address{};
  socklen_t size = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  bound = ntohs(address.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&address)->sin6_port
                                              : reinterpret_cast<sockaddr_in*>(&address)->sin_port);
  return fd;
}

}  // namespace live
