#include "GraphJson.h"

#include "Graph.h"
#include "Json.h"
#include "TarnBase.h"

namespace live {

namespace {

template <class Ports>
nlohmann::ordered_json names(const Ports& ports) {
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (const auto& port : ports) list.push_back(port.name);
  return list;
}

}  // namespace

std::string graphJson(const Graph& graph) {
  using nlohmann::ordered_json;
  ordered_json nodes = ordered_json::array(), connections = ordered_json::array();
  for (const std::string& name : graph.names()) {
    TarnBase* n = graph.node(name);
    if (!n) continue;
    nodes.push_back({{"name", name},
                     {"type", n->GetHandle() ? n->GetHandle()->type : std::string("?")},
                     {"inputs", names(n->inputs)},
                     {"outputs", names(n->outputs)}});
    for (const TarnBase::Output& out : n->outputs)
      for (size_t r = 0; r < out.receivers.size() && r < out.receiverInputs.size(); ++r) {
        const TarnBase* to = out.receivers[r];
        const unsigned in = out.receiverInputs[r];
        connections.push_back({{"from", name},
                               {"output", out.name},
                               {"to", to->name},
                               {"input", in < to->inputs.size() ? to->inputs[in].name : std::string("?")}});
      }
  }
  return jsonText({{"nodes", nodes}, {"connections", connections}});
}

}  // namespace live
