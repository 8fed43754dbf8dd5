// Graph building and running with clear messages for every mistake.
#include "Graph.h"

#include <cstdlib>

#include "BaseStart.h"
#include "RunStatus.h"
#include "TarnBase.h"

Graph::Graph(ModuleLoader& l) : loader(l), current(nullptr) {}

Graph::~Graph() { destroyAll(); }

void Graph::destroyAll() {
  while (!nodes.empty()) {
    const Node last = nodes.back();
    nodes.pop_back();
    nodeNames.pop_back();
    loader.destroy(last.module, last.object);
  }
}

const Graph::Node* Graph::find(const std::string& name) const {
  for (const Node& n : nodes)
    if (n.name == name) return &n;
  return nullptr;
}

TarnBase* Graph::node(const std::string& name) const {
  const Node* n = find(name);
  return n ? n->object : nullptr;
}

bool Graph::addNode(const std::string& name, const std::string& type, std::string& error) {
  if (find(name)) {
    error = "node '" + name + "' is already defined";
    return false;
  }
  pluginHandle* module = loader.load(type, error);
  if (!module) return false;
  TarnBase* object = loader.create(module, name);
  if (!object) {
    error = "plug-in " + type + " made no object for '" + name + "'";
    return false;
  }
  nodes.push_back(Node{name, module, object});
  nodeNames.push_back(name);
  return true;
}

int Graph::findPort(TarnBase* node, const std::string& port, bool input) {
  const int count = input ? static_cast<int>(node->inputs.size())
                          : static_cast<int>(node->outputs.size());
  if (port.size() > 1 && port[0] == '#') {
    char* end = nullptr;
    long k = std::strtol(port.c_str() + 1, &end, 10);
    if (*end != '\0' || k < 0 || k >= count) return -1;
    return static_cast<int>(k);
  }
  for (int k = 0; k < count; ++k)
    if ((input ? node->inputs[k].name : node->outputs[k].name) == port) return k;
  return -1;
}

static std::string portList(TarnBase* node, bool input) {
  std::string list;
  const size_t count = input ? node->inputs.size() : node->outputs.size();
  for (size_t k = 0; k < count; ++k)
    list += (k ? ", " : "") + (input ? node->inputs[k].name : node->outputs[k].name);
  return list.empty() ? std::string("none") : list;
}

static std::string noPort(const std::string& nodeName, TarnBase* node, const std::string& port,
                          bool input) {
  const char* kind = input ? "input" : "output";
  std::string type = node->GetHandle() ? node->GetHandle()->type : std::string("?");
  return "node '" + nodeName + "' (" + type + ") has no " + kind + " '" + port + "' (" + kind +
         "s: " + portList(node, input) + ")";
}

bool Graph::set(const std::string& nodeName, const std::string& port, const std::string& text,
                std::string& error) {
  TarnBase* n = node(nodeName);
  if (!n) {
    error = "no node '" + nodeName + "'";
    return false;
  }
  int k = findPort(n, port, true);
  if (k < 0) {
    error = noPort(nodeName, n, port, true);
    return false;
  }
  const int type = n->inputs[k].type;
  const unsigned rejectedBefore = tarn_settings_rejected();
  if (!n->SetInput(k, text)) {
    error = "cannot set " + nodeName + "." + port + ": '" + text + "' is not a valid " +
            tarn_type_label(type) + " value";
    return false;
  }
  if (tarn_settings_rejected() != rejectedBefore) {  // the node has said why
    error = "cannot set " + nodeName + "." + port + ": " + nodeName + " does not take '" + text + "'";
    return false;
  }
  return true;
}

bool Graph::connect(const std::string& fromNode, const std::string& output,
                    const std::string& toNode, const std::string& input, std::string& error) {
  TarnBase* from = node(fromNode);
  TarnBase* to = node(toNode);
  if (!from || !to) {
    error = "no node '" + (from ? toNode : fromNode) + "'";
    return false;
  }
  int out = findPort(from, output, false);
  if (out < 0) {
    error = noPort(fromNode, from, output, false);
    return false;
  }
  int in = findPort(to, input, true);
  if (in < 0) {
    error = noPort(toNode, to, input, true);
    return false;
  }
  const int outType = from->outputs[out].type, inType = to->inputs[in].type;
  if (!tarn_types_compatible(outType, inType)) {
    error = "cannot connect " + fromNode + "." + output + " (" + tarn_type_label(outType) +
            ") to " + toNode + "." + input + " (" + tarn_type_label(inType) + "): types differ";
    return false;
  }
  if (!from->AddReceiver(out, to, in)) {
    error = fromNode + "." + output + " is already connected to " + toNode + "." + input;
    return false;
  }
  return true;
}

void Graph::initAll() {
  for (const Node& n : nodes) n.object->Init();
}

bool Graph::start(const std::string& nodeName, std::string& error) {
  TarnBase* n = node(nodeName);
  if (!n) {
    error = "no node '" + nodeName + "'";
    return false;
  }
  clearBaseStart();
  current.store(n);
  n->Start();
  {
    std::lock_guard<std::mutex> hold(runningLock);  // no other thread still holds the node
    current.store(nullptr);
  }
  if (!startWasBase(n)) return true;
  const std::string type = n->GetHandle() ? n->GetHandle()->type : std::string("?");
  error = nodeName + " (" + type + ") is no source: it cannot be started";
  return false;
}

void Graph::stopRunning() {
  withRunning([](TarnBase* n) { n->Stop(); });
}
