// ODB dumps as MIDAS writes them at run transitions, small but with a key of
// every type a query may meet, single and as arrays: nested directories,
// texts with blanks, flags written "y" and "n" (XML) or true and false (JSON)
// as MIDAS writes them.
#include <cstdio>
#include <ctime>
#include <sstream>

#include "MidasSynth.h"

namespace synth {

namespace {

// Times are printed in UTC so that a dump does not depend on the machine.
std::string timeText(uint32_t t) {
  if (t == 0) return "";
  std::time_t tt = std::time_t(t);
  std::tm tm{};
  gmtime_r(&tt, &tm);
  char buf[64];
  std::strftime(buf, sizeof buf, "%a %b %d %H:%M:%S %Y", &tm);
  return buf;
}

// A BOOL key's value.
struct Flag {
  bool on;
};

// The numeric MIDAS type ids, as the JSON form gives them.
int typeId(const std::string& type) {
  static const char* const names[] = {"NULL", "BYTE",   "SBYTE",    "CHAR",   "WORD",  "SHORT", "DWORD",
                                      "INT",  "BOOL",   "FLOAT",    "DOUBLE", "BITFIELD", "STRING",
                                      "ARRAY", "STRUCT", "KEY",     "LINK",   "INT64", "UINT64"};
  for (int i = 0; i < int(sizeof names / sizeof names[0]); ++i)
    if (type == names[i]) return i;
  return 0;
}

// Writes one ODB in either form from the same calls: XML elements, or the
// JSON of current loggers (each key preceded by its "NAME/key" description,
// WORD and DWORD as hex strings, flags as true/false).
class Dump {
 public:
  explicit Dump(bool json) : json(json) {}
  void open(const std::string& name) {
    if (json) {
      member(name);
      out << "{";
      first = true;
    } else {
      indent();
      out << "<dir name=\"" << escaped(name) << "\">\n";
    }
    ++depth;
  }
  void close() {
    --depth;
    if (json) {
      out << "\n";
      indent();
      out << "}";
      first = false;
    } else {
      indent();
      out << "</dir>\n";
    }
  }
  template <typename T>
  void key(const std::string& name, const std::string& type, const T& value) {
    if (json) {
      describe(name, type, 1);
      member(name);
      out << jsonValue(type, value);
      return;
    }
    indent();
    out << "<key name=\"" << escaped(name) << "\" type=\"" << type << "\"" << sizeOf(type) << ">"
        << text(value) << "</key>\n";
  }
  template <typename T>
  void array(const std::string& name, const std::string& type, const std::vector<T>& values) {
    if (json) {
      describe(name, type, values.size());
      member(name);
      out << "[";
      for (size_t i = 0; i < values.size(); ++i) out << (i ? ", " : "") << jsonValue(type, values[i]);
      out << "]";
      return;
    }
    indent();
    out << "<keyarray name=\"" << escaped(name) << "\" type=\"" << type << "\"" << sizeOf(type)
        << " num_values=\"" << values.size() << "\">\n";
    ++depth;
    for (size_t i = 0; i < values.size(); ++i) {
      indent();
      out << "<value index=\"" << i << "\">" << text(values[i]) << "</value>\n";
    }
    --depth;
    indent();
    out << "</keyarray>\n";
  }
  std::ostringstream out;
  const bool json;

 private:
  void member(const std::string& name) {
    out << (first ? "\n" : ",\n");
    first = false;
    indent();
    out << quoted(name) << " : ";
  }
  void describe(const std::string& name, const std::string& type, size_t count) {
    member(name + "/key");
    out << "{ \"type\" : " << typeId(type);
    if (count != 1) out << ", \"num_values\" : " << count;
    if (type == "STRING") out << ", \"item_size\" : 32";
    out << ", \"last_written\" : 1700000000 }";
  }
  static std::string quoted(const std::string& raw) {
    std::string s = "\"";
    for (char c : raw) {
      if (c == '"' || c == '\\') {
        s += '\\';
        s += c;
      } else if (static_cast<unsigned char>(c) < 0x20) {
        char u[8];
        std::snprintf(u, sizeof u, "\\u%04x", unsigned(c));
        s += u;
      } else {
        s += c;
      }
    }
    return s + "\"";
  }
  template <typename T>
  static std::string jsonValue(const std::string& type, const T& value) {
    std::ostringstream s;
    s << value;
    if (type == "STRING" || type == "LINK" || type == "CHAR" || s.str().empty()) return quoted(s.str());
    if (type == "WORD" || type == "DWORD") {
      char hex[16];
      std::snprintf(hex, sizeof hex, type == "WORD" ? "\"0x%04x\"" : "\"0x%08x\"",
                    unsigned(std::stoul(s.str())));
      return hex;
    }
    return s.str();
  }
  static std::string jsonValue(const std::string&, const Flag& flag) { return flag.on ? "true" : "false"; }
  static std::string escaped(const std::string& raw) {
    std::string s;
    for (char c : raw) {
      switch (c) {
        case '&': s += "&amp;"; break;
        case '<': s += "&lt;"; break;
        case '>': s += "&gt;"; break;
        case '"': s += "&quot;"; break;
        default: s += c;
      }
    }
    return s;
  }
  template <typename T>
  static std::string text(const T& value) {
    std::ostringstream s;
    s << value;
    return escaped(s.str());
  }
  static std::string text(const Flag& flag) { return flag.on ? "y" : "n"; }
  static std::string sizeOf(const std::string& type) {
    return type == "STRING" ? " size=\"32\"" : "";
  }
  void indent() { out << std::string(2 * depth, ' '); }
  int depth = 1;
  bool first = true;  // no member yet in the JSON object being written
};

}  // namespace

std::string odbXml(uint32_t run, uint32_t events) { return odbXml(run, events, 0, 0); }

std::string odbXml(uint32_t run, uint32_t events, uint32_t startTime, uint32_t stopTime) {
  return odbDump(OdbForm::Xml, run, events, startTime, stopTime);
}

std::string odbJson(uint32_t run, uint32_t events, uint32_t startTime, uint32_t stopTime) {
  return odbDump(OdbForm::Json, run, events, startTime, stopTime);
}

std::string odbDump(OdbForm form, uint32_t run, uint32_t events, uint32_t startTime, uint32_t stopTime) {
  const bool running = stopTime == 0;
  Dump d(form == OdbForm::Json);
  if (d.json)
    d.out << "{";
  else
    d.out << "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
          << "<!-- created by midas-synth -->\n"
          << "<odb root=\"/\" filename=\"run" << run << ".xml\""
          << " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\""
          << " xsi:noNamespaceSchemaLocation=\"odb.xsd\">\n";

  d.open("System");
  d.open("Clients");
  d.close();
  d.close();

  d.open("Experiment");
  d.key("Name", "STRING", "synth");
  d.key("Code", "CHAR", 'S');
  d.key("Debug level", "BYTE", 42);
  d.key("Offset", "SBYTE", 7);
  d.key("Mode bits", "BITFIELD", 3);
  d.key("Main run number", "LINK", "/Runinfo/Run number");
  d.open("Edit on start");
  d.key("Comment", "STRING", "synthetic data");
  d.key("Write data", "BOOL", Flag{true});
  d.close();
  d.close();

  d.open("Runinfo");
  d.key("State", "INT", running ? 3 : 1);
  d.key("Online Mode", "INT", 1);
  d.key("Run number", "INT", run);
  d.key("Transition in progress", "INT", 0);
  d.key("Start abort", "INT", 0);
  d.key("Requested transition", "INT", 0);
  d.key("Start time", "STRING", timeText(startTime));
  d.key("Start time binary", "DWORD", startTime);
  d.key("Stop time", "STRING", timeText(stopTime));
  d.key("Stop time binary", "DWORD", stopTime);
  d.close();

  d.open("Logger");
  d.key("Data dir", "STRING", "/data/synth runs");
  d.key("Message file", "STRING", "midas.log");
  d.key("Write data", "BOOL", Flag{false});
  d.key("Reserved", "NULL", "");
  d.key("History", "KEY", "");
  d.open("Channels");
  d.open("0");
  d.open("Settings");
  d.key("Filename", "STRING", "run%05d.mid.gz");
  d.key("Compression", "INT", 1);
  d.key("Record", "STRUCT", "");
  d.close();
  d.open("Statistics");
  d.key("Events written", "DOUBLE", events);
  d.close();
  d.close();
  d.close();
  d.close();

  d.open("Equipment");
  d.open("Trigger");
  d.open("Common");
  d.key("Event ID", "WORD", 1);
  d.key("Trigger mask", "WORD", 7);
  d.key("Buffer", "STRING", "SYSTEM");
  d.key("Type", "INT", 2);
  d.key("Source", "INT", 0);
  d.key("Format", "STRING", "MIDAS");
  d.key("Enabled", "BOOL", Flag{true});
  d.key("Read on", "INT", 257);
  d.key("Period", "INT", 500);
  d.key("Event limit", "DOUBLE", 0);
  d.key("Num subevents", "DWORD", 0);
  d.key("Log history", "INT", 0);
  d.key("Frontend host", "STRING", "localhost");
  d.key("Frontend name", "STRING", "synthfe");
  d.key("Frontend file name", "STRING", "synthfe.cxx");
  d.key("Status", "STRING", "");
  d.close();
  d.open("Settings");
  d.key("Threshold", "SHORT", -12);
  d.key("Gate width", "FLOAT", 2.5);
  d.key("Scale", "DOUBLE", 0.125);
  d.key("Layout", "ARRAY", "");
  d.array<int>("TDC window", "INT", {-200, 400, 25});
  d.array<unsigned>("ADC threshold", "WORD", {10, 20, 30, 40});
  d.array<unsigned>("Channel mask", "DWORD", {0xffffffffu, 0, 255});
  d.array<int>("Offsets", "SHORT", {-3, 0, 3});
  d.array<float>("Gains", "FLOAT", {1.0f, 1.5f, 0.75f, 2.0f});
  d.array<double>("Calibration", "DOUBLE", {0.5, -1.25, 3e-3});
  d.array<Flag>("Enabled channels", "BOOL", {{true}, {false}, {true}, {true}});
  d.array<std::string>("Channel names", "STRING", {"left", "right", "veto"});
  d.array<int>("Pattern", "BYTE", {1, 2, 4, 8});
  d.array<std::string>("Comments", "STRING", {"first shift", "beam on target", ""});
  d.close();
  d.open("Statistics");
  d.key("Events sent", "DOUBLE", events);
  d.key("Events per sec.", "DOUBLE", 0);
  d.key("kBytes per sec.", "DOUBLE", 0);
  d.close();
  d.close();
  d.close();

  d.out << (d.json ? "\n}\n" : "</odb>\n");
  return d.out.str();
}

namespace {

Event transition(uint16_t id, uint32_t run, uint32_t timeStamp, const std::string& xml) {
  Event e;
  e.id = id;
  e.serial = run;
  e.timeStamp = timeStamp;
  e.raw.assign(xml.begin(), xml.end());
  return e;
}

}  // namespace

Event beginOfRun(uint32_t run, uint32_t timeStamp, OdbForm form) {
  return transition(0x8000, run, timeStamp, odbDump(form, run, 0, timeStamp, 0));
}

Event endOfRun(uint32_t run, uint32_t timeStamp, uint32_t events) {
  return endOfRun(run, 0, timeStamp, events);
}

Event endOfRun(uint32_t run, uint32_t startTime, uint32_t timeStamp, uint32_t events, OdbForm form) {
  return transition(0x8001, run, timeStamp, odbDump(form, run, events, startTime, timeStamp));
}

}  // namespace synth
