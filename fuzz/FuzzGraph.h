// What the fuzz targets that go through the loader share: a graph made from
// graph-file text whose every statement must succeed, inputs split into a
// text part and a binary part, and synthesised seeds.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzEvents.h"
#include "Graph.h"
#include "GraphFile.h"
#include "ModuleLoader.h"
#include "TarnBase.h"

// The loader lives to the end of the process: modules stay loaded between inputs.
inline ModuleLoader& fuzzLoader() {
  static ModuleLoader* loader = new ModuleLoader;
  return *loader;
}

// A graph that is wrong, or whose modules are missing, would fuzz nothing: abort.
// The caller adds its own settings, then calls initAll().
inline void buildGraph(Graph& graph, const std::string& text) {
  std::vector<GraphProblem> problems;
  std::string error;
  const std::vector<GraphStatement> statements = parseGraph(text, problems);
  bool ok = problems.empty();
  for (const GraphStatement& s : statements) {
    if (!ok) break;
    switch (s.kind) {
      case GraphStatement::Node: ok = graph.addNode(s.node, s.type, error); break;
      case GraphStatement::Set: ok = graph.set(s.node, s.port, s.text, error); break;
      case GraphStatement::Connect: ok = graph.connect(s.node, s.port, s.toNode, s.toPort, error); break;
      case GraphStatement::Start: break;
    }
  }
  if (!ok) {
    std::fprintf(stderr, "fuzz graph: %s\n",
                 problems.empty() ? error.c_str() : problems[0].message.c_str());
    std::abort();
  }
}

// The input up to its first NUL byte, and what follows that byte.
struct SplitInput {
  std::string text;
  const uint8_t* rest = nullptr;
  size_t restSize = 0;
};
inline SplitInput splitAtNul(const uint8_t* data, size_t size) {
  SplitInput s;
  const void* nul = std::memchr(data, 0, size);
  const size_t n = nul ? size_t(static_cast<const uint8_t*>(nul) - data) : size;
  s.text.assign(reinterpret_cast<const char*>(data), n);
  if (nul) {
    s.rest = data + n + 1;
    s.restSize = size - n - 1;
  }
  return s;
}

// A seed: text, a NUL, then bytes.
inline std::vector<uint8_t> textThenBytes(const std::string& text, const std::vector<uint8_t>& bytes) {
  std::vector<uint8_t> seed(text.begin(), text.end());
  seed.push_back(0);
  seed.insert(seed.end(), bytes.begin(), bytes.end());
  return seed;
}

// Lines of `text`, without their line ends.
inline std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  size_t at = 0;
  while (at <= text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return lines;
}
