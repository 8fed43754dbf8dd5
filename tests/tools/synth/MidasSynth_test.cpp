// The synthesiser is the reference that reader tests trust, so its bytes are
// checked against layouts worked out by hand, and whole runs against a bank
// walk written here the way a reader would do it.
#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/xpath.h>

#include <algorithm>
#include <stdexcept>

#include "MidasSynth.h"
#include "SynthFiles.h"
#include "TarnTest.h"

using namespace synth;
using namespace synthtest;

namespace {

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

uint32_t read32(const Bytes& b, size_t at, bool swapped) {
  const uint32_t v = get32(b, at);
  return swapped ? __builtin_bswap32(v) : v;
}

uint16_t get16(const Bytes& b, size_t at, bool swapped = false) {
  uint16_t v = uint16_t(b[at] | b[at + 1] << 8);
  return swapped ? __builtin_bswap16(v) : v;
}

// What a reader recovers from a data area: the banks, with their data put
// back in little-endian order when the flags word says the area is swapped.
// Also checks that padding is zero and that banks fill the bank area exactly.
std::vector<Bank> walkBanks(const Bytes& area, bool& wasSwapped) {
  std::vector<Bank> banks;
  const uint32_t flagsAsRead = get32(area, 4);
  wasSwapped = flagsAsRead >= 0x10000;
  const uint32_t size = read32(area, 0, wasSwapped);
  const bool b32 = read32(area, 4, wasSwapped) & 0x10;
  EXPECT_EQ(size + 8, area.size());
  size_t at = 8;
  while (at < 8 + size) {
    Bank b;
    b.name.assign(area.begin() + at, area.begin() + at + 4);
    const size_t hdr = b32 ? 12 : 8;
    b.type = b32 ? read32(area, at + 4, wasSwapped) : get16(area, at + 4, wasSwapped);
    const uint32_t n = b32 ? read32(area, at + 8, wasSwapped) : get16(area, at + 6, wasSwapped);
    const size_t next = at + hdr + ((n + 7) & ~7u);
    Bytes unit(area.begin() + at + hdr, area.begin() + next);
    const size_t u = elementSize(b.type);
    if (wasSwapped && u > 1)
      for (size_t i = 0; i < unit.size(); i += u) std::reverse(unit.begin() + i, unit.begin() + i + u);
    b.data.assign(unit.begin(), unit.begin() + n);
    for (size_t i = n; i < unit.size(); ++i) EXPECT_EQ(unit[i], 0) << b.name << " padding";
    banks.push_back(b);
    at = next;
  }
  EXPECT_EQ(at, 8 + size);
  return banks;
}

void expectSameBanks(const std::vector<Bank>& want, const std::vector<Bank>& got) {
  ASSERT_EQ(want.size(), got.size());
  for (size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(want[i].name, got[i].name);
    EXPECT_EQ(want[i].type, got[i].type) << want[i].name;
    EXPECT_EQ(want[i].data, got[i].data) << want[i].name;
  }
}

Event smallEvent(bool bank32) {
  Event e;
  e.id = 5;
  e.triggerMask = 0x0102;
  e.serial = 0x01020304;
  e.timeStamp = 0x0a0b0c0d;
  e.bank32 = bank32;
  e.banks = {wordBank("ABCD", {0x1234, 0x5678}), byteBank("PADX", TID_BYTE, {1, 2, 3, 4, 5}),
             dwordBank("NEXT", {0xdeadbeef})};
  return e;
}

const Bytes kSmallHeader = {0x05, 0x00, 0x02, 0x01, 0x04, 0x03, 0x02, 0x01, 0x0d, 0x0c, 0x0b, 0x0a};

}  // namespace

TEST(SynthEncoding, SixteenBitBankHeadersAndPadding) {
  const Bytes want = cat({kSmallHeader, {56, 0, 0, 0},         // data size
                          {48, 0, 0, 0}, {0x01, 0, 0, 0},      // bank area header
                          text("ABCD"), {4, 0, 4, 0}, {0x34, 0x12, 0x78, 0x56, 0, 0, 0, 0},
                          text("PADX"), {1, 0, 5, 0}, {1, 2, 3, 4, 5, 0, 0, 0},
                          text("NEXT"), {6, 0, 4, 0}, {0xef, 0xbe, 0xad, 0xde, 0, 0, 0, 0}});
  EXPECT_EQ(encodeEvent(smallEvent(false)), want);
}

TEST(SynthEncoding, ThirtyTwoBitBankHeaders) {
  const Bytes want = cat({kSmallHeader, {68, 0, 0, 0}, {60, 0, 0, 0}, {0x11, 0, 0, 0},
                          text("ABCD"), {4, 0, 0, 0, 4, 0, 0, 0}, {0x34, 0x12, 0x78, 0x56, 0, 0, 0, 0},
                          text("PADX"), {1, 0, 0, 0, 5, 0, 0, 0}, {1, 2, 3, 4, 5, 0, 0, 0},
                          text("NEXT"), {6, 0, 0, 0, 4, 0, 0, 0}, {0xef, 0xbe, 0xad, 0xde, 0, 0, 0, 0}});
  EXPECT_EQ(encodeEvent(smallEvent(true)), want);
}

TEST(SynthEncoding, SwappedDataAreaKeepsHostOrderHeader) {
  Event e = smallEvent(false);
  e.banks = {byteBank("ODDW", TID_WORD, {1, 2, 3}),  // units run into the padding
             doubleBank("DBLE", {1.0}), byteBank("PADX", TID_BYTE, {1, 2, 3, 4, 5})};
  const Bytes want16 = cat({kSmallHeader, {56, 0, 0, 0}, {0, 0, 0, 48}, {0, 0, 0, 0x01},
                            text("ODDW"), {0, 4, 0, 3}, {2, 1, 0, 3, 0, 0, 0, 0},
                            text("DBLE"), {0, 10, 0, 8}, {0x3f, 0xf0, 0, 0, 0, 0, 0, 0},
                            text("PADX"), {0, 1, 0, 5}, {1, 2, 3, 4, 5, 0, 0, 0}});
  EXPECT_EQ(encodeEvent(e, true), want16);

  e.bank32 = true;
  e.banks = {floatBank("FLTS", {1.0f}), shortBank("SHRT", {-2})};
  const Bytes want32 = cat({kSmallHeader, {48, 0, 0, 0}, {0, 0, 0, 40}, {0, 0, 0, 0x11},
                            text("FLTS"), {0, 0, 0, 9, 0, 0, 0, 4}, {0x3f, 0x80, 0, 0, 0, 0, 0, 0},
                            text("SHRT"), {0, 0, 0, 5, 0, 0, 0, 2}, {0xff, 0xfe, 0, 0, 0, 0, 0, 0}});
  EXPECT_EQ(encodeEvent(e, true), want32);
}

TEST(SynthEncoding, RawAndEmptyDataAreas) {
  Event e;
  e.id = 0x8000;
  e.serial = 9;
  e.raw = text("<?xml version=\"1.0\"?><odb/>");
  for (bool swapped : {false, true}) {
    const Bytes b = encodeEvent(e, swapped);
    ASSERT_EQ(b.size(), 16 + e.raw.size());
    EXPECT_EQ(get32(b, 12), e.raw.size());  // no terminating NUL counted
    EXPECT_TRUE(std::equal(e.raw.begin(), e.raw.end(), b.begin() + 16));
  }
  Event none;
  EXPECT_EQ(encodeDataArea(none), (Bytes{0, 0, 0, 0, 1, 0, 0, 0}));
  EXPECT_EQ(encodeDataArea(none, true), (Bytes{0, 0, 0, 0, 0, 0, 0, 1}));
  none.banks = {dwordBank("EMPT", {})};
  EXPECT_EQ(encodeDataArea(none), cat({{8, 0, 0, 0, 1, 0, 0, 0}, text("EMPT"), {6, 0, 0, 0}}));
}

TEST(SynthEncoding, RejectsBanksTheHeaderCannotHold) {
  Event e;
  e.banks = {dwordBank("ABC", {1})};
  EXPECT_THROW(encodeDataArea(e), std::invalid_argument);
  e.banks = {byteBank("BIGB", TID_BYTE, Bytes(70000, 7))};
  EXPECT_THROW(encodeDataArea(e), std::invalid_argument);
  e.bank32 = true;
  const Bytes b = encodeDataArea(e);
  EXPECT_EQ(get32(b, 0), 12u + 70000);
  EXPECT_EQ(get32(b, 16), 70000u);
}

TEST(SynthBanks, ElementsAreLittleEndian) {
  EXPECT_EQ(shortBank("S", {-1, 0x0102}).data, (Bytes{0xff, 0xff, 0x02, 0x01}));
  EXPECT_EQ(intBank("I", {-2}).data, (Bytes{0xfe, 0xff, 0xff, 0xff}));
  EXPECT_EQ(floatBank("F", {-2.5f}).data, (Bytes{0, 0, 0x20, 0xc0}));
  EXPECT_EQ(doubleBank("D", {-0.5}).data, (Bytes{0, 0, 0, 0, 0, 0, 0xe0, 0xbf}));
  EXPECT_EQ(boolBank("B", {true, false}).data, (Bytes{1, 0, 0, 0, 0, 0, 0, 0}));
  const Bank s = stringBank("T", "hi");
  EXPECT_EQ(s.type, TID_STRING);
  EXPECT_EQ(s.data, (Bytes{'h', 'i', 0}));
}

TEST(SynthRun, ShapeOfARun) {
  RunSpec spec;
  spec.run = 42;
  spec.events = 7;
  const std::vector<Event> run = makeRun(spec);
  ASSERT_EQ(run.size(), 9u);
  EXPECT_EQ(run.front().id, 0x8000);
  EXPECT_EQ(run.front().serial, 42u);
  EXPECT_EQ(run.back().id, 0x8001);
  EXPECT_EQ(run.back().serial, 42u);
  for (const Event* e : {&run.front(), &run.back()}) {
    ASSERT_GT(e->raw.size(), 5u);
    EXPECT_EQ(std::string(e->raw.begin(), e->raw.begin() + 5), "<?xml");
    EXPECT_NE(e->raw.back(), 0);
  }
  std::vector<uint32_t> types;
  for (size_t i = 1; i + 1 < run.size(); ++i) {
    const Event& e = run[i];
    EXPECT_EQ(e.serial, i - 1);
    EXPECT_EQ(e.id, 1 + (i - 1) % 3);
    EXPECT_EQ(e.triggerMask, 1u << (e.id - 1));
    EXPECT_GT(e.timeStamp, run[i - 1].timeStamp);
    EXPECT_FALSE(e.banks.empty());
    for (const Bank& b : e.banks) {
      types.push_back(b.type);
      if (b.name == "PAD5") {
        EXPECT_EQ(b.data.size(), 5u);
      }
      const size_t u = std::max<size_t>(elementSize(b.type), 1);
      EXPECT_EQ(b.data.size() % u, 0u) << b.name;
    }
  }
  EXPECT_GT(run.back().timeStamp, run[run.size() - 2].timeStamp);
  for (uint32_t t : {TID_BYTE, TID_CHAR, TID_WORD, TID_SHORT, TID_DWORD, TID_INT, TID_BOOL,
                     TID_FLOAT, TID_DOUBLE, TID_STRING})
    EXPECT_NE(std::find(types.begin(), types.end(), t), types.end()) << "type " << t;
}

TEST(SynthRun, DeterministicAndSeeded) {
  auto bytes = [](const RunSpec& s) {
    Bytes out;
    for (const Event& e : makeRun(s)) {
      const Bytes b = encodeEvent(e, s.swapped);
      out.insert(out.end(), b.begin(), b.end());
    }
    return out;
  };
  RunSpec a;
  a.events = 20;
  a.seed = 5;
  EXPECT_EQ(bytes(a), bytes(a));
  RunSpec b = a;
  b.seed = 6;
  EXPECT_NE(bytes(a), bytes(b));
  b = a;
  b.run = 2;
  EXPECT_NE(bytes(a), bytes(b));

  // Any event can be made alone, as a streaming writer does.
  const std::vector<Event> run = makeRun(a);
  EXPECT_EQ(encodeEvent(makeEvent(a, 13)), encodeEvent(run[14]));
  EXPECT_EQ(encodeEvent(makeEndOfRun(a)), encodeEvent(run.back()));
  EXPECT_EQ(run.front().timeStamp, runStartTime(a));
}

TEST(SynthRun, ReaderWalkRecoversBanksInBothOrders) {
  for (bool bank32 : {false, true}) {
    RunSpec spec;
    spec.events = 12;
    spec.bank32 = bank32;
    for (const Event& e : makeRun(spec)) {
      if (!e.raw.empty()) {
        EXPECT_EQ(encodeDataArea(e, true), e.raw);
        continue;
      }
      EXPECT_EQ(e.bank32, bank32);
      for (bool swapped : {false, true}) {
        bool seen = false;
        expectSameBanks(e.banks, walkBanks(encodeDataArea(e, swapped), seen));
        EXPECT_EQ(seen, swapped);
      }
    }
  }
}

TEST(SynthOdb, DumpParsesAndHoldsTheRun) {
  const std::string xml = odbXml(77, 1234, 1700000000, 1700000100);
  xmlDocPtr doc = xmlParseDoc(reinterpret_cast<const xmlChar*>(xml.c_str()));
  ASSERT_NE(doc, nullptr);
  xmlXPathContextPtr ctx = xmlXPathNewContext(doc);
  auto value = [&](const std::string& xpath) {
    std::string out = "<missing>";
    xmlXPathObjectPtr r = xmlXPathEvalExpression(reinterpret_cast<const xmlChar*>(xpath.c_str()), ctx);
    if (r && r->nodesetval && r->nodesetval->nodeNr > 0) {
      xmlChar* t = xmlNodeGetContent(r->nodesetval->nodeTab[0]);
      out = t ? reinterpret_cast<char*>(t) : "";
      xmlFree(t);
    }
    xmlXPathFreeObject(r);
    return out;
  };
  EXPECT_EQ(value("/odb/dir[@name=\"Runinfo\"]/key[@name=\"Run number\"]"), "77");
  EXPECT_EQ(value("/odb/dir[@name=\"Runinfo\"]/key[@name=\"State\"]"), "1");
  EXPECT_EQ(value("/odb/dir[@name=\"Runinfo\"]/key[@name=\"Stop time binary\"]"), "1700000100");
  EXPECT_EQ(value("/odb/dir[@name=\"Runinfo\"]/key[@name=\"Start time\"]"), "Tue Nov 14 22:13:20 2023");
  EXPECT_EQ(value("/odb/dir[@name=\"Equipment\"]/dir[@name=\"Trigger\"]/dir[@name=\"Statistics\"]"
                  "/key[@name=\"Events sent\"]"),
            "1234");
  EXPECT_EQ(value("/odb/dir[@name=\"Equipment\"]/dir[@name=\"Trigger\"]/dir[@name=\"Settings\"]"
                  "/keyarray[@name=\"TDC window\"]/value[2]"),
            "400");
  EXPECT_EQ(value("//keyarray[@name=\"Channel names\"]/value[3]"), "veto");
  xmlXPathFreeContext(ctx);
  xmlFreeDoc(doc);

  const Event bor = beginOfRun(3, 1700000000);
  EXPECT_EQ(std::string(bor.raw.begin(), bor.raw.end()), odbXml(3, 0, 1700000000, 0));
  EXPECT_NE(std::string(bor.raw.begin(), bor.raw.end()).find("<key name=\"State\" type=\"INT\">3</key>"),
            std::string::npos);
}

TEST(SynthWrite, PlainAndGzipHoldTheEncodedEvents) {
  tarntest::TempDir dir;
  RunSpec spec;
  spec.events = 30;
  spec.swapped = true;
  const std::vector<Event> run = makeRun(spec);
  Bytes want;
  for (const Event& e : run) {
    const Bytes b = encodeEvent(e, true);
    want.insert(want.end(), b.begin(), b.end());
  }
  std::string error;
  ASSERT_TRUE(writeRun(dir.path() + "/r.mid", run, true, Damage::None, error)) << error;
  EXPECT_EQ(readFile(dir.path() + "/r.mid"), want);

  ASSERT_TRUE(writeRun(dir.path() + "/a.mid.gz", run, true, Damage::None, error)) << error;
  ASSERT_TRUE(writeRun(dir.path() + "/b.mid.gz", run, true, Damage::None, error)) << error;
  const Bytes gz = readFile(dir.path() + "/a.mid.gz");
  ASSERT_GT(gz.size(), 10u);
  EXPECT_EQ(gz[0], 0x1f);
  EXPECT_EQ(gz[1], 0x8b);
  EXPECT_EQ(get32(gz, 4), 0u);  // no modification time
  EXPECT_LT(gz.size(), want.size());
  EXPECT_EQ(gz, readFile(dir.path() + "/b.mid.gz"));
  EXPECT_EQ(gunzip(dir.path() + "/a.mid.gz"), want);
}

TEST(SynthWrite, DamageOfTheLastEvent) {
  tarntest::TempDir dir;
  RunSpec spec;
  spec.events = 3;
  const std::vector<Event> run = makeRun(spec);
  Bytes whole;
  size_t lastStart = 0;
  for (const Event& e : run) {
    lastStart = whole.size();
    const Bytes b = encodeEvent(e);
    whole.insert(whole.end(), b.begin(), b.end());
  }
  const uint32_t lastSize = get32(whole, lastStart + 12);
  const Bytes before(whole.begin(), whole.begin() + lastStart);
  auto written = [&](Damage d) {
    std::string error;
    EXPECT_TRUE(writeRun(dir.path() + "/d.mid", run, false, d, error)) << error;
    return readFile(dir.path() + "/d.mid");
  };
  auto prefixOk = [&](const Bytes& b) { return std::equal(before.begin(), before.end(), b.begin()); };

  Bytes b = written(Damage::TruncatedHeader);
  EXPECT_EQ(b.size(), lastStart + 8);
  EXPECT_TRUE(prefixOk(b));

  b = written(Damage::TruncatedData);
  EXPECT_EQ(b.size(), lastStart + 16 + lastSize / 2);
  EXPECT_TRUE(std::equal(b.begin(), b.end(), whole.begin()));

  b = written(Damage::ZeroSize);
  ASSERT_EQ(b.size(), lastStart + 16);
  EXPECT_TRUE(prefixOk(b));
  EXPECT_EQ(get16(b, lastStart), 0x8001);
  EXPECT_EQ(get32(b, lastStart + 12), 0u);

  b = written(Damage::OversizeData);
  ASSERT_EQ(b.size(), whole.size());
  EXPECT_EQ(get32(b, lastStart + 12), 1048577u);
  std::copy(whole.begin() + lastStart + 12, whole.begin() + lastStart + 16, b.begin() + lastStart + 12);
  EXPECT_EQ(b, whole);  // nothing else changed
}

TEST(SynthWrite, Failures) {
  tarntest::TempDir dir;
  std::string error;
  const std::vector<Event> run = makeRun(RunSpec{});
  EXPECT_FALSE(writeRun(dir.path() + "/no/such/dir/r.mid", run, false, Damage::None, error));
  EXPECT_NE(error.find("No such file"), std::string::npos) << error;
  error.clear();
  EXPECT_FALSE(writeRun(dir.path() + "/no/such/dir/r.mid.gz", run, false, Damage::None, error));
  EXPECT_FALSE(error.empty());
  error.clear();
  EXPECT_FALSE(writeRun(dir.path() + "/e.mid", {}, false, Damage::ZeroSize, error));
  EXPECT_FALSE(error.empty());
  error.clear();
  Event bad;
  bad.banks = {dwordBank("TOOLONG", {1})};
  EXPECT_FALSE(writeRun(dir.path() + "/b.mid", {bad}, false, Damage::None, error));
  EXPECT_NE(error.find("TOOLONG"), std::string::npos) << error;
}
