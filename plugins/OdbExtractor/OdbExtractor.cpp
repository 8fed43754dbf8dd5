#include "OdbExtractor.h"

#include <libxml/parser.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <vector>

#include "OdbDocument.h"
#include "OdbPath.h"
#include "Plugin.h"

namespace {

// The key texts; a missing text reads as an empty one.
const char* orEmpty(const xmlChar* text) { return text ? reinterpret_cast<const char*>(text) : ""; }

int32_t asInt(const char* text) {
  const long long n = odbLeadingInteger(text);
  return static_cast<int32_t>(n < INT32_MIN ? INT32_MIN : n > INT32_MAX ? INT32_MAX : n);
}

// Negative texts wrap as atoi's bits would; larger ones stop at the top.
uint32_t asDword(const char* text) {
  const long long n = odbLeadingInteger(text);
  if (n > static_cast<long long>(UINT32_MAX)) return UINT32_MAX;
  if (n < INT32_MIN) return static_cast<uint32_t>(INT32_MIN);
  return static_cast<uint32_t>(n);
}

// Out of range becomes infinity rather than an undefined narrowing.
float asFloat(const char* text) {
  const double d = std::atof(text);
  if (d > FLT_MAX) return HUGE_VALF;
  if (d < -FLT_MAX) return -HUGE_VALF;
  return static_cast<float>(d);
}

double asDouble(const char* text) { return std::atof(text); }
bool asBool(const char* text) { return std::string(text) == "y"; }
std::string asText(const char* text) { return text; }
int32_t dwordBits(const char* text) { return static_cast<int32_t>(asDword(text)); }

// Calls `use` with a value of the C++ type that the kind sends (as one value,
// or as list elements) and the conversion of a text into it.
template <typename Use>
void withValueType(OdbExtractor::Kind kind, bool list, Use use) {
  using Kind = OdbExtractor::Kind;
  switch (kind) {
    case Kind::Int: return use(int32_t(), asInt);
    case Kind::Dword: return list ? use(int32_t(), dwordBits) : use(uint32_t(), asDword);
    case Kind::Float: return use(float(), asFloat);
    case Kind::Double: return use(double(), asDouble);
    case Kind::Bool: return use(bool(), asBool);
    case Kind::Text: return use(std::string(), asText);
  }
}

}  // namespace

OdbExtractor::OdbExtractor(std::string& n)
    : TarnBase(nullptr, "NoName"), wholeArray(false), index(0), value(nullptr) {
  name = n;
  description = "Extract a value from Midas ODB string";
  inputs.push_back(Input("odb", static_cast<Handler>(&OdbExtractor::processODB), TARN_CSTRING,
                         "Midas ODB string"));
  inputs.push_back(Input("path", static_cast<Handler>(&OdbExtractor::setPath), TARN_STRING,
                         "ODB Path for the value (Use index in [] for an array value, use [*] for "
                         "the whole array as a vector"));
  outputs.push_back(Output("value", TARN_STRING, ""));
  std::cout << name << " instantiated" << std::endl;
}

OdbExtractor::~OdbExtractor() { std::cout << name << " deleted" << std::endl; }

void OdbExtractor::Init() { xmlInitParser(); }

void OdbExtractor::setPath(void* v) {
  if (!v) return;
  valueSuffix.clear();
  const OdbPath translated = translateOdbPath(*static_cast<std::string*>(v));
  // A path without a segment leaves the key expression as it was.
  if (translated.segments > 0) xpath = translated.xpath;
  wholeArray = translated.wholeArray;
  index = translated.index;
  if (wholeArray)
    valueSuffix = "/value[";
  else if (index != 0)
    valueSuffix = "/value[" + std::to_string(index) + "]";
}

void OdbExtractor::skip(const std::string& why) const {
  std::cout << name << ": " << why << ", nothing sent" << std::endl;
}

void OdbExtractor::processODB(void* v) {
  value = nullptr;
  OdbDocument dump(static_cast<const char*>(v));
  if (!dump.parsed())
    return skip(std::string("the ODB dump is not well-formed ") + odbFormName(dump.textForm()));
  if (xpath.empty()) return skip("no ODB path set");
  xmlNode* key = nullptr;
  if (odbFirstElement(dump.xpathContext(), xpath, key) != OdbLookup::Found)
    return skip("no ODB key at " + xpath);
  std::string type;
  if (!odbAttribute(key, "type", type)) return skip("the ODB key at " + xpath + " has no type");

  Kind kind = Kind::Text;
  tarn_type single = TARN_STRING, list = TARN_STRING_V;
  if (type == "INT") {
    kind = Kind::Int, single = TARN_INT, list = TARN_INT_V;
  } else if (type == "DWORD") {
    kind = Kind::Dword, single = TARN_UINT32, list = TARN_INT_V;
  } else if (type == "FLOAT") {
    kind = Kind::Float, single = TARN_FLOAT, list = TARN_FLOAT_V;
  } else if (type == "DOUBLE") {
    kind = Kind::Double, single = TARN_DOUBLE, list = TARN_DOUBLE_V;
  } else if (type == "BOOL") {
    kind = Kind::Bool, single = TARN_BOOL, list = TARN_BOOL_V;
  }
  const tarn_type chosen = wholeArray ? list : single;
  if (outputs[0].type != chosen) {
    outputs[0].type = chosen;
    RefreshReceivers(0);
  }
  if (wholeArray)
    sendWholeArray(dump, key, kind);
  else
    sendSingle(dump, key, kind);
}

template <typename T, typename Convert>
void OdbExtractor::sendEach(xmlDoc* doc, xmlNode* node, Convert convert) {
  for (xmlNode* child = node->children; child; child = child->next) {
    xmlChar* text = xmlNodeListGetString(doc, child, 1);
    T* one = new T(convert(orEmpty(text)));
    value = one;
    SendOutput(0, one);
    value = nullptr;
    delete one;
    xmlFree(text);
  }
}

void OdbExtractor::sendSingle(const OdbDocument& dump, xmlNode* key, Kind kind) {
  xmlNode* node = key;
  if (!valueSuffix.empty() &&
      odbFirstElement(dump.xpathContext(), xpath + valueSuffix, node) != OdbLookup::Found)
    return skip("no value at " + xpath + valueSuffix);
  withValueType(kind, false, [&](auto type, auto convert) {
    sendEach<decltype(type)>(dump.document(), node, convert);
  });
}

template <typename T, typename Convert>
void OdbExtractor::sendList(const OdbDocument& dump, int count, Convert convert) {
  std::vector<T> list;
  for (int i = 1; i <= count; ++i) {
    const std::string element = xpath + valueSuffix + std::to_string(i) + "]";
    xmlNode* node = nullptr;
    if (odbFirstElement(dump.xpathContext(), element, node) != OdbLookup::Found)
      return skip("no value at " + element + " of num_values " + std::to_string(count));
    for (xmlNode* child = node->children; child; child = child->next) {
      xmlChar* text = xmlNodeListGetString(dump.document(), child, 1);
      list.push_back(convert(orEmpty(text)));
      xmlFree(text);
    }
  }
  value = &list;
  SendOutput(0, &list);
  value = nullptr;
}

void OdbExtractor::sendWholeArray(const OdbDocument& dump, xmlNode* key, Kind kind) {
  std::string count;
  if (!odbAttribute(key, "num_values", count))
    return skip("the ODB key at " + xpath + " has no num_values");
  const long long n = odbLeadingInteger(count.c_str());
  const int values = n > INT32_MAX ? INT32_MAX : static_cast<int>(n < 0 ? 0 : n);
  withValueType(kind, true, [&](auto type, auto convert) {
    sendList<decltype(type)>(dump, values, convert);
  });
}

TARN_PLUGIN(OdbExtractor)
