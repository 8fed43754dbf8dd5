// The graph as the live page draws it.
#pragma once

#include <string>

class Graph;

namespace live {

// {"nodes": [{"name", "type", "inputs", "outputs"}],
//  "connections": [{"from", "output", "to", "input"}]}
std::string graphJson(const Graph& graph);

}  // namespace live
