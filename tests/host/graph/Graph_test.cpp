#include "Graph.h"

#include <gtest/gtest.h>

#include "TarnTest.h"

namespace {

TEST(Graph, BuildsConfiguresConnectsAndDestroysInReverse) {
  tarntest::CapturedStdout out;
  std::string error;
  {
    Graph g(tarntest::loader());
    ASSERT_TRUE(g.addNode("a", "Probe", error)) << error;
    ASSERT_TRUE(g.addNode("b", "Probe", error)) << error;
    EXPECT_FALSE(g.addNode("a", "Probe", error));
    EXPECT_EQ(error, "node 'a' is already defined");
    ASSERT_TRUE(g.connect("a", "echo", "b", "#0", error)) << error;
    ASSERT_TRUE(g.set("a", "int", "5", error)) << error;
    g.initAll();
  }
  EXPECT_EQ(out.text(),
            "a instantiated\nb instantiated\n"
            "a: int 5 on #0 (call 1)\n"
            "b: int 5 on #0 (call 1)\n"
            "a initialized.\nb initialized.\n"
            "b deleted\na deleted\n");
}

TEST(Graph, InputsMadeByEarlierSettingsCanBeSet) {
  tarntest::CapturedStdout out;
  std::string error;
  Graph g(tarntest::loader());
  ASSERT_TRUE(g.addNode("p", "Probe", error));
  EXPECT_FALSE(g.set("p", "TDC0", "x", error));
  ASSERT_TRUE(g.set("p", "names", "TDC0 ADC0", error)) << error;
  ASSERT_TRUE(g.set("p", "ADC0", "a b", error)) << error;
  ASSERT_TRUE(g.set("p", "#6", "c", error)) << error;
  std::string text = out.text();
  EXPECT_NE(text.find("p: ADC0 = 'a b' on #7"), std::string::npos) << text;
  EXPECT_NE(text.find("p: TDC0 = 'c' on #6"), std::string::npos) << text;
}

TEST(Graph, ExplainsBadPortsSettingsAndTypes) {
  tarntest::CapturedStdout out;
  std::string error;
  Graph g(tarntest::loader());
  ASSERT_TRUE(g.addNode("p", "Probe", error));
  ASSERT_TRUE(g.addNode("q", "Probe", error));
  ASSERT_TRUE(g.addNode("show", "StrandPrinter", error));
  EXPECT_FALSE(g.addNode("x", "NoSuchType", error));
  EXPECT_NE(error.find("no plug-in 'NoSuchType'"), std::string::npos);

  EXPECT_FALSE(g.set("p", "nope", "1", error));
  EXPECT_EQ(error, "node 'p' (Probe) has no input 'nope' (inputs: int, text, cstr, list, retype, names)");
  EXPECT_FALSE(g.set("p", "#99", "1", error));
  EXPECT_FALSE(g.set("p", "int", "one", error));
  EXPECT_EQ(error, "cannot set p.int: 'one' is not a valid int value");
  EXPECT_FALSE(g.connect("p", "int", "q", "int", error));
  EXPECT_EQ(error, "node 'p' (Probe) has no output 'int' (outputs: echo, changing)");
  EXPECT_FALSE(g.connect("p", "echo", "show", "fevent", error));
  EXPECT_EQ(error, "cannot connect p.echo (int) to show.fevent (StrandEvent): types differ");
  EXPECT_TRUE(g.connect("p", "echo", "q", "int", error));
  EXPECT_FALSE(g.connect("p", "echo", "q", "int", error));
  EXPECT_EQ(error, "p.echo is already connected to q.int");
  EXPECT_FALSE(g.start("ghost", error));
  EXPECT_EQ(Graph::findPort(g.node("p"), "#1", false), 1);
  EXPECT_EQ(Graph::findPort(g.node("p"), "#-1", true), -1);
  EXPECT_EQ(Graph::findPort(g.node("p"), "#1x", true), -1);
}

TEST(Graph, ObjectPortsConnectToAnyType) {
  tarntest::CapturedStdout out;
  std::string error;
  Graph g(tarntest::loader());
  ASSERT_TRUE(g.addNode("gen", "StrandEventGenerator", error));
  ASSERT_TRUE(g.addNode("v", "ValuePrinter", error));
  ASSERT_TRUE(g.connect("gen", "fevent", "v", "value", error)) << error;
  EXPECT_EQ(g.node("v")->inputs[0].type, TARN_STRANDEVENT);
}

}  // namespace
