#include "OdbPath.h"

#include <cctype>
#include <climits>

long long odbLeadingInteger(const char* text) {
  if (!text) return 0;
  while (std::isspace(static_cast<unsigned char>(*text))) ++text;
  bool negative = false;
  if (*text == '+' || *text == '-') negative = *text++ == '-';
  long long value = 0;
  for (; std::isdigit(static_cast<unsigned char>(*text)); ++text) {
    const int digit = *text - '0';
    if (value > (LLONG_MAX - digit) / 10) return negative ? LLONG_MIN : LLONG_MAX;
    value = value * 10 + digit;
  }
  return negative ? -value : value;
}

namespace {

// Appends the step of the key segment and sets the array selection it names.
void appendKey(std::string segment, OdbPath& out) {
  if (segment.back() == ']') {
    out.xpath += "/keyarray";
    // The first character is never taken for the "[": "[3]" is a name.
    const size_t open = segment.size() >= 3 ? segment.rfind('[', segment.size() - 2) : 0;
    if (open != std::string::npos && open > 0) {
      if (segment[open + 1] == '*') {
        out.wholeArray = true;
      } else {
        long long n = odbLeadingInteger(segment.c_str() + open + 1);
        if (n < INT_MIN) n = INT_MIN;
        if (n > INT_MAX - 1) n = INT_MAX - 1;
        out.index = static_cast<int>(n) + 1;
      }
      segment.erase(open);
    }
  } else {
    out.xpath += "/key";
  }
  out.xpath += "[@name=\"" + segment + "\"]";
}

}  // namespace

OdbPath translateOdbPath(const std::string& given) {
  OdbPath out;
  out.path = given;
  if (!out.path.empty() && out.path.front() == '"') out.path.erase(0, 1);
  if (!out.path.empty() && out.path.back() == '"') out.path.pop_back();

  const std::string& p = out.path;
  size_t at = 0;
  while (at < p.size()) {
    const size_t slash = p.find('/', at);
    const size_t end = slash == std::string::npos ? p.size() : slash;
    if (end - at > kOdbSegmentLimit) break;
    const std::string segment = p.substr(at, end - at);
    at = end + 1;
    if (segment.empty()) continue;
    out.index = 0;
    ++out.segments;
    if (slash != std::string::npos) {
      out.xpath += "/dir[@name=\"" + segment + "\"]";
    } else {
      appendKey(segment, out);
    }
  }
  return out;
}
