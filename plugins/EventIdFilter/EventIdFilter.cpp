#include "EventIdFilter.h"

#include <algorithm>
#include <iostream>

#include "Plugin.h"
#include "TMidasEvent.h"

EventIdFilter::EventIdFilter(std::string& n) : TarnBase(nullptr, "NoName") {
  name = n;
  std::cout << name << " instantiated" << std::endl;
  inputs.push_back(Input("event", static_cast<Handler>(&EventIdFilter::processEvent), TARN_OBJECT,
                         "Midas event to split"));
  inputs.push_back(Input("IDs", static_cast<Handler>(&EventIdFilter::setIDs), TARN_INT_V,
                         "Event ID selection"));
}

EventIdFilter::~EventIdFilter() { std::cout << name << " deleted" << std::endl; }

void EventIdFilter::setIDs(void* value) {
  if (!value) return;
  ids = *static_cast<std::vector<int>*>(value);
  outputs.clear();
  for (int id : ids) outputs.push_back(Output("ID" + std::to_string(id), TARN_OBJECT, ""));
  const size_t rows = std::max(outputs.size(), inputs.size());
  SetSize(120.0f, static_cast<float>(rows) * 20.0f + 28.0f);
}

void EventIdFilter::processEvent(void* value) {
  if (!value) return;
  TMidasEvent* event = static_cast<TMidasEvent*>(value);
  const int id = event->GetEventId();  // 0 to 65535: negative or larger ids never match
  for (size_t i = 0; i < ids.size(); ++i)
    if (ids[i] == id) SendOutput(static_cast<unsigned>(i), event);
}

TARN_PLUGIN(EventIdFilter)
