// Graph files that run from any directory: a file a graph's own setting names
// may lie beside the graph file rather than in the current directory.
#pragma once

#include <string>

#include "GraphFile.h"

class Graph;

// The text that `set` (a Set statement of `graphFile`) gives its input. For a
// text input whose setting is one relative name that is not found from the
// current directory but is found beside the graph file, that file's path;
// otherwise the text as written.
std::string settingText(const Graph& graph, const std::string& graphFile, const GraphStatement& set);
