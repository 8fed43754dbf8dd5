#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "../../midas/MidasCollector.h"
#include "../../midas/MidasTestData.h"
#include "TMidasEvent.h"
#include "TarnTest.h"

using namespace midastest;

namespace {

class EventDumperTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
    fill(banks, dataArea({{"ADC0", TID_WORD, words({1, 2})}, {"TDC0", TID_DWORD, dwords({3})}}), 1);
    fill(empty, dataArea({}), 1);
  }
  // What the dumper prints for one event with the given option setting.
  static std::string dump(TMidasEvent& e, const char* option) {
    tarntest::CapturedStdout out;
    {
      tarntest::Node d("EventDumper", "d");
      if (option) d->SetInput(1, const_cast<char*>(option));
      d->SetInput(0, &e);
    }
    std::string s = out.text();
    const std::string head = "d instantiated\n", tail = "d deleted\n";
    EXPECT_EQ(s.compare(0, head.size(), head), 0);
    EXPECT_EQ(s.compare(s.size() - tail.size(), tail.size(), tail), 0);
    return s.substr(head.size(), s.size() - head.size() - tail.size());
  }
  static std::string header(const char* id, int size) {
    char buf[400];
    std::snprintf(buf, sizeof buf,
                  "Event start:\n  event id:       0x%s\n  trigger mask:   0x0000\n"
                  "  serial number:       0\n  time stamp:     0, Thu Jan  1 00:00:00 1970\n"
                  "  data size:    %8d\n",
                  id, size);
    return buf;
  }
  TMidasEvent banks, empty;
};

const char* kHint = "TMidasEvent::Print: Use SetBankList() before Print() to print bank data\n";
const char* kBankLines =
    "Banks: ADC0TDC0\nBank ADC0, length      2, type  4\nBank TDC0, length      1, type  6\n";
const char* kBankContents =
    "Banks: ADC0TDC0\nBank ADC0, length      2, type  4\n0x0001 0x0002 \n"
    "Bank TDC0, length      1, type  6\n0x00000003 \n";

TEST_F(EventDumperTest, DeclaresItsPortsAfterAnnouncingItself) {
  tarntest::CapturedStdout out;
  {
    tarntest::Node d("EventDumper", "dumper");
    EXPECT_EQ(d->description, "Send a description of the incoming MidasEvent to STDOUT");
    ASSERT_EQ(d->inputs.size(), 2u);
    EXPECT_EQ(d->inputs[0].name, "event");
    EXPECT_EQ(d->inputs[0].type, TARN_OBJECT);
    EXPECT_EQ(d->inputs[0].description, "Event from LiveSource or -File");
    EXPECT_EQ(d->inputs[1].name, "option");
    EXPECT_EQ(d->inputs[1].type, TARN_CSTRING);
    EXPECT_EQ(d->inputs[1].description, "Option: b = set bank list, a = print banks.");
    EXPECT_TRUE(d->outputs.empty());
  }
  EXPECT_EQ(out.text(), "dumper instantiated\ndumper deleted\n");
}

TEST_F(EventDumperTest, OnlyTheFirstCharacterOfTheOptionCounts) {
  const std::string head = header("0001", 40);
  EXPECT_EQ(dump(banks, nullptr), head + kHint);
  EXPECT_EQ(dump(banks, "x"), head + kHint);
  EXPECT_EQ(dump(banks, "A"), head + kHint);
  EXPECT_EQ(dump(banks, "B"), head + kHint);
  EXPECT_EQ(dump(banks, ""), head + kHint);
  TMidasEvent e1(banks), e2(banks), e3(banks);
  EXPECT_EQ(dump(e1, "b"), head + kBankLines);
  EXPECT_EQ(dump(e2, "banks please"), head + kBankLines);
  EXPECT_EQ(dump(e3, "all of it, and b"), head + kBankContents);
}

TEST_F(EventDumperTest, ALaterOptionReplacesTheFormerAndNullChangesNothing) {
  tarntest::CapturedStdout out;
  {
    tarntest::Node d("EventDumper", "d");
    d->SetInput(1, const_cast<char*>("a"));
    d->SetInput(1, static_cast<void*>(nullptr));  // keeps "a"
    TMidasEvent e(banks);
    d->SetInput(0, &e);
    d->SetInput(1, const_cast<char*>("Z"));  // clears it
    TMidasEvent f(banks);
    d->SetInput(0, &f);
    ASSERT_TRUE(d->SetInput("option", "b"));  // through the setting text
    TMidasEvent g(banks);
    d->SetInput(0, &g);
  }
  const std::string head = header("0001", 40);
  EXPECT_EQ(out.text(), "d instantiated\n" + head + kBankContents + head + kHint + head +
                            kBankLines + "d deleted\n");
}

TEST_F(EventDumperTest, WithAnOptionTheReceivedEventKeepsItsBankList) {
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
  ASSERT_EQ(banks.GetBankList(), nullptr);
  g.node("filter")->SetInput(0, &banks);
  ASSERT_EQ(c.got.size(), 1u);
  EXPECT_TRUE(c.got[0].hadBankList);
  EXPECT_STREQ(banks.GetBankList(), "ADC0TDC0");
}

TEST_F(EventDumperTest, WithoutAnOptionAnAlreadySetListIsPrinted) {
  banks.SetBankList();
  EXPECT_EQ(dump(banks, nullptr), header("0001", 40) + kBankLines);
}

TEST_F(EventDumperTest, BeginAndEndOfRunPrintTheRunLineWhateverTheOption) {
  const std::string xml = "<?xml version=\"1.0\"?><odb/>";
  for (const char* option : {static_cast<const char*>(nullptr), "a", "b"}) {
    TMidasEvent bor, eor;
    fill(bor, Bytes(xml.begin(), xml.end()), 0x8000);
    fill(eor, Bytes(xml.begin(), xml.end()), 0x8001);
    const std::string size = std::to_string(xml.size());
    EXPECT_EQ(dump(bor, option), header("8000", int(xml.size())) + "Begin of run 0\n");
    EXPECT_EQ(dump(eor, option), header("8001", int(xml.size())) + "End of run 0\n");
  }
}

TEST_F(EventDumperTest, AnEventWithoutBanksGetsTheHintWithEveryOption) {
  for (const char* option : {"a", "b"}) {
    TMidasEvent e(empty);
    EXPECT_EQ(dump(e, option), header("0001", 8) + kHint);
    EXPECT_STREQ(e.GetBankList(), "");
  }
}

}  // namespace
