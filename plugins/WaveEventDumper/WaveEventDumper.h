// Prints the event words of each arriving WaveEvent, without its channels.
#pragma once

#include <string>

#include "TarnBase.h"

class WaveEventDumper : public TarnBase {
 public:
  explicit WaveEventDumper(std::string& name);
  ~WaveEventDumper() override;

  void printVF(void* value);  // WaveEvent*
};
