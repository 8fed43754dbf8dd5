#include "GraphJson.h"

#include "Graph.h"
#include "Json.h"
#include "TarnBase.h"

namespace live {

namespace {

template <class Ports>
void appendNames(std::string& out, const Ports& ports) {
  out += '[';
  for (size_t k = 0; k < ports.size(); ++k) {
    if (k) out += ',';
    appendString(out, ports[k].name);
  }
  out += ']';
}

}  // namespace

std::string graphJson(const Graph& graph) {
  std::string nodes, connections;
  for (const std::string& name : graph.names()) {
    TarnBase* n = graph.node(name);
    if (!n) continue;
    if (!nodes.empty()) nodes += ',';
    nodes += "{\"name\":";
    appendString(nodes, name);
    nodes += ",\"type\":";
    appendString(nodes, n->GetHandle() ? n->GetHandle()->type : std::string("?"));
    nodes += ",\"inputs\":";
    appendNames(nodes, n->inputs);
    nodes += ",\"outputs\":";
    appendNames(nodes, n->outputs);
    nodes += '}';
    for (const TarnBase::Output& out : n->outputs)
      for (size_t r = 0; r < out.receivers.size() && r < out.receiverInputs.size(); ++r) {
        const TarnBase* to = out.receivers[r];
        const unsigned in = out.receiverInputs[r];
        if (!connections.empty()) connections += ',';
        connections += "{\"from\":";
        appendString(connections, name);
        connections += ",\"output\":";
        appendString(connections, out.name);
        connections += ",\"to\":";
        appendString(connections, to->name);
        connections += ",\"input\":";
        appendString(connections, in < to->inputs.size() ? to->inputs[in].name : std::string("?"));
        connections += '}';
      }
  }
  return "{\"nodes\":[" + nodes + "],\"connections\":[" + connections + "]}";
}

}  // namespace live
