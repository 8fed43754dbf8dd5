#include <gtest/gtest.h>

#include "../../midas/MidasCollector.h"
#include "TMidasEvent.h"
#include "TarnTest.h"

using midastest::Collector;

namespace {

TMidasEvent eventOfId(uint16_t id) {
  TMidasEvent e;
  e.GetEventHeader()->fEventId = id;
  return e;
}

std::vector<std::string> outputNames(TarnBase* node) {
  std::vector<std::string> names;
  for (const TarnBase::Output& o : node->outputs) {
    EXPECT_EQ(o.type, TARN_OBJECT);
    EXPECT_EQ(o.description, "");
    names.push_back(o.name);
  }
  return names;
}

void setIds(tarntest::Node& f, std::vector<int> ids) { ASSERT_TRUE(f->SetInput(1, &ids)); }

// Output k of the filter feeds input k of the collector.
void attach(tarntest::Node& f, Collector& c) {
  for (size_t k = 0; k < f->outputs.size(); ++k)
    ASSERT_TRUE(f->AddReceiver(int(k), &c, int(k)));
}

TEST(EventIdFilter, StartsWithoutOutputsAndAnnouncesItselfBeforeItsPorts) {
  tarntest::CapturedStdout out;
  {
    tarntest::Node f("EventIdFilter", "filter");
    EXPECT_EQ(f->description, "");
    ASSERT_EQ(f->inputs.size(), 2u);
    EXPECT_EQ(f->inputs[0].name, "event");
    EXPECT_EQ(f->inputs[0].type, TARN_OBJECT);
    EXPECT_EQ(f->inputs[0].description, "Midas event to split");
    EXPECT_EQ(f->inputs[1].name, "IDs");
    EXPECT_EQ(f->inputs[1].type, TARN_INT_V);
    EXPECT_EQ(f->inputs[1].description, "Event ID selection");
    EXPECT_TRUE(f->outputs.empty());
    TMidasEvent e = eventOfId(1);
    ASSERT_TRUE(f->SetInput(0, &e));  // no ids yet: dropped
  }
  EXPECT_EQ(out.text(), "filter instantiated\nfilter deleted\n");
}

TEST(EventIdFilter, SendsEachEventOnTheOutputsOfItsId) {
  tarntest::CapturedStdout quiet;
  tarntest::Node f("EventIdFilter", "f");
  setIds(f, {1, 2});
  EXPECT_EQ(outputNames(f.get()), (std::vector<std::string>{"ID1", "ID2"}));
  Collector c(2, 0);
  attach(f, c);
  TMidasEvent two = eventOfId(2), three = eventOfId(3), one = eventOfId(1);
  f->SetInput(0, &two);
  f->SetInput(0, &three);
  f->SetInput(0, &one);
  ASSERT_EQ(c.inputsSeen(), (std::vector<int>{1, 0}));
  EXPECT_EQ(c.got[0].pointer, &two);  // the same object, not a copy
  EXPECT_EQ(c.got[1].pointer, &one);
}

TEST(EventIdFilter, ARepeatedIdMakesTwoOutputsAndTheEventLeavesOnBoth) {
  tarntest::CapturedStdout quiet;
  tarntest::Node f("EventIdFilter", "f");
  setIds(f, {5, 7, 5});
  EXPECT_EQ(outputNames(f.get()), (std::vector<std::string>{"ID5", "ID7", "ID5"}));
  Collector c(3, 0);
  attach(f, c);
  TMidasEvent e = eventOfId(5);
  f->SetInput(0, &e);
  ASSERT_EQ(c.inputsSeen(), (std::vector<int>{0, 2}));
  EXPECT_EQ(c.got[0].pointer, &e);
  EXPECT_EQ(c.got[1].pointer, &e);
}

TEST(EventIdFilter, IdsOutsideSixteenBitsNeverMatch) {
  tarntest::CapturedStdout quiet;
  tarntest::Node f("EventIdFilter", "f");
  setIds(f, {-2, 65536, -1, 65535, 0x8000, 0});
  EXPECT_EQ(outputNames(f.get()),
            (std::vector<std::string>{"ID-2", "ID65536", "ID-1", "ID65535", "ID32768", "ID0"}));
  Collector c(6, 0);
  attach(f, c);
  for (uint16_t id : {uint16_t(0xfffe), uint16_t(0), uint16_t(0xffff), uint16_t(0x8000)}) {
    TMidasEvent e = eventOfId(id);
    f->SetInput(0, &e);
  }
  // 0xfffe is not -2, 0 is not 65536, 0xffff is 65535 and not -1.
  EXPECT_EQ(c.inputsSeen(), (std::vector<int>{5, 3, 4}));
}

TEST(EventIdFilter, NodeSizeFollowsTheLargerPortList) {
  tarntest::CapturedStdout quiet;
  tarntest::Node f("EventIdFilter", "f");
  float w = 0, h = 0;
  setIds(f, {1, 2, 3});
  f->GetSize(w, h);
  EXPECT_EQ(w, 120.0f);
  EXPECT_EQ(h, 88.0f);
  setIds(f, {1, 2, 3, 4, 5});
  f->GetSize(w, h);
  EXPECT_EQ(h, 128.0f);
  setIds(f, {});
  EXPECT_TRUE(f->outputs.empty());
  f->GetSize(w, h);
  EXPECT_EQ(w, 120.0f);
  EXPECT_EQ(h, 68.0f);  // the two inputs count
}

TEST(EventIdFilter, ANewListReplacesTheOldOutputs) {
  tarntest::CapturedStdout quiet;
  tarntest::Node f("EventIdFilter", "f");
  setIds(f, {1, 2});
  Collector old(2, 0);
  attach(f, old);
  setIds(f, {3});
  EXPECT_EQ(outputNames(f.get()), (std::vector<std::string>{"ID3"}));
  Collector c(1, 0);
  attach(f, c);
  TMidasEvent one = eventOfId(1), three = eventOfId(3);
  f->SetInput(0, &one);
  f->SetInput(0, &three);
  EXPECT_TRUE(old.got.empty());
  EXPECT_EQ(c.inputsSeen(), (std::vector<int>{0}));
}

TEST(EventIdFilter, IdsGivenAsSettingTextThroughAGraph) {
  tarntest::CapturedStdout quiet;
  std::string error;
  Graph g(tarntest::loader());
  ASSERT_TRUE(g.addNode("f", "EventIdFilter", error));
  ASSERT_TRUE(g.set("f", "IDs", "1 0x8001", error)) << error;
  EXPECT_EQ(outputNames(g.node("f")), (std::vector<std::string>{"ID1", "ID32769"}));
}

}  // namespace
