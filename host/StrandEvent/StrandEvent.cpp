// Strand event container and its text form.
#include "StrandEvent.h"

#include <sstream>

#include "ValueText.h"

StrandBinning::StrandBinning() : min(0), max(0), bins(0) {}
StrandBinning::StrandBinning(double min_, double max_, int bins_)
    : min(min_), max(max_), bins(bins_) {}

StrandProperty::StrandProperty()
    : showBinning(0), type(TARN_OBJECT), value(nullptr), formula(nullptr), word(0) {}

StrandProperty::StrandProperty(tarn_type type_, const StrandBinning& binning_, void* value_)
    : showBinning(0), type(type_), binning(binning_), value(value_), formula(nullptr), word(0) {}

StrandEvent::StrandEvent() : layout(false) { Reset(); }

StrandProperty& StrandEvent::operator[](const std::string& name) { return properties[name]; }

void StrandEvent::Reset() {
  layout = false;
  text.clear();
}

void StrandEvent::SetBinnings() {
  for (auto& entry : properties) {
    StrandBinning& b = entry.second.binning;
    if (b.edges.size() >= 2) {
      b.bins = static_cast<int>(b.edges.size()) - 1;
      b.min = b.edges.front();
      b.max = b.edges.back();
    }
  }
}

static void writeBinning(std::ostream& out, const StrandBinning& b) {
  if (!b.edges.empty()) {
    for (double e : b.edges) out << e;
  } else {
    out << "Min: " << b.min << ", Max: " << b.max << ", Bins: " << b.bins;
  }
  out << "\n";
}

std::string StrandEvent::str() {
  std::ostringstream out;
  for (auto& entry : properties) {
    StrandProperty& p = entry.second;
    out << entry.first << ":\t";
    if (layout) {
      out << tarn_printed_name(p.type);
      if (p.type == TARN_STRANDEVENT && p.value)
        out << "\n" << static_cast<StrandEvent*>(p.value)->str();
    } else if (p.formula && !p.formula->eval()) {
      out << p.formula->getText();
    } else {
      if (p.showBinning) {
        out << "\nBinning: ";
        writeBinning(out, p.binning);
        out << "Value:\t";
      }
      tarn_write_value(out, p.type, p.value);
    }
    out << "\n";
  }
  text = out.str();
  return text;
}
