// Collects WaveEvents of several VF48 modules and sends those whose time
// stamps lie close together as one group, once a later event shows that the
// group can receive no more members.
#pragma once

#include <cstdint>
#include <list>
#include <string>
#include <vector>

#include "TarnBase.h"

class WaveEvent;

class CoincidenceGrouper : public TarnBase {
 public:
  explicit CoincidenceGrouper(std::string& name);
  ~CoincidenceGrouper() override;

  void assemble(void* value);  // WaveEvent*
  void setCTime(void* value);  // float, seconds
  void setWTime(void* value);  // float, seconds

 private:
  typedef std::vector<WaveEvent*> Group;  // arrival order; its time is its last event's

  // Seconds to time-stamp units; negative and NaN give 0, too large the largest count.
  uint64_t toUnits(float seconds) const;

  const float timeScale;  // time-stamp units per second
  uint64_t cTime;         // coincidence window
  uint64_t wTime;         // how long a group waits for more members
  std::list<Group> groups;  // oldest first; every event in them retained once
};
