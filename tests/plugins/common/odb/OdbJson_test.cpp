#include <gtest/gtest.h>

#include <libxml/tree.h>

#include <string>

#include "ODBQuery.h"
#include "OdbDocument.h"
#include "OdbDumpPairs.h"

namespace {

// What the plug-ins can see of a parsed dump: the elements, the attributes
// they read, and the texts of keys and values.
void canonical(xmlNode* e, std::string& out, int depth = 0) {
  for (; e; e = e->next) {
    if (e->type != XML_ELEMENT_NODE) continue;
    out += std::string(depth, ' ') + reinterpret_cast<const char*>(e->name);
    for (const char* a : {"name", "type", "num_values"}) {
      xmlChar* v = xmlGetProp(e, BAD_CAST a);
      if (v) out += std::string(" ") + a + "='" + reinterpret_cast<const char*>(v) + "'";
      xmlFree(v);
    }
    const std::string tag = reinterpret_cast<const char*>(e->name);
    if (tag == "key" || tag == "value") {
      out += e->children ? " children" : " empty";
      xmlChar* text = xmlNodeGetContent(e);
      out += std::string(" =") + reinterpret_cast<const char*>(text);
      xmlFree(text);
    }
    out += "\n";
    canonical(e->children, out, depth + 1);
  }
}

std::string canonical(const std::string& text) {
  OdbDocument d(text.c_str());
  std::string out = d.parsed() ? "" : "(not parsed)";
  d.complete();
  if (d.parsed()) canonical(xmlDocGetRootElement(d.document()), out);
  return out;
}

TEST(OdbJson, AJsonDumpGivesTheElementsOfItsXmlForm) {
  for (const odbtest::DumpPair& p : odbtest::dumpPairs()) {
    const std::string xml = canonical(p.xml);
    EXPECT_NE(xml, "(not parsed)");
    EXPECT_EQ(canonical(p.json), xml);
    OdbDocument json(p.json.c_str());
    EXPECT_EQ(json.textForm(), OdbForm::Json);
    for (const std::string& path : odbtest::allPaths()) {
      ODBQuery a, b;
      a.setODBPath(path);
      b.setODBPath(path);
      OdbDocument x(p.xml.c_str());
      EXPECT_EQ(a.evaluate(x.xpathContext()), b.evaluate(json.xpathContext())) << path;
      EXPECT_EQ(a.getError(), b.getError());
      EXPECT_EQ(a.getValueType(), b.getValueType()) << path;
    }
  }
}

TEST(OdbJson, PaddingAndBlanksAroundTheObjectAreNoPartOfIt) {
  const std::string json = odbtest::valuesOnly().json;
  const std::string padded = " \n\t" + json + "\n  " + std::string(7, '\0');
  OdbDocument d(padded.c_str());
  EXPECT_TRUE(d.parsed());
  EXPECT_EQ(canonical(padded), canonical(odbtest::valuesOnly().xml));
}

TEST(OdbJson, TextThatIsNoWellFormedObjectGivesNoDocument) {
  const std::string good = synth::odbJson(1, 2, 3, 4);
  const std::string broken[] = {
      "{",
      "{\"a\": }",
      "{\"a\": 1} trailing",
      "{\"a\": [1, 2}",
      "{\"a\": 1,}",
      "{'a': 1}",
      "{\"a\": \"\xff\xfe\"}",  // not UTF-8
      "{\"a\": 1e999999}",      // beyond every floating-point type
      good.substr(0, good.size() / 2),
      std::string(100000, '{'),
      "{\"a\":" + std::string(300, '[') + std::string(300, ']') + "}",
  };
  for (const std::string& text : broken) {
    OdbDocument d(text.c_str());
    EXPECT_FALSE(d.parsed()) << text.substr(0, 40);
    EXPECT_EQ(d.textForm(), OdbForm::Json);
    ODBQuery q;
    q.setODBPath("/a");
    EXPECT_FALSE(q.evaluate(d.xpathContext()));
  }
  // Deep but within the limit, and integers beyond every integer type: read, no harm.
  std::string deep = "{";
  for (int i = 0; i < 200; ++i) deep += "\"d\": {";
  deep += "\"k\": [[1], {\"x\": 2}, 1e308, -1e308, 123456789012345678901234567890]" +
          std::string(201, '}');
  OdbDocument d(deep.c_str());
  ASSERT_TRUE(d.parsed());
  std::string path;
  for (int i = 0; i < 200; ++i) path += "/d";
  ODBQuery q;
  q.setODBPath(path + "/k[*]");
  EXPECT_TRUE(q.evaluate(d.xpathContext()));
  EXPECT_EQ(static_cast<std::vector<std::string>*>(q.getValue())->size(), 5u);
}

// A few MB, as a large experiment's dump: the same elements as its XML form.
TEST(OdbJson, ABigDumpReadsWhole) {
  std::string xml = "<odb>", json = "{";
  for (int d = 0; d < 400; ++d) {
    const std::string dir = "Dir " + std::to_string(d);
    xml += "<dir name=\"" + dir + "\">";
    json += std::string(d ? "," : "") + "\"" + dir + "\": {";
    for (int k = 0; k < 100; ++k) {
      const std::string key = "Key " + std::to_string(k);
      xml += "<keyarray name=\"" + key + "\" type=\"DWORD\" num_values=\"4\">";
      json += std::string(k ? "," : "") + "\"" + key + "/key\": {\"type\": 6, \"num_values\": 4}, \"" + key + "\": [";
      for (int v = 0; v < 4; ++v) {
        xml += "<value>" + std::to_string(d * 1000 + k * 4 + v) + "</value>";
        char hex[16];
        std::snprintf(hex, sizeof hex, "\"0x%08x\"", d * 1000 + k * 4 + v);
        json += std::string(v ? "," : "") + hex;
      }
      xml += "</keyarray>";
      json += "]";
    }
    xml += "</dir>";
    json += "}";
  }
  xml += "</odb>";
  json += "}";
  ASSERT_GT(json.size(), 2000000u);
  EXPECT_EQ(canonical(json), canonical(xml));
}

}  // namespace
