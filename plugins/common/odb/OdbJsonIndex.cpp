#include "OdbJsonIndex.h"

#include <nlohmann/json.hpp>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <unordered_map>
#include <utility>

#include "OdbTypeName.h"

using namespace odbjson;

namespace {

// Members named "NAME/key" describe the key NAME; they are no keys themselves.
constexpr std::string_view kMetaSuffix = "/key";

bool isMetaName(std::string_view name) {
  return name.size() >= kMetaSuffix.size() && name.substr(name.size() - kMetaSuffix.size()) == kMetaSuffix;
}

// "0x" and 1 to 16 hex digits, nothing else: how WORD and DWORD values are written.
bool hexNumber(std::string_view text, unsigned long long& value) {
  if (text.size() < 3 || text.size() > 18 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X'))
    return false;
  value = 0;
  for (size_t i = 2; i < text.size(); ++i) {
    const char c = text[i];
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    value = value * 16 + static_cast<unsigned>(std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                                                                                         : (c | 0x20) - 'a' + 10);
  }
  return true;
}

// Bits of signed types whose hex form MIDAS would print negative.
int signedWidth(std::string_view type) {
  if (type == "SBYTE") return 8;
  if (type == "SHORT") return 16;
  if (type == "INT") return 32;
  if (type == "INT64") return 64;
  return 0;
}

std::string hexAsDecimal(unsigned long long value, std::string_view type) {
  const int width = signedWidth(type);
  if (width == 64) return std::to_string(static_cast<long long>(value));
  if (width > 0 && value < (1ull << width) && (value >> (width - 1)) != 0)
    return std::to_string(static_cast<long long>(value) - (1ll << width));
  return std::to_string(value);
}

int numericRank(std::string_view type) {
  if (type == "INT") return 1;
  if (type == "INT64") return 2;
  if (type == "UINT64") return 3;
  if (type == "DOUBLE") return 4;
  return 0;
}

bool isTextType(std::string_view type) { return type == "STRING" || type == "LINK" || type == "CHAR"; }

// Reads the text into the index as the parser reports it. A key's type may
// be described before or after its value: descriptions are matched to keys
// when their directory closes.
class IndexBuilder : public nlohmann::json::json_sax_t {
 public:
  IndexBuilder(OdbJsonIndex& index, size_t depth) : ix(index), depthLimit(depth) {}
  bool complete() const { return finished; }

  bool null() override { return scalar(Scalar()); }
  bool boolean(bool b) override {
    Scalar v;
    v.kind = Scalar::Flag;
    v.flag = b;
    return scalar(v);
  }
  bool number_integer(number_integer_t n) override {
    Scalar v;
    v.kind = n < 0 ? Scalar::Negative : Scalar::Unsigned;
    v.negative = n;
    v.number = n < 0 ? 0 : static_cast<unsigned long long>(n);
    return scalar(v);
  }
  bool number_unsigned(number_unsigned_t n) override {
    Scalar v;
    v.kind = Scalar::Unsigned;
    v.number = n;
    return scalar(v);
  }
  bool number_float(number_float_t, const string_t& written) override { return text(Scalar::Real, written); }
  bool string(string_t& s) override { return text(Scalar::Text, s); }
  bool binary(binary_t&) override { return scalar(Scalar()); }

  bool key(string_t& name) override {
    Frame& top = frames.back();
    top.nameAt = ix.keep(name);
    top.nameSize = static_cast<uint32_t>(name.size());
    top.meta = top.role == Role::Directory && isMetaName(name);
    return true;
  }

  bool start_object(std::size_t) override {
    if (frames.size() >= depthLimit) return false;
    if (frames.empty()) {
      frames.emplace_back(Role::Directory);
      return true;
    }
    Frame& top = frames.back();
    if (top.role == Role::Directory && top.meta) {
      Frame meta(Role::Metadata);
      meta.describedAt = top.nameAt;
      meta.describedSize = top.nameSize - static_cast<uint32_t>(kMetaSuffix.size());
      frames.push_back(meta);
      return true;
    }
    if (top.role == Role::Directory) return open(Member(Member::Dir, top.nameAt, top.nameSize), Role::Directory);
    return nested();
  }

  bool end_object() override {
    Frame done = std::move(frames.back());
    frames.pop_back();
    if (done.role == Role::Directory) {
      const uint32_t dir = close(done);
      if (frames.empty()) {
        ix.root = dir;
        finished = true;
      } else {
        frames.back().pending[done.slot].first = dir;
      }
    } else if (done.role == Role::Metadata && done.type.kind != TypeRef::None) {
      frames.back().described.push_back({{done.describedAt, done.describedSize}, done.type});
    }
    return true;
  }

  bool start_array(std::size_t) override {
    if (frames.size() >= depthLimit || frames.empty()) return false;
    Frame& top = frames.back();
    if (top.role == Role::Directory && !top.meta) {
      Member m(Member::Array, top.nameAt, top.nameSize);
      m.first = static_cast<uint32_t>(ix.values.size());
      return open(m, Role::Array);
    }
    return nested();
  }

  bool end_array() override {
    const Frame done = std::move(frames.back());
    frames.pop_back();
    if (done.role == Role::Array) {
      Member& m = frames.back().pending[done.slot];
      m.count = static_cast<uint32_t>(ix.values.size()) - m.first;
    }
    return true;
  }

  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    return false;
  }

 private:
  enum class Role { Directory, Metadata, Array, Skipped };
  struct Frame {
    explicit Frame(Role r) : role(r) {}
    Role role;
    uint32_t nameAt = 0, nameSize = 0;  // the member being read
    bool meta = false;                  // it is a description
    size_t slot = 0;                    // a directory or array: its member in the parent
    std::vector<Member> pending;        // a directory: its members so far
    std::vector<std::pair<std::pair<uint32_t, uint32_t>, TypeRef>> described;  // and descriptions
    uint32_t describedAt = 0, describedSize = 0;  // metadata: the key described
    TypeRef type;                                // and its type
  };

  // A directory or array member of the directory being read, read next.
  bool open(const Member& m, Role role) {
    frames.back().pending.push_back(m);
    Frame f(role);
    f.slot = frames.back().pending.size() - 1;
    frames.push_back(std::move(f));
    return true;
  }

  // Objects and arrays where no key can be: inside arrays and descriptions.
  bool nested() {
    if (frames.back().role == Role::Array) ix.values.emplace_back();
    frames.emplace_back(Role::Skipped);
    return true;
  }

  bool text(Scalar::Kind kind, const std::string& s) {
    Scalar v;
    v.kind = kind;
    Frame& top = frames.back();
    if (top.role == Role::Metadata) {
      if (ix.text(top.nameAt, top.nameSize) == "type") {
        top.type.kind = TypeRef::Name;
        top.type.at = ix.keep(s);
        top.type.size = static_cast<uint32_t>(s.size());
      }
      return true;
    }
    if (top.role == Role::Skipped || (top.role == Role::Directory && top.meta)) return true;
    v.at = ix.keep(s);
    v.size = static_cast<uint32_t>(s.size());
    return scalar(v);
  }

  bool scalar(const Scalar& v) {
    if (frames.empty()) return false;
    Frame& top = frames.back();
    switch (top.role) {
      case Role::Directory: {
        if (top.meta) return true;
        Member m(Member::Key, top.nameAt, top.nameSize);
        m.first = static_cast<uint32_t>(ix.values.size());
        m.count = 1;
        ix.values.push_back(v);
        top.pending.push_back(m);
        return true;
      }
      case Role::Metadata:
        if (ix.text(top.nameAt, top.nameSize) == "type") {
          top.type.kind = TypeRef::Id;
          top.type.id = v.kind == Scalar::Negative ? v.negative
                        : v.number > LLONG_MAX     ? LLONG_MAX
                                                   : static_cast<long long>(v.number);
        }
        return true;
      case Role::Array:
        ix.values.push_back(v);
        return true;
      case Role::Skipped:
        return true;
    }
    return true;
  }

  // Gives each key its description and stores the directory.
  uint32_t close(Frame& dir) {
    if (!dir.described.empty()) {
      std::unordered_map<std::string_view, TypeRef> types;
      for (const auto& d : dir.described) types[ix.text(d.first.first, d.first.second)] = d.second;
      for (Member& m : dir.pending) {
        const auto found = types.find(ix.text(m.nameAt, m.nameSize));
        if (found != types.end() && m.shape != Member::Dir) m.type = found->second;
      }
    }
    const uint32_t first = static_cast<uint32_t>(ix.members.size());
    ix.members.insert(ix.members.end(), dir.pending.begin(), dir.pending.end());
    ix.dirs.push_back(Dir{first, static_cast<uint32_t>(dir.pending.size())});
    return static_cast<uint32_t>(ix.dirs.size() - 1);
  }

  OdbJsonIndex& ix;
  const size_t depthLimit;
  std::vector<Frame> frames;
  bool finished = false;
};

}  // namespace

// The type a value implies when the dump says nothing of it.
const char* OdbJsonIndex::impliedType(const Scalar& v) const {
  unsigned long long hex = 0;
  switch (v.kind) {
    case Scalar::Flag: return "BOOL";
    case Scalar::Negative: return v.negative >= INT32_MIN ? "INT" : "INT64";
    case Scalar::Unsigned: return v.number <= INT32_MAX ? "INT" : v.number <= INT64_MAX ? "INT64" : "UINT64";
    case Scalar::Real: return "DOUBLE";
    case Scalar::Text: return hexNumber(text(v.at, v.size), hex) ? "DWORD" : "STRING";
    case Scalar::Empty: break;
  }
  return "STRING";
}


std::string OdbJsonIndex::typeOf(const Member& m) const {
  if (m.type.kind == TypeRef::Name) return std::string(text(m.type.at, m.type.size));
  if (m.type.kind == TypeRef::Id) {
    const char* name = odbTypeName(m.type.id);
    return name ? name : std::to_string(m.type.id);
  }
  if (m.count == 0) return "STRING";
  std::string type = impliedType(values[m.first]);
  for (uint32_t i = m.first; i < m.first + m.count; ++i) {
    const char* each = impliedType(values[i]);
    if (numericRank(type) == 0 || numericRank(each) == 0) return impliedType(values[m.first]);
    if (numericRank(each) > numericRank(type)) type = each;
  }
  return type;
}


std::string OdbJsonIndex::xmlText(const Scalar& v, const std::string& type) const {
  const bool flagType = type == "BOOL";
  unsigned long long hex = 0;
  switch (v.kind) {
    case Scalar::Empty: return "";
    case Scalar::Flag: return v.flag ? "y" : "n";
    case Scalar::Negative: return flagType ? "y" : std::to_string(v.negative);
    case Scalar::Unsigned: return flagType ? (v.number ? "y" : "n") : std::to_string(v.number);
    case Scalar::Real: {
      const std::string written(text(v.at, v.size));
      return flagType ? (std::strtod(written.c_str(), nullptr) != 0 ? "y" : "n") : written;
    }
    case Scalar::Text: {
      const std::string_view t = text(v.at, v.size);
      if (!isTextType(type) && hexNumber(t, hex)) return hexAsDecimal(hex, type);
      return std::string(t);
    }
  }
  return "";
}

std::unique_ptr<OdbJsonIndex> readOdbJson(const char* text, size_t length, size_t depthLimit) {
  std::unique_ptr<OdbJsonIndex> index(new OdbJsonIndex(length));
  IndexBuilder builder(*index, depthLimit);
  if (!nlohmann::json::sax_parse(text, text + length, &builder) || !builder.complete()) return nullptr;
  return index;
}
