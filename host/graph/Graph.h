// A graph of plug-in instances: built, configured, connected, run, destroyed.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "ModuleLoader.h"

class TarnBase;

class Graph {
 public:
  explicit Graph(ModuleLoader& loader);
  ~Graph();  // destroyAll()

  Graph(const Graph&) = delete;
  Graph& operator=(const Graph&) = delete;

  // Each call returns false with a message in `error` and changes nothing.
  bool addNode(const std::string& name, const std::string& type, std::string& error);
  // PORT is a port name or "#k" for port number k.
  bool set(const std::string& node, const std::string& port, const std::string& text,
           std::string& error);
  bool connect(const std::string& fromNode, const std::string& output, const std::string& toNode,
               const std::string& input, std::string& error);

  void initAll();
  // Destroys the nodes in reverse order of creation (they write their last
  // results then); the graph is empty afterwards.
  void destroyAll();
  // Starts the node; while it runs, `runningNode()` names it so Stop can reach it.
  // False when there is no such node, or it is no source (it has no Start).
  bool start(const std::string& node, std::string& error);
  // Stops the source that is running now, if any (callable from another thread).
  void stopRunning();

  // Calls `f(node)` for the node that runs now, if any, from another thread:
  // start() lets go of the node under the same lock, so the node cannot end
  // (and the graph destroy it) while `f` uses it. False when none runs.
  template <class F>
  bool withRunning(F&& f) {
    std::lock_guard<std::mutex> hold(runningLock);
    TarnBase* n = current.load();
    if (n) f(n);
    return n != nullptr;
  }

  TarnBase* node(const std::string& name) const;
  // The node that runs now; for the thread that knows it still runs.
  TarnBase* runningNode() const { return current.load(); }
  const std::vector<std::string>& names() const { return nodeNames; }

  // Number of port `port` ("name" or "#k") among inputs or outputs, or -1.
  static int findPort(TarnBase* node, const std::string& port, bool input);

 private:
  struct Node {
    std::string name;
    pluginHandle* module;
    TarnBase* object;
  };
  const Node* find(const std::string& name) const;

  ModuleLoader& loader;
  std::vector<Node> nodes;
  std::vector<std::string> nodeNames;
  std::atomic<TarnBase*> current;
  std::mutex runningLock;  // held while another thread uses the running node
};
