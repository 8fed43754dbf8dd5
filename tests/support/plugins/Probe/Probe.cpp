// Test-only plug-in: reports on stdout every value that reaches it, so tests
// can check delivery, port numbers and per-instance state through the loader.
#include <iostream>
#include <string>
#include <vector>

#include "Plugin.h"
#include "TarnBase.h"

class Probe : public TarnBase {
 public:
  explicit Probe(std::string& n) : TarnBase(nullptr, "NoName") {
    name = n;
    description = "Report every arriving value (tests only)";
    inputs.push_back(Input("int", static_cast<Handler>(&Probe::onInt), TARN_INT, "echoed on 'echo'"));
    inputs.push_back(Input("text", static_cast<Handler>(&Probe::onText), TARN_STRING, "a text"));
    inputs.push_back(Input("cstr", static_cast<Handler>(&Probe::onCString), TARN_CSTRING, "a c-string"));
    inputs.push_back(Input("list", static_cast<Handler>(&Probe::onList), TARN_INT_V, "int list"));
    inputs.push_back(Input("retype", static_cast<Handler>(&Probe::onRetype), TARN_INT,
                           "type number for output 'changing'; then sends on it"));
    inputs.push_back(Input("names", static_cast<Handler>(&Probe::onNames), TARN_STRING_V,
                           "names of text inputs made from number 6 on"));
    outputs.push_back(Output("echo", TARN_INT, "what arrived on 'int'"));
    outputs.push_back(Output("changing", TARN_INT, "type set by 'retype'"));
    std::cout << name << " instantiated" << std::endl;
  }
  ~Probe() override { std::cout << name << " deleted" << std::endl; }

  void Init() override { std::cout << name << " initialized." << std::endl; }

  void onInt(void* v) {
    int value = *static_cast<int*>(v);
    ++calls;
    std::cout << name << ": int " << value << " on #" << currentInput << " (call " << calls << ")"
              << std::endl;
    SendOutput(0, &value);
  }
  void onText(void* v) {
    std::cout << name << ": text '" << *static_cast<std::string*>(v) << "' on #" << currentInput
              << std::endl;
  }
  void onCString(void* v) {
    std::cout << name << ": cstr '" << static_cast<char*>(v) << "' on #" << currentInput << std::endl;
  }
  void onList(void* v) {
    std::cout << name << ": list";
    for (int i : *static_cast<std::vector<int>*>(v)) std::cout << " " << i;
    std::cout << std::endl;
  }
  void onRetype(void* v) {
    outputs[1].type = static_cast<tarn_type>(*static_cast<int*>(v));
    RefreshReceivers(1);
    if (outputs[1].type == TARN_STRING) {
      std::string s = "changed";
      SendOutput(1, &s);
    } else {
      int i = 7;
      SendOutput(1, &i);
    }
  }
  void onNames(void* v) {
    replaceInputs(Input("dummy", static_cast<Handler>(&Probe::onNamed), TARN_STRING, "made by names"),
                  *static_cast<std::vector<std::string>*>(v), 6, 0);
    std::cout << name << ": names, now " << inputs.size() << " inputs" << std::endl;
  }
  void onNamed(void* v) {
    std::cout << name << ": " << inputs[currentInput].name << " = '"
              << *static_cast<std::string*>(v) << "' on #" << currentInput << std::endl;
  }

 private:
  int calls = 0;
};

TARN_PLUGIN(Probe)
