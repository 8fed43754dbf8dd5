// The same ODBs written as XML and as JSON, and paths that reach every key,
// element and shape of them (and some that reach nothing), for comparing what
// the ODB plug-ins make of the two forms.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "MidasSynth.h"

namespace odbtest {

struct DumpPair {
  std::string xml, json;
};

// Names with blanks, quotes, markup and non-ASCII; WORD and DWORD in hex;
// a description after its key; arrays of one element and of none; keys of
// 64-bit and container types.
inline DumpPair oddNames() {
  DumpPair p;
  p.xml =
      "<?xml version=\"1.0\"?>\n<odb root=\"/\">\n"
      "<dir name=\"Odd names\">\n"
      "  <key name=\"Say &quot;hi&quot;\" type=\"STRING\" size=\"32\">a &lt;b&gt; &amp; c</key>\n"
      "  <key name=\"Zähler µ\" type=\"INT\">-5</key>\n"
      "  <key name=\"Mask\" type=\"DWORD\">1646661667</key>\n"
      "  <key name=\"Bits\" type=\"WORD\">65535</key>\n"
      "  <key name=\"Later\" type=\"SHORT\">-1</key>\n"
      "  <keyarray name=\"One\" type=\"FLOAT\" num_values=\"1\"><value>1.5</value></keyarray>\n"
      "  <keyarray name=\"None\" type=\"INT\" num_values=\"0\"></keyarray>\n"
      "  <key name=\"Big\" type=\"INT64\">-9000000000</key>\n"
      "  <key name=\"Huge\" type=\"UINT64\">18446744073709551615</key>\n"
      "  <key name=\"Target\" type=\"LINK\">/Odd names/Mask</key>\n"
      "  <key name=\"Off\" type=\"BOOL\">n</key>\n"
      "  <dir name=\"Empty dir\">\n  </dir>\n"
      "</dir>\n</odb>\n";
  p.json =
      "\n {\"Odd names\": {\n"
      "  \"Odd names/key\": {\"type\": 15},\n"
      "  \"Say \\\"hi\\\"/key\": {\"type\": 12, \"item_size\": 32},\n"
      "  \"Say \\\"hi\\\"\": \"a <b> & c\",\n"
      "  \"Z\\u00e4hler \xc2\xb5/key\": {\"type\": 7},\n"
      "  \"Zähler µ\": -5,\n"
      "  \"Mask/key\": {\"type\": 6},\n  \"Mask\": \"0x62261023\",\n"
      "  \"Bits/key\": {\"type\": 4},\n  \"Bits\": \"0xFFFF\",\n"
      "  \"Later\": \"0xffff\",\n  \"Later/key\": {\"num_values\": 1, \"type\": 5},\n"
      "  \"One/key\": {\"type\": 9, \"num_values\": 1},\n  \"One\": [1.5],\n"
      "  \"None/key\": {\"type\": 7, \"num_values\": 0},\n  \"None\": [],\n"
      "  \"Big/key\": {\"type\": 17},\n  \"Big\": -9000000000,\n"
      "  \"Huge/key\": {\"type\": 18},\n  \"Huge\": \"0xffffffffffffffff\",\n"
      "  \"Target/key\": {\"type\": 16},\n  \"Target\": \"/Odd names/Mask\",\n"
      "  \"Off/key\": {\"type\": 8},\n  \"Off\": false,\n"
      "  \"Empty dir\": {}\n"
      "}}\n";
  return p;
}

// A values-only save: no descriptions, the types follow from the values.
inline DumpPair valuesOnly() {
  DumpPair p;
  p.xml =
      "<odb><dir name=\"V\">"
      "<key name=\"I\" type=\"INT\">12</key>"
      "<key name=\"D\" type=\"DOUBLE\">0.25</key>"
      "<key name=\"B\" type=\"BOOL\">y</key>"
      "<key name=\"H\" type=\"DWORD\">16</key>"
      "<key name=\"S\" type=\"STRING\">text</key>"
      "<key name=\"N\" type=\"STRING\"></key>"
      "<key name=\"L\" type=\"INT64\">4294967296</key>"
      "<keyarray name=\"A\" type=\"DOUBLE\" num_values=\"3\"><value>1</value><value>2.5</value>"
      "<value>-3</value></keyarray>"
      "<keyarray name=\"F\" type=\"BOOL\" num_values=\"2\"><value>n</value><value>y</value></keyarray>"
      "<keyarray name=\"T\" type=\"STRING\" num_values=\"2\"><value>x</value><value></value></keyarray>"
      "</dir></odb>";
  p.json =
      "{\"V\": {\"I\": 12, \"D\": 0.25, \"B\": true, \"H\": \"0x10\", \"S\": \"text\", \"N\": null,"
      " \"L\": 4294967296, \"A\": [1, 2.5, -3], \"F\": [false, true], \"T\": [\"x\", \"\"]}}";
  return p;
}

// The synthesised run's dumps (running and stopped), and the two above.
inline std::vector<DumpPair> dumpPairs() {
  return {{synth::odbXml(9, 100, 1700000000, 0), synth::odbJson(9, 100, 1700000000, 0)},
          {synth::odbXml(9, 100, 1700000000, 1700000100), synth::odbJson(9, 100, 1700000000, 1700000100)},
          oddNames(),
          valuesOnly()};
}

// Every key of those dumps, as a single value, an element and a whole array,
// and paths that name directories, nothing, or the document itself.
inline std::vector<std::string> allPaths() {
  const std::vector<std::string> keys = {
      "/Experiment/Name", "/Experiment/Code", "/Experiment/Debug level", "/Experiment/Offset",
      "/Experiment/Mode bits", "/Experiment/Main run number", "/Experiment/Edit on start/Comment",
      "/Experiment/Edit on start/Write data", "/Runinfo/State", "/Runinfo/Run number",
      "/Runinfo/Start time", "/Runinfo/Start time binary", "/Runinfo/Stop time",
      "/Runinfo/Stop time binary", "/Logger/Data dir", "/Logger/Write data", "/Logger/Reserved",
      "/Logger/History", "/Logger/Channels/0/Settings/Filename", "/Logger/Channels/0/Settings/Record",
      "/Logger/Channels/0/Statistics/Events written", "/Equipment/Trigger/Common/Event ID",
      "/Equipment/Trigger/Common/Enabled", "/Equipment/Trigger/Common/Status",
      "/Equipment/Trigger/Common/Num subevents", "/Equipment/Trigger/Settings/Threshold",
      "/Equipment/Trigger/Settings/Gate width", "/Equipment/Trigger/Settings/Scale",
      "/Equipment/Trigger/Settings/Layout", "/Equipment/Trigger/Statistics/Events sent",
      "/Odd names/Say \"hi\"", "\"/Odd names/Zähler µ\"", "/Odd names/Mask", "/Odd names/Bits",
      "/Odd names/Later", "/Odd names/Big", "/Odd names/Huge", "/Odd names/Target", "/Odd names/Off",
      "/V/I", "/V/D", "/V/B", "/V/H", "/V/S", "/V/N", "/V/L"};
  const std::vector<std::string> arrays = {
      "/Equipment/Trigger/Settings/TDC window", "/Equipment/Trigger/Settings/ADC threshold",
      "/Equipment/Trigger/Settings/Channel mask", "/Equipment/Trigger/Settings/Offsets",
      "/Equipment/Trigger/Settings/Gains", "/Equipment/Trigger/Settings/Calibration",
      "/Equipment/Trigger/Settings/Enabled channels", "/Equipment/Trigger/Settings/Channel names",
      "/Equipment/Trigger/Settings/Pattern", "/Equipment/Trigger/Settings/Comments",
      "/Odd names/One", "/Odd names/None", "/V/A", "/V/F", "/V/T"};
  std::vector<std::string> paths = keys;
  for (const std::string& a : arrays)
    for (const char* pick : {"[0]", "[2]", "[*]", "[9]", ""}) paths.push_back(a + pick);
  for (const char* odd : {"/Equipment/Trigger/", "/Odd names/Empty dir/", "/Runinfo/run number",
                          "/Nowhere/Key", "/", "Runinfo/Run number", "/Odd names/Mask/key"})
    paths.push_back(odd);
  return paths;
}

}  // namespace odbtest
