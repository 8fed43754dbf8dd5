// Finding and loading plug-in modules (<Type>.tnp) on the search path.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

class TarnBase;

// A loaded module; the host's handle that every instance made from it carries.
class pluginHandle {
 public:
  typedef void* (*NewObject)(std::string&);
  typedef void (*DelObject)(void*);

  std::string type;
  std::string path;
  void* library = nullptr;
  NewObject newObject = nullptr;
  DelObject delObject = nullptr;
};

class ModuleLoader {
 public:
  struct Entry {
    std::string type;
    std::string path;
    bool shadowed;  // a directory earlier on the path has the same type
  };

  // The directories of TARN_PLUGIN_PATH (colon-separated), then the plug-in
  // directory of the running program: PREFIX/lib/tarn/plugins beside an
  // installed one, the build's for a program of the build tree.
  static std::vector<std::string> defaultSearchPath();

  ModuleLoader();
  explicit ModuleLoader(std::vector<std::string> searchPath);

  // The module of `type`, loaded on first use and kept. Null with `error` set
  // when no directory has it or the file found does not load.
  pluginHandle* load(const std::string& type, std::string& error);

  // A new instance named `name`, or null when the module returned none.
  TarnBase* create(pluginHandle* module, const std::string& name) const;
  void destroy(pluginHandle* module, TarnBase* object) const;

  // Every module file on the path, in search order.
  std::vector<Entry> list() const;

  const std::vector<std::string>& searchPath() const { return path; }

 private:
  std::vector<std::string> path;
  std::map<std::string, std::unique_ptr<pluginHandle>> loaded;
};
