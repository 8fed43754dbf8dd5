#include "ODBQuery.h"

#include <cstdint>
#include <sstream>
#include <type_traits>
#include <utility>
#include <vector>

#include "HostValues.h"
#include "OdbDocument.h"
#include "OdbPath.h"


namespace {

// WORD and DWORD lists go out under the signed list types of their width; a
// host that asks is told their elements are unsigned.
template <typename T>
constexpr bool unsignedList() {
  return std::is_integral<T>::value && std::is_unsigned<T>::value && sizeof(T) >= 2;
}

const ODBQuery::TypeMap* findRow(const std::string& name) {
  const ODBQuery::TypeMap* row = ODBQuery::ODBTypeMaps;
  while (row->name[0] != '\0' && name != row->name) ++row;
  return row;
}

// The text of one node as libxml2 gives it; released with the holder.
class NodeText {
 public:
  explicit NodeText(xmlNode* node) : text(node ? xmlNodeGetContent(node) : nullptr) {}
  ~NodeText() { xmlFree(text); }
  NodeText(const NodeText&) = delete;
  NodeText& operator=(const NodeText&) = delete;
  const char* get() const { return reinterpret_cast<const char*>(text); }

 private:
  xmlChar* text;
};

}  // namespace

ODBQuery::ODBQuery()
    : wholeArray(false), index(0), value(nullptr), typeMap(nullptr), listStorage(false) {}

ODBQuery::~ODBQuery() { release(); }

void ODBQuery::copyTranslation(const ODBQuery& other) {
  path = other.path;
  xpath = other.xpath;
  wholeArray = other.wholeArray;
  index = other.index;
  error = other.error;
}

ODBQuery::ODBQuery(const ODBQuery& other) : ODBQuery() { copyTranslation(other); }

ODBQuery& ODBQuery::operator=(const ODBQuery& other) {
  if (this != &other) {
    release();
    copyTranslation(other);
  }
  return *this;
}

ODBQuery::ODBQuery(ODBQuery&& other) noexcept : ODBQuery() { *this = std::move(other); }

ODBQuery& ODBQuery::operator=(ODBQuery&& other) noexcept {
  if (this != &other) {
    release();
    copyTranslation(other);
    value = std::exchange(other.value, nullptr);
    typeMap = std::exchange(other.typeMap, nullptr);
    listStorage = other.listStorage;
  }
  return *this;
}

void ODBQuery::release() {
  if (typeMap && value) (this->*typeMap->destroy)();
  value = nullptr;
  typeMap = nullptr;
}

tarn_type ODBQuery::getValueType() const {
  if (!typeMap || !value) return TARN_NONE;
  return listStorage ? typeMap->list : typeMap->single;
}

void ODBQuery::setODBPath(const std::string& p) {
  OdbPath translated = translateOdbPath(p);
  path = std::move(translated.path);
  xpath = std::move(translated.xpath);
  wholeArray = translated.wholeArray;
  index = translated.index;
}

bool ODBQuery::evaluate(xmlXPathContext* context) {
  xmlNode* node = nullptr;
  switch (odbFirstElement(context, xpath, node)) {
    case OdbLookup::Unresolved:
      error = "ODBQuery: Could not resolve ODB path " + path;
      return false;
    case OdbLookup::NoNode:
      error = "ODBQuery: Could not resolve node for ODB path " + path;
      return false;
    case OdbLookup::Found:
      break;
  }
  std::string type;
  odbAttribute(node, "type", type);
  const TypeMap* row = findRow(type);
  if (!row->convert) {
    release();
    error = std::string("MIDAS ODB type ") + row->name + " not supported";
    return false;
  }
  if (row != typeMap || listStorage != wholeArray || !value) {
    release();
    typeMap = row;
    listStorage = wholeArray;
    (this->*row->create)();
  }
  return (this->*row->convert)(node);
}

template <typename T>
void ODBQuery::create() {
  if (wholeArray) {
    value = new std::vector<T>();
    if (unsignedList<T>()) tellHostValuesAreUnsigned(value, true);
  } else
    value = new T();
}

template <typename T>
void ODBQuery::destroy() {
  if (listStorage) {
    if (unsignedList<T>()) tellHostValuesAreUnsigned(value, false);
    delete static_cast<std::vector<T>*>(value);
  } else
    delete static_cast<T*>(value);
  value = nullptr;
}

template <typename T>
bool ODBQuery::convert(xmlNode* node) {
  if (wholeArray) {
    std::vector<T>& list = *static_cast<std::vector<T>*>(value);
    list.clear();
    for (xmlNode* child = node->children; child; child = child->next)
      if (odbIsValueElement(child)) list.push_back(convert_string<T>(NodeText(child->children).get()));
  } else if (index != 0) {
    int count = 0;
    for (xmlNode* child = node->children; child && count <= index; child = child->next) {
      if (!odbIsValueElement(child)) continue;
      if (++count == index) *static_cast<T*>(value) = convert_string<T>(NodeText(child->children).get());
    }
  } else {
    *static_cast<T*>(value) = node->children ? convert_string<T>(NodeText(node->children).get()) : T();
  }
  return true;
}

// One formatted extraction: 8-bit types take the first character that is not
// white space, the others a number; what does not parse gives 0.
template <typename T>
T ODBQuery::convert_string(const char* text) {
  std::istringstream in(text ? text : "");
  T v = T();
  in >> v;
  return v;
}

// MIDAS itself writes flags as "y" and "n"; numbers count as true unless 0.
template <>
bool ODBQuery::convert_string<bool>(const char* text) {
  std::istringstream in(text ? text : "");
  long n = 0;
  if (in >> n) return n != 0;
  std::istringstream again(text ? text : "");
  char c = 0;
  again >> c;
  return c == 'y' || c == 'Y';
}

template <>
std::string ODBQuery::convert_string<std::string>(const char* text) {
  return text ? text : "";
}

// After the operations and their specialisations, which the rows instantiate.
#define ODB_OPS(T) &ODBQuery::destroy<T>, &ODBQuery::create<T>, &ODBQuery::convert<T>

const ODBQuery::TypeMap ODBQuery::ODBTypeMaps[] = {
    {"NULL", TARN_NONE, TARN_NONE, nullptr, nullptr, nullptr},
    {"BYTE", TARN_UINT8, TARN_NONE, ODB_OPS(uint8_t)},
    {"SBYTE", TARN_INT8, TARN_NONE, ODB_OPS(int8_t)},
    {"CHAR", TARN_CHAR, TARN_NONE, ODB_OPS(char)},
    // Unsigned lists go out under the signed list types of their width.
    {"WORD", TARN_UINT16, TARN_SHORT_V, ODB_OPS(uint16_t)},
    {"SHORT", TARN_SHORT, TARN_SHORT_V, ODB_OPS(int16_t)},
    {"DWORD", TARN_UINT32, TARN_INT_V, ODB_OPS(uint32_t)},
    {"INT", TARN_INT, TARN_INT_V, ODB_OPS(int32_t)},
    {"BOOL", TARN_BOOL, TARN_BOOL_V, ODB_OPS(bool)},
    {"FLOAT", TARN_FLOAT, TARN_FLOAT_V, ODB_OPS(float)},
    {"DOUBLE", TARN_DOUBLE, TARN_DOUBLE_V, ODB_OPS(double)},
    {"BITFIELD", TARN_BITFIELD, TARN_NONE, ODB_OPS(uint8_t)},
    {"STRING", TARN_STRING, TARN_STRING_V, ODB_OPS(std::string)},
    {"ARRAY", TARN_ARRAY, TARN_NONE, nullptr, nullptr, nullptr},
    {"STRUCT", TARN_STRUCT, TARN_NONE, nullptr, nullptr, nullptr},
    {"KEY", TARN_KEY, TARN_NONE, nullptr, nullptr, nullptr},
    {"LINK", TARN_LINK, TARN_NONE, nullptr, nullptr, nullptr},
    {"", TARN_NONE, TARN_NONE, nullptr, nullptr, nullptr},
};

#undef ODB_OPS
