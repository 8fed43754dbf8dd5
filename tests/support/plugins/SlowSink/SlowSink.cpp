// Test-only plug-in: a sink whose destruction takes "linger" milliseconds, as
// that of one writing large results at the end of a run does.
#include <chrono>
#include <string>
#include <thread>

#include "Plugin.h"
#include "TarnBase.h"

class SlowSink : public TarnBase {
 public:
  explicit SlowSink(std::string& n) : TarnBase(nullptr, "NoName") {
    name = n;
    description = "Take a while to be destroyed (tests only)";
    inputs.push_back(Input("linger", static_cast<Handler>(&SlowSink::onLinger), TARN_INT,
                           "milliseconds its destruction takes"));
  }
  ~SlowSink() override { std::this_thread::sleep_for(std::chrono::milliseconds(lingerMs)); }

  void onLinger(void* v) { lingerMs = *static_cast<int*>(v); }

 private:
  int lingerMs = 0;
};

TARN_PLUGIN(SlowSink)
