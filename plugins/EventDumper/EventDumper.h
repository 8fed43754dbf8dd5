// Prints each arriving MIDAS event, optionally with its banks.
#pragma once

#include <string>

#include "TarnBase.h"

class EventDumper : public TarnBase {
 public:
  explicit EventDumper(std::string& name);
  ~EventDumper() override;

  void printEvent(void* value);  // TMidasEvent*
  void setOption(void* value);   // char*

 private:
  char option;  // 0, 'a' (banks and contents) or 'b' (bank list only)
};
