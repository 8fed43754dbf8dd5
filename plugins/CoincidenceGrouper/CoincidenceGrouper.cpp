#include "CoincidenceGrouper.h"

#include <cmath>
#include <iostream>
#include <limits>

#include "Plugin.h"
#include "WaveEvent.h"

namespace {

uint64_t groupTime(const std::vector<WaveEvent*>& group) { return group.back()->GetTimeStamp(); }

}  // namespace

CoincidenceGrouper::CoincidenceGrouper(std::string& n)
    : TarnBase(nullptr, "NoName"), timeScale(40000000.0f), cTime(0), wTime(0) {
  name = n;
  description = "Assemble coincident WaveEvents into a vector";
  inputs.push_back(Input("vf_event", static_cast<Handler>(&CoincidenceGrouper::assemble),
                         TARN_OBJECT, "From WaveDecoder"));
  inputs.push_back(Input("c_time", static_cast<Handler>(&CoincidenceGrouper::setCTime), TARN_FLOAT,
                         "Coincidence time"));
  inputs.push_back(Input("w_time", static_cast<Handler>(&CoincidenceGrouper::setWTime), TARN_FLOAT,
                         "Time to wait for completion of coincident group"));
  outputs.push_back(Output("vf_evntV", TARN_OBJECT, "Vector of coincident WaveEvents"));
  outputs.push_back(Output("multi", TARN_DOUBLE, "Size of coincidence group"));
  std::cout << name << " instantiated" << std::endl;
}

CoincidenceGrouper::~CoincidenceGrouper() {
  std::cout << name << ": Lost " << groups.size() << " event groups." << std::endl;
  for (Group& g : groups)
    for (WaveEvent* e : g) e->release();
  groups.clear();
  std::cout << name << " deleted" << std::endl;
}

uint64_t CoincidenceGrouper::toUnits(float seconds) const {
  const float units = seconds * timeScale;
  // A plain cast of a negative, NaN or out-of-range value is undefined.
  if (!(units > 0.0f)) return 0;
  if (units >= 18446744073709551616.0f) return std::numeric_limits<uint64_t>::max();
  return static_cast<uint64_t>(units);
}

void CoincidenceGrouper::setCTime(void* value) {
  if (value) cTime = toUnits(*static_cast<const float*>(value));
}

void CoincidenceGrouper::setWTime(void* value) {
  if (value) wTime = toUnits(*static_cast<const float*>(value));
}

void CoincidenceGrouper::assemble(void* value) {
  WaveEvent* e = static_cast<WaveEvent*>(value);
  if (!e || !e->IsGood()) return;
  e->retain();
  const uint64_t t = e->GetTimeStamp();

  // Newest group first: join the first one within the window, or open a new
  // group right after the first one that is earlier.
  auto place = groups.end();
  bool joined = false;
  for (auto it = groups.end(); it != groups.begin();) {
    --it;
    const uint64_t tg = groupTime(*it);
    const uint64_t d = t > tg ? t - tg : tg - t;
    if (d < cTime) {
      it->push_back(e);
      joined = true;
      break;
    }
    if (t > tg) {
      place = std::next(it);
      break;
    }
    place = it;  // every group so far is later: the new one goes before them
  }
  if (!joined) groups.insert(place, Group(1, e));

  // Groups before the first one still within the waiting time are complete.
  // A group later than t wraps to a huge difference and so counts as complete.
  auto open = groups.begin();
  while (open != groups.end() && !(t - groupTime(*open) < wTime)) ++open;

  // Take the complete groups out before sending, so that a receiver that
  // feeds this node again meets a consistent list.
  std::list<Group> complete;
  complete.splice(complete.end(), groups, groups.begin(), open);
  for (Group& g : complete) {
    SendOutput(0, &g);
    double size = static_cast<double>(g.size());
    SendOutput(1, &size);
    for (WaveEvent* member : g) member->release();
  }
}

TARN_PLUGIN(CoincidenceGrouper)
