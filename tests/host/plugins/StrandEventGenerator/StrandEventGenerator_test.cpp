#include <gtest/gtest.h>

#include <thread>

#include "StrandEvent.h"
#include "TarnTest.h"

namespace {

TEST(StrandEventGenerator, AnnouncesLayoutOnConnectThenSendsItsSequence) {
  tarntest::CapturedStdout out;
  std::string error;
  {
    Graph g(tarntest::loader());
    ASSERT_TRUE(g.addNode("gen", "StrandEventGenerator", error));
    ASSERT_TRUE(g.addNode("show", "StrandPrinter", error));
    ASSERT_TRUE(g.connect("gen", "fevent", "show", "fevent", error));
    ASSERT_TRUE(g.set("gen", "steps", "5", error));
    ASSERT_TRUE(g.start("gen", error));
  }
  EXPECT_EQ(out.text(),
            "Ramp:\tvector<int>\nSerial:\tuint32\nWeight:\tdouble\n\n"
            "Ramp:\t   0 \nSerial:\t1\nWeight:\t1\n\n"
            "Ramp:\t   0    2 \nSerial:\t2\nWeight:\t0.5\n\n"
            "Ramp:\t   0    3    6 \nSerial:\t3\nWeight:\t0.333333\n\n"
            "Ramp:\t\nSerial:\t4\nWeight:\t0.25\n\n"
            "Ramp:\t   0 \nSerial:\t5\nWeight:\t0.2\n\n");
}

TEST(StrandEventGenerator, StepsZeroRunsUntilStoppedFromAnotherThread) {
  tarntest::CapturedStdout out;
  std::string error;
  Graph g(tarntest::loader());
  ASSERT_TRUE(g.addNode("gen", "StrandEventGenerator", error));
  ASSERT_TRUE(g.set("gen", "steps", "0", error));
  ASSERT_TRUE(g.set("gen", "interval", "0.001", error));
  std::thread stopper([&g] {
    while (!g.runningNode() || g.runningNode()->SentCount() < 10) std::this_thread::yield();
    g.stopRunning();
  });
  ASSERT_TRUE(g.start("gen", error));
  stopper.join();
  EXPECT_GE(g.node("gen")->SentCount(), 10u);
  EXPECT_FALSE(g.node("gen")->running);
}

}  // namespace
