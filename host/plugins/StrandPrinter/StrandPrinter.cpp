// Prints each arriving strand event's text form and one empty line.
#include <iostream>

#include "Plugin.h"
#include "StrandEvent.h"
#include "TarnBase.h"

class StrandPrinter : public TarnBase {
 public:
  explicit StrandPrinter(std::string& n) : TarnBase(nullptr, "NoName") {
    name = n;
    description = "Print the text form of each incoming StrandEvent to STDOUT";
    inputs.push_back(TarnBase::Input("fevent", static_cast<Handler>(&StrandPrinter::printEvent),
                                     TARN_STRANDEVENT, "StrandEvent to print"));
  }

  void printEvent(void* value) {
    if (!value) return;
    std::cout << static_cast<StrandEvent*>(value)->str() << "\n";
  }
};

TARN_PLUGIN(StrandPrinter)
