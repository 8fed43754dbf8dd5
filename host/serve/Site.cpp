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
  return jsonText({{"node", h.node},
                   {"property", h.property},
                   {"low", h.edges.empty() ? 0 : h.edges.front()},
                   {"high", h.edges.empty() ? 0 : h.edges.back()},
                   {"counts", h.counts},
                   {"edges", h.edges},
                   {"underflow", h.underflow},
                   {"overflow", h.overflow},
                   {"nan", h.nan},
                   {"entries", h.entries},
                   {"mean", h.mean},
                   {"rms", h.rms},
                   {"unit", h.unit}});
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
  return Answer{200, kJson, jsonText({{"state", s.done ? "done" : "running"},
                                      {"events", s.events},
                                      {"seconds", s.seconds},
                                      {"rate", s.rate},
                                      {"source", s.source},
                                      {"file", s.file},
                                      {"run", s.run >= 0 ? nlohmann::ordered_json(s.run) : nullptr}})};
}

Answer Site::histogramList() const {
  board.request();
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (const LiveBoard::Snapshot& h : board.histograms())
    list.push_back({{"node", h->node}, {"property", h->property}, {"url", histogramUrl(*h)}});
  return Answer{200, kJson, jsonText(list)};
}

Answer Site::histogram(const std::string& node, const std::string& property) const {
  board.request();
  for (const LiveBoard::Snapshot& h : board.histograms())
    if (h->node == node && h->property == property) return Answer{200, kJson, histogramJson(*h)};
  return text(404, "no such histogram\n");
}

}  // namespace live
