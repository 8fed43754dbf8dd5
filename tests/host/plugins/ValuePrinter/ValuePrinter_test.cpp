#include <gtest/gtest.h>

#include "TarnTest.h"

namespace {

TEST(ValuePrinter, TakesTheTypeOfTheConnectedOutputAndFollowsChanges) {
  tarntest::CapturedStdout out;
  std::string error;
  {
    Graph g(tarntest::loader());
    ASSERT_TRUE(g.addNode("p", "Probe", error));
    ASSERT_TRUE(g.addNode("v", "ValuePrinter", error));
    ASSERT_TRUE(g.addNode("w", "ValuePrinter", error));
    EXPECT_EQ(g.node("v")->inputs[0].type, TARN_OBJECT);
    ASSERT_TRUE(g.connect("p", "echo", "v", "value", error));
    ASSERT_TRUE(g.connect("p", "changing", "w", "value", error));
    EXPECT_EQ(g.node("v")->inputs[0].type, TARN_INT);
    ASSERT_TRUE(g.set("p", "int", "-12", error));
    ASSERT_TRUE(g.set("p", "retype", "19", error));  // output becomes a string, then sends "changed"
    EXPECT_EQ(g.node("w")->inputs[0].type, TARN_STRING);
    ASSERT_TRUE(g.set("p", "retype", "7", error));
  }
  EXPECT_EQ(out.text(),
            "p instantiated\n"
            "p: int -12 on #0 (call 1)\n-12\n"
            "changed\n"
            "7\n"
            "p deleted\n");
}

TEST(ValuePrinter, PrintsVectorsByTheVectorForm) {
  tarntest::CapturedStdout out;
  std::string error;
  {
    Graph g(tarntest::loader());
    ASSERT_TRUE(g.addNode("gen", "StrandEventGenerator", error));
    ASSERT_TRUE(g.addNode("v", "ValuePrinter", error));
    ASSERT_TRUE(g.connect("gen", "serial", "v", "value", error));
    ASSERT_TRUE(g.set("gen", "steps", "3", error));
    ASSERT_TRUE(g.start("gen", error));
  }
  EXPECT_EQ(out.text(), "1\n2\n3\n");
}

}  // namespace
