// Recursive-descent evaluation of a property's arithmetic formula.
#include "formulaParser.h"

#include <cctype>
#include <cmath>
#include <cstdlib>

namespace {

class Evaluator {
 public:
  explicit Evaluator(const std::string& t) : text(t), pos(0), ok(true) {}

  bool run(double& out) {
    out = expression();
    skipBlanks();
    return ok && pos == text.size() && std::isfinite(out);
  }

 private:
  void skipBlanks() {
    while (pos < text.size() && std::isspace(static_cast<unsigned char>(text[pos]))) ++pos;
  }
  bool take(char c) {
    skipBlanks();
    if (pos < text.size() && text[pos] == c) return ++pos, true;
    return false;
  }
  double expression() {
    double v = term();
    for (;;) {
      if (take('+')) v += term();
      else if (take('-')) v -= term();
      else return v;
    }
  }
  double term() {
    double v = factor();
    for (;;) {
      if (take('*')) {
        v *= factor();
      } else if (take('/')) {
        double d = factor();
        if (d == 0) ok = false;
        else v /= d;
      } else {
        return v;
      }
    }
  }
  double factor() {
    if (!ok) return 0;
    if (take('-')) return -factor();
    if (take('+')) return factor();
    if (take('(')) {
      double v = expression();
      if (!take(')')) ok = false;
      return v;
    }
    skipBlanks();
    const char* start = text.c_str() + pos;
    char* end = nullptr;
    double v = std::strtod(start, &end);
    if (end == start) {
      ok = false;
      return 0;
    }
    pos += static_cast<size_t>(end - start);
    return v;
  }

  const std::string& text;
  size_t pos;
  bool ok;
};

}  // namespace

formulaParser::formulaParser(const std::string& t) : text(t), value(0) {}

void formulaParser::setText(const std::string& t) { text = t; }

bool formulaParser::eval() {
  double v = 0;
  if (!Evaluator(text).run(v)) return false;
  value = v;
  return true;
}
