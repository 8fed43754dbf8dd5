#include "EventDumper.h"

#include <iostream>

#include "Plugin.h"
#include "TMidasEvent.h"

EventDumper::EventDumper(std::string& n) : TarnBase(nullptr, "NoName"), option(0) {
  name = n;
  description = "Send a description of the incoming MidasEvent to STDOUT";
  std::cout << name << " instantiated" << std::endl;
  inputs.push_back(Input("event", static_cast<Handler>(&EventDumper::printEvent), TARN_OBJECT,
                         "Event from LiveSource or -File"));
  inputs.push_back(Input("option", static_cast<Handler>(&EventDumper::setOption), TARN_CSTRING,
                         "Option: b = set bank list, a = print banks."));
}

EventDumper::~EventDumper() { std::cout << name << " deleted" << std::endl; }

void EventDumper::setOption(void* value) {
  if (!value) return;
  const char c = *static_cast<const char*>(value);
  option = (c == 'a' || c == 'b') ? c : 0;
}

void EventDumper::printEvent(void* value) {
  if (!value) return;
  TMidasEvent* event = static_cast<TMidasEvent*>(value);
  if (option) event->SetBankList();
  event->Print(option == 'a' ? "a" : "");
}

TARN_PLUGIN(EventDumper)
