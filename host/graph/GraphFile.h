// The graph-file language: one statement a line, '#' comments, blank lines skipped.
//
//   node NAME TYPE
//   set NAME.PORT TEXT          (TEXT is the rest of the line, trimmed)
//   connect NAME.PORT NAME.PORT (an output, then an input)
//   start NAME
#pragma once

#include <string>
#include <vector>

struct GraphStatement {
  enum Kind { Node, Set, Connect, Start } kind;
  int line;
  std::string node, type;         // node
  std::string port, text;         // set: node.port text
  std::string toNode, toPort;     // connect: node.port -> toNode.toPort
};

struct GraphProblem {
  int line;
  std::string message;
};

// Parses and checks what can be checked without loading anything: statement
// syntax, duplicate node names and references to undeclared nodes.
// Returns the statements in file order; problems are appended to `problems`.
std::vector<GraphStatement> parseGraph(const std::string& text, std::vector<GraphProblem>& problems);

// "NAME.PORT" split at the first '.'; false when either side is empty.
bool splitPortRef(const std::string& ref, std::string& node, std::string& port);
