#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "../common/PortListing.h"
#include "TarnTest.h"
#include "WaveEvent.h"

namespace {

// Writes every value that reaches it as "port value ...", in arrival order.
class Log : public TarnBase {
 public:
  Log() : TarnBase(nullptr, "log") {
    const char* names[] = {"module", "channel", "height", "pos", "charge", "signal", "dataV"};
    void (Log::*const handlers[])(void*) = {&Log::onInt, &Log::onInt, &Log::onDouble, &Log::onInt,
                                &Log::onInt, &Log::onShorts, &Log::onDoubles};
    const tarn_type types[] = {TARN_INT, TARN_INT,     TARN_DOUBLE,  TARN_INT,
                               TARN_INT, TARN_SHORT_V, TARN_DOUBLE_V};
    for (int i = 0; i < 7; ++i)
      inputs.push_back(Input(names[i], static_cast<Handler>(handlers[i]), types[i], ""));
  }
  void onInt(void* v) { write() << *static_cast<const int*>(v); }
  void onDouble(void* v) { write() << *static_cast<const double*>(v); }
  void onShorts(void* v) {
    std::ostringstream& s = write();
    for (short x : *static_cast<const std::vector<short>*>(v)) s << " " << x;
  }
  void onDoubles(void* v) {
    std::ostringstream& s = write();
    for (double x : *static_cast<const std::vector<double>*>(v)) s << " " << x;
  }
  std::vector<std::string> take() {
    std::vector<std::string> l;
    for (const auto& s : lines) l.push_back(s.str());
    lines.clear();
    return l;
  }

 private:
  std::ostringstream& write() {
    lines.emplace_back();
    lines.back() << inputs[currentInput].name;
    if (currentInput != 5 && currentInput != 6) lines.back() << " ";
    return lines.back();
  }
  std::vector<std::ostringstream> lines;
};

using Lines = std::vector<std::string>;

struct Channel {
  unsigned char number;
  int pulseheight;
  float pedestal;
  int maxtime;
  int charge;
  std::vector<unsigned short> samples;
};

// The seven lines the picker sends for one channel of a module.
Lines linesOf(int module, const Channel& c, const std::string& height, const std::string& signal) {
  return {"module " + std::to_string(module), "channel " + std::to_string(c.number),
          "height " + height, "pos " + std::to_string(c.maxtime),
          "charge " + std::to_string(c.charge), "signal" + signal,
          "dataV " + height + " " + std::to_string(c.maxtime)};
}

Lines operator+(Lines a, const Lines& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class ChannelPickerTest : public ::testing::Test {
 protected:
  ChannelPickerTest() : picker("ChannelPicker", "picker") {
    for (int k = 0; k < 7; ++k) EXPECT_TRUE(picker->AddReceiver(k, &log, k));
  }
  ~ChannelPickerTest() override {
    for (WaveEvent* e : events) {
      EXPECT_EQ(e->GetRefCount(), 1);
      e->release();
    }
  }
  WaveEvent* event(int module, const std::vector<Channel>& channels, bool good = true) {
    WaveEvent* e = new WaveEvent;
    events.push_back(e);
    e->SetHeaderTrigger(12);
    e->SetTrailerTrigger(good ? 12 : 13);
    e->SetModuleNr(module);
    for (const Channel& c : channels) {
      VFChannel* v = new VFChannel(c.number);
      v->SetPulseheight(c.pulseheight);
      v->SetHWPedestal(c.pedestal);
      v->SetPMaxtime(c.maxtime);
      v->SetCharge(c.charge);
      for (unsigned short s : c.samples) v->AddData(s);
      e->AddChannel(v);
    }
    return e;
  }
  Lines split(WaveEvent* e) {
    picker->SetInput(0, e);
    return log.take();
  }
  void select(const char* port, const char* text) { ASSERT_TRUE(picker->SetInput(port, text)); }

  Log log;
  tarntest::Node picker;
  std::vector<WaveEvent*> events;
};

const Channel kNine{9, 100, 64.5f, 7, -9, {1, 0x7FFF, 0x8000, 0xFFFF}};
const Channel kTwo{2, 300, 0.0f, 20, 4000, {}};
const Channel kHigh{130, 5, 10.0f, 1, 0, {3}};

TEST(ChannelPickerPorts, DeclaresItsPortsAndAnnouncesItself) {
  EXPECT_EQ(porttest::lifeOf("ChannelPicker", "pick"),
            "pick instantiated\n"
            "Extract data from WaveEvents\n"
            "vf_event 18 WaveEvent from WaveDecoder\n"
            "module 7 Selected module (-1 for all)\n"
            "channel 7 Selected channel (-1 for all)\n"
            "module 7 Module number from event\n"
            "channel 7 Channel number from event\n"
            "height 10 Firmware pulseheight\n"
            "pos 7 Firmware pulse position/time\n"
            "charge 7 Firmware \"charge\" (MWD)\n"
            "signal 20 Signal as vector<short>\n"
            "dataV 25 Height and pos as vector\n"
            "pick deleted\n");
}

TEST_F(ChannelPickerTest, ByDefaultEveryChannelIsSentInListOrder) {
  // The height is the module's less its pedestal, truncated; samples are read
  // as signed 16-bit numbers.
  const Lines all = linesOf(-1, kNine, "35", " 1 32767 -32768 -1") + linesOf(-1, kTwo, "300", "") +
                    linesOf(-1, kHigh, "-5", " 3");
  EXPECT_EQ(split(event(-1, {kNine, kTwo, kHigh})), all);
  select("channel", "-7");  // any negative channel is every channel
  EXPECT_EQ(split(event(-1, {kNine, kTwo, kHigh})), all);
  // A channel without module values sends zeros.
  EXPECT_EQ(split(event(4, {{0, 0, 0.0f, 0, 0, {}}})),
            (Lines{"module 4", "channel 0", "height 0", "pos 0", "charge 0", "signal", "dataV 0 0"}));
}

TEST_F(ChannelPickerTest, ASelectedChannelIsTheFirstWithItsNumber) {
  Channel again = kTwo;
  again.charge = 1;
  select("channel", "2");
  EXPECT_EQ(split(event(3, {kNine, kTwo, again})), linesOf(3, kTwo, "300", ""));
  select("channel", "130");
  EXPECT_EQ(split(event(3, {kNine, kHigh})), linesOf(3, kHigh, "-5", " 3"));
  select("channel", "5");
  EXPECT_TRUE(split(event(3, {kNine, kTwo})).empty());
  select("channel", "0");
  EXPECT_TRUE(split(event(3, {})).empty());
}

TEST_F(ChannelPickerTest, OnlyMinusOneSelectsEveryModule) {
  select("channel", "9");
  select("module", "-2");
  EXPECT_TRUE(split(event(-1, {kNine})).empty());
  EXPECT_EQ(split(event(-2, {kNine})), linesOf(-2, kNine, "35", " 1 32767 -32768 -1"));
  select("module", "3");
  EXPECT_TRUE(split(event(4, {kNine})).empty());
  EXPECT_EQ(split(event(3, {kNine})), linesOf(3, kNine, "35", " 1 32767 -32768 -1"));
  select("module", "-1");
  EXPECT_EQ(split(event(4, {kNine})), linesOf(4, kNine, "35", " 1 32767 -32768 -1"));
}

TEST_F(ChannelPickerTest, EventsThatAreNotGoodSendNothing) {
  EXPECT_TRUE(split(event(-1, {kNine, kTwo}, false)).empty());
  select("channel", "9");
  EXPECT_TRUE(split(event(-1, {kNine}, false)).empty());
}

}  // namespace
