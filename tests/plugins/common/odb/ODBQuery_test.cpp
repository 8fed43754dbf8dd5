#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ODBQuery.h"
#include "OdbDocument.h"
#include "OdbPath.h"

namespace {

const char* kDump =
    "<?xml version=\"1.0\"?>\n<odb>\n"
    "  <dir name=\"D1\">\n"
    "    <dir name=\"D 2\">\n"
    "      <key name=\"Name\" type=\"STRING\">two words</key>\n"
    "      <keyarray name=\"K\" type=\"INT\" num_values=\"3\">\n"
    "        <value>10</value>\n        <value>-20</value>\n        <value>30</value>\n"
    "      </keyarray>\n"
    "    </dir>\n"
    "    <key name=\"K\" type=\"DOUBLE\">2.5</key>\n"
    "    <key name=\"Byte\" type=\"BYTE\">42</key>\n"
    "    <key name=\"Flag\" type=\"BOOL\">y</key>\n"
    "    <key name=\"Empty\" type=\"STRING\"></key>\n"
    "    <key name=\"Layout\" type=\"ARRAY\"></key>\n"
    "    <key name=\"Odd\" type=\"QUAD\">1</key>\n"
    "    <key name=\"Untyped\">1</key>\n"
    "    <keyarray name=\"W\" type=\"WORD\" num_values=\"2\"><value>65535</value><value>7</value></keyarray>\n"
    "    <keyarray name=\"DW\" type=\"DWORD\" num_values=\"2\"><value>4294967295</value><value>1</value></keyarray>\n"
    "    <keyarray name=\"S\" type=\"STRING\" num_values=\"3\"><value>a b</value><value/><value>c</value></keyarray>\n"
    "  </dir>\n</odb>\n";

// A dump of the same layout whose values differ, and one where the types do.
std::string variant(const std::string& from, const std::string& to) {
  std::string s = kDump;
  for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
    s.replace(at, from.size(), to);
  return s;
}

ODBQuery query(const std::string& path) {
  ODBQuery q;
  q.setODBPath(path);
  return q;
}

// Evaluates `q` on `text`; the storage stays, the dump goes.
bool on(ODBQuery& q, const std::string& text) {
  OdbDocument dump(text.c_str());
  return q.evaluate(dump.xpathContext());
}

template <typename T>
const T& as(const ODBQuery& q) {
  return *static_cast<const T*>(q.getValue());
}

TEST(OdbPath, TranslatesDirectoriesKeysAndArraySelections) {
  struct Case {
    const char* path;
    const char* xpath;
    bool whole;
    int index;
  };
  const Case cases[] = {
      {"/D1/D2/K[3]", "/odb/dir[@name=\"D1\"]/dir[@name=\"D2\"]/keyarray[@name=\"K\"]", false, 4},
      {"/D1/K[*]", "/odb/dir[@name=\"D1\"]/keyarray[@name=\"K\"]", true, 0},
      {"D1/K", "/odb/dir[@name=\"D1\"]/key[@name=\"K\"]", false, 0},
      {"/D1/K/", "/odb/dir[@name=\"D1\"]/dir[@name=\"K\"]", false, 0},
      {"//D1///K[0]", "/odb/dir[@name=\"D1\"]/keyarray[@name=\"K\"]", false, 1},
      {"\"/D 1/K\"", "/odb/dir[@name=\"D 1\"]/key[@name=\"K\"]", false, 0},
      {"\"/D1/K", "/odb/dir[@name=\"D1\"]/key[@name=\"K\"]", false, 0},
      {"/K[ 12x]", "/odb/keyarray[@name=\"K\"]", false, 13},
      {"/[3]", "/odb/keyarray[@name=\"[3]\"]", false, 0},  // the first character is never the "["
      {"/K]", "/odb/keyarray[@name=\"K]\"]", false, 0},
      {"/K[99999999999]", "/odb/keyarray[@name=\"K\"]", false, 2147483647},
      {"", "/odb", false, 0},
      {"///", "/odb", false, 0},
  };
  for (const Case& c : cases) {
    const OdbPath p = translateOdbPath(c.path);
    EXPECT_EQ(p.xpath, c.xpath) << c.path;
    EXPECT_EQ(p.wholeArray, c.whole) << c.path;
    EXPECT_EQ(p.index, c.index) << c.path;
  }
  EXPECT_EQ(translateOdbPath("\"/D 1/K\"").path, "/D 1/K");
  EXPECT_EQ(translateOdbPath("\"").path, "");
  EXPECT_EQ(translateOdbPath("///").segments, 0);
  EXPECT_EQ(translateOdbPath("/a/b/").segments, 2);
}

TEST(OdbPath, ASegmentOf127CharactersEndsTheTranslation) {
  const std::string ok(126, 'x'), tooLong(127, 'x');
  EXPECT_EQ(translateOdbPath("/D/" + ok).xpath, "/odb/dir[@name=\"D\"]/key[@name=\"" + ok + "\"]");
  EXPECT_EQ(translateOdbPath("/" + ok + "/K").segments, 2);
  const OdbPath cut = translateOdbPath("/D/" + tooLong + "/K[*]");
  EXPECT_EQ(cut.xpath, "/odb/dir[@name=\"D\"]");
  EXPECT_FALSE(cut.wholeArray);
  EXPECT_EQ(cut.segments, 1);
  EXPECT_EQ(translateOdbPath(tooLong).segments, 0);
}

TEST(OdbPath, LeadingIntegersHoldAtTheLimits) {
  EXPECT_EQ(odbLeadingInteger(" -17abc"), -17);
  EXPECT_EQ(odbLeadingInteger("+5"), 5);
  EXPECT_EQ(odbLeadingInteger("abc"), 0);
  EXPECT_EQ(odbLeadingInteger(nullptr), 0);
  EXPECT_EQ(odbLeadingInteger("99999999999999999999999"), INT64_MAX);
  EXPECT_EQ(odbLeadingInteger("-99999999999999999999999"), INT64_MIN);
}

TEST(ODBQuery, ReadsEachShapeWithItsTypes) {
  ODBQuery name = query("/D1/D 2/Name"), element = query("\"/D1/D 2/K[0]\""),
           whole = query("/D1/D 2/K[*]"), key = query("/D1/K"), byte = query("/D1/Byte"),
           flag = query("/D1/Flag"), words = query("/D1/W[*]"), dwords = query("/D1/DW[*]"),
           texts = query("/D1/S[*]"), empty = query("/D1/Empty");
  for (ODBQuery* q : {&name, &element, &whole, &key, &byte, &flag, &words, &dwords, &texts, &empty})
    ASSERT_TRUE(on(*q, kDump)) << q->getPath() << ": " << q->getError();
  EXPECT_EQ(as<std::string>(name), "two words");
  EXPECT_EQ(name.getValueType(), TARN_STRING);
  EXPECT_EQ(as<int32_t>(element), 10);
  EXPECT_EQ(element.getValueType(), TARN_INT);
  EXPECT_EQ(as<std::vector<int32_t>>(whole), (std::vector<int32_t>{10, -20, 30}));
  EXPECT_EQ(whole.getValueType(), TARN_INT_V);
  EXPECT_EQ(as<double>(key), 2.5);  // a key, not the array of the same name
  EXPECT_EQ(as<uint8_t>(byte), 52);  // the code of the character '4'
  EXPECT_EQ(byte.getValueType(), TARN_UINT8);
  EXPECT_TRUE(as<bool>(flag));
  EXPECT_EQ(as<std::vector<uint16_t>>(words), (std::vector<uint16_t>{65535, 7}));
  EXPECT_EQ(words.getValueType(), TARN_SHORT_V);
  EXPECT_EQ(as<std::vector<uint32_t>>(dwords), (std::vector<uint32_t>{4294967295u, 1}));
  EXPECT_EQ(dwords.getValueType(), TARN_INT_V);
  EXPECT_EQ(as<std::vector<std::string>>(texts), (std::vector<std::string>{"a b", "", "c"}));
  EXPECT_EQ(as<std::string>(empty), "");

  ODBQuery notArray = query("/D1/Name");
  EXPECT_FALSE(on(notArray, kDump));
  EXPECT_EQ(notArray.getError(), "ODBQuery: Could not resolve node for ODB path /D1/Name");
}

TEST(ODBQuery, FlagsReadNumbersOrMidasLetters) {
  ODBQuery flag = query("/D1/Flag");
  const std::pair<const char*, bool> texts[] = {{"y", true}, {"n", false}, {"1", true},
                                                {"0", false}, {" Y", true}, {"", false}};
  for (const auto& t : texts) {
    ASSERT_TRUE(on(flag, variant(">y</key>", std::string(">") + t.first + "</key>")));
    EXPECT_EQ(as<bool>(flag), t.second) << "'" << t.first << "'";
  }
}

TEST(ODBQuery, StorageKeepsItsAddressWhileTypeAndShapeStay) {
  ODBQuery q = query("/D1/D 2/K[*]");
  ASSERT_TRUE(on(q, kDump));
  const void* first = q.getValue();
  ASSERT_TRUE(on(q, variant(">30<", ">31<")));
  EXPECT_EQ(q.getValue(), first);
  EXPECT_EQ(as<std::vector<int32_t>>(q).back(), 31);

  // A new path keeps the storage until an evaluation finds another shape.
  q.setODBPath("/D1/D 2/K[2]");
  EXPECT_EQ(q.getValue(), first);
  ASSERT_TRUE(on(q, kDump));
  EXPECT_EQ(as<int32_t>(q), 30);
  EXPECT_EQ(q.getValueType(), TARN_INT);

  // An index beyond the array leaves the value as it was.
  q.setODBPath("/D1/D 2/K[7]");
  ASSERT_TRUE(on(q, kDump));
  EXPECT_EQ(as<int32_t>(q), 30);

  // A type change makes storage of the new type.
  q.setODBPath("/D1/K");
  ASSERT_TRUE(on(q, kDump));
  EXPECT_EQ(q.getValueType(), TARN_DOUBLE);
  EXPECT_EQ(as<double>(q), 2.5);
}

TEST(ODBQuery, FailuresSayWhyAndKeepOrDropTheStorageAsTheyMust) {
  ODBQuery q = query("/D1/K");
  ASSERT_TRUE(on(q, kDump));
  const void* storage = q.getValue();

  EXPECT_FALSE(on(q, "this is no XML <odb"));
  EXPECT_EQ(q.getError(), "ODBQuery: Could not resolve ODB path /D1/K");
  EXPECT_FALSE(on(q, "<odb/>"));
  EXPECT_EQ(q.getError(), "ODBQuery: Could not resolve node for ODB path /D1/K");
  EXPECT_EQ(q.getValue(), storage);  // kept through failed lookups
  EXPECT_EQ(as<double>(q), 2.5);

  // An unsupported type drops the storage, on every evaluation.
  for (int i = 0; i < 2; ++i) {
    EXPECT_FALSE(on(q, variant("type=\"DOUBLE\"", "type=\"ARRAY\"")));
    EXPECT_EQ(q.getError(), "MIDAS ODB type ARRAY not supported");
    EXPECT_EQ(q.getValue(), nullptr);
    EXPECT_EQ(q.getTypeMap(), nullptr);
  }
  const std::pair<const char*, const char*> unsupported[] = {
      {"/D1/Odd", "MIDAS ODB type  not supported"},
      {"/D1/Untyped", "MIDAS ODB type  not supported"},
      {"", "MIDAS ODB type  not supported"},  // "/odb" itself, which has no type
      {"/D1/Layout", "MIDAS ODB type ARRAY not supported"},
  };
  for (const auto& u : unsupported) {
    q.setODBPath(u.first);
    EXPECT_FALSE(on(q, kDump));
    EXPECT_EQ(q.getError(), u.second) << u.first;
  }

  ODBQuery fresh;
  EXPECT_FALSE(on(fresh, kDump));
  EXPECT_EQ(fresh.getError(), "ODBQuery: Could not resolve ODB path ");

  // Only elements are read as keys, whatever else an expression selects.
  OdbDocument dump(kDump);
  xmlNode* node = nullptr;
  EXPECT_EQ(odbFirstElement(dump.xpathContext(), "//@name", node), OdbLookup::NoNode);
  EXPECT_EQ(odbFirstElement(dump.xpathContext(), "count(//key)", node), OdbLookup::Unresolved);
  EXPECT_EQ(odbFirstElement(dump.xpathContext(), "/odb/[", node), OdbLookup::Unresolved);
  EXPECT_EQ(node, nullptr);
}

TEST(ODBQuery, OneOwnerOfTheStorage) {
  std::vector<ODBQuery> list(1);
  list[0].setODBPath("/D1/D 2/Name");
  ASSERT_TRUE(on(list[0], kDump));
  const void* storage = list[0].getValue();
  list.resize(50);  // moves every query
  EXPECT_EQ(list[0].getValue(), storage);
  EXPECT_EQ(as<std::string>(list[0]), "two words");

  ODBQuery copy = list[0];
  EXPECT_EQ(copy.getValue(), nullptr);
  EXPECT_EQ(copy.getXPath(), list[0].getXPath());
  ODBQuery moved = std::move(list[0]);
  EXPECT_EQ(moved.getValue(), storage);
  EXPECT_EQ(list[0].getValue(), nullptr);
  moved = copy;  // releases what it held
  EXPECT_EQ(moved.getValue(), nullptr);
}

}  // namespace
