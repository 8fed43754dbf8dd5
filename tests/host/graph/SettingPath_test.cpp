#include "SettingPath.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>

#include "Graph.h"
#include "TarnTest.h"

namespace {

GraphStatement setting(const std::string& port, const std::string& text) {
  GraphStatement st{};
  st.kind = GraphStatement::Set;
  st.node = "p";
  st.port = port;
  st.text = text;
  return st;
}

// A graph file in DIR/graphs beside a run file, seen from DIR, which holds a
// file of its own under a name the graph's directory also has.
TEST(SettingPath, NamesNotFoundHereAreLookedForBesideTheGraphFile) {
  char dirTemplate[] = "/tmp/setting-path-XXXXXX";
  const std::string dir = ::mkdtemp(dirTemplate);
  ASSERT_EQ(::mkdir((dir + "/graphs").c_str(), 0755), 0);
  for (const char* f : {"/graphs/run.mid", "/graphs/both.mid", "/both.mid", "/graphs/7"})
    std::ofstream(dir + f) << "x";
  char before[4096];
  ASSERT_NE(::getcwd(before, sizeof before), nullptr);
  ASSERT_EQ(::chdir(dir.c_str()), 0);

  tarntest::CapturedStdout out;
  std::string error;
  Graph g(tarntest::loader());
  ASSERT_TRUE(g.addNode("p", "Probe", error)) << error;
  const std::string graph = "graphs/x.tarn";
  EXPECT_EQ(settingText(g, graph, setting("text", "run.mid")), "graphs/run.mid");
  EXPECT_EQ(settingText(g, dir + "/graphs/x.tarn", setting("#1", "run.mid")), dir + "/graphs/run.mid");
  // What the current directory holds wins; what is nowhere stays as written
  // (an output to be made here, or a name the plug-in looks up itself).
  EXPECT_EQ(settingText(g, graph, setting("text", "both.mid")), "both.mid");
  EXPECT_EQ(settingText(g, graph, setting("text", "out.h5")), "out.h5");
  EXPECT_EQ(settingText(g, graph, setting("text", "/graphs/run.mid")), "/graphs/run.mid");
  // Numbers, lists and graphs in the current directory are left alone.
  EXPECT_EQ(settingText(g, graph, setting("int", "7")), "7");
  EXPECT_EQ(settingText(g, graph, setting("text", "run.mid both.mid")), "run.mid both.mid");
  EXPECT_EQ(settingText(g, "x.tarn", setting("text", "run.mid")), "run.mid");

  ASSERT_EQ(::chdir(before), 0);
  EXPECT_EQ(std::system(("rm -rf " + dir).c_str()), 0);
}

}  // namespace
