#include <gtest/gtest.h>

#include "../../midas/MidasTestData.h"
#include "TarnTest.h"

using midastest::Collector;

namespace {

// Sets the ids, then feeds the events and tells which outputs each left on.
std::vector<int> route(tarntest::Node& f, std::vector<int> ids, std::vector<uint16_t> eventIds,
                       std::vector<std::string>* names = nullptr) {
  f->SetInput(1, &ids);
  Collector c(int(f->outputs.size()), 0);
  for (size_t k = 0; k < f->outputs.size(); ++k) {
    EXPECT_EQ(f->outputs[k].type, TARN_OBJECT);
    if (names) names->push_back(f->outputs[k].name);
    f->AddReceiver(int(k), &c, int(k));
  }
  std::vector<TMidasEvent> events(eventIds.size());
  for (size_t i = 0; i < eventIds.size(); ++i) {
    events[i].GetEventHeader()->fEventId = eventIds[i];
    f->SetInput(0, &events[i]);
  }
  for (const Collector::Arrival& a : c.got) EXPECT_GE(a.pointer, &events.front());  // not copies
  for (const Collector::Arrival& a : c.got) EXPECT_LE(a.pointer, &events.back());
  return c.inputsSeen();
}

TEST(EventIdFilter, SendsEachEventUncopiedOnEveryOutputOfItsId) {
  tarntest::CapturedStdout out;
  {
    tarntest::Node f("EventIdFilter", "filter");
    EXPECT_TRUE(f->outputs.empty());
    TMidasEvent e;
    f->SetInput(0, &e);  // no ids yet: dropped
    std::vector<std::string> names;
    EXPECT_EQ(route(f, {1, 2}, {2, 3, 1}, &names), (std::vector<int>{1, 0}));
    EXPECT_EQ(names, (std::vector<std::string>{"ID1", "ID2"}));
    names.clear();
    EXPECT_EQ(route(f, {5, 7, 5}, {5}, &names), (std::vector<int>{0, 2}));
    EXPECT_EQ(names, (std::vector<std::string>{"ID5", "ID7", "ID5"}));
    // Outside 0..65535 nothing matches: 0xfffe is not -2, 0 is not 65536, 0xffff not -1.
    names.clear();
    EXPECT_EQ(route(f, {-2, 65536, -1, 65535, 0}, {0xfffe, 0, 0xffff}, &names), (std::vector<int>{4, 3}));
    EXPECT_EQ(names, (std::vector<std::string>{"ID-2", "ID65536", "ID-1", "ID65535", "ID0"}));
  }
  EXPECT_EQ(out.text(), "filter instantiated\nfilter deleted\n");
}

TEST(EventIdFilter, ANewListReplacesTheOutputsAndSetsTheNodeSize) {
  tarntest::CapturedStdout quiet;
  std::string error;
  Graph g(tarntest::loader());
  ASSERT_TRUE(g.addNode("f", "EventIdFilter", error));
  TarnBase* f = g.node("f");
  float w = 0, h = 0;
  for (auto [text, outputs, height] : {std::tuple{"1 2 0x8000", 3u, 88.0f},
                                       std::tuple{"1 2 3 4 5", 5u, 128.0f},
                                       std::tuple{"", 0u, 68.0f}}) {  // the two inputs count
    ASSERT_TRUE(g.set("f", "IDs", text, error)) << error;
    EXPECT_EQ(f->outputs.size(), outputs);
    f->GetSize(w, h);
    EXPECT_EQ(w, 120.0f);
    EXPECT_EQ(h, height);
  }
  ASSERT_TRUE(g.set("f", "IDs", "7 0x8001", error));
  EXPECT_EQ(f->outputs[1].name, "ID32769");
}

}  // namespace
