#include "Json.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace live {

void appendString(std::string& out, const std::string& text) {
  out += '"';
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else if (c < 0x20 || c == 0x7f) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", unsigned(c));
      out += escaped;
    } else {
      out += char(c);  // bytes of UTF-8 pass unchanged
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
