#include "LiveClient.h"
#include "TarnTest.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

namespace livetest {

namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

int openConnection(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(uint16_t(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

std::string exchange(int port, const std::string& request, int timeoutMs) {
  int fd = openConnection(port);
  if (fd < 0) return "";
  size_t sent = 0;
  while (sent < request.size()) {
    ssize_t n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) break;  // the server may close early on a request it refuses
    sent += size_t(n);
  }
  std::string response;
  const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  char buffer[65536];
  while (Clock::now() < end) {
    pollfd p{fd, POLLIN, 0};
    const int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count());
    if (::poll(&p, 1, left > 0 ? left : 0) <= 0) break;
    ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    response.append(buffer, size_t(n));
  }
  ::close(fd);
  return response;
}

std::string request(int port, const std::string& method, const std::string& path) {
  return exchange(port, method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
}

int statusOf(const std::string& response) {
  if (response.compare(0, 9, "HTTP/1.1 ") != 0 && response.compare(0, 9, "HTTP/1.0 ") != 0) return 0;
  return std::atoi(response.c_str() + 9);
}

std::string bodyOf(const std::string& response) {
  const size_t end = response.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : response.substr(end + 4);
}

LiveTarn::LiveTarn(const std::vector<std::string>& args) {
  char outName[] = "/tmp/tarn-live-out-XXXXXX", errName[] = "/tmp/tarn-live-err-XXXXXX";
  const int out = ::mkstemp(outName), err = ::mkstemp(errName);
  outPath = outName;
  errPath = errName;
  std::fflush(nullptr);
  pid = tarntest::startTarn(args, out, err);
  ::close(out);
  ::close(err);
}

LiveTarn::~LiveTarn() {
  if (pid > 0 && status < 0) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  }
  ::unlink(outPath.c_str());
  ::unlink(errPath.c_str());
}

int LiveTarn::port(int timeoutMs) {
  static const std::regex serving("serving http://127\\.0\\.0\\.1:([0-9]+)/");
  const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (Clock::now() < end) {
    std::smatch m;
    const std::string text = err();
    if (std::regex_search(text, m, serving)) return std::atoi(m[1].str().c_str());
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return 0;
}

void LiveTarn::interrupt() {
  if (pid > 0 && status < 0) ::kill(pid, SIGINT);
}

int LiveTarn::wait(int timeoutMs) {
  const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (status < 0) {
    int s = 0;
    const pid_t r = ::waitpid(pid, &s, WNOHANG);
    if (r == pid) {
      status = WIFEXITED(s) ? WEXITSTATUS(s) : 128 + WTERMSIG(s);
      break;
    }
    if (Clock::now() >= end) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return status;
}

std::string LiveTarn::out() const { return tarntest::contentOf(outPath); }
std::string LiveTarn::err() const { return tarntest::contentOf(errPath); }

}  // namespace livetest
