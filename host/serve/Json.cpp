#include "Json.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace live {

namespace {

// Length of the well-formed UTF-8 sequence at text[i] (no overlong forms, no
// surrogates, nothing above U+10FFFF), or 0.
size_t utf8Length(const std::string& text, size_t i) {
  const auto byte = [&](size_t k) { return i + k < text.size() ? (unsigned char)text[i + k] : 0u; };
  const unsigned c = byte(0);
  const auto tail = [&](size_t k) { return (byte(k) & 0xC0) == 0x80; };
  if (c >= 0xC2 && c <= 0xDF) return tail(1) ? 2 : 0;
  if (c >= 0xE0 && c <= 0xEF) {
    const unsigned c1 = byte(1);
    if ((c == 0xE0 && c1 < 0xA0) || (c == 0xED && c1 > 0x9F)) return 0;
    return tail(1) && tail(2) ? 3 : 0;
  }
  if (c >= 0xF0 && c <= 0xF4) {
    const unsigned c1 = byte(1);
    if ((c == 0xF0 && c1 < 0x90) || (c == 0xF4 && c1 > 0x8F)) return 0;
    return tail(1) && tail(2) && tail(3) ? 4 : 0;
  }
  return 0;
}

}  // namespace

void appendString(std::string& out, const std::string& text) {
  out += '"';
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = (unsigned char)text[i];
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else if (c < 0x20 || c == 0x7f) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", unsigned(c));
      out += escaped;
    } else if (c < 0x80) {
      out += char(c);
    } else if (const size_t n = utf8Length(text, i)) {
      out.append(text, i, n);
      i += n - 1;
    } else {
      out += "\\ufffd";  // not UTF-8: JSON text must be
    }
  }
  out += '"';
}

void appendNumber(std::string& out, double x) {
  if (!std::isfinite(x)) {
    out += "null";
    return;
  }
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, x);
  out.append(buffer, result.ptr);
}

}  // namespace live
