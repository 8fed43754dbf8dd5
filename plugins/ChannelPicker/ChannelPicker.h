// Sends the module values of the selected channels of each WaveEvent as
// plain numbers and lists, for plug-ins that know nothing of VF48 events.
#pragma once

#include <string>

#include "TarnBase.h"

class ChannelPicker : public TarnBase {
 public:
  explicit ChannelPicker(std::string& name);
  ~ChannelPicker() override;

  void split(void* value);   // WaveEvent*
  void setMnr(void* value);  // int
  void setCnr(void* value);  // int

 private:
  int module;   // -1: every module
  int channel;  // negative: every channel
};
