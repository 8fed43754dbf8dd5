// Prints each arriving value, one a line; its input takes the type of the
// output it is connected to, and follows that output when its type changes.
#include <iostream>

#include "Plugin.h"
#include "TarnBase.h"
#include "ValueText.h"

class ValuePrinter : public TarnBase {
 public:
  explicit ValuePrinter(std::string& n) : TarnBase(nullptr, "NoName") {
    name = n;
    description = "Print each incoming value to STDOUT, one a line";
    inputs.push_back(TarnBase::Input("value", static_cast<Handler>(&ValuePrinter::printValue),
                                     TARN_OBJECT,
                                     "Any value; takes the type of the connected output"));
  }

  void SetSender(int input, TarnBase* sender, int output) override {
    TarnBase::SetSender(input, sender, output);
    if (sender && input == 0 && output >= 0 && output < static_cast<int>(sender->outputs.size()))
      inputs[0].type = sender->outputs[output].type;
  }

  void printValue(void* value) {
    tarn_write_value(std::cout, inputs[0].type, value);
    std::cout << "\n";
  }
};

TARN_PLUGIN(ValuePrinter)
