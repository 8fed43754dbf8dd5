#include "OdbStrandMapper.h"

#include <libxml/parser.h>

#include <iostream>
#include <type_traits>

#include "OdbDocument.h"
#include "Plugin.h"

// Growing the list moves the queries; their storage must go with them.
static_assert(std::is_nothrow_move_constructible<ODBQuery>::value, "queries move when resized");

namespace {

const char* kMappingSyntax = "Syntax: <StrandProperty> = <Midas ODB path>";
const char* kWhitespace = " \t\f\v\n\r";

}  // namespace

OdbStrandMapper::OdbStrandMapper(std::string& n)
    : TarnBase(nullptr, "NoName"), strandEvent(new StrandEvent) {
  name = n;
  description = "Maps values from the MIDAS ODB to StrandProperties.";
  inputs.push_back(Input("odb", static_cast<Handler>(&OdbStrandMapper::processODB), TARN_CSTRING,
                         "The MIDAS ODB string. This triggers the output."));
  inputs.push_back(
      Input("inputs", static_cast<Handler>(&OdbStrandMapper::createInputs), TARN_STRING_V,
            "Names of the inputs to be created. Each one represents a ODB/StrandProperty mapping."));
  outputs.push_back(Output("fevent", TARN_STRANDEVENT, "The resulting Strand Event"));
  xmlInitParser();
  std::cout << name << " instantiated" << std::endl;
}

OdbStrandMapper::~OdbStrandMapper() {
  std::cout << name << " deleted" << std::endl;
  queries.clear();
  delete strandEvent;
}

void OdbStrandMapper::Init() { std::cout << name << " initialized." << std::endl; }

void OdbStrandMapper::Reset() {}

void OdbStrandMapper::createInputs(void* value) {
  if (!value) return;
  std::vector<std::string>& names = *static_cast<std::vector<std::string>*>(value);
  replaceInputs(Input("dummy", static_cast<Handler>(&OdbStrandMapper::setMapping), TARN_STRING,
                      kMappingSyntax),
                names, 2, 0);
  queries.resize(names.size());
  propertyNames.resize(names.size());
  unbindStale();
}

void OdbStrandMapper::setMapping(void* value) {
  if (!value) return;
  const std::string& line = *static_cast<std::string*>(value);
  const size_t nameStart = line.find_first_not_of(kWhitespace);
  if (nameStart == std::string::npos) return;
  const size_t nameEnd = line.find_first_of(std::string(kWhitespace) + "=", nameStart);
  if (nameEnd == std::string::npos) return;
  const size_t equals = line.find('=', nameEnd);
  if (equals == std::string::npos) return;
  const size_t afterEquals = line.find_first_not_of('=', equals);
  if (afterEquals == std::string::npos) return;
  const size_t pathStart = line.find_first_not_of(kWhitespace, afterEquals);
  if (pathStart == std::string::npos) return;
  const size_t pathEnd = line.find_last_not_of(kWhitespace);

  const int k = currentInput - 2;
  if (k < 0 || k >= static_cast<int>(queries.size())) return;
  const std::string property = line.substr(nameStart, nameEnd - nameStart);
  queries[k].setODBPath(line.substr(pathStart, pathEnd - pathStart + 1));
  (*strandEvent)[property] = StrandProperty(TARN_OBJECT, StrandBinning(), nullptr);
  propertyNames[k] = property;
  unbindStale();
}

void OdbStrandMapper::processODB(void* value) {
  OdbDocument dump(static_cast<const char*>(value));
  for (size_t k = 0; k < queries.size(); ++k) {
    ODBQuery& query = queries[k];
    if (!query.evaluate(dump.xpathContext())) {
      std::cout << name << ": " << query.getError() << std::endl;
      continue;
    }
    StrandProperty& property = (*strandEvent)[propertyNames[k]];
    property.value = query.getValue();
    property.type = query.getValueType();
  }
  unbindStale();
  SendOutput(0, strandEvent);
}

void OdbStrandMapper::unbindStale() {
  for (auto& entry : *strandEvent) {
    StrandProperty& property = entry.second;
    if (!property.value) continue;
    bool fed = false;
    for (size_t k = 0; k < queries.size() && !fed; ++k)
      fed = propertyNames[k] == entry.first && queries[k].getValue() == property.value;
    if (!fed) {
      property.value = nullptr;
      property.type = TARN_OBJECT;
    }
  }
}

TARN_PLUGIN(OdbStrandMapper)
