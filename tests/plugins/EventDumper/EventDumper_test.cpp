#include <gtest/gtest.h>

#include <ctime>

#include "../../midas/MidasTestData.h"
#include "TarnTest.h"

using namespace midastest;

namespace {

const char* kHint = "TMidasEvent::Print: Use SetBankList() before Print() to print bank data\n";
const char* kLines = "Banks: ADC0TDC0\nBank ADC0, length      2, type  4\nBank TDC0, length      1, type  6\n";
const char* kContents = "Banks: ADC0TDC0\nBank ADC0, length      2, type  4\n0x0001 0x0002 \n"
                        "Bank TDC0, length      1, type  6\n0x00000003 \n";

std::string header(const char* id, int size) {
  char buf[300];
  std::snprintf(buf, sizeof buf, "Event start:\n  event id:       0x%s\n  trigger mask:   0x0000\n"
                "  serial number:       0\n  time stamp:     0, Thu Jan  1 00:00:00 1970\n"
                "  data size:    %8d\n", id, size);
  return buf;
}

// Sets each option in turn (null: none) and prints a fresh copy of `event` after each.
std::string dumps(const TMidasEvent& event, std::vector<const char*> options) {
  setenv("TZ", "UTC", 1);
  tzset();
  tarntest::CapturedStdout out;
  {
    tarntest::Node d("EventDumper", "d");
    for (const char* o : options) {
      d->SetInput(1, const_cast<char*>(o));
      TMidasEvent e(event);
      d->SetInput(0, &e);
    }
  }
  std::string s = out.text();
  EXPECT_EQ(s.substr(0, 15), "d instantiated\n");
  EXPECT_EQ(s.substr(s.size() - 10), "d deleted\n");
  return s.substr(15, s.size() - 25);
}

class EventDumperTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fill(banks, dataArea({{"ADC0", TID_WORD, words({1, 2})}, {"TDC0", TID_DWORD, {3, 0, 0, 0}}}));
    fill(empty, dataArea({}));
  }
  TMidasEvent banks, empty;
};

TEST_F(EventDumperTest, TheFirstLowerCaseAOrBOfTheOptionCountsAndHolds) {
  const std::string h = header("0001", 40);
  EXPECT_EQ(dumps(banks, {nullptr, "x", "A", "B", ""}), h + kHint + h + kHint + h + kHint + h + kHint + h + kHint);
  EXPECT_EQ(dumps(banks, {"b", "banks please", nullptr, "all, and b", "Zap"}),
            h + kLines + h + kLines + h + kLines + h + kContents + h + kHint);
  banks.SetBankList();  // already set: printed even without an option
  EXPECT_EQ(dumps(banks, {""}), h + kLines);
  EXPECT_EQ(dumps(empty, {"a", "b"}), header("0001", 8) + kHint + header("0001", 8) + kHint);
}

TEST_F(EventDumperTest, RunEventsPrintTheirRunLineWhateverTheOption) {
  const std::string xml = "<?xml version=\"1.0\"?><odb/>";
  TMidasEvent bor, eor;
  fill(bor, Bytes(xml.begin(), xml.end()), 0x8000);
  fill(eor, Bytes(xml.begin(), xml.end()), 0x8001);
  const std::string b = header("8000", int(xml.size())) + "Begin of run 0\n";
  const std::string e = header("8001", int(xml.size())) + "End of run 0\n";
  EXPECT_EQ(dumps(bor, {nullptr, "a", "b"}), b + b + b);
  EXPECT_EQ(dumps(eor, {nullptr, "a", "b"}), e + e + e);
}

TEST_F(EventDumperTest, WithAnOptionTheEventKeepsItsBankListForLaterReceivers) {
  tarntest::CapturedStdout quiet;
  std::string error;
  Graph g(tarntest::loader());
  ASSERT_TRUE(g.addNode("filter", "EventIdFilter", error));
  ASSERT_TRUE(g.addNode("d", "EventDumper", error));
  ASSERT_TRUE(g.set("filter", "IDs", "1 1", error));
  ASSERT_TRUE(g.set("d", "option", "b", error));
  ASSERT_TRUE(g.connect("filter", "#0", "d", "event", error)) << error;
  Collector c;
  ASSERT_TRUE(g.node("filter")->AddReceiver(1, &c, 0));
  g.node("filter")->SetInput(0, &banks);
  ASSERT_EQ(c.got.size(), 1u);
  EXPECT_TRUE(c.got[0].hadBankList);
  EXPECT_STREQ(banks.GetBankList(), "ADC0TDC0");
}

}  // namespace
