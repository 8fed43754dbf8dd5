#include "OdbJson.h"

#include <nlohmann/json.hpp>

#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

const char* const kTypeNames[] = {"NULL",  "BYTE",     "SBYTE",  "CHAR",  "WORD",  "SHORT", "DWORD",
                                  "INT",   "BOOL",     "FLOAT",  "DOUBLE", "BITFIELD", "STRING",
                                  "ARRAY", "STRUCT",   "KEY",    "LINK",  "INT64", "UINT64"};

// Members named "NAME/key" describe the key NAME; they are no keys themselves.
const char kMetaSuffix[] = "/key";
constexpr size_t kMetaSuffixLength = sizeof kMetaSuffix - 1;

bool isMetaName(const std::string& name) {
  return name.size() >= kMetaSuffixLength &&
         name.compare(name.size() - kMetaSuffixLength, kMetaSuffixLength, kMetaSuffix) == 0;
}

// One JSON value of a key, as the text of the XML form will be made from it.
struct Value {
  enum Kind { Empty, Flag, Negative, Unsigned, Real, Text } kind = Empty;
  long long negative = 0;
  unsigned long long number = 0;
  bool flag = false;
  std::string text;  // a string, or a non-integral number as written
};

// "0x" and 1 to 16 hex digits, nothing else: how WORD and DWORD values are written.
bool hexNumber(const std::string& text, unsigned long long& value) {
  if (text.size() < 3 || text.size() > 18 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X'))
    return false;
  for (size_t i = 2; i < text.size(); ++i)
    if (!std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
  value = std::strtoull(text.c_str() + 2, nullptr, 16);
  return true;
}

// Bits of signed types whose hex form MIDAS would print negative.
int signedWidth(const std::string& type) {
  if (type == "SBYTE") return 8;
  if (type == "SHORT") return 16;
  if (type == "INT") return 32;
  if (type == "INT64") return 64;
  return 0;
}

std::string hexAsDecimal(unsigned long long value, const std::string& type) {
  const int width = signedWidth(type);
  if (width == 64) return std::to_string(static_cast<long long>(value));
  if (width > 0 && value < (1ull << width) && (value >> (width - 1)) != 0)
    return std::to_string(static_cast<long long>(value) - (1ll << width));
  return std::to_string(value);
}

// The type a value implies when the dump says nothing of it.
const char* impliedType(const Value& v) {
  unsigned long long hex = 0;
  switch (v.kind) {
    case Value::Flag: return "BOOL";
    case Value::Negative: return v.negative >= INT32_MIN ? "INT" : "INT64";
    case Value::Unsigned: return v.number <= INT32_MAX ? "INT" : v.number <= INT64_MAX ? "INT64" : "UINT64";
    case Value::Real: return "DOUBLE";
    case Value::Text: return hexNumber(v.text, hex) ? "DWORD" : "STRING";
    case Value::Empty: break;
  }
  return "STRING";
}

int numericRank(const std::string& type) {
  if (type == "INT") return 1;
  if (type == "INT64") return 2;
  if (type == "UINT64") return 3;
  if (type == "DOUBLE") return 4;
  return 0;
}

// Of an array: its elements' type, the widest number when they are all numbers.
std::string impliedType(const std::vector<Value>& values) {
  if (values.empty()) return "STRING";
  std::string type = impliedType(values[0]);
  for (const Value& v : values) {
    const char* each = impliedType(v);
    if (numericRank(type) == 0 || numericRank(each) == 0) return impliedType(values[0]);
    if (numericRank(each) > numericRank(type)) type = each;
  }
  return type;
}

bool isTextType(const std::string& type) { return type == "STRING" || type == "LINK" || type == "CHAR"; }

// The element text MIDAS writes in XML for this value of a key of `type`.
std::string xmlText(const Value& v, const std::string& type) {
  const bool flagType = type == "BOOL";
  unsigned long long hex = 0;
  switch (v.kind) {
    case Value::Empty: return "";
    case Value::Flag: return v.flag ? "y" : "n";
    case Value::Negative: return flagType ? "y" : std::to_string(v.negative);
    case Value::Unsigned: return flagType ? (v.number ? "y" : "n") : std::to_string(v.number);
    case Value::Real: return flagType ? (std::strtod(v.text.c_str(), nullptr) != 0 ? "y" : "n") : v.text;
    case Value::Text:
      if (!isTextType(type) && hexNumber(v.text, hex)) return hexAsDecimal(hex, type);
      return v.text;
  }
  return "";
}

struct Key {
  xmlNode* element;
  std::string name;
  bool array;
  std::vector<Value> values;
};

// Builds the tree as the parser reports the text. A key's type may be
// described before or after its value, so keys are completed when their
// directory closes.
class TreeBuilder : public nlohmann::json::json_sax_t {
 public:
  TreeBuilder() : doc(xmlNewDoc(BAD_CAST "1.0")) {
    if (doc) doc->dict = xmlDictCreate();  // element and attribute names shared
  }
  ~TreeBuilder() override {
    if (doc) xmlFreeDoc(doc);
  }
  xmlDoc* release() {
    xmlDoc* d = doc;
    doc = nullptr;
    return d;
  }
  bool complete() const { return finished; }

  bool null() override { return scalar(Value()); }
  bool boolean(bool b) override {
    Value v;
    v.kind = Value::Flag;
    v.flag = b;
    return scalar(v);
  }
  bool number_integer(number_integer_t n) override {
    Value v;
    v.kind = n < 0 ? Value::Negative : Value::Unsigned;
    v.negative = n;
    v.number = n < 0 ? 0 : static_cast<unsigned long long>(n);
    return scalar(v);
  }
  bool number_unsigned(number_unsigned_t n) override {
    Value v;
    v.kind = Value::Unsigned;
    v.number = n;
    return scalar(v);
  }
  bool number_float(number_float_t, const string_t& written) override {
    Value v;
    v.kind = Value::Real;
    v.text = written;
    return scalar(v);
  }
  bool string(string_t& s) override {
    Value v;
    v.kind = Value::Text;
    v.text = std::move(s);
    return scalar(v);
  }
  bool binary(binary_t&) override { return scalar(Value()); }

  bool key(string_t& name) override {
    frames.back().member = std::move(name);
    return true;
  }

  bool start_object(std::size_t) override {
    if (frames.size() >= kOdbJsonDepthLimit || !doc) return false;
    if (frames.empty()) {
      xmlNode* root = xmlNewDocNode(doc, nullptr, BAD_CAST "odb", nullptr);
      if (!root) return false;
      xmlDocSetRootElement(doc, root);
      frames.push_back(directory(root));
      return true;
    }
    Frame& top = frames.back();
    if (top.role == Role::Directory && isMetaName(top.member)) {
      Frame meta{Role::Metadata};
      meta.described = top.member.substr(0, top.member.size() - kMetaSuffixLength);
      frames.push_back(std::move(meta));
      return true;
    }
    if (top.role == Role::Directory) {
      xmlNode* dir = element(top.node, "dir", top.member);
      if (!dir) return false;
      frames.push_back(directory(dir));
      return true;
    }
    return nested();
  }

  bool end_object() override {
    Frame done = std::move(frames.back());
    frames.pop_back();
    if (done.role == Role::Directory) {
      finish(done);
      finished = frames.empty();
    } else if (done.role == Role::Metadata && !done.type.empty()) {
      frames.back().types[done.described] = done.type;
    }
    return true;
  }

  bool start_array(std::size_t) override {
    if (frames.size() >= kOdbJsonDepthLimit) return false;
    if (frames.empty()) return false;  // the dump is an object
    Frame& top = frames.back();
    if (top.role == Role::Directory && !isMetaName(top.member)) {
      xmlNode* array = element(top.node, "keyarray", top.member);
      if (!array) return false;
      Frame f{Role::KeyArray};
      f.key = keys.size();
      keys.push_back(Key{array, top.member, true, {}});
      frames.push_back(std::move(f));
      return true;
    }
    return nested();
  }

  bool end_array() override {
    frames.pop_back();
    return true;
  }

  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    return false;
  }

 private:
  enum class Role { Directory, Metadata, KeyArray, Skipped };
  struct Frame {
    explicit Frame(Role r) : role(r) {}
    Role role;
    xmlNode* node = nullptr;  // of a directory
    std::string member;       // the member being read
    std::string described;    // of metadata: the key it describes
    size_t firstKey = 0;      // of a directory: its keys are keys[firstKey...]
    size_t key = 0;           // of an array: its key
    std::string type;         // of metadata
    std::unordered_map<std::string, std::string> types;  // of a directory: described keys
  };

  Frame directory(xmlNode* node) {
    Frame f{Role::Directory};
    f.node = node;
    f.firstKey = keys.size();
    return f;
  }

  // Objects and arrays where no key can be: inside arrays and metadata.
  bool nested() {
    if (frames.back().role == Role::KeyArray) keys[frames.back().key].values.emplace_back();
    frames.emplace_back(Role::Skipped);
    return true;
  }

  xmlNode* element(xmlNode* parent, const char* tag, const std::string& name) {
    xmlNode* e = xmlNewDocNode(doc, nullptr, BAD_CAST tag, nullptr);
    if (!e) return nullptr;
    xmlAddChild(parent, e);
    xmlNewProp(e, BAD_CAST "name", BAD_CAST name.c_str());
    return e;
  }

  bool scalar(Value v) {
    if (frames.empty()) return false;
    Frame& top = frames.back();
    switch (top.role) {
      case Role::Directory: {
        if (isMetaName(top.member)) return true;
        xmlNode* key = element(top.node, "key", top.member);
        if (!key) return false;
        keys.push_back(Key{key, top.member, false, {}});
        keys.back().values.push_back(std::move(v));
        return true;
      }
      case Role::Metadata:
        if (top.member == "type") top.type = typeText(v);
        return true;
      case Role::KeyArray:
        keys[top.key].values.push_back(std::move(v));
        return true;
      case Role::Skipped:
        return true;
    }
    return true;
  }

  static std::string typeText(const Value& v) {
    if (v.kind == Value::Unsigned) {
      const char* name = odbTypeName(static_cast<long long>(v.number > LLONG_MAX ? LLONG_MAX : v.number));
      return name ? name : std::to_string(v.number);
    }
    if (v.kind == Value::Negative) return std::to_string(v.negative);
    return v.text;
  }

  // Sets each key's type and text, as the XML form has them.
  void finish(const Frame& dir) {
    for (size_t k = dir.firstKey; k < keys.size(); ++k) {
      Key& key = keys[k];
      const auto described = dir.types.find(key.name);
      const std::string type = described != dir.types.end() ? described->second
                               : key.array                  ? impliedType(key.values)
                                                            : impliedType(key.values[0]);
      xmlNewProp(key.element, BAD_CAST "type", BAD_CAST type.c_str());
      if (key.array) {
        xmlNewProp(key.element, BAD_CAST "num_values", BAD_CAST std::to_string(key.values.size()).c_str());
        for (const Value& v : key.values) {
          xmlNode* value = xmlNewDocNode(doc, nullptr, BAD_CAST "value", nullptr);
          if (!value) continue;
          xmlAddChild(key.element, value);
          addText(value, xmlText(v, type));
        }
      } else {
        addText(key.element, xmlText(key.values[0], type));
      }
    }
    keys.resize(dir.firstKey);
  }

  // An empty value has no text node, as an empty XML element has none.
  void addText(xmlNode* e, const std::string& text) {
    if (!text.empty()) xmlAddChild(e, xmlNewDocTextLen(doc, BAD_CAST text.data(), static_cast<int>(text.size())));
  }

  xmlDoc* doc;
  std::vector<Frame> frames;
  std::vector<Key> keys;
  bool finished = false;
};

}  // namespace

const char* odbTypeName(long long id) {
  if (id < 0 || id >= static_cast<long long>(sizeof kTypeNames / sizeof kTypeNames[0])) return nullptr;
  return kTypeNames[id];
}

xmlDoc* odbJsonDocument(const char* text, size_t length) {
  if (!text || length > static_cast<size_t>(INT_MAX)) return nullptr;
  TreeBuilder builder;
  bool ok = false;
  try {
    ok = nlohmann::json::sax_parse(text, text + length, &builder);
  } catch (const std::exception&) {
    ok = false;  // only a failed allocation is thrown here
  }
  return ok && builder.complete() ? builder.release() : nullptr;
}
