// A receiving node for the plug-in tests: records, in arrival order, what
// reaches each of its inputs. Inputs 0 to objects-1 take MIDAS events (type
// 18), the next `texts` inputs take C text (type 13).
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "TMidasEvent.h"
#include "TarnBase.h"

namespace midastest {

class Collector : public TarnBase {
 public:
  struct Arrival {
    int input;
    const void* pointer;
    std::string text;        // text inputs
    TMidasEvent event;       // event inputs: a copy taken on arrival
    bool hadBankList;        // the event's bank list was set when it arrived
  };

  explicit Collector(int objects = 1, int texts = 2) : TarnBase(nullptr, "collector") {
    for (int i = 0; i < objects; ++i)
      inputs.push_back(Input("in" + std::to_string(i), static_cast<Handler>(&Collector::onEvent),
                             TARN_OBJECT, ""));
    for (int i = 0; i < texts; ++i)
      inputs.push_back(Input("text" + std::to_string(i), static_cast<Handler>(&Collector::onText),
                             TARN_CSTRING, ""));
  }

  void onEvent(void* v) {
    Arrival a;
    a.input = currentInput;
    a.pointer = v;
    const TMidasEvent* e = static_cast<const TMidasEvent*>(v);
    a.hadBankList = e->GetBankList() != nullptr;
    a.event = *e;
    got.push_back(a);
    ++count;
  }
  void onText(void* v) {
    Arrival a;
    a.input = currentInput;
    a.pointer = v;
    a.text = static_cast<const char*>(v);
    a.hadBankList = false;
    got.push_back(a);
    ++count;
  }

  std::vector<int> inputsSeen() const {
    std::vector<int> v;
    for (const Arrival& a : got) v.push_back(a.input);
    return v;
  }

  std::vector<Arrival> got;
  std::atomic<int> count{0};
};

}  // namespace midastest
