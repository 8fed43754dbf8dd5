#include "TMidasEvent.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "MidasSynth.h"
#include "MidasTestData.h"
#include "TarnTest.h"

using namespace midastest;

namespace {

std::string printed(const TMidasEvent& e, const char* option) {
  setenv("TZ", "UTC", 1);
  tzset();
  tarntest::CapturedStdout out;
  e.Print(option);
  return out.text();
}

template <class BankT>
std::vector<std::pair<int, ptrdiff_t>> walk(const TMidasEvent& e, const char* base) {
  std::vector<std::pair<int, ptrdiff_t>> seen;
  BankT* b = nullptr;
  char* d = nullptr;
  int n;
  if constexpr (sizeof(BankT) == sizeof(Bank32_t))
    while ((n = e.IterateBank32(&b, &d)), b) seen.push_back({n, d - base});
  else
    while ((n = e.IterateBank(&b, &d)), b) seen.push_back({n, d - base});
  EXPECT_EQ(d, nullptr);
  return seen;
}

TEST(TMidasEventBanks, StepsOverDataPaddedToEightBytesInBothLayouts) {
  const std::vector<RawBank> banks = {{"AAAA", TID_BYTE, {1, 2, 3, 4, 5}},
                                      {"BBBB", TID_DWORD, {}},
                                      {"CCCC", TID_WORD, words({7, 8, 9, 10})}};
  GuardedEvent e16(dataArea(banks, false)), e32(dataArea(banks, true));
  EXPECT_FALSE(e16.event.IsBank32());
  EXPECT_TRUE(e32.event.IsBank32());
  using Seen = std::vector<std::pair<int, ptrdiff_t>>;
  EXPECT_EQ(walk<Bank_t>(e16.event, e16.data()), (Seen{{5, 16}, {0, 32}, {8, 40}}));
  EXPECT_EQ(walk<Bank32_t>(e32.event, e32.data()), (Seen{{5, 20}, {0, 40}, {8, 52}}));
}

TEST(TMidasEventBanks, EmptyTinyAndMissingAreasHaveNoBanks) {
  GuardedEvent none(dataArea({}));
  EXPECT_EQ(none.event.SetBankList(), 0);
  EXPECT_STREQ(none.event.GetBankList(), "");
  EXPECT_TRUE(walk<Bank_t>(none.event, none.data()).empty());

  Bytes zeroSized = dataArea({{"AAAA", TID_BYTE, {1}}});
  set32(zeroSized, 0, 0);  // bytes beyond a bank area of size 0 are no banks
  GuardedEvent z(zeroSized);
  int len, type;
  void* p;
  EXPECT_EQ(z.event.FindBank("AAAA", &len, &type, &p), 0);

  for (size_t n : {1, 7}) {
    GuardedEvent tiny(Bytes(n, 0xff));
    EXPECT_EQ(tiny.event.SetBankList(), 0);
    EXPECT_EQ(tiny.event.SwapBytes(true), 0);
  }
  TMidasEvent claims;  // a header that claims data the event does not hold
  claims.GetEventHeader()->fEventId = 1;
  claims.GetEventHeader()->fDataSize = 64;
  EXPECT_EQ(claims.SwapBytes(true), 0);
  EXPECT_EQ(claims.SetBankList(), 0);
}

// The areas end at an unmapped page: a stray read or write crashes the test.
TEST(TMidasEventBanks, DamagedHeadersEndTheWalkInsideTheArea) {
  for (bool bank32 : {false, true}) {
    const size_t hdr = bank32 ? 12 : 8, last = 8 + hdr + 8;  // where LAST's header starts
    const Bytes good = dataArea({{"GOOD", TID_WORD, words({1, 2, 3, 4})},
                                 {"LAST", TID_DOUBLE, Bytes(8, 1)}}, bank32);
    auto withSize = [&](size_t at, uint32_t v) {
      Bytes b = good;
      if (bank32) set32(b, at, v); else b[at] = uint8_t(v), b[at + 1] = uint8_t(v >> 8);
      return b;
    };
    Bytes cutHeader(good.begin(), good.begin() + last + hdr / 2), cutData(good.begin(), good.end() - 3);
    set32(cutHeader, 0, uint32_t(cutHeader.size() - 8));
    Bytes shortBanks = good;
    set32(shortBanks, 0, uint32_t(hdr + 8 + hdr + 4));  // LAST crosses the banks' end, not the area's
    const std::vector<std::pair<Bytes, const char*>> cases = {
        {withSize(0, 0x7ffffff0), "GOODLAST"},       // bank area beyond the data area
        {withSize(last + hdr - 4 + (bank32 ? 0 : 2), 0xfff0), "GOOD"},  // LAST's data too long
        {withSize(8 + hdr - 4 + (bank32 ? 0 : 2), 0xfff0), ""},         // the first one too long
        {cutHeader, "GOOD"},
        {cutData, "GOOD"},
        {shortBanks, "GOOD"}};
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(bank32 ? "32-bit " : "16-bit ") + c.second);
      GuardedEvent g(c.first);
      EXPECT_EQ(g.event.SetBankList(), int(std::strlen(c.second) / 4));
      EXPECT_STREQ(g.event.GetBankList(), c.second);
      int len = -1, type = -1;
      void* p = &len;
      EXPECT_EQ(g.event.FindBank("LAST", &len, &type, &p), std::strlen(c.second) == 8);
      EXPECT_EQ(g.event.FindBank("NONE", &len, &type, &p), 0);
      EXPECT_EQ(p, nullptr);
      printed(g.event, "a");
      EXPECT_EQ(g.event.SwapBytes(true), 1);  // to foreign order and back
      EXPECT_EQ(g.event.SwapBytes(false), 1);
      EXPECT_EQ(0, std::memcmp(g.data(), c.first.data(), c.first.size()));
    }
  }
}

TEST(TMidasEventBanks, FindBankCountsElementsOfTheBanksType) {
  GuardedEvent g(dataArea({{"DBLE", TID_DOUBLE, Bytes(24)}, {"STRG", TID_STRING, Bytes(24)},
                           {"WRDS", TID_WORD, Bytes(5)}, {"BOOL", TID_BOOL, Bytes(8)},
                           {"BITS", TID_BITFIELD, Bytes(3)}, {"ODD", 99, Bytes(7)},
                           {"DBLE", TID_DOUBLE, Bytes(8)}}, true));
  struct Want { const char* name; int length, type, found; };
  for (const Want& w : {Want{"DBLE", 3, TID_DOUBLE, 1}, Want{"STRG", 24, TID_STRING, 1},
                        Want{"WRDS", 2, TID_WORD, 1}, Want{"BOOL", 2, TID_BOOL, 1},
                        Want{"BITS", 3, TID_BITFIELD, 1}, Want{"ODD", 7, 99, 1},
                        Want{"DBLEXTRA", 3, TID_DOUBLE, 1}, Want{"DBL", 0, 0, 0}}) {
    SCOPED_TRACE(w.name);
    int len = -1, type = -1;
    void* p = nullptr;
    EXPECT_EQ(g.event.FindBank(w.name, &len, &type, &p), w.found);
    EXPECT_EQ(len, w.length);
    EXPECT_EQ(type, w.type);
    void* q = &len;
    EXPECT_EQ(g.event.LocateBank(nullptr, w.name, &q), w.length);
    EXPECT_EQ(q, p);
    EXPECT_EQ(p != nullptr, w.found == 1);
  }
}

TEST(TMidasEventBankList, GrowsPast400BytesAndIsBuiltOnce) {
  for (int count : {99, 100, 150}) {
    std::vector<RawBank> banks;
    std::string want;
    for (int i = 0; i < count; ++i) {
      const std::string n = "B" + std::to_string(100 + i);
      banks.push_back({n, TID_BYTE, {uint8_t(i)}});
      want += n;
    }
    GuardedEvent g(dataArea(banks, count == 150));
    EXPECT_EQ(g.event.SetBankList(), count);
    EXPECT_EQ(std::string(g.event.GetBankList()), want);
    std::memset(g.data(), 0, 4);  // built once: emptying the area afterwards changes nothing
    EXPECT_EQ(g.event.SetBankList(), count);
    EXPECT_EQ(std::string(g.event.GetBankList()), want);
  }
  GuardedEvent zero(dataArea({{"AAAA", TID_BYTE, {1}}}), 0);
  EXPECT_EQ(zero.event.SetBankList(), 0);
  EXPECT_EQ(zero.event.GetBankList(), nullptr);
}

TEST(TMidasEventRecord, CopiesOwnTheirDataWithASpareZeroByte) {
  GuardedEvent src(dataArea({{"TDC0", TID_DWORD, {0xef, 0xbe, 0xad, 0xde}}}), 3);
  src.event.GetEventHeader()->fSerialNumber = 42;
  src.event.SetBankList();
  TMidasEvent copy(src.event), assigned;
  fill(assigned, Bytes{'<', '?', 'x', 'm', 'l'});
  EXPECT_EQ(assigned.GetData()[5], 0);  // what begin- and end-of-run areas rely on
  assigned = copy;
  assigned = static_cast<TMidasEvent&>(assigned);
  for (TMidasEvent* e : {&copy, &assigned}) {
    EXPECT_EQ(e->GetSerialNumber(), 42u);
    EXPECT_STREQ(e->GetBankList(), "TDC0");
    ASSERT_NE(e->GetData(), src.data());
    EXPECT_EQ(0, std::memcmp(e->GetData(), src.data(), e->GetDataSize()));
    EXPECT_EQ(e->GetData()[e->GetDataSize()], 0);
  }
  src.data()[16] = 0;
  int len, type;
  void* p;
  ASSERT_EQ(copy.FindBank("TDC0", &len, &type, &p), 1);
  EXPECT_EQ(*static_cast<uint8_t*>(p), 0xef);

  Bytes other = dataArea({{"BBBB", TID_BYTE, {1}}, {"CCCC", TID_BYTE, {2}}});
  src.event.SetData(unsigned(other.size()), reinterpret_cast<char*>(other.data()));
  EXPECT_EQ(src.event.SetBankList(), 2);  // the list of the former area is gone
}

TEST(TMidasEventSwap, ForeignOrderIsConvertedHostOrderAndXmlAreNot) {
  for (bool bank32 : {false, true}) {
    synth::Event ev;
    ev.bank32 = bank32;
    ev.banks = {synth::wordBank("W000", {1, 2, 3}), synth::shortBank("S000", {-2}),
                synth::doubleBank("D000", {1.0, -1e300}), synth::floatBank("F000", {0.5f}),
                synth::intBank("I000", {-5, 6, 7}), synth::boolBank("B000", {true}),
                synth::stringBank("T000", "hi")};
    const Bytes host = synth::encodeDataArea(ev, false), swapped = synth::encodeDataArea(ev, true);
    GuardedEvent g(swapped);  // SetData converts on arrival
    EXPECT_EQ(0, std::memcmp(g.data(), host.data(), host.size()));
    EXPECT_EQ(g.event.SwapBytes(false), 0);  // flags 0x01 / 0x11: already host order
    EXPECT_EQ(g.event.SwapBytes(true), 1);
    EXPECT_EQ(0, std::memcmp(g.data(), swapped.data(), swapped.size()));
  }
  const std::string xml = "<?xml version=\"1.0\"?>\n<odb/>\n";
  Bytes text(xml.begin(), xml.end()), reversed = text;
  std::reverse(reversed.begin(), reversed.begin() + 4);
  for (const Bytes& area : {text, reversed}) {
    TMidasEvent e;
    fill(e, area, 0x8000);
    EXPECT_EQ(e.SwapBytes(true), 1);
    EXPECT_EQ(0, std::memcmp(e.GetData(), area.data(), area.size()));
  }
}

TEST(TMidasEventPrint, HeaderRunLinesHintAndBankContents) {
  TMidasEvent e;
  fill(e, Bytes{'<', '?', 'x', 'm', 'l', ' ', 'v', 'e', 0}, 0x8000);
  MidasEventHeader* h = e.GetEventHeader();
  h->fTriggerMask = 0x2a;
  h->fSerialNumber = 1234;
  h->fTimeStamp = 1000000000;
  const std::string head = "Event start:\n  event id:       0x8000\n  trigger mask:   0x002a\n"
                           "  serial number:    1234\n"
                           "  time stamp:     1000000000, Sun Sep  9 01:46:40 2001\n"
                           "  data size:           9\n";
  EXPECT_EQ(printed(e, "a"), head + "Begin of run 1234\n");
  h->fEventId = 0x8001;
  EXPECT_EQ(printed(e, ""), std::string(head).replace(head.find("8000"), 4, "8001") + "End of run 1234\n");

  Bytes w25, f, d;
  for (int i = 0; i < 25; ++i) put(w25, 0x100 + i, 2);
  auto bits = [](auto x) {
    uint64_t v = 0;
    std::memcpy(&v, &x, sizeof x);
    return v;
  };
  for (float x : {1.5f, 0.3f}) put(f, bits(x), 4);
  for (double x : {0.1, -2.0}) put(d, bits(x), 8);
  fill(e, dataArea({{"WRD0", TID_WORD, w25}, {"DW00", TID_DWORD, {0xef, 0xbe, 0xad, 0xde}},
                    {"FL00", TID_FLOAT, f}, {"DB00", TID_DOUBLE, d}, {"SH00", TID_SHORT, words({1})},
                    {"EMPT", TID_WORD, {}}}), 3);
  const std::string noList = printed(e, "a");
  EXPECT_EQ(noList.substr(noList.find("  data size:")),
            "  data size:         152\n"
            "TMidasEvent::Print: Use SetBankList() before Print() to print bank data\n");
  ASSERT_EQ(e.SetBankList(), 6);
  const std::string all = printed(e, "all"), brief = printed(e, "b");
  EXPECT_EQ(all.substr(all.find("Banks:")),
            "Banks: WRD0DW00FL00DB00SH00EMPT\n"
            "Bank WRD0, length     25, type  4\n"
            "0x0100 0x0101 0x0102 0x0103 0x0104 0x0105 0x0106 0x0107 0x0108 0x0109\n"
            "0x010a 0x010b 0x010c 0x010d 0x010e 0x010f 0x0110 0x0111 0x0112 0x0113\n"
            "0x0114 0x0115 0x0116 0x0117 0x0118 \n"
            "Bank DW00, length      1, type  6\n0xdeadbeef \n"
            "Bank FL00, length      2, type  9\n1.5 0.30000001 \n"
            "Bank DB00, length      2, type 10\n0.1 -2 \n"
            "Bank SH00, length      1, type  5\n"
            "TMidasEvent::Print: Do not know how to print bank of type 5\n"
            "Bank EMPT, length      0, type  4\n\n");
  EXPECT_EQ(brief.substr(brief.find("Banks:")),
            "Banks: WRD0DW00FL00DB00SH00EMPT\nBank WRD0, length     25, type  4\n"
            "Bank DW00, length      1, type  6\nBank FL00, length      2, type  9\n"
            "Bank DB00, length      2, type 10\nBank SH00, length      1, type  5\n"
            "Bank EMPT, length      0, type  4\n");
}

TEST(TMidasEventDeathTest, PreconditionsAbortWithTheAssertionLine) {
  ::testing::FLAGS_gtest_death_test_style = "threadsafe";
  TMidasEvent e;
  char buf[8] = {};
  EXPECT_DEATH(e.GetData(), "TMidasEvent\\.cpp:[0-9]+: failed assertion `IsGoodSize\\(\\)'\n");
  EXPECT_DEATH(e.SetData(1048577, buf), "failed assertion `IsGoodSize\\(\\)'");
  e.GetEventHeader()->fDataSize = 1048576;
  e.AllocateData();
  EXPECT_DEATH(e.AllocateData(), "failed assertion `!fAllocatedByUs'");
  EXPECT_DEATH(e.SetData(8, buf), "failed assertion `!fAllocatedByUs'");
}

}  // namespace
