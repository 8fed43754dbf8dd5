// Fills one 1-D histogram per chosen numeric property of the strand events it
// receives and writes each as PREFIX_NAME.csv and PREFIX_NAME.png when "eor"
// arrives and when the graph ends (Ctrl-C included) after new values came.
#include <cmath>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "Histogram.h"
#include "HistogramCsv.h"
#include "LiveBoard.h"
#include "LiveSnapshot.h"
#include "Plugin.h"
#include "RunStatus.h"
#include "StrandEvent.h"
#include "TarnBase.h"
#include "UnsignedValues.h"

namespace {

// How many values a property without binning collects before its range is fixed.
constexpr size_t kAutomaticSample = 1000;

bool integralType(tarn_type t) {
  switch (t) {
    case TARN_FLOAT: case TARN_DOUBLE: case TARN_FLOAT_V: case TARN_DOUBLE_V: return false;
    default: return true;
  }
}

// Calls add(x) for every number a property's value holds; false for types that
// hold none. `unsignedElements`: a signed list type that holds unsigned elements.
template <class Add>
bool forEachNumber(tarn_type type, const void* v, bool unsignedElements, Add add) {
  auto list = [&](const auto* vec) { for (auto x : *vec) add(double(x)); };
  if (unsignedElements && type == TARN_SHORT_V) {
    for (short x : *static_cast<const std::vector<short>*>(v)) add(double(uint16_t(x)));
    return true;
  }
  if (unsignedElements && type == TARN_INT_V) {
    for (int x : *static_cast<const std::vector<int>*>(v)) add(double(uint32_t(x)));
    return true;
  }
  switch (type) {
    case TARN_UINT8: case TARN_BITFIELD: add(*static_cast<const uint8_t*>(v)); break;
    case TARN_INT8: add(*static_cast<const int8_t*>(v)); break;
    case TARN_CHAR: add(*static_cast<const char*>(v)); break;
    case TARN_UINT16: add(*static_cast<const uint16_t*>(v)); break;
    case TARN_SHORT: add(*static_cast<const int16_t*>(v)); break;
    case TARN_UINT32: add(*static_cast<const uint32_t*>(v)); break;
    case TARN_INT: add(*static_cast<const int32_t*>(v)); break;
    case TARN_BOOL: add(*static_cast<const bool*>(v)); break;
    case TARN_FLOAT: add(*static_cast<const float*>(v)); break;
    case TARN_DOUBLE: add(*static_cast<const double*>(v)); break;
    case TARN_UINT64: add(double(*static_cast<const uint64_t*>(v))); break;
    case TARN_SHORT_V: list(static_cast<const std::vector<short>*>(v)); break;
    case TARN_INT_V: list(static_cast<const std::vector<int>*>(v)); break;
    case TARN_UINT64_V: list(static_cast<const std::vector<uint64_t>*>(v)); break;
    case TARN_BOOL_V: list(static_cast<const std::vector<bool>*>(v)); break;
    case TARN_FLOAT_V: list(static_cast<const std::vector<float>*>(v)); break;
    case TARN_DOUBLE_V: list(static_cast<const std::vector<double>*>(v)); break;
    case TARN_SHORT_VV:
      for (const auto& inner : *static_cast<const std::vector<std::vector<short>>*>(v)) list(&inner);
      break;
    default: return false;
  }
  return true;
}

// File names keep letters, digits, '.', '-' and '_'.
std::string fileSafe(const std::string& name) {
  std::string out = name.empty() ? "_" : name;
  for (char& c : out)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '_') c = '_';
  return out;
}

// `name` spelt out for a file name without loss: letters, digits, '.' and '-'
// kept, every other byte (an '_' too) as '_' and two hex digits.
std::string spelt(const std::string& name) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : name)
    if (std::isalnum(c) || c == '.' || c == '-') out += char(c);
    else out += {'_', kHex[c >> 4], kHex[c & 15]};
  return out.empty() ? "_" : out;
}

// The file name of each of `properties`: its fileSafe name (as stored files and
// `tarn merge` know it) unless another property's maps to the same; then the
// one whose name it is keeps it and the others are spelt out. A property whose
// spelt name is some other property's too gets none.
std::map<std::string, std::string> fileNames(const std::vector<std::string>& properties) {
  std::map<std::string, int> users;
  for (const std::string& p : properties) ++users[fileSafe(p)];
  std::map<std::string, std::string> names;
  std::set<std::string> taken;
  for (const std::string& p : properties)
    if (users[fileSafe(p)] == 1 || fileSafe(p) == p) taken.insert(names[p] = fileSafe(p));
  for (const std::string& p : properties)
    if (!names.count(p) && taken.insert(spelt(p)).second) names[p] = spelt(p);
  return names;
}

}  // namespace

class Histogrammer : public TarnBase {
 public:
  explicit Histogrammer(std::string& n) : TarnBase(nullptr, "NoName") {
    name = n;
    description = "Histogram numeric StrandEvent properties; write PREFIX_NAME.csv and .png";
    inputs.push_back(Input("fevent", static_cast<Handler>(&Histogrammer::fill), TARN_STRANDEVENT,
                           "StrandEvent whose properties are histogrammed"));
    inputs.push_back(Input("properties", static_cast<Handler>(&Histogrammer::setProperties),
                           TARN_STRING_V, "Names of the properties to histogram (none: every numeric one)"));
    inputs.push_back(Input("prefix", static_cast<Handler>(&Histogrammer::setPrefix), TARN_STRING,
                           "Output file prefix (default: the node's name)"));
    inputs.push_back(Input("bins", static_cast<Handler>(&Histogrammer::setBins), TARN_STRING_V,
                           "Binning overrides NAME:BINS:LOW:HIGH"));
    inputs.push_back(Input("units", static_cast<Handler>(&Histogrammer::setUnits), TARN_STRING_V,
                           "Axis units NAME:UNIT"));
    inputs.push_back(Input("eor", static_cast<Handler>(&Histogrammer::endOfRun), TARN_OBJECT,
                           "Any value (e.g. RunFile's eor): write the files now"));
    liveId = LiveBoard::instance().subscribe([this] { publishLive(); });
  }

  ~Histogrammer() override {
    LiveBoard::instance().unsubscribe(liveId);
    LiveBoard::instance().withdraw(name);
    if (changed) writeAll();
  }

  void setProperties(void* v) {
    chosen.clear();
    for (const std::string& s : *static_cast<std::vector<std::string>*>(v))
      if (!s.empty()) chosen.insert(s);
  }
  void setPrefix(void* v) { prefix = *static_cast<std::string*>(v); }
  void setBins(void* v) {
    for (const std::string& s : *static_cast<std::vector<std::string>*>(v)) {
      std::string property;
      std::vector<double> edges;
      if (hist::parseOverride(s, property, edges)) {
        overrides[property] = edges;
      } else {
        std::cerr << name << ": binning '" << s << "' is not NAME:BINS:LOW:HIGH with BINS >= 1 and LOW != HIGH; ignored\n";
        tarn_setting_rejected();
      }
    }
  }
  void setUnits(void* v) {
    for (const std::string& s : *static_cast<std::vector<std::string>*>(v)) {
      const size_t colon = s.rfind(':');
      if (colon == std::string::npos || colon == 0 || colon + 1 == s.size()) {
        std::cerr << name << ": unit '" << s << "' is not NAME:UNIT; ignored\n";
        tarn_setting_rejected();
      } else {
        units[s.substr(0, colon)] = s.substr(colon + 1);
      }
    }
  }

  void fill(void* v) {
    StrandEvent* event = static_cast<StrandEvent*>(v);
    if (!event || event->layout) return;  // a layout event carries no values
    for (auto& entry : *event) {
      const std::string& property = entry.first;
      const StrandProperty& p = entry.second;
      if (!p.value || (!chosen.empty() && !chosen.count(property))) continue;
      Spectrum& s = spectra[property];
      if (!s.seen) start(s, property, p);
      if (s.stopped) continue;
      if (!forEachNumber(p.type, p.value, s.sign.of(p.value), [&](double x) { s.add(x); })) {
        s.stopped = true;  // what it holds so far is still written
        // Chosen by name, or numbers before: worth saying. Other text is passed over.
        if (!chosen.empty() || s.numeric)
          std::cerr << name << ": property " << property << " of type " << tarn_type_label(p.type)
                    << " holds no numbers; not histogrammed from here on\n";
        continue;
      }
      s.numeric = true;
      if (s.pending && s.sample.size() >= kAutomaticSample) s.fixRange();
      changed = true;
    }
    if (LiveBoard::instance().due(liveSeen)) publishLive();
  }

  void endOfRun(void*) { writeAll(); }

 private:
  struct Spectrum {
    bool seen = false, numeric = false, stopped = false, pending = false, integral = true;
    std::unique_ptr<hist::Histogram> h;
    std::vector<double> sample;  // the first values, while the range is not fixed
    UnsignedLookup sign;

    void add(double x) {
      if (pending) sample.push_back(x);
      else h->fill(x);
    }
    void fixRange() {
      h.reset(new hist::Histogram(hist::automaticEdges(sample, integral)));
      pending = false;
      for (double x : sample) h->fill(x);
      sample = std::vector<double>();
    }
  };

  void start(Spectrum& s, const std::string& property, const StrandProperty& p) {
    s.seen = true;
    s.integral = integralType(p.type);
    auto o = overrides.find(property);
    std::vector<double> edges = o != overrides.end() ? o->second : hist::edgesOf(p.binning);
    if (edges.empty()) s.pending = true;
    else s.h.reset(new hist::Histogram(edges));
  }

  // What writeAll would write now, without fixing a pending range.
  void publishLive() {
    for (auto& entry : spectra) {
      const Spectrum& s = entry.second;
      if (!s.numeric) continue;
      auto unit = units.find(entry.first);
      const std::string unitText = unit != units.end() ? unit->second : std::string();
      if (!s.pending) {
        LiveBoard::instance().publish(hist::liveSnapshot(*s.h, name, entry.first, unitText));
        continue;
      }
      hist::Histogram h(hist::automaticEdges(s.sample, s.integral));
      for (double x : s.sample) h.fill(x);
      LiveBoard::instance().publish(hist::liveSnapshot(h, name, entry.first, unitText));
    }
  }

  void writeAll() {
    changed = false;
    for (const std::string& property : chosen)
      if (!spectra.count(property) && !missingReported.count(property)) {
        missingReported.insert(property);
        std::cerr << name << ": property " << property << " was in no event; no histogram\n";
      }
    const std::string base = prefix.empty() ? name : prefix;
    std::vector<std::string> written;
    for (const auto& entry : spectra)
      if (entry.second.numeric) written.push_back(entry.first);
    const std::map<std::string, std::string> files = fileNames(written);
    for (auto& entry : spectra) {
      Spectrum& s = entry.second;
      if (!s.numeric) continue;
      if (s.pending) s.fixRange();
      // Two properties never share a file: the second would overwrite the first.
      const auto file = files.find(entry.first);
      if (file == files.end()) {
        failed("property " + entry.first + ": its file names are other properties'; not written");
        continue;
      }
      if (file->second != fileSafe(entry.first) && renamed.insert(entry.first).second)
        std::cerr << name << ": property " << entry.first << " is written as " << base << "_" << file->second
                  << ", since another property's files would be " << base << "_" << fileSafe(entry.first) << "\n";
      const std::string path = base + "_" + file->second;
      auto unit = units.find(entry.first);
      const std::string axis = entry.first + (unit != units.end() ? " [" + unit->second + "]" : "");
      std::string error;
      const bool csv = hist::writeCsv(*s.h, path + ".csv", error);
      if (!csv) failed(error);
      const bool png = hist::writePng(*s.h, path + ".png", base + ": " + entry.first, axis, error);
      if (!png) failed(error);
      if (!csv && !png) continue;  // no success line for what was not written
      std::cout << name << ": " << path << (csv && png ? ".csv, .png" : csv ? ".csv" : ".png")
                << ": " << s.h->entries() << " entries, mean " << s.h->mean() << ", RMS "
                << s.h->rms() << std::endl;
    }
  }

  // A result not written: said on stderr, and the run ends with a failing status.
  void failed(const std::string& message) {
    std::cerr << name << ": " << message << std::endl;
    tarn_run_failed();
  }

  std::set<std::string> chosen;
  std::string prefix;
  std::map<std::string, std::vector<double>> overrides;
  std::map<std::string, std::string> units;
  std::map<std::string, Spectrum> spectra;
  std::set<std::string> missingReported, renamed;
  bool changed = false;
  int liveId = 0;
  unsigned liveSeen = 0;
};

TARN_PLUGIN(Histogrammer)
