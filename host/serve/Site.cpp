#include "Site.h"

#include <cstdio>

#include "Assets.h"
#include "Json.h"

namespace live {

namespace {

const char kJson[] = "application/json";
const char kHistogramPrefix[] = "/api/histograms/";

Answer text(int status, const std::string& body) { return Answer{status, "text/plain; charset=utf-8", body}; }

std::string histogramUrl(const LiveHistogram& h) {
  return kHistogramPrefix + percentEncoded(h.node) + "/" + percentEncoded(h.property);
}

}  // namespace

std::string percentEncoded(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '.' || c == '_' || c == '~') {
      out += char(c);
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", unsigned(c));
      out += hex;
    }
  }
  return out;
}

std::string histogramJson(const LiveHistogram& h) {
  std::string out = "{\"node\":";
  appendString(out, h.node);
  out += ",\"property\":";
  appendString(out, h.property);
  out += ",\"low\":";
  appendNumber(out, h.edges.empty() ? 0 : h.edges.front());
  out += ",\"high\":";
  appendNumber(out, h.edges.empty() ? 0 : h.edges.back());
  out += ",\"counts\":[";
  for (size_t i = 0; i < h.counts.size(); ++i) {
    if (i) out += ',';
    out += std::to_string(h.counts[i]);
  }
  out += "],\"edges\":[";
  for (size_t i = 0; i < h.edges.size(); ++i) {
    if (i) out += ',';
    appendNumber(out, h.edges[i]);
  }
  out += "],\"underflow\":" + std::to_string(h.underflow);
  out += ",\"overflow\":" + std::to_string(h.overflow);
  out += ",\"nan\":" + std::to_string(h.nan);
  out += ",\"entries\":" + std::to_string(h.entries);
  out += ",\"mean\":";
  appendNumber(out, h.mean);
  out += ",\"rms\":";
  appendNumber(out, h.rms);
  out += ",\"unit\":";
  appendString(out, h.unit);
  out += '}';
  return out;
}

Site::Site(std::string g, const RunState& r, LiveBoard& b, std::function<std::string()> o)
    : graph(std::move(g)), run(r), board(b), output(std::move(o)) {}

Answer Site::answer(const std::string& method, const std::string& path) const {
  if (method != "GET" && method != "HEAD") return text(405, "only GET and HEAD are answered\n");
  if (path == "/api/status") return status();
  if (path == "/api/graph") return Answer{200, kJson, graph};
  if (path == "/api/histograms") return histogramList();
  if (path == "/api/output") return Answer{200, "text/plain; charset=utf-8", output ? output() : ""};
  const std::string prefix = kHistogramPrefix;
  if (path.compare(0, prefix.size(), prefix) == 0) {
    // Node names hold no '/': the first one after the prefix ends the name.
    const size_t slash = path.find('/', prefix.size());
    if (slash != std::string::npos)
      return histogram(path.substr(prefix.size(), slash - prefix.size()), path.substr(slash + 1));
  }
  if (const Asset* a = findAsset(path == "/" ? "/index.html" : path))
    return Answer{200, a->type, std::string(reinterpret_cast<const char*>(a->data), a->size)};
  // Built without the drawing library: the page says so and shows tables.
  if (path == "/uPlot.js") return Answer{200, "text/javascript; charset=utf-8", "window.uPlotMissing = true;\n"};
  if (path == "/uPlot.css") return Answer{200, "text/css; charset=utf-8", ""};
  return text(404, "not found\n");
}

Answer Site::status() const {
  const Status s = run.now();
  std::string out = "{\"state\":";
  out += s.done ? "\"done\"" : "\"running\"";
  out += ",\"events\":" + std::to_string(s.events) + ",\"seconds\":";
  appendNumber(out, s.seconds);
  out += ",\"rate\":";
  appendNumber(out, s.rate);
  out += ",\"source\":";
  appendString(out, s.source);
  out += ",\"file\":";
  appendString(out, s.file);
  out += ",\"run\":";
  out += s.run >= 0 ? std::to_string(s.run) : std::string("null");
  out += '}';
  return Answer{200, kJson, out};
}

Answer Site::histogramList() const {
  board.request();
  std::string out = "[";
  for (const LiveBoard::Snapshot& h : board.histograms()) {
    if (out.size() > 1) out += ',';
    out += "{\"node\":";
    appendString(out, h->node);
    out += ",\"property\":";
    appendString(out, h->property);
    out += ",\"url\":";
    appendString(out, histogramUrl(*h));
    out += '}';
  }
  out += ']';
  return Answer{200, kJson, out};
}

Answer Site::histogram(const std::string& node, const std::string& property) const {
  board.request();
  for (const LiveBoard::Snapshot& h : board.histograms())
    if (h->node == node && h->property == property) return Answer{200, kJson, histogramJson(*h)};
  return text(404, "no such histogram\n");
}

}  // namespace live
