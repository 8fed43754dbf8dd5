// Stand-in for the host's strand event source: on Start it sends a strand
// event with a known sequence of values, pass after pass, until its step count
// is used up or it is stopped. A new receiver is shown the layout at once, so
// plug-ins with an alternative strand-event input can adopt the event.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "Plugin.h"
#include "StrandEvent.h"
#include "TarnBase.h"

class StrandEventGenerator : public TarnBase {
 public:
  explicit StrandEventGenerator(std::string& n) : TarnBase(nullptr, "NoName") {
    name = n;
    description = "Send generated StrandEvents: Serial, Ramp and Weight";
    inputs.push_back(Input("steps", static_cast<Handler>(&StrandEventGenerator::setSteps),
                           TARN_INT, "How many events Start sends (0: until stopped)"));
    inputs.push_back(Input("interval", static_cast<Handler>(&StrandEventGenerator::setInterval),
                           TARN_FLOAT, "Pause after each event in s"));
    outputs.push_back(Output("fevent", TARN_STRANDEVENT, "The generated StrandEvent"));
    outputs.push_back(Output("serial", TARN_UINT32, "Serial number of each event"));
    event["Serial"] = StrandProperty(TARN_UINT32, StrandBinning(1000.0, 0.0, 1000), &serial);
    event["Ramp"] = StrandProperty(TARN_INT_V, StrandBinning(16.0, 0.0, 16), &ramp);
    event["Weight"] = StrandProperty(TARN_DOUBLE, StrandBinning(1.0, 0.0, 100), &weight);
    event.SetBinnings();
  }

  void setSteps(void* v) { steps = *static_cast<int*>(v); }
  void setInterval(void* v) { interval = *static_cast<float*>(v); }

  bool AddReceiver(int output, TarnBase* receiver, int input) override {
    if (!TarnBase::AddReceiver(output, receiver, input)) return false;
    if (output == 0) {
      event.layout = true;
      receiver->currentInput = input;
      TarnBase::Handler h = receiver->inputs[input].handler;
      (receiver->*h)(&event);
      event.layout = false;
    }
    return true;
  }

  // Pass k (from 1) gives Serial k, Ramp 0, k, 2k ... (k mod 4 entries), Weight 1/k.
  void Start() override {
    running = true;
    for (int pass = 0; running && (steps <= 0 || pass < steps); ++pass) {
      ++serial;
      ramp.clear();
      for (uint32_t i = 0; i < serial % 4; ++i) ramp.push_back(static_cast<int>(i * serial));
      weight = 1.0 / serial;
      SendOutput(0, &event);
      SendOutput(1, &serial);
      event.Reset();
      if (interval > 0) usleep(static_cast<useconds_t>(std::min(interval, 1000.0f) * 1e6f));
    }
    running = false;
  }

 private:
  int steps = 1;
  float interval = 0;
  StrandEvent event;
  uint32_t serial = 0;
  std::vector<int> ramp;
  double weight = 0;
};

TARN_PLUGIN(StrandEventGenerator)
