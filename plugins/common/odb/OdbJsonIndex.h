// An ODB dump in JSON read once into a compact form: each directory's
// members in order (directories, keys and arrays), their values and their
// described types, with names and texts kept in one store. What the XML form
// of the same ODB would hold for a key is told by typeOf and xmlText.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace odbjson {

// One JSON value of a key; texts (strings, and non-integral numbers as
// written) live in the index's text store.
struct Scalar {
  enum Kind : uint8_t { Empty, Flag, Negative, Unsigned, Real, Text } kind = Empty;
  bool flag = false;
  uint32_t at = 0, size = 0;  // of the text
  long long negative = 0;
  unsigned long long number = 0;
};

// A described type: a MIDAS id, a name given as text, or none.
struct TypeRef {
  enum Kind : uint8_t { None, Id, Name } kind = None;
  long long id = 0;
  uint32_t at = 0, size = 0;
};

struct Member {
  enum Shape : uint8_t { Dir, Key, Array };
  Member(Shape s, uint32_t at, uint32_t size) : shape(s), nameAt(at), nameSize(size) {}
  Shape shape;
  uint32_t nameAt, nameSize;
  uint32_t first = 0, count = 0;  // a directory: its index; a key: its values
  TypeRef type;
};

struct Dir {
  uint32_t first, count;  // of `members`
};

class OdbJsonIndex {
 public:
  explicit OdbJsonIndex(size_t textSize) { store.reserve(textSize); }

  std::string store;  // names and texts, back to back
  std::vector<Scalar> values;
  std::vector<Member> members;
  std::vector<Dir> dirs;
  uint32_t root = 0;  // of `dirs`

  std::string_view text(uint32_t at, uint32_t size) const { return std::string_view(store).substr(at, size); }
  uint32_t keep(const std::string& s) {
    const uint32_t at = static_cast<uint32_t>(store.size());
    store += s;
    return at;
  }
  // A key's type by name: as described, else as its values imply (of an
  // array of numbers, the widest).
  std::string typeOf(const Member& m) const;
  // The element text MIDAS writes in XML for this value of a key of `type`.
  std::string xmlText(const Scalar& v, const std::string& type) const;

 private:
  const char* impliedType(const Scalar& v) const;
};

}  // namespace odbjson

// `text` (of `length` bytes) is untrusted; null unless it is one well-formed
// JSON object nested no deeper than `depthLimit`.
std::unique_ptr<odbjson::OdbJsonIndex> readOdbJson(const char* text, size_t length, size_t depthLimit);
