#include "ModuleLoader.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>

#include "TarnTest.h"

namespace {

std::string testPluginDir() {
  const char* env = std::getenv("TARN_PLUGIN_PATH");
  return env ? std::string(env) : std::string();
}

void copyFile(const std::string& from, const std::string& to) {
  std::ifstream in(from, std::ios::binary);
  std::ofstream out(to, std::ios::binary);
  out << in.rdbuf();
}

TEST(ModuleLoader, SearchPathStartsWithTheEnvironmentThenTheBuild) {
  std::vector<std::string> path = ModuleLoader::defaultSearchPath();
  ASSERT_GE(path.size(), 2u);
  EXPECT_EQ(path[0], testPluginDir());
  EXPECT_NE(path[1].find("/plugins"), std::string::npos);
}

TEST(ModuleLoader, EnvironmentListIsSplitAtColons) {
  const std::string saved = testPluginDir();
  setenv("TARN_PLUGIN_PATH", "/a::/b:", 1);
  std::vector<std::string> path = ModuleLoader::defaultSearchPath();
  setenv("TARN_PLUGIN_PATH", saved.c_str(), 1);
  ASSERT_GE(path.size(), 2u);
  EXPECT_EQ(path[0], "/a");
  EXPECT_EQ(path[1], "/b");
}

TEST(ModuleLoader, LoadsEachModuleOnceFromTheFirstDirectoryThatHasIt) {
  tarntest::TempDir first, second;
  copyFile(testPluginDir() + "/Probe.tnp", second.path() + "/Probe.tnp");
  ModuleLoader loader({first.path(), second.path(), testPluginDir()});
  std::string error;
  pluginHandle* m = loader.load("Probe", error);
  ASSERT_NE(m, nullptr) << error;
  EXPECT_EQ(m->path, second.path() + "/Probe.tnp");
  EXPECT_EQ(loader.load("Probe", error), m);

  std::vector<ModuleLoader::Entry> entries = loader.list();
  int probes = 0, shadowed = 0;
  for (const auto& e : entries)
    if (e.type == "Probe") ++probes, shadowed += e.shadowed;
  EXPECT_EQ(probes, 2);
  EXPECT_EQ(shadowed, 1);
}

TEST(ModuleLoader, AModuleThatFailsToLoadIsReportedAndNotPassedOver) {
  tarntest::TempDir broken;
  // Not a shared object at all, then one without the factory functions.
  broken.write("Probe.tnp", "this is not a module");
  copyFile(testPluginDir() + "/Broken.tnp", broken.path() + "/Broken.tnp");
  ModuleLoader loader({broken.path(), testPluginDir()});
  std::string error;
  EXPECT_EQ(loader.load("Probe", error), nullptr);
  EXPECT_NE(error.find(broken.path() + "/Probe.tnp"), std::string::npos) << error;
  EXPECT_NE(error.find("file too short"), std::string::npos) << error;  // the loader's own text
  error.clear();
  EXPECT_EQ(loader.load("Broken", error), nullptr);
  EXPECT_NE(error.find(broken.path() + "/Broken.tnp"), std::string::npos) << error;
  EXPECT_NE(error.find("exports no newObject (") , std::string::npos) << error;
}

TEST(ModuleLoader, AMissingModuleNamesEveryDirectorySearched) {
  ModuleLoader loader({"/no/such/dir", "/another/one"});
  std::string error;
  EXPECT_EQ(loader.load("Nothing", error), nullptr);
  EXPECT_NE(error.find("Nothing.tnp"), std::string::npos);
  EXPECT_NE(error.find("/no/such/dir, /another/one"), std::string::npos) << error;
  EXPECT_EQ(loader.load("../etc/passwd", error), nullptr);
  EXPECT_NE(error.find("not a plug-in type name"), std::string::npos);
}

TEST(ModuleLoader, CreateSetsTheHandleOnTheInstance) {
  tarntest::CapturedStdout out;
  tarntest::Node probe("Probe", "p1");
  EXPECT_EQ(probe->GetHandle(), probe.module());
  EXPECT_EQ(probe.module()->type, "Probe");
}

}  // namespace
