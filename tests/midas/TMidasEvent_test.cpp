#include "TMidasEvent.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "MidasSynth.h"
#include "MidasTestData.h"
#include "TarnTest.h"

using namespace midastest;

namespace {

std::string printed(const TMidasEvent& e, const char* option) {
  tarntest::CapturedStdout out;
  e.Print(option);
  return out.text();
}

class UtcTime : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
  }
};

// ---- header, sizes, ownership -------------------------------------------

TEST(TMidasEventRecord, NewAndClearedEventsAreEmptyAndSizeLimitsHold) {
  TMidasEvent e;
  EXPECT_EQ(e.GetEventId(), 0);
  EXPECT_EQ(e.GetDataSize(), 0u);
  EXPECT_EQ(e.GetBankList(), nullptr);
  EXPECT_FALSE(e.IsGoodSize());
  EXPECT_FALSE(e.IsBank32());

  MidasEventHeader* h = e.GetEventHeader();
  h->fDataSize = 1;
  EXPECT_TRUE(e.IsGoodSize());
  h->fDataSize = 1048576;
  EXPECT_TRUE(e.IsGoodSize());
  h->fDataSize = 1048577;
  EXPECT_FALSE(e.IsGoodSize());

  fill(e, dataArea({{"ADC0", TID_WORD, words({1, 2})}}), 7);
  e.GetEventHeader()->fSerialNumber = 9;
  EXPECT_EQ(e.SetBankList(), 1);
  e.Clear();
  EXPECT_EQ(e.GetEventId(), 0);
  EXPECT_EQ(e.GetSerialNumber(), 0u);
  EXPECT_EQ(e.GetDataSize(), 0u);
  EXPECT_EQ(e.GetBankList(), nullptr);
}

TEST(TMidasEventRecord, OwnedAreaKeepsASpareZeroByteSoTextAreasStayTerminated) {
  TMidasEvent e;
  e.GetEventHeader()->fDataSize = 5;
  char* d = e.GetData();
  std::memcpy(d, "<?xml", 5);
  EXPECT_EQ(d[5], 0);
  EXPECT_STREQ(d, "<?xml");
  EXPECT_EQ(e.GetData(), d);  // a second call does not allocate again

  TMidasEvent c(e);
  EXPECT_NE(c.GetData(), d);
  EXPECT_STREQ(c.GetData(), "<?xml");
}

TEST(TMidasEventRecord, CopiesAreDeepAndSelfAssignmentKeepsTheEvent) {
  Bytes area = dataArea({{"TDC0", TID_DWORD, dwords({0xdeadbeef, 5})}, {"ADC1", TID_WORD, words({3})}});
  GuardedEvent src(area, 3);
  src.event.GetEventHeader()->fTriggerMask = 0x11;
  src.event.GetEventHeader()->fSerialNumber = 42;
  src.event.GetEventHeader()->fTimeStamp = 1000;
  ASSERT_EQ(src.event.SetBankList(), 2);

  TMidasEvent copy(src.event);
  EXPECT_EQ(copy.GetEventId(), 3);
  EXPECT_EQ(copy.GetTriggerMask(), 0x11);
  EXPECT_EQ(copy.GetSerialNumber(), 42u);
  EXPECT_EQ(copy.GetTimeStamp(), 1000u);
  EXPECT_EQ(copy.GetDataSize(), area.size());
  EXPECT_NE(copy.GetData(), src.event.GetData());
  EXPECT_EQ(0, std::memcmp(copy.GetData(), area.data(), area.size()));
  ASSERT_NE(copy.GetBankList(), nullptr);
  EXPECT_NE(copy.GetBankList(), src.event.GetBankList());
  EXPECT_STREQ(copy.GetBankList(), "TDC0ADC1");
  EXPECT_EQ(copy.SetBankList(), 2);

  // The copy owns its area: changing the source's bytes leaves it alone.
  src.buffer.data()[20] = 0x55;
  int len, type;
  void* p;
  ASSERT_EQ(copy.FindBank("TDC0", &len, &type, &p), 1);
  EXPECT_EQ(static_cast<uint8_t*>(p)[0], 0xef);

  TMidasEvent assigned;
  fill(assigned, dataArea({{"XXXX", TID_BYTE, {1}}}), 9);
  assigned = copy;
  EXPECT_EQ(assigned.GetEventId(), 3);
  EXPECT_STREQ(assigned.GetBankList(), "TDC0ADC1");

  TMidasEvent& same = assigned;
  char* before = assigned.GetData();
  assigned = same;
  EXPECT_EQ(assigned.GetData(), before);
  EXPECT_EQ(assigned.GetEventId(), 3);
  EXPECT_STREQ(assigned.GetBankList(), "TDC0ADC1");

  // Copying an event without a list gives none.
  TMidasEvent bare;
  fill(bare, area, 4);
  TMidasEvent bareCopy(bare);
  EXPECT_EQ(bareCopy.GetBankList(), nullptr);
  bare.Copy(bare);
  EXPECT_EQ(bare.GetEventId(), 4);
}

TEST(TMidasEventRecord, SwapBytesEventHeaderReversesEachField) {
  TMidasEvent e;
  MidasEventHeader* h = e.GetEventHeader();
  h->fEventId = 0x0102;
  h->fTriggerMask = 0x0304;
  h->fSerialNumber = 0x05060708;
  h->fTimeStamp = 0x090a0b0c;
  h->fDataSize = 0x0d0e0f10;
  e.SwapBytesEventHeader();
  EXPECT_EQ(e.GetEventId(), 0x0201);
  EXPECT_EQ(e.GetTriggerMask(), 0x0403);
  EXPECT_EQ(e.GetSerialNumber(), 0x08070605u);
  EXPECT_EQ(e.GetTimeStamp(), 0x0c0b0a09u);
  EXPECT_EQ(e.GetDataSize(), 0x100f0e0du);
}

// ---- preconditions --------------------------------------------------------

using TMidasEventDeathTest = ::testing::Test;

TEST_F(TMidasEventDeathTest, PreconditionsEndTheProcessWithTheAssertionLine) {
  ::testing::FLAGS_gtest_death_test_style = "threadsafe";
  EXPECT_DEATH(
      {
        TMidasEvent e;
        e.GetData();  // data size 0
      },
      "TMidasEvent\\.cpp:[0-9]+: failed assertion `IsGoodSize\\(\\)'\n");
  EXPECT_DEATH(
      {
        TMidasEvent e;
        e.GetEventHeader()->fDataSize = 8;
        e.AllocateData();
        e.AllocateData();
      },
      "failed assertion `!fAllocatedByUs'");
  EXPECT_DEATH(
      {
        TMidasEvent e;
        char buf[8] = {};
        e.SetData(1048577, buf);
      },
      "failed assertion `IsGoodSize\\(\\)'");
  EXPECT_DEATH(
      {
        TMidasEvent e;
        char buf[8] = {};
        e.SetData(0, buf);
      },
      "failed assertion `IsGoodSize\\(\\)'");
  EXPECT_DEATH(
      {
        TMidasEvent e;
        e.GetEventHeader()->fDataSize = 8;
        e.GetData();
        char buf[8] = {};
        e.SetData(8, buf);
      },
      "failed assertion `!fAllocatedByUs'");
}

// ---- walking the banks ----------------------------------------------------

TEST(TMidasEventBanks, IterationStepsOverPaddedDataIn16And32BitLayouts) {
  for (bool bank32 : {false, true}) {
    SCOPED_TRACE(bank32 ? "32-bit" : "16-bit");
    const size_t hdr = bank32 ? 12 : 8;
    Bytes area = dataArea({{"AAAA", TID_BYTE, {1, 2, 3, 4, 5}},
                           {"BBBB", TID_DWORD, {}},
                           {"CCCC", TID_WORD, words({7, 8, 9, 10})}},
                          bank32);
    GuardedEvent g(area);
    EXPECT_EQ(g.event.IsBank32(), bank32);
    char* base = g.buffer.data();
    std::vector<int> sizes;
    std::vector<char*> datas;
    char* d = nullptr;
    if (bank32) {
      Bank32_t* b = nullptr;
      for (int n; (n = g.event.IterateBank32(&b, &d)), b;) sizes.push_back(n), datas.push_back(d);
      EXPECT_EQ(d, nullptr);
    } else {
      Bank_t* b = nullptr;
      for (int n; (n = g.event.IterateBank(&b, &d)), b;) sizes.push_back(n), datas.push_back(d);
      EXPECT_EQ(d, nullptr);
    }
    ASSERT_EQ(sizes, (std::vector<int>{5, 0, 8}));
    EXPECT_EQ(datas[0], base + 8 + hdr);
    // 5 data bytes: the next bank starts 8 bytes after the data.
    EXPECT_EQ(datas[1], datas[0] + 8 + hdr);
    // An empty bank takes only its header.
    EXPECT_EQ(datas[2], datas[1] + hdr);
  }
}

TEST(TMidasEventBanks, EmptyBankAreaHasNoBanks) {
  Bytes area;
  put32(area, 0);
  put32(area, 0x01);
  GuardedEvent g(area);
  Bank_t* b = nullptr;
  char* d = reinterpret_cast<char*>(1);
  EXPECT_EQ(g.event.IterateBank(&b, &d), 0);
  EXPECT_EQ(b, nullptr);
  EXPECT_EQ(d, nullptr);
  EXPECT_EQ(g.event.SetBankList(), 0);
  ASSERT_NE(g.event.GetBankList(), nullptr);
  EXPECT_STREQ(g.event.GetBankList(), "");

  // Bytes beyond a bank area size of 0 are not banks either.
  Bytes more = dataArea({{"AAAA", TID_BYTE, {1}}});
  set32(more, 0, 0);
  GuardedEvent h(more);
  EXPECT_EQ(h.event.SetBankList(), 0);
  int len, type;
  void* p;
  EXPECT_EQ(h.event.FindBank("AAAA", &len, &type, &p), 0);
}

// Whatever the headers claim, nothing outside the data area is touched: the
// areas end at an unmapped page, so a stray read ends the test with a crash.
TEST(TMidasEventBanks, DamagedHeadersEndTheWalkInsideTheDataArea) {
  for (bool bank32 : {false, true}) {
    SCOPED_TRACE(bank32 ? "32-bit" : "16-bit");
    const size_t hdr = bank32 ? 12 : 8;
    const std::vector<RawBank> two = {{"GOOD", TID_WORD, words({1, 2, 3, 4})},
                                      {"LAST", TID_DWORD, dwords({5, 6})}};
    struct Case {
      const char* what;
      Bytes area;
      const char* list;
    };
    std::vector<Case> cases;

    Bytes claimsMore = dataArea(two, bank32);
    set32(claimsMore, 0, 0x7ffffff0);
    cases.push_back({"bank area size beyond the data area", claimsMore, "GOODLAST"});

    Bytes lastTooLong = dataArea(two, bank32);
    const size_t last = 8 + hdr + 8;  // header of LAST
    if (bank32)
      set32(lastTooLong, last + 8, 0xfffffff0);
    else
      lastTooLong[last + 6] = 0xff, lastTooLong[last + 7] = 0xff;
    cases.push_back({"bank data crossing the end", lastTooLong, "GOOD"});

    Bytes cutHeader = dataArea(two, bank32);
    cutHeader.resize(last + hdr / 2);
    set32(cutHeader, 0, uint32_t(cutHeader.size() - 8));
    cases.push_back({"bank header crossing the end", cutHeader, "GOOD"});

    Bytes cutData = dataArea(two, bank32);
    cutData.resize(cutData.size() - 3);
    cases.push_back({"area ends inside the last bank's data", cutData, "GOOD"});

    Bytes shortBanks = dataArea(two, bank32);
    set32(shortBanks, 0, uint32_t(hdr + 8 + hdr + 4));  // LAST's data crosses the banks' end
    shortBanks.push_back(0);                            // data area itself is longer
    cases.push_back({"bank crossing the end of the banks, not of the area", shortBanks, "GOOD"});

    Bytes firstTooLong = dataArea(two, bank32);
    if (bank32)
      set32(firstTooLong, 8 + 8, 0x10000);
    else
      firstTooLong[8 + 6] = 0xf0, firstTooLong[8 + 7] = 0xff;
    cases.push_back({"first bank too long", firstTooLong, ""});

    for (const Case& c : cases) {
      SCOPED_TRACE(c.what);
      GuardedEvent g(c.area);
      EXPECT_EQ(g.event.SetBankList(), int(std::strlen(c.list)) / 4);
      EXPECT_STREQ(g.event.GetBankList(), c.list);
      int len = -1, type = -1;
      void* p = nullptr;
      EXPECT_EQ(g.event.FindBank("LAST", &len, &type, &p), std::strcmp(c.list, "GOODLAST") == 0);
      EXPECT_EQ(g.event.FindBank("NONE", &len, &type, &p), 0);
      EXPECT_EQ(p, nullptr);
      EXPECT_EQ(len, 0);
      std::string out = printed(g.event, "a");
      EXPECT_EQ(out.find("Banks: ") != std::string::npos, c.list[0] != 0);
      // Converting the (native) area as if foreign must stay inside it too.
      EXPECT_EQ(g.event.SwapBytes(true), 1);
      EXPECT_EQ(g.event.SwapBytes(true), 1);
      EXPECT_EQ(0, std::memcmp(g.buffer.data(), c.area.data(), c.area.size()));
    }
  }
}

TEST(TMidasEventBanks, TinyOrMissingDataAreasHaveNoBanks) {
  for (size_t n : {1, 4, 7}) {
    Bytes area(n, 0xff);
    GuardedEvent g(area);
    EXPECT_FALSE(g.event.IsBank32());
    EXPECT_EQ(g.event.SetBankList(), 0);
    EXPECT_EQ(g.event.SwapBytes(true), 0);
    int len, type;
    void* p;
    EXPECT_EQ(g.event.FindBank("\xff\xff\xff\xff", &len, &type, &p), 0);
  }
  // A header that claims data the event does not hold.
  TMidasEvent e;
  e.GetEventHeader()->fEventId = 1;
  e.GetEventHeader()->fDataSize = 64;
  Bank_t* b = nullptr;
  char* d = nullptr;
  EXPECT_EQ(e.IterateBank(&b, &d), 0);
  EXPECT_EQ(e.SwapBytes(true), 0);
  EXPECT_EQ(e.SetBankList(), 0);
}

TEST(TMidasEventBanks, ABankPointerFromElsewhereEndsTheWalk) {
  GuardedEvent g(dataArea({{"AAAA", TID_BYTE, {1}}}));
  Bank_t foreign = {{'Z', 'Z', 'Z', 'Z'}, TID_BYTE, 4};
  Bank_t* b = &foreign;
  char* d = nullptr;
  EXPECT_EQ(g.event.IterateBank(&b, &d), 0);
  EXPECT_EQ(b, nullptr);
}

TEST(TMidasEventBanks, FindBankCountsElementsByType) {
  Bytes area = dataArea({{"DBLE", TID_DOUBLE, Bytes(24, 0)},
                         {"STRG", TID_STRING, Bytes(24, 'x')},
                         {"WRDS", TID_WORD, Bytes(6, 0)},
                         {"DWDS", TID_DWORD, Bytes(12, 0)},
                         {"BYTS", TID_BYTE, Bytes(5, 0)},
                         {"BITF", TID_BITFIELD, Bytes(3, 0)},
                         {"BOOL", TID_BOOL, Bytes(8, 0)},
                         {"ODD", TID_WORD, Bytes(5, 0)},
                         {"UNKN", 99, Bytes(7, 0)},
                         {"LNK0", TID_LINK, Bytes(9, 0)}},
                        true);
  GuardedEvent g(area);
  struct Want {
    const char* name;
    int length, type;
  };
  for (const Want& w : {Want{"DBLE", 3, TID_DOUBLE}, Want{"STRG", 24, TID_STRING},
                        Want{"WRDS", 3, TID_WORD}, Want{"DWDS", 3, TID_DWORD},
                        Want{"BYTS", 5, TID_BYTE}, Want{"BITF", 3, TID_BITFIELD},
                        Want{"BOOL", 2, TID_BOOL}, Want{"ODD", 2, TID_WORD},
                        Want{"UNKN", 7, 99}, Want{"LNK0", 9, TID_LINK}}) {
    SCOPED_TRACE(w.name);
    int len = -1, type = -1;
    void* p = nullptr;
    ASSERT_EQ(g.event.FindBank(w.name, &len, &type, &p), 1);
    EXPECT_EQ(len, w.length);
    EXPECT_EQ(type, w.type);
    EXPECT_NE(p, nullptr);
    void* q = nullptr;
    EXPECT_EQ(g.event.LocateBank(nullptr, w.name, &q), w.length);
    EXPECT_EQ(q, p);
  }
  // Only the first four characters count; a short name is not read past its end.
  int len, type;
  void* p;
  EXPECT_EQ(g.event.FindBank("DBLEXYZ", &len, &type, &p), 1);
  EXPECT_EQ(g.event.FindBank("ODD", &len, &type, &p), 1);
  EXPECT_EQ(g.event.FindBank("DBL", &len, &type, &p), 0);
  void* q = &len;
  EXPECT_EQ(g.event.LocateBank(nullptr, "MISS", &q), 0);
  EXPECT_EQ(q, nullptr);
}

TEST(TMidasEventBanks, FindBankReturnsTheFirstOfTwoBanksOfOneName) {
  GuardedEvent g(dataArea({{"SAME", TID_WORD, words({1})}, {"SAME", TID_WORD, words({2, 3})}}));
  int len, type;
  void* p;
  ASSERT_EQ(g.event.FindBank("SAME", &len, &type, &p), 1);
  EXPECT_EQ(len, 1);
}

// ---- the bank list ----------------------------------------------------------

TEST(TMidasEventBankList, GrowsPast400BytesAndIsBuiltOnce) {
  for (int count : {99, 100, 150, 300}) {
    SCOPED_TRACE(count);
    std::vector<RawBank> banks;
    std::string want;
    for (int i = 0; i < count; ++i) {
      char n[16];
      std::snprintf(n, sizeof n, "B%03d", i % 1000);
      banks.push_back({n, TID_BYTE, {uint8_t(i)}});
      want += n;
    }
    GuardedEvent g(dataArea(banks, count == 300));
    EXPECT_EQ(g.event.SetBankList(), count);
    ASSERT_NE(g.event.GetBankList(), nullptr);
    EXPECT_EQ(std::string(g.event.GetBankList()), want);
    // Built once: emptying the bank area afterwards changes nothing.
    std::memset(g.buffer.data(), 0, 4);
    EXPECT_EQ(g.event.SetBankList(), count);
    EXPECT_EQ(std::string(g.event.GetBankList()), want);
  }
}

TEST(TMidasEventBankList, EventIdZeroBuildsNoList) {
  GuardedEvent g(dataArea({{"AAAA", TID_BYTE, {1}}}), 0);
  EXPECT_EQ(g.event.SetBankList(), 0);
  EXPECT_EQ(g.event.GetBankList(), nullptr);
}

TEST(TMidasEventBankList, SetDataDropsTheListOfThePreviousArea) {
  Bytes first = dataArea({{"AAAA", TID_BYTE, {1}}});
  Bytes second = dataArea({{"BBBB", TID_BYTE, {1}}, {"CCCC", TID_BYTE, {2}}});
  TMidasEvent e;
  e.GetEventHeader()->fEventId = 1;
  e.SetData(unsigned(first.size()), reinterpret_cast<char*>(first.data()));
  EXPECT_EQ(e.SetBankList(), 1);
  e.SetData(unsigned(second.size()), reinterpret_cast<char*>(second.data()));
  EXPECT_EQ(e.SetBankList(), 2);
  EXPECT_STREQ(e.GetBankList(), "BBBBCCCC");
}

// ---- byte order ---------------------------------------------------------------

std::vector<RawBank> mixedBanks() {
  std::vector<RawBank> b;
  b.push_back({"WORD", TID_WORD, words({0x0102, 0x0304, 0x0506})});  // 6 bytes + 2 padding
  b.push_back({"SHRT", TID_SHORT, words({0xfffe})});
  b.push_back({"DWRD", TID_DWORD, dwords({0x01020304})});
  b.push_back({"INT0", TID_INT, dwords({0xfffffffe, 7})});
  b.push_back({"BOOL", TID_BOOL, dwords({1})});
  b.push_back({"FLT0", TID_FLOAT, raw(std::vector<float>{1.5f, -2.25f})});
  b.push_back({"DBL0", TID_DOUBLE, raw(std::vector<double>{3.125, -1e300})});
  b.push_back({"CHAR", TID_CHAR, {'a', 'b', 'c'}});
  b.push_back({"STRG", TID_STRING, {'x', 'y', 0}});
  b.push_back({"BYTE", TID_BYTE, {1, 2, 3, 4, 5, 6, 7, 8, 9}});
  return b;
}

// The image a big-endian host would have written of `area`.
Bytes foreign(const Bytes& area, bool bank32) {
  Bytes f = area;
  auto rev = [&](size_t at, size_t n) { std::reverse(f.begin() + at, f.begin() + at + n); };
  rev(0, 4);
  rev(4, 4);
  size_t pos = 8;
  const size_t end = 8 + (area[0] | area[1] << 8 | area[2] << 16 | size_t(area[3]) << 24);
  while (pos < end) {
    uint32_t type, size;
    size_t hdr;
    if (bank32) {
      std::memcpy(&type, &area[pos + 4], 4);
      std::memcpy(&size, &area[pos + 8], 4);
      rev(pos + 4, 4);
      rev(pos + 8, 4);
      hdr = 12;
    } else {
      type = area[pos + 4] | area[pos + 5] << 8;
      size = area[pos + 6] | area[pos + 7] << 8;
      rev(pos + 4, 2);
      rev(pos + 6, 2);
      hdr = 8;
    }
    size_t unit = 0;
    if (type == TID_WORD || type == TID_SHORT) unit = 2;
    if (type == TID_DWORD || type == TID_INT || type == TID_BOOL || type == TID_FLOAT) unit = 4;
    if (type == TID_DOUBLE) unit = 8;
    const size_t next = pos + hdr + ((size + 7) & ~7u);
    if (unit)
      for (size_t p = pos + hdr; p + unit <= next; p += unit) rev(p, unit);
    pos = next;
  }
  return f;
}

TEST(TMidasEventSwap, HostOrderDataAreLeftAlone) {
  for (bool bank32 : {false, true}) {
    Bytes area = dataArea(mixedBanks(), bank32);
    ASSERT_EQ(area[4], bank32 ? 0x11 : 0x01);
    GuardedEvent g(area);  // SetData converts when needed
    EXPECT_EQ(g.event.SwapBytes(false), 0);
    EXPECT_EQ(0, std::memcmp(g.buffer.data(), area.data(), area.size()));
  }
}

TEST(TMidasEventSwap, ForeignOrderIsConvertedIncludingPadding) {
  for (bool bank32 : {false, true}) {
    SCOPED_TRACE(bank32 ? "32-bit" : "16-bit");
    Bytes area = dataArea(mixedBanks(), bank32);
    // Padding with content shows that it is turned with the data.
    area[8 + (bank32 ? 12 : 8) + 6] = 0xaa;
    Bytes swapped = foreign(area, bank32);
    uint32_t flags;
    std::memcpy(&flags, &swapped[4], 4);
    EXPECT_EQ(flags, bank32 ? 0x11000000u : 0x01000000u);

    TMidasEvent e;
    fill(e, swapped);
    EXPECT_EQ(e.SwapBytes(false), 1);
    EXPECT_EQ(0, std::memcmp(e.GetData(), area.data(), area.size()));
    int len, type;
    void* p;
    ASSERT_EQ(e.FindBank("DBL0", &len, &type, &p), 1);
    double d;
    std::memcpy(&d, static_cast<char*>(p) + 8, 8);
    EXPECT_EQ(d, -1e300);

    // Forced on host-order data it gives the foreign image, and back.
    EXPECT_EQ(e.SwapBytes(true), 1);
    EXPECT_EQ(0, std::memcmp(e.GetData(), swapped.data(), swapped.size()));
    EXPECT_EQ(e.SwapBytes(false), 1);
    EXPECT_EQ(0, std::memcmp(e.GetData(), area.data(), area.size()));

    // SetData converts on arrival.
    GuardedEvent g(swapped);
    EXPECT_EQ(0, std::memcmp(g.buffer.data(), area.data(), area.size()));
  }
}

TEST(TMidasEventSwap, AgreesWithTheSynthesisersSwappedEncoding) {
  for (bool bank32 : {false, true}) {
    synth::Event ev;
    ev.bank32 = bank32;
    ev.banks = {synth::wordBank("W000", {1, 2, 3}), synth::doubleBank("D000", {1.0, 2.5}),
                synth::floatBank("F000", {0.5f}), synth::intBank("I000", {-5, 6, 7}),
                synth::byteBank("S000", synth::TID_STRING, {'h', 'i', 0})};
    Bytes host = synth::encodeDataArea(ev, false);
    Bytes swapped = synth::encodeDataArea(ev, true);
    GuardedEvent g(swapped);
    EXPECT_EQ(0, std::memcmp(g.buffer.data(), host.data(), host.size()));
  }
}

TEST(TMidasEventSwap, XmlDataAreNeverSwapped) {
  const std::string xml = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<odb></odb>\n";
  Bytes area(xml.begin(), xml.end());
  for (bool force : {false, true}) {
    TMidasEvent e;
    fill(e, area, 0x8000);
    EXPECT_EQ(e.SwapBytes(force), 1);
    EXPECT_EQ(std::string(e.GetData(), area.size()), xml);
  }
  // Seen from the other byte order ("mx?<").
  Bytes rev = area;
  std::reverse(rev.begin(), rev.begin() + 4);
  std::reverse(rev.begin() + 4, rev.begin() + 8);
  TMidasEvent e;
  fill(e, rev, 0x8001);
  EXPECT_EQ(e.SwapBytes(true), 1);
  EXPECT_EQ(0, std::memcmp(e.GetData(), rev.data(), rev.size()));
}

TEST(TMidasEventSwap, DamagedForeignBanksAreConvertedOnlyInsideTheArea) {
  Bytes area = dataArea({{"GOOD", TID_DWORD, dwords({0x01020304})}, {"LAST", TID_DOUBLE, Bytes(16, 1)}});
  Bytes swapped = foreign(area, false);
  // LAST claims 0xfff0 bytes (foreign order: high byte first).
  swapped[8 + 8 + 8 + 6] = 0xff;
  swapped[8 + 8 + 8 + 7] = 0xf0;
  // And the bank area claims far more than there is.
  swapped[0] = 0x7f;
  GuardedEvent g(swapped);
  int len, type;
  void* p;
  ASSERT_EQ(g.event.FindBank("GOOD", &len, &type, &p), 1);
  uint32_t v;
  std::memcpy(&v, p, 4);
  EXPECT_EQ(v, 0x01020304u);
  EXPECT_EQ(g.event.FindBank("LAST", &len, &type, &p), 0);
}

// ---- printing -----------------------------------------------------------------

TEST_F(UtcTime, PrintShowsTheHeaderAndTheRunLineOfBeginAndEndOfRun) {
  TMidasEvent e;
  fill(e, Bytes{'<', '?', 'x', 'm', 'l', ' ', 'v', 'e', 0}, 0x8000);
  e.GetEventHeader()->fTriggerMask = 0x2a;
  e.GetEventHeader()->fSerialNumber = 1234;
  e.GetEventHeader()->fTimeStamp = 1000000000;
  auto head = [](const char* id) {
    return std::string("Event start:\n  event id:       0x") + id + "\n" +
           "  trigger mask:   0x002a\n"
           "  serial number:    1234\n"
           "  time stamp:     1000000000, Sun Sep  9 01:46:40 2001\n"
           "  data size:           9\n";
  };
  EXPECT_EQ(printed(e, "a"), head("8000") + "Begin of run 1234\n");
  e.SetBankList();
  EXPECT_EQ(printed(e, "a"), head("8000") + "Begin of run 1234\n");
  e.GetEventHeader()->fEventId = 0x8001;
  EXPECT_EQ(printed(e, ""), head("8001") + "End of run 1234\n");
}

TEST_F(UtcTime, PrintWithoutABankListGivesTheHint) {
  TMidasEvent e;
  fill(e, dataArea({{"AAAA", TID_WORD, words({1})}}), 5);
  const std::string out = printed(e, "a");
  EXPECT_EQ(out,
            "Event start:\n"
            "  event id:       0x0005\n"
            "  trigger mask:   0x0000\n"
            "  serial number:       0\n"
            "  time stamp:     0, Thu Jan  1 00:00:00 1970\n"
            "  data size:          24\n"
            "TMidasEvent::Print: Use SetBankList() before Print() to print bank data\n");
  // An event with no banks keeps giving it after its (empty) list is built.
  TMidasEvent none;
  fill(none, dataArea({}), 5);
  EXPECT_EQ(none.SetBankList(), 0);
  EXPECT_NE(printed(none, "a").find("Use SetBankList() before Print()"), std::string::npos);
}

TEST_F(UtcTime, PrintBanksLaysOutTenElementsALine) {
  std::vector<uint16_t> w;
  for (int i = 0; i < 25; ++i) w.push_back(uint16_t(0x100 + i));
  Bytes wordData;
  for (uint16_t x : w) put16(wordData, x);
  TMidasEvent e;
  fill(e, dataArea({{"WRD0", TID_WORD, wordData},
                    {"DW00", TID_DWORD, dwords({0xdeadbeef, 1})},
                    {"FL00", TID_FLOAT, raw(std::vector<float>{1.5f, 0.3f})},
                    {"DB00", TID_DOUBLE, raw(std::vector<double>{0.1, -2})},
                    {"SH00", TID_SHORT, words({1})},
                    {"EMPT", TID_WORD, {}}}),
       3);
  ASSERT_EQ(e.SetBankList(), 6);
  const std::string all = printed(e, "a");
  const size_t at = all.find("Banks: ");
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(all.substr(at),
            "Banks: WRD0DW00FL00DB00SH00EMPT\n"
            "Bank WRD0, length     25, type  4\n"
            "0x0100 0x0101 0x0102 0x0103 0x0104 0x0105 0x0106 0x0107 0x0108 0x0109\n"
            "0x010a 0x010b 0x010c 0x010d 0x010e 0x010f 0x0110 0x0111 0x0112 0x0113\n"
            "0x0114 0x0115 0x0116 0x0117 0x0118 \n"
            "Bank DW00, length      2, type  6\n"
            "0xdeadbeef 0x00000001 \n"
            "Bank FL00, length      2, type  9\n"
            "1.5 0.30000001 \n"
            "Bank DB00, length      2, type 10\n"
            "0.1 -2 \n"
            "Bank SH00, length      1, type  5\n"
            "TMidasEvent::Print: Do not know how to print bank of type 5\n"
            "Bank EMPT, length      0, type  4\n"
            "\n");
  // Any other option: the bank lines only.
  const std::string brief = printed(e, "b");
  EXPECT_EQ(brief.substr(brief.find("Banks: ")),
            "Banks: WRD0DW00FL00DB00SH00EMPT\n"
            "Bank WRD0, length     25, type  4\n"
            "Bank DW00, length      2, type  6\n"
            "Bank FL00, length      2, type  9\n"
            "Bank DB00, length      2, type 10\n"
            "Bank SH00, length      1, type  5\n"
            "Bank EMPT, length      0, type  4\n");
  EXPECT_EQ(printed(e, "abc"), all);
  EXPECT_EQ(printed(e, nullptr), brief);
}

TEST_F(UtcTime, PrintTenElementsEndsTheLineTwice) {
  Bytes d;
  for (int i = 0; i < 10; ++i) put32(d, uint32_t(i));
  TMidasEvent e;
  fill(e, dataArea({{"TEN0", TID_DWORD, d}}), 3);
  e.SetBankList();
  const std::string out = printed(e, "a");
  EXPECT_EQ(out.substr(out.find("Bank TEN0")),
            "Bank TEN0, length     10, type  6\n"
            "0x00000000 0x00000001 0x00000002 0x00000003 0x00000004 0x00000005 0x00000006 "
            "0x00000007 0x00000008 0x00000009\n\n");
}

}  // namespace
