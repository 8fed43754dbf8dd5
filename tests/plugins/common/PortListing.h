// A plug-in's life as text: what its constructor wrote, its description, one
// line per port (name, type number, description; inputs first, then outputs,
// in port order), then what its destructor wrote.
#pragma once

#include <memory>
#include <string>

#include "TarnBase.h"
#include "TarnTest.h"

namespace porttest {

inline std::string portListing(const TarnBase& node) {
  std::string s;
  for (const TarnBase::Input& i : node.inputs)
    s += i.name + " " + std::to_string(i.type) + " " + i.description + "\n";
  for (const TarnBase::Output& o : node.outputs)
    s += o.name + " " + std::to_string(o.type) + " " + o.description + "\n";
  return s;
}

// Makes and destroys one instance through the loader.
inline std::string lifeOf(const std::string& type, const std::string& name) {
  std::unique_ptr<tarntest::Node> node;
  std::string made, gone;
  {
    tarntest::CapturedStdout out;
    node.reset(new tarntest::Node(type, name));
    made = out.text();
  }
  const std::string listing = (*node)->description + "\n" + portListing(*node->get());
  {
    tarntest::CapturedStdout out;
    node.reset();
    gone = out.text();
  }
  return made + listing + gone;
}

}  // namespace porttest
