#include "RunNumber.h"

#include "TMidasEvent.h"
#include "TRunFile.h"

long runNumberOf(const std::string& path) {
  TRunFile reader;
  TMidasEvent event;
  if (path.empty() || !reader.Open(path.c_str()) || !reader.Read(&event)) return -1;
  return event.GetEventId() == 0x8000 ? long(event.GetSerialNumber()) : -1;
}
