#include "TimeAligner.h"

#include <cctype>
#include <climits>
#include <cstdlib>
#include <iostream>

#include "Plugin.h"

namespace {

const int kChannelsPerModule = 48;
// Hit times are searched with these as starting values: an earliest time must
// lie below the first, a latest one above the second.
const uint64_t kNoEarliest = 10000;
const uint64_t kNoLatest = 0;

// The value list of the property `name` when it has type `type`, else null.
// Looked up without operator[], which would add a property to the sender's event.
const void* listOf(StrandEvent& event, const std::string& name, tarn_type type) {
  for (const auto& p : event)
    if (p.first == name) return p.second.type == type ? p.second.value : nullptr;
  return nullptr;
}

// Stamps are compared by their low 32 bits, with wrap-around.
int32_t difference(uint64_t a, uint64_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

uint64_t valueOr0(const std::map<TimeAligner::Module, uint64_t>& m, TimeAligner::Module k) {
  auto it = m.find(k);
  return it == m.end() ? 0 : it->second;
}

bool earliestOf(const std::vector<uint64_t>& times, uint64_t& e) {
  e = kNoEarliest;
  for (uint64_t t : times)
    if (t < e) e = t;
  return e < kNoEarliest;
}

bool latestOf(const std::vector<uint64_t>& times, uint64_t& l) {
  l = kNoLatest;
  for (uint64_t t : times)
    if (t > l) l = t;
  return l != kNoLatest;
}

// A decimal number as atoi reads it (blanks, a sign, digits, anything after
// ignored), but only when it fits a module number.
bool moduleNumber(const std::string& text, TimeAligner::Module& m) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  long value = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > 32768) return false;
  }
  if (negative) value = -value;
  if (value < INT16_MIN || value > INT16_MAX) return false;
  m = static_cast<TimeAligner::Module>(value);
  return true;
}

}  // namespace

TimeAligner::TimeAligner(std::string& n)
    : TarnBase(nullptr, "NoName"),
      lastEvent(nullptr),
      channels(nullptr),
      times(nullptr),
      timerange(nullptr),
      wonkyCount(0),
      useSoft(0),
      writeDebug(0),
      thres(1) {
  name = n;
  description = "Compare times (timestamp or one maximum time) from different modules";
  inputs.push_back(Input("fevent", static_cast<Handler>(&TimeAligner::compare), TARN_STRANDEVENT,
                         "From WaveDecoder"));
  inputs.push_back(Input("bor", static_cast<Handler>(&TimeAligner::Clear), TARN_OBJECT,
                         "bor for clearing data"));
  inputs.push_back(Input("eor", static_cast<Handler>(&TimeAligner::EOR), TARN_STRING,
                         "Prefix for file names, input triggers writing (meant to be fed by "
                         "OdbExtractor)"));
  inputs.push_back(Input("modules", static_cast<Handler>(&TimeAligner::SetModules), TARN_SHORT_V,
                         "modules to look at (default 0 to 15)"));
  inputs.push_back(Input("transitions", static_cast<Handler>(&TimeAligner::SetTrans), TARN_STRING_V,
                         "module transitions, i.e. \"(11-7) (10-6)\" to have the earliest time "
                         "from mod 11 correlated to latest in 7 and the same for 10 and 6"));
  inputs.push_back(Input("write_debug", static_cast<Handler>(&TimeAligner::SetDebug), TARN_INT,
                         "Write full difference files, not just synching table"));
  inputs.push_back(Input("thres", static_cast<Handler>(&TimeAligner::SetThres), TARN_SHORT,
                         "Threshold for coincidences"));
  inputs.push_back(Input("use_soft", static_cast<Handler>(&TimeAligner::SetSoft), TARN_SHORT,
                         "Software values, 1 for WFTime, 2 for WFCFDTime"));
  std::cout << name << " instantiated" << std::endl;
}

TimeAligner::~TimeAligner() {
  std::cout << name << " deleted" << std::endl;
}

void TimeAligner::Init() {
  for (Module m = 0; m < 16; ++m) moduleSet.insert(m);
  Clear(nullptr);
  std::cout << name << " initialized." << std::endl;
}

void TimeAligner::SetSender(int input, TarnBase* sender, int output) {
  TarnBase::SetSender(input, sender, output);
  const int eor = 2;
  if (input == eor && sender && output >= 0 && output < static_cast<int>(sender->outputs.size()))
    inputs[eor].type = sender->outputs[output].type;
}

void TimeAligner::Clear(void*) {
  histograms.clear();
  bestDiff.clear();
  bestCount.clear();
  wonkyCount = 0;
}

void TimeAligner::SetModules(void* value) {
  if (!value) return;
  const std::vector<short>& list = *static_cast<const std::vector<short>*>(value);
  moduleSet = std::set<Module>(list.begin(), list.end());
  histograms.clear();
  for (size_t i = 0; i < list.size(); ++i)
    for (size_t j = 0; j < list.size(); ++j)
      if (i != j) histograms[list[i]][list[j]];
}

void TimeAligner::SetDebug(void* value) {
  // Any non-zero number asks for the files, also one whose low 16 bits are 0.
  if (value) writeDebug = *static_cast<const int*>(value) != 0;
}

void TimeAligner::SetThres(void* value) {
  if (value) thres = *static_cast<const short*>(value);
}

void TimeAligner::SetSoft(void* value) {
  if (value) useSoft = *static_cast<const short*>(value);
}

void TimeAligner::SetTrans(void* value) {
  earlyTrans.clear();
  lateTrans.clear();
  bothTrans.clear();
  if (!value) return;
  for (const std::string& text : *static_cast<const std::vector<std::string>*>(value)) {
    if (!parseTransition(text)) {
      std::cout << name
                << ": Syntax error in transitions string (excess spaces? missing '-' or '+'?)"
                << std::endl;
      earlyTrans.clear();
      lateTrans.clear();
      bothTrans.clear();
      return;
    }
  }
}

// "(a-b)": the earliest time of a against the latest of b; "(a+b)": the
// earliest times of both. A number that does not fit a module is an error too.
bool TimeAligner::parseTransition(const std::string& text) {
  if (text.empty() || text.front() != '(' || text.back() != ')') return false;
  const size_t minus = text.find('-'), plus = text.find('+');
  if (minus < 2 || plus < 2) return false;
  const size_t sign = minus != std::string::npos ? minus : plus;
  if (sign == std::string::npos) return false;
  Module a, b;
  if (!moduleNumber(text.substr(1, sign - 1), a) || !moduleNumber(text.substr(sign + 1), b))
    return false;
  if (sign == minus) {
    earlyTrans[a].insert(b);
    lateTrans[b].insert(a);
  } else {
    bothTrans[a].insert(b);
    bothTrans[b].insert(a);
  }
  return true;
}

void TimeAligner::lookUpProperties(StrandEvent& event) {
  lastEvent = &event;
  const char* time = useSoft == 1 ? "WFTime" : useSoft == 2 ? "WFCFDTime" : "Time";
  channels = static_cast<const std::vector<short>*>(listOf(event, "Channel", TARN_SHORT_V));
  times = static_cast<const std::vector<uint64_t>*>(listOf(event, time, TARN_UINT64_V));
  timerange = static_cast<const std::vector<uint64_t>*>(listOf(event, "Timerange", TARN_UINT64_V));
}

void TimeAligner::compare(void* value) {
  if (!value) return;
  StrandEvent& event = *static_cast<StrandEvent*>(value);
  // A lookup that found no channels or no stamps is tried again: the sender
  // may have announced its event before it registered its properties.
  if (&event != lastEvent || event.layout || !channels || !timerange) lookUpProperties(event);
  // An announcement of the layout is not a readout; counting it would count
  // the first readout twice.
  if (event.layout) return;
  if (!channels || channels->empty()) return;
  const int channel = channels->front();
  if (channel < 0) {
    // Not a channel of any module; rounded down it names a module below 0.
    std::cout << "I don't like module  "
              << (channel - (kChannelsPerModule - 1)) / kChannelsPerModule << std::endl;
    return;
  }
  const Module m = static_cast<Module>(channel / kChannelsPerModule);
  if (!moduleSet.count(m)) {
    std::cout << "I don't like module  " << m << std::endl;
    return;
  }
  // Without a time stamp nothing can be compared: dropped as an unusable time list.
  if (!timerange || timerange->empty()) {
    ++wonkyCount;
    return;
  }
  static const std::vector<uint64_t> noTimes;
  collect(m, timerange->front(), times ? *times : noTimes);
}

void TimeAligner::collect(Module m, uint64_t stamp, const std::vector<uint64_t>& t) {
  bool early = false, late = false, both = false;
  // Each kind of transition the module takes part in needs its hit time;
  // without one the event is wonky and dropped.
  auto source = [&](const Transitions& kind,
                    bool (*search)(const std::vector<uint64_t>&, uint64_t&),
                    std::map<Module, uint64_t>& into, bool& marked) {
    if (!kind.count(m)) return true;
    uint64_t hit;
    if (!search(t, hit)) {
      ++wonkyCount;
      return false;
    }
    into[m] = stamp + hit;
    marked = true;
    return true;
  };
  if (!source(earlyTrans, earliestOf, earliest, early) ||
      !source(lateTrans, latestOf, latest, late) || !source(bothTrans, earliestOf, earliest, both))
    return;
  for (const auto& last : lastStamp) {
    const Module o = last.first;
    if (o == m) continue;
    bool paired = false;
    int32_t d = 0;
    if (early && earlyTrans[m].count(o)) {
      d = difference(earliest[m], valueOr0(latest, o));
      paired = true;
    } else if (late && lateTrans[m].count(o)) {
      d = difference(valueOr0(earliest, o), latest[m]);
      paired = true;
    }
    if (both && bothTrans[m].count(o)) {
      d = difference(earliest[m], valueOr0(earliest, o));
      paired = true;
    }
    if (!paired) d = difference(stamp, last.second);
    count(m, o, d);
  }
  lastStamp[m] = stamp;
}

void TimeAligner::count(Module m, Module o, int32_t d) {
  int32_t& n = histograms[m][o][d];
  const int32_t c = n;
  if (c == INT32_MAX) return;
  n = c + 1;
  if (c <= thres) return;
  std::map<Module, int32_t>& counts = bestCount[m];
  auto best = counts.find(o);
  // An equal count keeps the difference found first.
  if (best == counts.end() || c + 1 > best->second) {
    counts[o] = c + 1;
    bestDiff[m][o] = d;
  }
}

TARN_PLUGIN(TimeAligner)
