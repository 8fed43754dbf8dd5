// Maps values of the MIDAS ODB into strand properties: one mapping input per
// property, each taking a line "<property> = <ODB path>"; every ODB dump that
// arrives is queried and the strand event is sent.
#pragma once

#include <string>
#include <vector>

#include "ODBQuery.h"
#include "StrandEvent.h"
#include "TarnBase.h"

class OdbStrandMapper : public TarnBase {
 public:
  explicit OdbStrandMapper(std::string& name);
  ~OdbStrandMapper() override;

  void Init() override;
  void Reset() override;

  void processODB(void* value);    // char*: the dump as XML or JSON text
  void createInputs(void* value);  // std::vector<std::string>*: names of the mapping inputs
  void setMapping(void* value);    // std::string*: "<property> = <ODB path>"

 private:
  // Properties that no query feeds any more lose their value pointer, so that
  // none points at storage that was released or now serves another property.
  void unbindStale();

  StrandEvent* strandEvent;
  std::vector<ODBQuery> queries;          // query k belongs to mapping input k + 2
  std::vector<std::string> propertyNames;  // empty until the input's line arrived
};
