#include "WaveEventDumper.h"

#include <iostream>

#include "Plugin.h"
#include "WaveEvent.h"

WaveEventDumper::WaveEventDumper(std::string& n) : TarnBase(nullptr, "NoName") {
  name = n;
  description = "Print summary of WaveEvent to STDOUT";
  std::cout << name << " instantiated" << std::endl;
  inputs.push_back(Input("vf_event", static_cast<Handler>(&WaveEventDumper::printVF), TARN_OBJECT,
                         "WaveEvent from WaveDecoder"));
}

WaveEventDumper::~WaveEventDumper() { std::cout << name << " deleted" << std::endl; }

void WaveEventDumper::printVF(void* value) {
  if (value) static_cast<const WaveEvent*>(value)->Print("");
}

TARN_PLUGIN(WaveEventDumper)
