#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "../common/odb/OdbDumpPairs.h"
#include "../common/odb/OdbExampleRun.h"
#include "MidasSynth.h"
#include "TarnTest.h"
#include "ValueText.h"

namespace {

// Takes the type of the output that feeds it, as a host's receiver does, and
// counts how often it is told; keeps each value as type and text.
class Receiver : public TarnBase {
 public:
  Receiver() : TarnBase(nullptr, "receiver") {
    inputs.push_back(Input("value", static_cast<Handler>(&Receiver::take), TARN_OBJECT, ""));
  }
  void SetSender(int input, TarnBase* sender, int output) override {
    TarnBase::SetSender(input, sender, output);
    ++told;
    inputs[0].type = sender->outputs[output].type;
  }
  void take(void* v) {
    std::ostringstream text;
    tarn_write_value(text, inputs[0].type, v);
    got.push_back(std::to_string(inputs[0].type) + ":" + text.str());
  }
  int told = 0;
  std::vector<std::string> got;
};

const std::string kSettings = "/Equipment/Trigger/Settings/";

// A dump with one extra directory "/T" holding the given keys.
std::string withKeys(const std::string& keys) {
  std::string xml = synth::odbXml(9, 100);
  return xml.insert(xml.rfind("</odb>"), "<dir name=\"T\">" + keys + "</dir>\n");
}

class OdbExtractorTest : public ::testing::Test {
 protected:
  OdbExtractorTest() {
    tarntest::CapturedStdout quiet;
    node.reset(new tarntest::Node("OdbExtractor", "x"));
    extractor = node->get();
    EXPECT_EQ(quiet.text(), "x instantiated\n");
    extractor->Init();
    EXPECT_TRUE(extractor->AddReceiver(0, &rx, 0));
  }
  // Sets the path, sends the dump, and returns what arrived; `said` gets the messages.
  std::vector<std::string> extract(const std::string& path, const std::string& xml,
                                   std::string* said = nullptr) {
    rx.got.clear();
    EXPECT_TRUE(extractor->SetInput("path", path));
    tarntest::CapturedStdout out;
    extractor->SetInput(0, const_cast<char*>(xml.c_str()));
    const std::string text = out.text();
    if (said)
      *said = text;
    else
      EXPECT_EQ(text, "") << path;
    return rx.got;
  }
  using List = std::vector<std::string>;

  std::unique_ptr<tarntest::Node> node;
  TarnBase* extractor;
  Receiver rx;
};

TEST_F(OdbExtractorTest, TypesOfSingleValuesAndWholeArrays) {
  const std::string xml = synth::odbXml(9, 100, 0, 1700000100);
  EXPECT_EQ(extract("/Runinfo/Run number", xml), List{"7:9"});
  EXPECT_EQ(extract("/Runinfo/Stop time binary", xml), List{"6:1700000100"});
  EXPECT_EQ(extract(kSettings + "Gate width", xml), List{"9:2.5"});
  EXPECT_EQ(extract("/Equipment/Trigger/Statistics/Events sent", xml), List{"10:100"});
  EXPECT_EQ(extract("/Experiment/Edit on start/Write data", xml), List{"8:1"});
  EXPECT_EQ(extract("\"/Logger/Data dir\"", xml), List{"19:/data/synth runs"});
  EXPECT_EQ(extract("/Experiment/Debug level", xml), List{"19:42"});  // BYTE goes out as its text
  EXPECT_EQ(extract(kSettings + "TDC window[*]", xml), List{"21:-200  400   25 "});
  EXPECT_EQ(extract(kSettings + "Channel mask[*]", xml), List{"21:  -1    0  255 "});
  EXPECT_EQ(extract(kSettings + "Gains[*]", xml), List{"24:   1  1.5 0.75    2 "});
  EXPECT_EQ(extract(kSettings + "Calibration[*]", xml), List{"25: 0.5 -1.25 0.003 "});
  EXPECT_EQ(extract(kSettings + "Enabled channels[*]", xml), List{"23:   1    0    1    1 "});
  // An empty value element contributes nothing to the list.
  EXPECT_EQ(extract(kSettings + "Comments[*]", xml), List{"26:first shift beam on target "});
  EXPECT_EQ(extract(kSettings + "Channel names[0]", xml), List{"19:left"});
  EXPECT_EQ(extract(kSettings + "Channel names[2]", xml), List{"19:veto"});
  EXPECT_EQ(extract(kSettings + "Channel names[2]", xml), List{"19:veto"});  // and again
  EXPECT_EQ(extract("/Logger/Write data", xml), List{"8:0"});
  EXPECT_EQ(extract("/Runinfo/Start time", xml), List{});  // an empty key sends nothing
}

TEST_F(OdbExtractorTest, FlagsAreTrueOnlyForALowerCaseYAndNumbersNeverOverflow) {
  const std::string xml = withKeys(
      "<key name=\"a\" type=\"BOOL\">y</key><key name=\"b\" type=\"BOOL\">Y</key>"
      "<key name=\"c\" type=\"BOOL\">1</key><keyarray name=\"l\" type=\"BOOL\" num_values=\"3\">"
      "<value>n</value><value>y</value><value>1</value></keyarray>"
      "<key name=\"big\" type=\"DWORD\">4294967295</key><key name=\"neg\" type=\"DWORD\">-1</key>"
      "<key name=\"huge\" type=\"INT\">99999999999</key><key name=\"junk\" type=\"INT\">12abc</key>"
      "<key name=\"f\" type=\"FLOAT\">1e300</key><key name=\"t\" type=\"QUAD\">x</key>");
  const std::pair<const char*, const char*> cases[] = {
      {"/T/a", "8:1"},  {"/T/b", "8:0"},          {"/T/c", "8:0"},
      {"/T/l[*]", "23:   0    1    0 "},
      {"/T/big", "6:4294967295"},  // DWORD keeps its full range
      {"/T/neg", "6:4294967295"},  {"/T/huge", "7:2147483647"}, {"/T/junk", "7:12"},
      {"/T/f", "9:inf"},           {"/T/t", "19:x"},
  };
  for (const auto& c : cases) EXPECT_EQ(extract(c.first, xml), List{c.second}) << c.first;
}

TEST_F(OdbExtractorTest, OnlyATypeChangeTellsTheReceiversAgain) {
  const std::string xml = synth::odbXml(9, 100);
  const int connected = rx.told;
  extract("/Runinfo/Run number", xml);
  extract("/Runinfo/State", xml);
  EXPECT_EQ(rx.told, connected + 1);
  extract("/Runinfo/Start time binary", xml);
  EXPECT_EQ(rx.told, connected + 2);
  extract(kSettings + "TDC window[*]", xml);
  extract(kSettings + "Channel mask[*]", xml);  // DWORD lists are int lists too
  EXPECT_EQ(rx.told, connected + 3);
  EXPECT_EQ(extractor->outputs[0].type, TARN_INT_V);
}

TEST_F(OdbExtractorTest, WhatIsNotThereIsNotReadAndSaysWhy) {
  const std::string xml = withKeys(
      "<key name=\"untyped\">5</key>"
      "<keyarray name=\"short\" type=\"INT\" num_values=\"3\"><value>1</value><value>2</value></keyarray>"
      "<keyarray name=\"nocount\" type=\"INT\"><value>1</value></keyarray>");
  const std::string d = "/odb/dir[@name=\"T\"]";
  const std::pair<std::string, std::string> cases[] = {
      {"/T/missing", "x: no ODB key at " + d + "/key[@name=\"missing\"], nothing sent\n"},
      {"/T/untyped", "x: the ODB key at " + d + "/key[@name=\"untyped\"] has no type, nothing sent\n"},
      {"/T/short[5]",
       "x: no value at " + d + "/keyarray[@name=\"short\"]/value[6], nothing sent\n"},
      {"/T/short[*]", "x: no value at " + d +
                          "/keyarray[@name=\"short\"]/value[3] of num_values 3, nothing sent\n"},
      {"/T/nocount[*]",
       "x: the ODB key at " + d + "/keyarray[@name=\"nocount\"] has no num_values, nothing sent\n"},
  };
  for (const auto& c : cases) {
    std::string said;
    EXPECT_EQ(extract(c.first, xml, &said), List{}) << c.first;
    EXPECT_EQ(said, c.second);
  }
  std::string said;
  EXPECT_EQ(extract("/T/short[1]", "<odb><unclosed></odb>", &said), List{});
  EXPECT_EQ(said, "x: the ODB dump is not well-formed XML, nothing sent\n");
}

TEST_F(OdbExtractorTest, APathWithoutASegmentKeepsTheKeyButNotTheElement) {
  std::string said;
  EXPECT_EQ(extract("", synth::odbXml(1, 0), &said), List{});
  EXPECT_EQ(said, "x: no ODB path set, nothing sent\n");
  const std::string xml = synth::odbXml(1, 0);
  EXPECT_EQ(extract(kSettings + "Channel names[1]", xml), List{"19:right"});
  // The key expression stays; without the element step the array's own text
  // nodes (its indentation) go out one by one.
  const List whole = extract("//", xml);
  ASSERT_FALSE(whole.empty());
  EXPECT_EQ(whole[0].substr(0, 4), "19:\n");
  EXPECT_EQ(extract(std::string(127, 'k'), xml), whole);
}

TEST_F(OdbExtractorTest, AJsonDumpSendsWhatItsXmlFormSends) {
  for (const odbtest::DumpPair& p : odbtest::dumpPairs()) {
    for (const std::string& path : odbtest::allPaths()) {
      std::string saidXml, saidJson;
      const List xml = extract(path, p.xml, &saidXml);
      EXPECT_EQ(extract(path, p.json, &saidJson), xml) << path;
      EXPECT_EQ(saidJson, saidXml) << path;
    }
  }
  std::string said;
  EXPECT_EQ(extract("/Runinfo/Run number", "{\"Runinfo\": {\"Run number\": 1", &said), List{});
  EXPECT_EQ(said, "x: the ODB dump is not well-formed JSON, nothing sent\n");
  EXPECT_EQ(extract("/Runinfo/Run number", "<odb><dir name=\"Runinfo\">", &said), List{});
  EXPECT_EQ(said, "x: the ODB dump is not well-formed XML, nothing sent\n");
}

TEST_F(OdbExtractorTest, PortsAndDescriptions) {
  EXPECT_EQ(extractor->description, "Extract a value from Midas ODB string");
  std::string ports;
  for (const auto& in : extractor->inputs) ports += in.name + ":" + std::to_string(in.type) + " ";
  for (const auto& out : extractor->outputs) ports += "-> " + out.name + ":" + std::to_string(out.type);
  EXPECT_EQ(ports, "odb:13 path:19 -> value:19");
  EXPECT_EQ(extractor->outputs[0].description, "");
}

TEST(OdbExtractor, TheExampleGraphPrintsTheEventsSent) {
  const tarntest::RunResult r = odbtest::runExample("odb-extractor.tarn", 1, 12);
  EXPECT_NE(r.out.find("\n12\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("nothing sent"), std::string::npos) << r.out;
}

}  // namespace
