// `tarn inspect TYPE` and `tarn list`: what plug-ins declare, read from an
// instance made with its messages silenced.
#include <algorithm>
#include <iomanip>
#include <iostream>
#include <sstream>

#include "Commands.h"
#include "ModuleLoader.h"
#include "QuietStdout.h"
#include "TarnBase.h"

namespace {

struct Declared {
  std::string description;
  std::vector<TarnBase::Input> inputs;
  std::vector<TarnBase::Output> outputs;
};

bool declaredBy(ModuleLoader& loader, pluginHandle* module, Declared& d) {
  QuietStdout quiet;
  TarnBase* object = loader.create(module, module->type);
  if (!object) return false;
  d.description = object->description;
  d.inputs = object->inputs;
  d.outputs = object->outputs;
  loader.destroy(module, object);
  return true;
}

struct PortRow {
  std::string number, name, type, description;
};

void printPorts(const char* title, const std::vector<PortRow>& rows) {
  std::cout << title << ":\n";
  if (rows.empty()) {
    std::cout << "  none\n";
    return;
  }
  size_t wNum = 0, wName = 0, wType = 0;
  for (const PortRow& r : rows) {
    wNum = std::max(wNum, r.number.size());
    wName = std::max(wName, r.name.size());
    wType = std::max(wType, r.type.size());
  }
  for (const PortRow& r : rows) {
    std::cout << "  " << std::left << std::setw(static_cast<int>(wNum)) << r.number << "  "
              << std::setw(static_cast<int>(wName)) << r.name << "  "
              << std::setw(static_cast<int>(wType)) << r.type << "  " << r.description;
    std::cout << std::right << "\n";
  }
}

template <typename Port>
PortRow row(size_t k, const Port& p) {
  std::ostringstream type;
  type << std::setw(3) << p.type << " " << tarn_type_label(p.type);
  return PortRow{"#" + std::to_string(k), p.name.empty() ? "\"\"" : p.name, type.str(),
                 p.description};
}

}  // namespace

int inspectType(const std::string& type) {
  ModuleLoader loader;
  std::string error;
  pluginHandle* module = loader.load(type, error);
  if (!module) {
    std::cerr << "tarn: " << error << "\n";
    return 2;
  }
  Declared d;
  if (!declaredBy(loader, module, d)) {
    std::cerr << "tarn: " << module->path << ": newObject made no object\n";
    return 1;
  }
  std::cout << "Type:         " << type << "\n"
            << "Module:       " << module->path << "\n"
            << "Description:  " << (d.description.empty() ? "(none)" : d.description) << "\n\n";
  std::vector<PortRow> rows;
  for (size_t k = 0; k < d.inputs.size(); ++k) rows.push_back(row(k, d.inputs[k]));
  printPorts("Inputs", rows);
  rows.clear();
  for (size_t k = 0; k < d.outputs.size(); ++k) rows.push_back(row(k, d.outputs[k]));
  std::cout << "\n";
  printPorts("Outputs", rows);
  return 0;
}

int listTypes() {
  ModuleLoader loader;
  const std::vector<std::string>& path = loader.searchPath();
  if (path.empty()) {
    std::cerr << "tarn: no plug-in directories (set TARN_PLUGIN_PATH)\n";
    return 1;
  }
  std::vector<ModuleLoader::Entry> entries = loader.list();
  size_t width = 0;
  for (const auto& e : entries) width = std::max(width, e.type.size());
  for (const std::string& dir : path) {
    std::cout << dir << ":\n";
    bool any = false;
    for (const auto& e : entries) {
      if (e.path.compare(0, dir.size() + 1, dir + "/") != 0 ||
          e.path.find('/', dir.size() + 1) != std::string::npos)
        continue;
      any = true;
      std::cout << "  " << std::left << std::setw(static_cast<int>(width)) << e.type << std::right
                << "  ";
      if (e.shadowed) {
        std::cout << "(hidden by an earlier directory)\n";
        continue;
      }
      std::string error;
      pluginHandle* module = loader.load(e.type, error);
      Declared d;
      if (!module)
        std::cout << "(" << error << ")\n";
      else if (!declaredBy(loader, module, d))
        std::cout << "(newObject made no object)\n";
      else
        std::cout << d.description << "\n";
    }
    if (!any) std::cout << "  (no plug-ins)\n";
  }
  return 0;
}
