// Setting texts to typed values: numbers, texts, and whitespace-separated lists.
#include <cerrno>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "TarnBase.h"

namespace {

std::string trimmed(const std::string& text) {
  const char* ws = " \t\r\n\f\v";
  size_t b = text.find_first_not_of(ws);
  if (b == std::string::npos) return std::string();
  size_t e = text.find_last_not_of(ws);
  return text.substr(b, e - b + 1);
}

std::vector<std::string> words(const std::string& text) {
  std::vector<std::string> w;
  std::istringstream in(text);
  std::string item;
  while (in >> item) w.push_back(item);
  return w;
}

// A whole integer in [lo, hi]: optional sign, decimal or 0x-prefixed hex.
bool parseInteger(const std::string& text, long long lo, unsigned long long hi, long long& out) {
  std::string t = trimmed(text);
  if (t.empty()) return false;
  bool negative = false;
  size_t p = 0;
  if (t[p] == '+' || t[p] == '-') negative = t[p++] == '-';
  int base = 10;
  if (t.size() > p + 2 && t[p] == '0' && (t[p + 1] == 'x' || t[p + 1] == 'X')) {
    base = 16;
    p += 2;
  }
  if (p >= t.size() || !std::isxdigit(static_cast<unsigned char>(t[p]))) return false;
  errno = 0;
  char* end = nullptr;
  unsigned long long magnitude = std::strtoull(t.c_str() + p, &end, base);
  if (errno == ERANGE || *end != '\0') return false;
  if (negative) {
    if (magnitude > static_cast<unsigned long long>(LLONG_MAX) + 1ULL) return false;
    long long v = magnitude == static_cast<unsigned long long>(LLONG_MAX) + 1ULL
                      ? LLONG_MIN
                      : -static_cast<long long>(magnitude);
    if (v < lo) return false;
    out = v;
    return true;
  }
  if (magnitude > hi) return false;
  out = static_cast<long long>(magnitude);  // values above LLONG_MAX wrap; callers cast back
  return true;
}

bool parseUnsigned64(const std::string& text, uint64_t& out) {
  std::string t = trimmed(text);
  if (t.empty() || t[0] == '-') return false;
  long long v = 0;
  if (!parseInteger(t, 0, ULLONG_MAX, v)) return false;
  out = static_cast<uint64_t>(v);
  return true;
}

bool parseDouble(const std::string& text, double& out) {
  std::string t = trimmed(text);
  if (t.empty()) return false;
  errno = 0;
  char* end = nullptr;
  double v = std::strtod(t.c_str(), &end);
  if (*end != '\0' || (errno == ERANGE && std::isinf(v))) return false;
  out = v;
  return true;
}

bool parseFloat(const std::string& text, float& out) {
  double d = 0;
  if (!parseDouble(text, d)) return false;
  if (std::isfinite(d) && std::fabs(d) > FLT_MAX) return false;
  out = static_cast<float>(d);
  return true;
}

bool parseBool(const std::string& text, bool& out) {
  std::string t = trimmed(text);
  for (char& c : t) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (t == "1" || t == "true" || t == "yes" || t == "on") return out = true, true;
  if (t == "0" || t == "false" || t == "no" || t == "off") return out = false, true;
  return false;
}

template <typename T>
bool parseInt(const std::string& text, T& out) {
  long long v = 0;
  if (!parseInteger(text, std::numeric_limits<T>::min(),
                    static_cast<unsigned long long>(std::numeric_limits<T>::max()), v))
    return false;
  out = static_cast<T>(v);
  return true;
}

template <typename T, typename Parse>
bool parseList(const std::string& text, std::vector<T>& out, Parse parse) {
  std::vector<T> v;
  for (const std::string& w : words(text)) {
    T item{};
    if (!parse(w, item)) return false;
    v.push_back(item);
  }
  out.swap(v);
  return true;
}

// Elements of int lists may also be written as unsigned 32-bit numbers (masks).
bool parseIntElement(const std::string& w, int& item) {
  long long v = 0;
  if (!parseInteger(w, INT_MIN, UINT_MAX, v)) return false;
  item = static_cast<int>(static_cast<uint32_t>(v));
  return true;
}

}  // namespace

namespace {

// The single values' text forms, read by the node's own conversions (a
// node may override them); `run` hands the parsed value on. False when
// the text does not parse or the type is none of them.
template <typename Run>
bool deliverScalarText(const TarnBase& node, tarn_type type, const std::string& text, Run run) {
  switch (type) {
    case TARN_UINT8:
    case TARN_BITFIELD: {
      uint8_t v = 0;
      return parseInt(text, v) && run(&v);
    }
    case TARN_INT8: {
      int8_t v = 0;
      return parseInt(text, v) && run(&v);
    }
    case TARN_CHAR: {
      std::string t = trimmed(text);
      char v = t.size() == 1 ? t[0] : 0;
      return t.size() == 1 && run(&v);
    }
    case TARN_UINT16: {
      uint16_t v = 0;
      return parseInt(text, v) && run(&v);
    }
    case TARN_SHORT: {
      short v = 0;
      return node.convertToShort(text, v) && run(&v);
    }
    case TARN_UINT32: {
      uint32_t v = 0;
      return parseInt(text, v) && run(&v);
    }
    case TARN_INT: {
      int v = 0;
      return node.convertToInt(text, v) && run(&v);
    }
    case TARN_BOOL: {
      bool v = false;
      return parseBool(text, v) && run(&v);
    }
    case TARN_FLOAT: {
      float v = 0;
      return node.convertToFloat(text, v) && run(&v);
    }
    case TARN_DOUBLE: {
      double v = 0;
      return node.convertToDouble(text, v) && run(&v);
    }
    case TARN_UINT64: {
      uint64_t v = 0;
      return parseUnsigned64(text, v) && run(&v);
    }
    case TARN_CSTRING: {
      std::vector<char> v = node.convertToCString(text);
      return run(v.data());
    }
    case TARN_STRING: {
      std::string v = text;
      return run(&v);
    }
    default:
      return false;
  }
}

bool parseBoolFlag(const std::string& w, char& f) {
  bool b = false;
  if (!parseBool(w, b)) return false;
  f = b;
  return true;
}

// The lists' text forms (words apart), as deliverScalarText.
template <typename Run>
bool deliverListText(const TarnBase& node, tarn_type type, const std::string& text, Run run) {
  switch (type) {
    case TARN_SHORT_V: {
      std::vector<short> v;
      return node.convertToShortV(text, v) && run(&v);
    }
    case TARN_INT_V: {
      std::vector<int> v;
      return node.convertToIntV(text, v) && run(&v);
    }
    case TARN_UINT64_V: {
      std::vector<uint64_t> v;
      return parseList(text, v, parseUnsigned64) && run(&v);
    }
    case TARN_BOOL_V: {
      std::vector<char> flags;
      if (!parseList(text, flags, parseBoolFlag)) return false;
      std::vector<bool> v(flags.begin(), flags.end());
      return run(&v);
    }
    case TARN_FLOAT_V: {
      std::vector<float> v;
      return node.convertToFloatV(text, v) && run(&v);
    }
    case TARN_DOUBLE_V: {
      std::vector<double> v;
      return node.convertToDoubleV(text, v) && run(&v);
    }
    case TARN_STRING_V: {
      std::vector<std::string> v = node.convertToStringV(text);
      return run(&v);
    }
    default:
      return false;
  }
}

}  // namespace

bool TarnBase::deliverText(int input, const std::string& text) {
  auto run = [&](void* value) {
    inputs[input].setting = text;
    deliver(input, value);
    return true;
  };
  // Objects, strand events and the MIDAS structure types have no text form:
  // neither of the two knows them.
  const tarn_type type = inputs[input].type;
  return deliverScalarText(*this, type, text, run) || deliverListText(*this, type, text, run);
}

bool TarnBase::convertToShort(const std::string& t, short& v) const { return parseInt(t, v); }
short TarnBase::convertToShort(const std::string& t) const {
  short v = 0;
  return convertToShort(t, v) ? v : 0;
}
bool TarnBase::convertToInt(const std::string& t, int& v) const { return parseInt(t, v); }
int TarnBase::convertToInt(const std::string& t) const {
  int v = 0;
  return convertToInt(t, v) ? v : 0;
}
bool TarnBase::convertToInt64(const std::string& t, int64_t& v) const { return parseInt(t, v); }
int64_t TarnBase::convertToInt64(const std::string& t) const {
  int64_t v = 0;
  return convertToInt64(t, v) ? v : 0;
}
bool TarnBase::convertToFloat(const std::string& t, float& v) const { return parseFloat(t, v); }
float TarnBase::convertToFloat(const std::string& t) const {
  float v = 0;
  return convertToFloat(t, v) ? v : 0.0f;
}
bool TarnBase::convertToDouble(const std::string& t, double& v) const { return parseDouble(t, v); }
double TarnBase::convertToDouble(const std::string& t) const {
  double v = 0;
  return convertToDouble(t, v) ? v : 0.0;
}
bool TarnBase::convertToString(const std::string& t, std::string& v) const {
  v = t;
  return true;
}
std::string TarnBase::convertToString(const std::string& t) const { return t; }
bool TarnBase::convertToCString(const std::string& t, std::vector<char>& v) const {
  v.assign(t.begin(), t.end());
  v.push_back('\0');
  return true;
}
std::vector<char> TarnBase::convertToCString(const std::string& t) const {
  std::vector<char> v;
  convertToCString(t, v);
  return v;
}
bool TarnBase::convertToIntV(const std::string& t, std::vector<int>& v) const {
  return parseList(t, v, parseIntElement);
}
std::vector<int> TarnBase::convertToIntV(const std::string& t) const {
  std::vector<int> v;
  convertToIntV(t, v);
  return v;
}
bool TarnBase::convertToStringV(const std::string& t, std::vector<std::string>& v) const {
  v = words(t);
  return true;
}
std::vector<std::string> TarnBase::convertToStringV(const std::string& t) const { return words(t); }
bool TarnBase::convertToShortV(const std::string& t, std::vector<short>& v) const {
  return parseList(t, v, parseInt<short>);
}
std::vector<short> TarnBase::convertToShortV(const std::string& t) const {
  std::vector<short> v;
  convertToShortV(t, v);
  return v;
}
bool TarnBase::convertToFloatV(const std::string& t, std::vector<float>& v) const {
  return parseList(t, v, parseFloat);
}
std::vector<float> TarnBase::convertToFloatV(const std::string& t) const {
  std::vector<float> v;
  convertToFloatV(t, v);
  return v;
}
bool TarnBase::convertToDoubleV(const std::string& t, std::vector<double>& v) const {
  return parseList(t, v, parseDouble);
}
std::vector<double> TarnBase::convertToDoubleV(const std::string& t) const {
  std::vector<double> v;
  convertToDoubleV(t, v);
  return v;
}
