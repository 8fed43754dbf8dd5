// The strand event: a named, ordered set of typed values passed between plug-ins.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "formulaParser.h"
#include "tarn_type.h"

class stringstore {
 public:
  virtual ~stringstore() {}
  virtual std::string str() = 0;
};

class StrandBinning {
 public:
  StrandBinning();
  StrandBinning(double min, double max, int bins);

  double min;
  double max;
  int bins;
  std::vector<double> edges;
};

class StrandProperty {
 public:
  StrandProperty();
  StrandProperty(tarn_type type, const StrandBinning& binning, void* value);

  std::string text1;
  std::string text2;
  int showBinning;
  tarn_type type;
  StrandBinning binning;
  void* value;  // not owned: points at a list the registering plug-in keeps
  formulaParser* formula;
  int word;
};

class StrandEvent : public stringstore {
 public:
  typedef std::map<std::string, StrandProperty> Properties;

  StrandEvent();

  StrandProperty& operator[](const std::string& name);
  Properties::iterator begin() { return properties.begin(); }
  Properties::iterator end() { return properties.end(); }
  Properties::const_iterator begin() const { return properties.begin(); }
  Properties::const_iterator end() const { return properties.end(); }
  size_t size() const { return properties.size(); }

  // Once per event, before filling or after sending: clears the layout flag
  // and the last text form. Properties and their values stay.
  void Reset();
  // After registering properties: brings each binning into a consistent form
  // (edges, when given, define bins, min and max).
  void SetBinnings();

  std::string str() override;
  const std::string& lastText() const { return text; }

  bool layout;  // set while the event is sent only to announce its properties

 private:
  Properties properties;
  std::string text;
};
