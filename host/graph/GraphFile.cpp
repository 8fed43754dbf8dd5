// Parsing of graph files.
#include "GraphFile.h"

#include <set>
#include <sstream>

namespace {

const char* kBlanks = " \t\r\f\v";

std::string trim(const std::string& s) {
  size_t b = s.find_first_not_of(kBlanks);
  if (b == std::string::npos) return std::string();
  return s.substr(b, s.find_last_not_of(kBlanks) - b + 1);
}

// The first word of `s` and the trimmed rest.
std::string firstWord(const std::string& s, std::string& rest) {
  std::string t = trim(s);
  size_t end = t.find_first_of(kBlanks);
  if (end == std::string::npos) {
    rest.clear();
    return t;
  }
  rest = trim(t.substr(end));
  return t.substr(0, end);
}

bool validNodeName(const std::string& n) {
  if (n.empty()) return false;
  for (char c : n)
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-')) return false;
  return true;
}

}  // namespace

bool splitPortRef(const std::string& ref, std::string& node, std::string& port) {
  size_t dot = ref.find('.');
  if (dot == std::string::npos || dot == 0 || dot + 1 == ref.size()) return false;
  node = ref.substr(0, dot);
  port = ref.substr(dot + 1);
  return true;
}

std::vector<GraphStatement> parseGraph(const std::string& text,
                                       std::vector<GraphProblem>& problems) {
  std::vector<GraphStatement> statements;
  std::set<std::string> declared;
  std::istringstream in(text);
  std::string raw;
  int line = 0;
  auto problem = [&](const std::string& m) { problems.push_back(GraphProblem{line, m}); };

  while (std::getline(in, raw)) {
    ++line;
    std::string rest;
    std::string keyword = firstWord(raw, rest);
    if (keyword.empty() || keyword[0] == '#') continue;

    GraphStatement st{};
    st.line = line;
    std::vector<std::string> args;
    if (keyword != "set") {
      std::istringstream words(rest);
      std::string w;
      while (words >> w) args.push_back(w);
    }
    if (keyword == "node") {
      if (args.size() != 2) {
        problem("usage: node NAME TYPE");
        continue;
      }
      if (!validNodeName(args[0])) {
        problem("bad node name '" + args[0] + "' (letters, digits, '_' and '-')");
        continue;
      }
      if (!declared.insert(args[0]).second) {
        problem("node '" + args[0] + "' is already defined");
        continue;
      }
      st.kind = GraphStatement::Node;
      st.node = args[0];
      st.type = args[1];
    } else if (keyword == "set") {
      std::string ref = firstWord(rest, st.text);
      if (!splitPortRef(ref, st.node, st.port)) {
        problem("usage: set NAME.PORT TEXT");
        continue;
      }
      st.kind = GraphStatement::Set;
    } else if (keyword == "connect") {
      if (args.size() != 2 || !splitPortRef(args[0], st.node, st.port) ||
          !splitPortRef(args[1], st.toNode, st.toPort)) {
        problem("usage: connect NAME.OUTPUT NAME.INPUT");
        continue;
      }
      st.kind = GraphStatement::Connect;
    } else if (keyword == "start") {
      if (args.size() != 1) {
        problem("usage: start NAME");
        continue;
      }
      st.kind = GraphStatement::Start;
      st.node = args[0];
    } else {
      problem("unknown statement '" + keyword + "' (node, set, connect, start)");
      continue;
    }
    statements.push_back(st);
  }

  // Nodes are all made before anything else happens, so a reference may come
  // before the declaration; one that is never declared is an error.
  for (const GraphStatement& st : statements) {
    if (st.kind == GraphStatement::Node) continue;
    line = st.line;
    if (!declared.count(st.node)) problem("no node '" + st.node + "'");
    if (st.kind == GraphStatement::Connect && !declared.count(st.toNode))
      problem("no node '" + st.toNode + "'");
  }
  return statements;
}
