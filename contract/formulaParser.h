// A small arithmetic expression attached to a strand property.
#pragma once

#include <string>

// Numbers, + - * /, unary minus and parentheses, e.g. "(3 + 4.5) * -2".
class formulaParser {
 public:
  explicit formulaParser(const std::string& text = std::string());
  virtual ~formulaParser() {}

  void setText(const std::string& text);
  const std::string& getText() const { return text; }

  // Evaluates the expression; false when it does not parse or divides by zero.
  bool eval();
  double result() const { return value; }

 private:
  std::string text;
  double value;
};
