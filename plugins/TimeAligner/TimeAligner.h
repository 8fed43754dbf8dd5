// Finds the fixed clock offsets between VF48 modules that share a trigger: for
// every pair of modules a histogram of the time differences between the newest
// event of one and the last event of the other; the most frequent difference
// is the pair's offset. When a file-name prefix arrives on "eor" the offsets
// are chained into one table of times relative to a reference module.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "StrandEvent.h"
#include "TarnBase.h"

class TimeAligner : public TarnBase {
 public:
  typedef int16_t Module;
  typedef std::map<Module, std::set<Module>> Transitions;
  typedef std::map<int32_t, int32_t> Histogram;  // difference -> count

  explicit TimeAligner(std::string& name);
  ~TimeAligner() override;

  void Init() override;
  // "eor" takes the type of the output feeding it (a run number may come as an
  // integer), so that its value is never read as a type it is not.
  void SetSender(int input, TarnBase* sender, int output) override;

  void compare(void* value);     // StrandEvent*
  void Clear(void* value);       // not looked at
  void EOR(void* value);         // the prefix: std::string*, char* or an integer (see SetSender)
  void SetModules(void* value);  // std::vector<short>*
  void SetTrans(void* value);    // std::vector<std::string>*
  void SetDebug(void* value);    // int*
  void SetThres(void* value);    // short*
  void SetSoft(void* value);     // short*

 private:
  void lookUpProperties(StrandEvent& event);
  bool parseTransition(const std::string& text);
  void collect(Module m, uint64_t stamp, const std::vector<uint64_t>& times);
  void count(Module m, Module o, int32_t d);

  // End of run.
  bool prefixText(void* value, std::string& prefix) const;
  void analyse(const std::string& prefix);
  Module referenceModule(size_t& entries) const;
  std::map<Module, int32_t> relativeTimes(Module reference) const;
  void writeDifferenceFile(const std::string& file, const Histogram& h) const;
  void writeTable(const std::string& file, Module reference,
                  const std::map<Module, int32_t>& times) const;
  void cannotWrite(const std::string& error) const;  // error: "PATH: reason"

  StrandEvent* lastEvent;
  std::set<Module> moduleSet;
  std::map<Module, uint64_t> lastStamp;
  std::map<Module, uint64_t> earliest;
  std::map<Module, uint64_t> latest;
  std::map<Module, std::map<Module, int32_t>> bestDiff;
  // 32 bits like the histogram counts: a long run has far more than 32767
  // coincidences of one pair, and a wrapped count would let any later
  // difference replace the offset.
  std::map<Module, std::map<Module, int32_t>> bestCount;
  std::map<Module, std::map<Module, Histogram>> histograms;
  Transitions earlyTrans;
  Transitions lateTrans;
  Transitions bothTrans;
  // The value lists of lastEvent; null when the event has no such property of
  // the expected type.
  const std::vector<short>* channels;
  const std::vector<uint64_t>* times;
  const std::vector<uint64_t>* timerange;
  uint32_t wonkyCount;
  int16_t useSoft;
  int16_t writeDebug;
  int16_t thres;
};
