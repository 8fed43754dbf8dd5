#include "SettingPath.h"

#include <sys/stat.h>

#include "Graph.h"
#include "TarnBase.h"

namespace {

bool exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace

std::string settingText(const Graph& graph, const std::string& graphFile, const GraphStatement& set) {
  const std::string& text = set.text;
  const size_t slash = graphFile.rfind('/');
  // Lists, absolute names and graphs in the current directory have nowhere else to look.
  if (text.empty() || text[0] == '/' || text.find_first_of(" \t") != std::string::npos ||
      slash == std::string::npos)
    return text;
  TarnBase* node = graph.node(set.node);
  const int k = node ? Graph::findPort(node, set.port, true) : -1;
  if (k < 0 || node->inputs[k].type != TARN_STRING || exists(text)) return text;
  std::string beside = graphFile.substr(0, slash + 1) + text;
  return exists(beside) ? beside : text;
}
