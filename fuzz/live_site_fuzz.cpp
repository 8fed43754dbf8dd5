// The live page's request handling over any method, path and histogram names:
// answers are 200, 404 or 405 only, 200 only for what the site serves, JSON
// always well formed, and every listed histogram reachable at its own URL; the
// path's bytes also as a request head a client sent, read without a fault.
#include <nlohmann/json.hpp>
#include <cstdio>
#include <string>
#include <vector>

#include "FuzzTarget.h"
#include "HttpMessage.h"
#include "LiveBoard.h"
#include "RunState.h"
#include "Site.h"
#include "WebServer.h"

namespace {

std::string percentDecoded(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {  // the encoder writes two hex digits
      out += char(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string line(const std::string& text, size_t& at) {
  const size_t end = text.find('\n', at);
  const std::string part = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
  at = end == std::string::npos ? text.size() : end + 1;
  return part;
}

#define check(ok) \
  do {             \
    if (!(ok)) { fprintf(stderr, "failed at line %d\n", __LINE__); __builtin_trap(); } \
  } while (0)

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  const std::string text(reinterpret_cast<const char*>(data), size);
  size_t at = 0;
  const std::string method = line(text, at), node = line(text, at), property = line(text, at);
  const std::string path = text.substr(at);

  static live::RunState run;
  static const live::Site site("{}", run, LiveBoard::instance());
  auto h = std::make_shared<LiveHistogram>();
  h->node = node;
  h->property = property;
  h->unit = property;
  h->edges = {-1.5, 0, 2e300};
  h->counts = {size, 7};
  LiveBoard::instance().publish(h);

  const live::Answer a = site.answer(method, path);
  check(a.status == 200 || a.status == 404 || a.status == 405);
  check((method == "GET" || method == "HEAD") == (a.status != 405));
  if (a.status == 200 && path.compare(0, 5, "/api/") != 0)
    check(path == "/" || path == "/index.html" || path == "/live.js" || path == "/live.css" ||
          path == "/uPlot.js" || path == "/uPlot.css");
  if (a.type == "application/json") check(nlohmann::json::accept(a.body));

  const live::Answer list = site.answer("GET", "/api/histograms");
  check(nlohmann::json::accept(list.body));
  if (node.find('/') == std::string::npos) {
    const std::string url = "/api/histograms/" + live::percentEncoded(node) + "/" + live::percentEncoded(property);
    check(list.body.find(nlohmann::json(url).dump()) != std::string::npos);
    const live::Answer one = site.answer("GET", percentDecoded(url));
    check(one.status == 200 && nlohmann::json::accept(one.body));
  }
  LiveBoard::instance().withdraw(node);

  live::RequestHead head;
  const size_t end = live::headEnd(path);
  if (live::parseHead(path.substr(0, end), head) == 0) check(!head.method.empty() && head.path[0] == '/');
  check(live::responseText(a, false).compare(0, 12, "HTTP/1.1 " + std::to_string(a.status)) == 0);

  std::string host;
  int port = 0;
  if (live::parseListenAddress(path, host, port)) check(port >= 0 && port <= 65535 && !host.empty());
  return 0;
}

std::vector<std::vector<uint8_t>> tarnFuzzSeeds() {
  auto seed = [](const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); };
  return {seed("GET\nhist\nTDCValue\n/api/histograms/hist/TDCValue"),
          seed("HEAD\nh\na b/c\n/api/histograms/h/a b/c"),
          seed("GET\nn\n\xff\x01\"\\\n/../%2e%2e/etc/passwd"),
          seed("POST\nx\ny\n/api/status"),
          seed("GET\nx\ny\n[::1]:8080"),
          seed("GET\nx\ny\n/"),
          seed("GET\nx\ny\nGET /a%20b?q HTTP/1.1\r\nHost: x\r\nUpgrade: websocket\r\n\r\n")};
}
