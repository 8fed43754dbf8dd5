// The factory functions and the construction messages, through the loader.
#include <gtest/gtest.h>

#include <memory>

#include "TarnTest.h"

namespace {

TEST(PluginSkeleton, DelObjectOfNullDoesNothing) {
  std::string error;
  pluginHandle* m = tarntest::loader().load("Probe", error);
  ASSERT_NE(m, nullptr) << error;
  tarntest::CapturedStdout out;
  m->delObject(nullptr);
  EXPECT_EQ(out.text(), "");
}

TEST(PluginSkeleton, InstancesPrintTheirOwnNamesAndShareNoState) {
  tarntest::CapturedStdout out;
  {
    auto a = std::make_unique<tarntest::Node>("Probe", "first");
    auto b = std::make_unique<tarntest::Node>("Probe", "second");
    (*a)->SetInput(0, "1");
    (*a)->SetInput(0, "2");
    (*b)->SetInput(0, "3");
    EXPECT_EQ((*a)->name, "first");
    b.reset();
    a.reset();
  }
  EXPECT_EQ(out.text(),
            "first instantiated\n"
            "second instantiated\n"
            "first: int 1 on #0 (call 1)\n"
            "first: int 2 on #0 (call 2)\n"
            "second: int 3 on #0 (call 1)\n"
            "second deleted\n"
            "first deleted\n");
}

TEST(PluginSkeleton, EmptyNameIsAccepted) {
  tarntest::CapturedStdout out;
  { tarntest::Node n("Probe", ""); }
  EXPECT_EQ(out.text(), " instantiated\n deleted\n");
}

TEST(PluginSkeleton, PortsAreNumberedInDeclarationOrder) {
  tarntest::CapturedStdout out;
  tarntest::Node n("Probe", "p");
  ASSERT_EQ(n->inputs.size(), 6u);
  EXPECT_EQ(n->inputs[3].name, "list");
  EXPECT_EQ(n->inputs[3].type, TARN_INT_V);
  EXPECT_EQ(n->inputs[3].handler, n->inputs[3].handler2);
  EXPECT_EQ(n->inputs[3].target, nullptr);
  ASSERT_EQ(n->outputs.size(), 2u);
  EXPECT_EQ(n->outputs[1].name, "changing");
  EXPECT_EQ(n->description, "Report every arriving value (tests only)");
}

}  // namespace
