#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "../common/odb/OdbDumpPairs.h"
#include "../common/odb/OdbExampleRun.h"
#include "MidasSynth.h"
#include "StrandEvent.h"
#include "TarnTest.h"
#include "ValueText.h"

namespace {

// What one property looked like when the event arrived.
struct Seen {
  int type;
  const void* value;
  std::string text;
  bool operator==(const Seen& o) const { return type == o.type && text == o.text; }
};
std::ostream& operator<<(std::ostream& out, const Seen& s) {
  return out << "{" << s.type << ", '" << s.text << "'}";
}
using Snapshot = std::map<std::string, Seen>;

// Keeps a snapshot of every strand event that reaches it.
class Receiver : public TarnBase {
 public:
  Receiver() : TarnBase(nullptr, "receiver") {
    inputs.push_back(Input("fevent", static_cast<Handler>(&Receiver::take), TARN_STRANDEVENT, ""));
  }
  void take(void* v) {
    Snapshot s;
    for (auto& p : *static_cast<StrandEvent*>(v)) {
      std::ostringstream text;
      tarn_write_value(text, p.second.type, p.second.value);
      s[p.first] = {p.second.type, p.second.value, text.str()};
    }
    got.push_back(s);
  }
  std::vector<Snapshot> got;
};

const std::string kSettings = "/Equipment/Trigger/Settings/";

class OdbStrandMapperTest : public ::testing::Test {
 protected:
  OdbStrandMapperTest() {
    tarntest::CapturedStdout quiet;
    node.reset(new tarntest::Node("OdbStrandMapper", "map"));
    mapper = node->get();
    EXPECT_EQ(quiet.text(), "map instantiated\n");
    EXPECT_TRUE(mapper->AddReceiver(0, &rx, 0));
  }
  // Makes the mapping inputs and sends one line to each.
  void configure(const std::vector<std::string>& names, const std::vector<std::string>& lines) {
    std::string list;
    for (const std::string& n : names) list += n + " ";
    ASSERT_TRUE(mapper->SetInput("inputs", list));
    for (size_t i = 0; i < lines.size(); ++i) ASSERT_TRUE(mapper->SetInput(names[i], lines[i]));
  }
  // Sends one dump; returns what the mapper printed.
  std::string dump(const std::string& xml) {
    tarntest::CapturedStdout out;
    mapper->SetInput(0, const_cast<char*>(xml.c_str()));
    return out.text();
  }
  const Snapshot& last() const { return rx.got.back(); }

  std::unique_ptr<tarntest::Node> node;
  TarnBase* mapper;
  Receiver rx;
};

TEST_F(OdbStrandMapperTest, MappingLinesGiveNamesAndPaths) {
  configure({"a", "b", "c", "d", "e", "f", "g"},
            {" \tRun\t ==  /Runinfo/Run number \r\n", "=/Experiment/Name",
             "Comment = \"/Experiment/Edit on start/Comment\"",
             "Broken /Runinfo/State", "Nothing ===  \t", "", "Data=/Logger/Data dir"});
  // A line that fails a test changes nothing of the mapping before it.
  ASSERT_TRUE(mapper->SetInput("g", "Other /Runinfo/State"));
  const std::string said = dump(synth::odbXml(42, 0));
  ASSERT_EQ(rx.got.size(), 1u);
  EXPECT_EQ(last(), (Snapshot{{"Run", {TARN_INT, nullptr, "42"}},
                              {"", {TARN_STRING, nullptr, "synth"}},
                              {"Comment", {TARN_STRING, nullptr, "synthetic data"}},
                              {"Data", {TARN_STRING, nullptr, "/data/synth runs"}}}));
  // The inputs whose line never arrived resolve nothing, each with its message.
  const std::string unresolved = "map: ODBQuery: Could not resolve ODB path \n";
  EXPECT_EQ(said, unresolved + unresolved + unresolved);
}

TEST_F(OdbStrandMapperTest, TypesOfKeysAndWholeArrays) {
  configure({"a", "b", "c", "d", "e", "f", "g", "h"},
            {"Cal = " + kSettings + "Calibration[*]", "Stop = /Runinfo/Stop time binary",
             "Mask = " + kSettings + "Channel mask[*]", "Adc = " + kSettings + "ADC threshold[*]",
             "On = /Experiment/Edit on start/Write data", "Debug = /Experiment/Debug level",
             "Names = " + kSettings + "Channel names[*]", "Third = " + kSettings + "Gains[2]"});
  EXPECT_EQ(dump(synth::odbXml(7, 0, 0, 1700000100)), "");
  EXPECT_EQ(last(), (Snapshot{{"Cal", {TARN_DOUBLE_V, nullptr, " 0.5 -1.25 0.003 "}},
                              {"Stop", {TARN_UINT32, nullptr, "1700000100"}},
                              {"Mask", {TARN_INT_V, nullptr, "  -1    0  255 "}},
                              {"Adc", {TARN_SHORT_V, nullptr, "  10   20   30   40 "}},
                              {"On", {TARN_BOOL, nullptr, "1"}},
                              {"Debug", {TARN_UINT8, nullptr, "52"}},
                              {"Names", {TARN_STRING_V, nullptr, "left right veto "}},
                              {"Third", {TARN_FLOAT, nullptr, "0.75"}}}));
}

TEST_F(OdbStrandMapperTest, DumpsReuseTheStorageAndReportWhatTheyLack) {
  configure({"run", "gains"}, {"Run = /Runinfo/Run number", "Gains = " + kSettings + "Gains[*]"});
  EXPECT_EQ(dump(synth::odbXml(1, 0)), "");
  const Snapshot first = last();
  EXPECT_EQ(dump(synth::odbXml(2, 0)), "");
  EXPECT_EQ(last().at("Run").value, first.at("Run").value);
  EXPECT_EQ(last().at("Gains").value, first.at("Gains").value);
  EXPECT_EQ(last().at("Run").text, "2");

  // One of two paths missing: one message, the other value still delivered.
  std::string xml = synth::odbXml(3, 0);
  xml.replace(xml.find("\"Run number\""), 12, "\"Run numero\"");
  EXPECT_EQ(dump(xml), "map: ODBQuery: Could not resolve node for ODB path /Runinfo/Run number\n");
  EXPECT_EQ(last().at("Run").text, "2");  // as it was
  EXPECT_EQ(last().at("Gains").text, "   1  1.5 0.75    2 ");

  EXPECT_EQ(dump("not XML at all <"),
            "map: ODBQuery: Could not resolve ODB path /Runinfo/Run number\n"
            "map: ODBQuery: Could not resolve ODB path " + kSettings + "Gains[*]\n");
  EXPECT_EQ(rx.got.size(), 4u);  // sent every time
}

TEST_F(OdbStrandMapperTest, APropertyNoQueryFeedsPointsAtNothing) {
  configure({"a", "b"}, {"Run = /Runinfo/Run number", "State = /Runinfo/State"});
  dump(synth::odbXml(5, 0));
  ASSERT_NE(last().at("State").value, nullptr);

  // The line of "b" now names another property: State is no longer fed.
  ASSERT_TRUE(mapper->SetInput("b", "Layout = " + kSettings + "Layout"));
  EXPECT_EQ(dump(synth::odbXml(5, 0)), "map: MIDAS ODB type ARRAY not supported\n");
  EXPECT_EQ(last().at("State").value, nullptr);
  EXPECT_EQ(last().at("Layout").value, nullptr);

  // A key whose type became unsupported released its storage.
  std::string xml = synth::odbXml(5, 0);
  xml.replace(xml.find("type=\"INT\">5<"), 11, "type=\"KEY\">");
  EXPECT_EQ(dump(xml), "map: MIDAS ODB type KEY not supported\n"
                       "map: MIDAS ODB type ARRAY not supported\n");
  EXPECT_EQ(last().at("Run").value, nullptr);
  EXPECT_EQ(last().at("Run").type, TARN_OBJECT);

  // A shorter list of inputs drops the query of "b"; "a" keeps its mapping.
  ASSERT_TRUE(mapper->SetInput("b", "Stop = /Runinfo/Stop time binary"));
  dump(synth::odbXml(6, 0));
  ASSERT_NE(last().at("Stop").value, nullptr);
  ASSERT_TRUE(mapper->SetInput("inputs", "a"));
  EXPECT_EQ(mapper->inputs.size(), 3u);
  dump(synth::odbXml(7, 0));
  EXPECT_EQ(last().at("Stop").value, nullptr);
  EXPECT_EQ(last().at("Run").text, "7");
}

TEST_F(OdbStrandMapperTest, PortsMessagesAndAnEmptyConfiguration) {
  EXPECT_EQ(mapper->description, "Maps values from the MIDAS ODB to StrandProperties.");
  std::string ports;
  for (const auto& in : mapper->inputs) ports += in.name + ":" + std::to_string(in.type) + " ";
  for (const auto& out : mapper->outputs) ports += "-> " + out.name + ":" + std::to_string(out.type);
  EXPECT_EQ(ports, "odb:13 inputs:26 -> fevent:100");

  EXPECT_EQ(dump(synth::odbXml(1, 0)), "");
  ASSERT_EQ(rx.got.size(), 1u);
  EXPECT_TRUE(last().empty());

  configure({"x", "y"}, {});
  EXPECT_EQ(mapper->inputs[3].name, "y");
  EXPECT_EQ(mapper->inputs[3].type, TARN_STRING);
  EXPECT_EQ(mapper->inputs[3].description, "Syntax: <StrandProperty> = <Midas ODB path>");

  tarntest::CapturedStdout out;
  mapper->Init();
  mapper->Reset();
  EXPECT_EQ(out.text(), "map initialized.\n");
}

// Each form on a mapper of its own, so that no value left by the other form
// can stand in for one the dump failed to give.
TEST(OdbStrandMapper, AJsonDumpMapsWhatItsXmlFormMaps) {
  const std::vector<std::string> paths = odbtest::allPaths();
  auto mapOnce = [&](const std::string& text, std::string& said) {
    tarntest::CapturedStdout out;
    tarntest::Node node("OdbStrandMapper", "map");
    Receiver rx;
    TarnBase* mapper = node.get();
    EXPECT_TRUE(mapper->AddReceiver(0, &rx, 0));
    std::string list;
    for (size_t i = 0; i < paths.size(); ++i) list += "m" + std::to_string(i) + " ";
    EXPECT_TRUE(mapper->SetInput("inputs", list));
    for (size_t i = 0; i < paths.size(); ++i)
      EXPECT_TRUE(mapper->SetInput("m" + std::to_string(i), "P" + std::to_string(i) + " = " + paths[i]));
    mapper->SetInput(0, const_cast<char*>(text.c_str()));
    said = out.text();
    return rx.got.empty() ? Snapshot() : rx.got.back();
  };
  for (const odbtest::DumpPair& p : odbtest::dumpPairs()) {
    std::string saidXml, saidJson;
    const Snapshot xml = mapOnce(p.xml, saidXml);
    EXPECT_GT(xml.size(), 0u);
    EXPECT_EQ(mapOnce(p.json, saidJson), xml);
    EXPECT_EQ(saidJson, saidXml);
  }
  std::string said;
  mapOnce("{\"Runinfo\": {\"Run number\": 1", said);
  EXPECT_NE(said.find("map: ODBQuery: Could not resolve ODB path /Runinfo/Run number\n"), std::string::npos);
}

TEST(OdbStrandMapper, TheExampleGraphPrintsTheMappedValues) {
  const tarntest::RunResult r = odbtest::runExample("odb-mapper.tarn", 31, 3);
  EXPECT_NE(r.out.find("Comment:\tsynthetic data\nGains:\t   1  1.5 0.75    2 \n"
                       "RunNumber:\t31\nVeto:\tveto\n\n"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find("ODBQuery"), std::string::npos) << r.out;
}

}  // namespace
