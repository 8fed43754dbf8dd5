#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "../common/PortListing.h"
#include "TarnTest.h"
#include "WaveEvent.h"

namespace {

// Writes each group as "{time/trigger ...}" and each size as a number, in
// arrival order, and notes whether the grouper still held every member.
class Sink : public TarnBase {
 public:
  Sink() : TarnBase(nullptr, "sink") {
    inputs.push_back(Input("group", static_cast<Handler>(&Sink::onGroup), TARN_OBJECT, ""));
    inputs.push_back(Input("size", static_cast<Handler>(&Sink::onSize), TARN_DOUBLE, ""));
  }
  void onGroup(void* v) {
    std::string s = "{";
    for (const WaveEvent* e : *static_cast<const std::vector<WaveEvent*>*>(v)) {
      if (s.size() > 1) s += " ";
      s += std::to_string(e->GetTimeStamp()) + "/" + std::to_string(e->GetHeaderTrigger());
      if (e->GetRefCount() < 2) unheld = true;
    }
    lines.push_back(s + "}");
  }
  void onSize(void* v) {
    const double size = *static_cast<const double*>(v);
    lines.push_back(size == std::floor(size) ? std::to_string(long(size)) : "fraction");
  }
  std::vector<std::string> lines;
  bool unheld = false;
};

using Lines = std::vector<std::string>;

class CoincidenceGrouperTest : public ::testing::Test {
 protected:
  CoincidenceGrouperTest() : grouper(new tarntest::Node("CoincidenceGrouper", "grouper")) {
    EXPECT_TRUE((*grouper)->AddReceiver(0, &sink, 0));
    EXPECT_TRUE((*grouper)->AddReceiver(1, &sink, 1));
  }
  ~CoincidenceGrouperTest() override {
    grouper.reset();
    EXPECT_FALSE(sink.unheld);
    for (WaveEvent* e : events) {
      EXPECT_EQ(e->GetRefCount(), 1) << "event " << e->GetHeaderTrigger();
      e->release();
    }
  }

  // A new event with the next trigger number (1, 2, ...) and time stamp t, sent
  // to the grouper; a bad one has a trailer that does not match its header.
  WaveEvent* send(uint64_t t, bool good = true) {
    WaveEvent* e = new WaveEvent;
    events.push_back(e);
    const unsigned trigger = unsigned(events.size());
    e->SetHeaderTrigger(trigger);
    e->SetTrailerTrigger(good ? trigger : trigger + 1);
    e->SetTimeStamp1(unsigned(t & 0xFFFFFF));
    e->SetTimeStamp2(unsigned(t >> 24));
    (*grouper)->SetInput(0, e);
    return e;
  }
  void set(int input, float seconds) { (*grouper)->SetInput(input, &seconds); }
  // The lines sent since the last call.
  Lines sent() {
    Lines l;
    l.swap(sink.lines);
    return l;
  }
  // Destroys the grouper and gives what it wrote.
  std::string destroy() {
    tarntest::CapturedStdout out;
    grouper.reset();
    return out.text();
  }

  Sink sink;
  std::vector<WaveEvent*> events;  // the test's own reference to each
  std::unique_ptr<tarntest::Node> grouper;
};

const int kCTime = 1, kWTime = 2;
const float kUnit = 1.0f / 40000000.0f;  // one time-stamp unit, in seconds

TEST(CoincidenceGrouperPorts, DeclaresItsPortsAndCountsLostGroupsWhenDeleted) {
  const std::string ports =
      "Assemble coincident WaveEvents into a vector\n"
      "vf_event 18 From WaveDecoder\n"
      "c_time 9 Coincidence time\n"
      "w_time 9 Time to wait for completion of coincident group\n"
      "vf_evntV 18 Vector of coincident WaveEvents\n"
      "multi 10 Size of coincidence group\n";
  EXPECT_EQ(porttest::lifeOf("CoincidenceGrouper", "coinc"),
            "coinc instantiated\n" + ports + "coinc: Lost 0 event groups.\ncoinc deleted\n");
  EXPECT_EQ(porttest::lifeOf("CoincidenceGrouper", ""),
            " instantiated\n" + ports + ": Lost 0 event groups.\n deleted\n");
}

TEST_F(CoincidenceGrouperTest, ByDefaultEachGoodEventIsSentAloneAtOnce) {
  send(100);
  EXPECT_EQ(sent(), (Lines{"{100/1}", "1"}));
  send(300);
  send(200);
  EXPECT_EQ(sent(), (Lines{"{300/2}", "1", "{200/3}", "1"}));
  EXPECT_EQ(destroy(), "grouper: Lost 0 event groups.\ngrouper deleted\n");
}

TEST_F(CoincidenceGrouperTest, AGroupIsSentWhenALaterEventIsOutsideTheWaitingTime) {
  ASSERT_TRUE((*grouper)->SetInput("c_time", "0.00000125"));  // 50 units
  ASSERT_TRUE((*grouper)->SetInput("w_time", "0.000025"));    // 1000 units
  send(100);
  send(120);
  EXPECT_TRUE(sent().empty());
  EXPECT_EQ(events[0]->GetRefCount(), 2);
  send(1119);  // 999 after the group's last event: still waiting
  EXPECT_TRUE(sent().empty());
  send(2000);
  EXPECT_EQ(sent(), (Lines{"{100/1 120/2}", "2"}));
  EXPECT_EQ(events[0]->GetRefCount(), 1);
  EXPECT_EQ(events[3]->GetRefCount(), 2);
  // {1119} and {2000} are still open; destruction gives their events back.
  EXPECT_EQ(destroy(), "grouper: Lost 2 event groups.\ngrouper deleted\n");
}

TEST_F(CoincidenceGrouperTest, AnEventJoinsTheNewestGroupWithinTheWindowOnEitherSide) {
  set(kCTime, 50 * kUnit);
  set(kWTime, 1000 * kUnit);
  send(100);
  send(150);  // exactly the window away: a group of its own
  send(130);  // 20 before the newest group
  send(5000);
  EXPECT_EQ(sent(), (Lines{"{100/1}", "1", "{150/2 130/3}", "2"}));
}

TEST_F(CoincidenceGrouperTest, AnEventIsPlacedBehindTheNewestEarlierGroupOrInFront) {
  set(kWTime, 1000 * kUnit);
  send(500);
  send(100);  // earlier than every group: the oldest
  send(300);  // between them
  EXPECT_TRUE(sent().empty());
  send(1400);
  EXPECT_EQ(sent(), (Lines{"{100/2}", "1", "{300/3}", "1"}));
  // With no window, an equal time is a new group in front of the equal one.
  send(1400);
  set(kWTime, 0);
  send(1400);
  EXPECT_EQ(sent(), (Lines{"{500/1}", "1", "{1400/6}", "1", "{1400/5}", "1", "{1400/4}", "1"}));
}

TEST_F(CoincidenceGrouperTest, AGroupLaterThanTheNewEventCountsAsComplete) {
  set(kCTime, 50 * kUnit);
  set(kWTime, 1000 * kUnit);
  send(100);
  send(200);
  send(160);
  send(120);
  EXPECT_TRUE(sent().empty());
  // Joining the newest group moves its time to 80, before the older group at
  // 100, whose wrapped difference is then beyond any waiting time.
  send(80);
  EXPECT_EQ(sent(), (Lines{"{100/1}", "1"}));
  EXPECT_EQ(destroy(), "grouper: Lost 1 event groups.\ngrouper deleted\n");
}

TEST_F(CoincidenceGrouperTest, EventsThatAreNotGoodAreIgnoredAndNotHeld) {
  set(kWTime, 1000 * kUnit);
  send(100);
  WaveEvent* bad = send(5000, false);
  EXPECT_TRUE(sent().empty());
  EXPECT_EQ(bad->GetRefCount(), 1);
  send(5001);
  EXPECT_EQ(sent(), (Lines{"{100/1}", "1"}));
  EXPECT_EQ(destroy(), "grouper: Lost 1 event groups.\ngrouper deleted\n");
}

TEST_F(CoincidenceGrouperTest, NegativeAndNaNTimesAreZeroAndHugeOnesTheLargestCount) {
  // A negative window is no window: equal times stay apart.
  set(kCTime, -1.0f);
  set(kWTime, 1000 * kUnit);
  send(100);
  send(100);
  send(5000);
  EXPECT_EQ(sent(), (Lines{"{100/2}", "1", "{100/1}", "1"}));
  // A negative waiting time completes every group at once.
  set(kWTime, -0.5f);
  send(5000);
  EXPECT_EQ(sent(), (Lines{"{5000/4}", "1", "{5000/3}", "1"}));
  // Huge settings: everything joins one group that never completes.
  set(kCTime, 1e30f);
  set(kWTime, std::numeric_limits<float>::infinity());
  send(7);
  send(uint64_t(1) << 47);
  send(9);
  EXPECT_TRUE(sent().empty());
  set(kCTime, std::nanf(""));
  set(kWTime, std::nanf(""));
  send(8);
  EXPECT_EQ(sent(), (Lines{"{8/8}", "1", "{7/5 140737488355328/6 9/7}", "3"}));
}

}  // namespace
