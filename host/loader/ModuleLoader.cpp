// Module search and dlopen; each module is loaded once and stays loaded, since
// objects made from it may live until the process ends.
#include "ModuleLoader.h"

#include <dirent.h>
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <set>

#include "ExecutablePath.h"
#include "TarnBase.h"

#ifndef TARN_BUILD_PLUGIN_DIR
#define TARN_BUILD_PLUGIN_DIR ""
#endif
#ifndef TARN_BUILD_DIR
#define TARN_BUILD_DIR ""
#endif
#ifndef TARN_INSTALL_PLUGIN_DIR
#define TARN_INSTALL_PLUGIN_DIR ""
#endif

static const char kSuffix[] = ".tnp";

static bool isDirectory(const std::string& p) {
  struct stat st;
  return ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The plug-ins that belong to the running program, and only those: beside it
// when installed (PREFIX/bin -> PREFIX/lib/tarn/plugins, wherever the tree was
// copied), the build's own when it runs from the build tree, else the
// configured install prefix. An installed runner never looks into the tree it
// was built in.
static std::string ownPluginDir() {
  const std::string exe = executableDirectory();
  if (exe.empty()) return TARN_INSTALL_PLUGIN_DIR;
  char real[PATH_MAX];
  const std::string beside = exe + "/../lib/tarn/plugins";
  if (isDirectory(beside) && ::realpath(beside.c_str(), real)) return real;
  const std::string build = ::realpath(TARN_BUILD_DIR, real) ? std::string(real) + "/" : std::string();
  if (!build.empty() && (exe + "/").compare(0, build.size(), build) == 0) return TARN_BUILD_PLUGIN_DIR;
  return TARN_INSTALL_PLUGIN_DIR;
}

std::vector<std::string> ModuleLoader::defaultSearchPath() {
  std::vector<std::string> dirs;
  if (const char* env = std::getenv("TARN_PLUGIN_PATH")) {
    std::string list = env;
    size_t start = 0;
    while (start <= list.size()) {
      size_t colon = list.find(':', start);
      if (colon == std::string::npos) colon = list.size();
      if (colon > start) dirs.push_back(list.substr(start, colon - start));
      start = colon + 1;
    }
  }
  const std::string own = ownPluginDir();
  if (!own.empty() && std::find(dirs.begin(), dirs.end(), own) == dirs.end()) dirs.push_back(own);
  return dirs;
}

ModuleLoader::ModuleLoader() : path(defaultSearchPath()) {}
ModuleLoader::ModuleLoader(std::vector<std::string> searchPath) : path(std::move(searchPath)) {}

static bool isFile(const std::string& p) {
  struct stat st;
  return ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

static bool validTypeName(const std::string& type) {
  if (type.empty()) return false;
  for (char c : type)
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-')) return false;
  return true;
}

pluginHandle* ModuleLoader::load(const std::string& type, std::string& error) {
  auto known = loaded.find(type);
  if (known != loaded.end()) return known->second.get();
  if (!validTypeName(type)) {
    error = "'" + type + "' is not a plug-in type name";
    return nullptr;
  }
  for (const std::string& dir : path) {
    std::string file = dir + "/" + type + kSuffix;
    if (!isFile(file)) continue;
    // Found: a failure here is reported, never passed over for a later directory.
    void* lib = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
      const char* why = ::dlerror();
      error = "cannot load " + file + ": " + (why ? why : "unknown error");
      return nullptr;
    }
    auto module = std::make_unique<pluginHandle>();
    module->type = type;
    module->path = file;
    module->library = lib;
    for (const char* symbol : {"newObject", "delObject"}) {
      ::dlerror();
      void* address = ::dlsym(lib, symbol);
      const char* why = ::dlerror();
      if (!address || why) {
        error = "cannot load " + file + ": it exports no " + symbol + " (" +
                (why ? why : "null address") + ")";
        ::dlclose(lib);
        return nullptr;
      }
      if (symbol[0] == 'n')
        module->newObject = reinterpret_cast<pluginHandle::NewObject>(address);
      else
        module->delObject = reinterpret_cast<pluginHandle::DelObject>(address);
    }
    pluginHandle* raw = module.get();
    loaded[type] = std::move(module);
    return raw;
  }
  error = "no plug-in '" + type + "' (looked for " + type + kSuffix + " in ";
  if (path.empty()) error += "no directory: the search path is empty";
  for (size_t i = 0; i < path.size(); ++i) error += (i ? ", " : "") + path[i];
  error += ")";
  return nullptr;
}

TarnBase* ModuleLoader::create(pluginHandle* module, const std::string& name) const {
  if (!module) return nullptr;
  std::string n = name;
  TarnBase* object = static_cast<TarnBase*>(module->newObject(n));
  if (object) object->SetHandle(module);
  return object;
}

void ModuleLoader::destroy(pluginHandle* module, TarnBase* object) const {
  if (module) module->delObject(object);
}

std::vector<ModuleLoader::Entry> ModuleLoader::list() const {
  std::vector<Entry> entries;
  std::set<std::string> seen;
  for (const std::string& dir : path) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
      while (dirent* e = ::readdir(d)) {
        std::string n = e->d_name;
        const size_t len = sizeof kSuffix - 1;
        if (n.size() > len && n.compare(n.size() - len, len, kSuffix) == 0 && isFile(dir + "/" + n))
          names.push_back(n.substr(0, n.size() - len));
      }
      ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    for (const std::string& n : names)
      entries.push_back(Entry{n, dir + "/" + n + kSuffix, !seen.insert(n).second});
  }
  return entries;
}
