// Routes MIDAS events by event id: one output per selected id.
#pragma once

#include <string>
#include <vector>

#include "TarnBase.h"

class EventIdFilter : public TarnBase {
 public:
  explicit EventIdFilter(std::string& name);
  ~EventIdFilter() override;

  void processEvent(void* value);  // TMidasEvent*
  void setIDs(void* value);        // std::vector<int>*

 private:
  std::vector<int> ids;  // output i carries the events of id ids[i]
};
